#pragma once
// The outline store: the points of the outline being taken, shared by every
// input road (tablets, on-screen digitizer, keypad) and read by the worksheet.
// Rows are numbered 1 to 100 as the stored files and logs number them; row 0
// and column 0 are unused.

#include <QString>

#include <array>
#include <cstdint>

class OutlineStore {
public:
    static constexpr int kMaxRows = 100;

    // Columns: 1 X, 2 Y, 3 point code (1 reference, 2 perimeter only, 4 end).
    float pointsM[kMaxRows + 1][4] = {};  // metres
    float pointsMm[kMaxRows + 1][4] = {}; // millimetres (metres x 1000)
    std::array<QString, 3> lastPointText; // X text, Y text, point code of the last point

    // Rows filled.
    int16_t pointCount() const { return pointCount_; }
    // Points of the finished outline (end record not counted); 0 while none is finished.
    int16_t finishedCount() const { return finishedCount_; }

    bool isFull() const { return pointCount_ >= kMaxRows; }

    // Appends one row given in metres (the millimetre row is metres x 1000).
    // Refuses (returns false, store unchanged) when 100 rows are held.
    // The values arrive as doubles (numeric values of texts) and are stored
    // in single precision, the millimetres computed before the narrowing.
    bool appendMetres(double xM, double yM, float code) {
        if (isFull())
            return false;
        const int row = ++pointCount_;
        pointsM[row][1] = static_cast<float>(xM);
        pointsM[row][2] = static_cast<float>(yM);
        pointsM[row][3] = code;
        pointsMm[row][1] = static_cast<float>(xM * 1000.0);
        pointsMm[row][2] = static_cast<float>(yM * 1000.0);
        pointsMm[row][3] = code;
        return true;
    }

    // Appends one row given in millimetres (the metre row is one thousandth).
    bool appendMillimetres(double xMm, double yMm, float code) {
        if (isFull())
            return false;
        const int row = ++pointCount_;
        pointsMm[row][1] = static_cast<float>(xMm);
        pointsMm[row][2] = static_cast<float>(yMm);
        pointsMm[row][3] = code;
        pointsM[row][1] = static_cast<float>(xMm / 1000.0);
        pointsM[row][2] = static_cast<float>(yMm / 1000.0);
        pointsM[row][3] = code;
        return true;
    }

    // Empties the store (rows stay as garbage-free zeros).
    void clear() { *this = OutlineStore{}; }

    // A new outline starts in the store: no row held, nothing finished. The
    // rows of the previous outline stay until they are overwritten.
    void beginOutline() {
        pointCount_ = 0;
        finishedCount_ = 0;
        finished_ = false;
    }

    // Takes the rows after the first `rows` back (a point taken back): they
    // are no longer held.
    void takeBackTo(int16_t rows) {
        if (rows >= 0 && rows < pointCount_)
            pointCount_ = rows;
    }

    // The outline's first `points` rows are its finished points (0 to
    // kMaxRows; the end record, when stored, is not one of them).
    void finishWith(int points) {
        finishedCount_ = static_cast<int16_t>(points < 0          ? 0
                                              : points > kMaxRows ? kMaxRows
                                                                  : points);
    }

    // No row is held any more; the finished outline stays for "実行" (the
    // digitizer's finish, a take-off given up on screen).
    void releaseRows() { pointCount_ = 0; }

    // Marks the outline finished. The on-screen digitizer finishes without
    // leaving an end record as the last row ("中ボタン" stores none, and its
    // finish releases its rows), so it says so explicitly. The mark holds
    // while finishedCount() counts the finished points: "実行" and
    // "キャンセル" begin a new outline and so end it.
    void markFinished() { finished_ = true; }

    // The outline is complete: its end record (code 4) is the last row, or
    // a finish marked it. No further record may be appended to it.
    bool endReceived() const {
        return (pointCount_ > 0 && pointsM[pointCount_][3] == 4.0f) ||
               (finished_ && finishedCount_ > 0);
    }

private:
    int16_t pointCount_ = 0;
    int16_t finishedCount_ = 0;
    bool finished_ = false;
};
