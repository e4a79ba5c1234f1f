#include "tools/tabletsim/tabletsim.h"

#include <QList>

#include <cmath>
#include <cstdio>
#include <limits>

namespace tabletsim {

namespace {

constexpr int kMt4500FieldWidth = 9;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QString LineError(int line, const QString& what) {
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

// The lines of a script file without their line ends (CR LF, LF or CR).
QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        lines << text.mid(start, end - start);
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

bool FitsInt16(double v) {
    return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

} // namespace

std::optional<Mode> ParseMode(std::string_view name) {
    if (name == "mt4500" || name == "MT4500")
        return Mode::Mt4500;
    if (name == "t5160" || name == "T5160" || name == "t5160-25" || name == "T5160-25")
        return Mode::T5160;
    return std::nullopt;
}

std::optional<QByteArray> FormatMt4500Record(double xM, double yM, char button) {
    if (!IsDigit(button) || !std::isfinite(xM) || !std::isfinite(yM))
        return std::nullopt;
    char x[32];
    char y[32];
    std::snprintf(x, sizeof x, "%9.4f", xM);
    std::snprintf(y, sizeof y, "%9.4f", yM);
    const QByteArray xs(x);
    const QByteArray ys(y);
    if (xs.size() != kMt4500FieldWidth || ys.size() != kMt4500FieldWidth)
        return std::nullopt;
    return xs + ys + button + '\r';
}

std::optional<QByteArray> FormatT5160Record(int xCount, int yCount, char button) {
    if (!IsDigit(button) || !FitsInt16(xCount) || !FitsInt16(yCount))
        return std::nullopt;
    return QByteArray::number(xCount) + ',' + QByteArray::number(yCount) + ',' + button + "\r\n";
}

Result<std::vector<QByteArray>> ParseScript(const QByteArray& text, Mode mode) {
    std::vector<QByteArray> records;
    int lineNo = 0;
    for (const QByteArray& raw : Lines(text)) {
        ++lineNo;
        const QByteArray line = raw.simplified();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3 || parts[2].size() != 1 || !IsDigit(parts[2][0]))
            return Fail(LineError(lineNo, QStringLiteral("expected \"x y button\"")));
        std::optional<QByteArray> record;
        bool okX = false;
        bool okY = false;
        if (mode == Mode::Mt4500) {
            const double x = parts[0].toDouble(&okX);
            const double y = parts[1].toDouble(&okY);
            if (okX && okY)
                record = FormatMt4500Record(x, y, parts[2][0]);
        } else {
            const int x = parts[0].toInt(&okX);
            const int y = parts[1].toInt(&okY);
            if (okX && okY)
                record = FormatT5160Record(x, y, parts[2][0]);
        }
        if (!okX || !okY)
            return Fail(LineError(lineNo, mode == Mode::Mt4500
                                              ? QStringLiteral("x and y must be numbers")
                                              : QStringLiteral("x and y must be whole counts")));
        if (!record)
            return Fail(LineError(lineNo, QStringLiteral("coordinates out of the tablet's range")));
        records.push_back(*record);
    }
    return records;
}

Result<QByteArray> DecodeEscapes(const QByteArray& line) {
    QByteArray out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '\\') {
            out.append(c);
            continue;
        }
        if (i + 1 >= line.size())
            return Fail(QStringLiteral("a lone \\ at the end"));
        const char e = line[++i];
        switch (e) {
        case 'r':
            out.append('\r');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case '\\':
            out.append('\\');
            break;
        case 'x': {
            const int hi = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
            const int lo = i + 2 < line.size() ? HexValue(line[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return Fail(QStringLiteral("\\x needs two hex digits"));
            out.append(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return Fail(QStringLiteral("unknown escape \\%1").arg(QChar::fromLatin1(e)));
        }
    }
    return out;
}

Result<std::vector<QByteArray>> ParseRawScript(const QByteArray& text) {
    std::vector<QByteArray> records;
    int lineNo = 0;
    for (const QByteArray& line : Lines(text)) {
        ++lineNo;
        const Result<QByteArray> record = DecodeEscapes(line);
        if (!record)
            return Fail(LineError(lineNo, record.error()));
        if (!record->isEmpty())
            records.push_back(*record);
    }
    return records;
}

std::pair<QByteArray, QByteArray> SplitRecord(const QByteArray& record) {
    const qsizetype half = record.size() / 2;
    return {record.left(half), record.mid(half)};
}

KeyPad::KeyPad(Mode mode) : mode_(mode), step_(mode == Mode::Mt4500 ? 0.1 : 100) {}

KeyPad::Action KeyPad::move(double dx, double dy) {
    const double nx = x_ + dx * step_;
    const double ny = y_ + dy * step_;
    const bool fits = mode_ == Mode::Mt4500 ? FormatMt4500Record(nx, ny, '1').has_value()
                                            : FitsInt16(nx) && FitsInt16(ny);
    if (!fits)
        return {Action::Refused, {}};
    x_ = nx;
    y_ = ny;
    return {Action::Moved, {}};
}

KeyPad::Action KeyPad::key(char c) {
    if (escape_ == 1) {
        escape_ = c == '[' ? 2 : 0;
        return {};
    }
    if (escape_ == 2) {
        escape_ = 0;
        switch (c) {
        case 'A':
            return move(0, 1);
        case 'B':
            return move(0, -1);
        case 'C':
            return move(1, 0);
        case 'D':
            return move(-1, 0);
        default:
            return {};
        }
    }
    switch (c) {
    case 0x1b:
        escape_ = 1;
        return {};
    case 'h':
        return move(-1, 0);
    case 'l':
        return move(1, 0);
    case 'k':
        return move(0, 1);
    case 'j':
        return move(0, -1);
    case '+':
        if (step_ * 10 > (mode_ == Mode::Mt4500 ? 1000 : 10000))
            return {Action::Refused, {}};
        step_ *= 10;
        return {Action::StepChanged, {}};
    case '-':
        if (step_ / 10 < (mode_ == Mode::Mt4500 ? 0.0001 : 1))
            return {Action::Refused, {}};
        step_ /= 10;
        return {Action::StepChanged, {}};
    case '?':
        return {Action::Help, {}};
    case 'q':
        return {Action::Quit, {}};
    default:
        break;
    }
    if (IsDigit(c)) {
        const std::optional<QByteArray> r =
            mode_ == Mode::Mt4500 ? FormatMt4500Record(x_, y_, c)
                                  : FormatT5160Record(static_cast<int>(std::lround(x_)),
                                                      static_cast<int>(std::lround(y_)), c);
        if (r)
            return {Action::Record, *r};
        return {Action::Refused, {}};
    }
    return {};
}

QString KeyPad::status() const {
    if (mode_ == Mode::Mt4500)
        return QStringLiteral("x=%1 y=%2 step=%3")
            .arg(x_, 0, 'f', 4)
            .arg(y_, 0, 'f', 4)
            .arg(step_, 0, 'f', 4);
    return QStringLiteral("x=%1 y=%2 step=%3")
        .arg(std::lround(x_))
        .arg(std::lround(y_))
        .arg(std::lround(step_));
}

QString KeyPad::help() {
    return QStringLiteral("keys: arrows/hjkl move, +/- step, 1 2 4 8 (any digit) press a button, "
                          "? help, q quit");
}

} // namespace tabletsim
