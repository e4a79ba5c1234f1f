#include "common/core/record_framer.h"

#include <algorithm>
#include <utility>

namespace {
bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}
} // namespace

RecordFramer::RecordFramer(Mode mode, int capacity, int recordLength)
    : mode_(mode), capacity_(std::max(capacity, 1)), recordLength_(std::max(recordLength, 1)) {}

void RecordFramer::setCapacity(int capacity) {
    capacity_ = std::max(capacity, 1);
}

void RecordFramer::clear() {
    records_.clear();
    queuedBytes_ = 0;
    partial_.clear();
    skippingLine_ = false;
    afterCr_ = false;
    overflows_ = 0;
    markBytes_ = 0;
}

void RecordFramer::setParityMarks(bool on) {
    parityMarks_ = on;
    markBytes_ = 0;
}

QByteArray RecordFramer::unmark(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (markBytes_ == 0) {
            if (b == 0xFF)
                markBytes_ = 1;
            else
                out.append(c);
        } else if (markBytes_ == 1) {
            if (b == 0x00) {
                markBytes_ = 2;
            } else {
                // 0xFF 0xFF is one 0xFF; anything else after 0xFF (which a
                // marking driver never sends) is kept as it came.
                out.append(char(0xFF));
                if (b != 0xFF)
                    out.append(c);
                markBytes_ = 0;
            }
        } else {
            out.append('?'); // the byte received with an error
            markBytes_ = 0;
        }
    }
    return out;
}

int RecordFramer::takeOverflows() {
    return std::exchange(overflows_, 0);
}

std::optional<QByteArray> RecordFramer::next() {
    if (records_.empty())
        return std::nullopt;
    QByteArray r = std::move(records_.front());
    records_.pop_front();
    queuedBytes_ -= r.size();
    return r;
}

void RecordFramer::complete() {
    if (queuedBytes_ + partial_.size() > capacity_) {
        ++overflows_;
    } else {
        queuedBytes_ += partial_.size();
        records_.push_back(partial_);
    }
    partial_.clear();
}

void RecordFramer::feed(const QByteArray& received) {
    const QByteArray bytes = parityMarks_ ? unmark(received) : received;
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (mode_ == Mode::FixedLength)
            consumeFixed(data[i]);
        else
            consumeLine(data, size, i);
    }
}

void RecordFramer::consumeFixed(char c) {
    if (partial_.isEmpty() && IsLineEnd(c))
        return;
    partial_.append(c);
    if (IsLineEnd(c) || partial_.size() >= recordLength_)
        complete();
}

void RecordFramer::consumeLine(const char* data, qsizetype size, qsizetype& i) {
    const char c = data[i];
    const bool wasAfterCr = std::exchange(afterCr_, false);
    if (skippingLine_) {
        if (IsLineEnd(c))
            skippingLine_ = false;
        return;
    }
    if (!IsLineEnd(c)) {
        partial_.append(c);
        if (partial_.size() > capacity_) {
            ++overflows_;
            partial_.clear();
            skippingLine_ = true;
        }
        return;
    }
    if (c == '\n' && wasAfterCr && partial_.isEmpty())
        return; // the LF of a CR LF pair whose record has been handed on
    if (partial_.isEmpty())
        return; // empty line
    partial_.append(c);
    if (c == '\r') {
        if (i + 1 < size && data[i + 1] == '\n')
            partial_.append(data[++i]);
        else
            afterCr_ = true;
    }
    complete();
}
