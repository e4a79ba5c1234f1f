#pragma once
// Cuts the byte stream of a serial line into tablet records.
//
// Fixed-length mode (MT4500): a record is 20 characters, its terminator (CR)
// included. A CR or LF that comes before the 20th character ends the record
// there: the short record is handed on as it is, so that the record parser
// refuses it, and the next record starts in step again instead of being glued
// to the rest of the broken one. A CR or LF at the start of a record (a stray
// line end, the LF of a CR LF pair) is skipped.
//
// Line mode (T5160-25): a record runs up to and including its line end, CR,
// LF or the pair CR LF. Empty lines are skipped. A record is handed on as soon
// as its CR arrives; an LF that then arrives on its own is dropped as the rest
// of the pair.
//
// Parity marks (setParityMarks): a line whose driver marks the bytes
// received with a parity or framing error (PARMRK) sends each as the three
// bytes 0xFF 0x00 x and a real 0xFF as 0xFF 0xFF. The framer then turns each
// marked byte into "?", so that the record holding it is refused instead of
// read as a wrong coordinate, and 0xFF 0xFF into one 0xFF. A mark split
// across reads is decoded all the same.
//
// Records are kept byte for byte, terminator included. The framer holds at
// most `capacity` bytes: a line that grows beyond it without a line end is
// dropped up to its next line end, and a complete record that finds the queue
// full is dropped; both count as an overflow.

#include <QByteArray>

#include <deque>
#include <optional>

class RecordFramer {
public:
    enum class Mode { FixedLength, Line };

    static constexpr int kMt4500RecordLength = 20;
    static constexpr int kDefaultCapacity = 1024;

    explicit RecordFramer(Mode mode, int capacity = kDefaultCapacity,
                          int recordLength = kMt4500RecordLength);

    Mode mode() const { return mode_; }
    int capacity() const { return capacity_; }
    void setCapacity(int capacity);

    // Whether the stream carries parity marks (off at first).
    void setParityMarks(bool on);
    bool parityMarks() const { return parityMarks_; }

    // Takes the next bytes of the stream.
    void feed(const QByteArray& bytes);
    // The oldest complete record, removed from the queue.
    std::optional<QByteArray> next();

    int pendingRecords() const { return static_cast<int>(records_.size()); }
    // Bytes of the record being received.
    const QByteArray& partial() const { return partial_; }
    // Forgets everything held (queue, partial record, overflow count).
    void clear();

    // Overflows since the last call (0 when none).
    int takeOverflows();

private:
    void complete();
    QByteArray unmark(const QByteArray& bytes);
    void consumeFixed(char c);
    void consumeLine(const char* data, qsizetype size, qsizetype& i);

    Mode mode_;
    int capacity_;
    int recordLength_;
    std::deque<QByteArray> records_;
    qsizetype queuedBytes_ = 0;
    QByteArray partial_;
    bool skippingLine_ = false; // dropping an overlong line up to its line end
    bool afterCr_ = false;      // the last byte taken was a CR ending a record
    int overflows_ = 0;
    bool parityMarks_ = false;
    int markBytes_ = 0; // bytes of a mark seen so far: 1 after 0xFF, 2 after 0xFF 0x00
};
