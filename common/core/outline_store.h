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
    int16_t pointCount = 0;               // rows filled
    int16_t finishedCount = 0;            // points of the finished outline (end record not counted)
    std::array<QString, 3> lastPointText; // X text, Y text, point code of the last point

    bool isFull() const { return pointCount >= kMaxRows; }

    // Appends one row given in metres (the millimetre row is metres x 1000).
    // Refuses (returns false, store unchanged) when 100 rows are held.
    // The values arrive as doubles (numeric values of texts) and are stored
    // in single precision, the millimetres computed before the narrowing.
    bool appendMetres(double xM, double yM, float code) {
        if (isFull())
            return false;
        ++pointCount;
        pointsM[pointCount][1] = static_cast<float>(xM);
        pointsM[pointCount][2] = static_cast<float>(yM);
        pointsM[pointCount][3] = code;
        pointsMm[pointCount][1] = static_cast<float>(xM * 1000.0);
        pointsMm[pointCount][2] = static_cast<float>(yM * 1000.0);
        pointsMm[pointCount][3] = code;
        return true;
    }

    // Appends one row given in millimetres (the metre row is one thousandth).
    bool appendMillimetres(double xMm, double yMm, float code) {
        if (isFull())
            return false;
        ++pointCount;
        pointsMm[pointCount][1] = static_cast<float>(xMm);
        pointsMm[pointCount][2] = static_cast<float>(yMm);
        pointsMm[pointCount][3] = code;
        pointsM[pointCount][1] = static_cast<float>(xMm / 1000.0);
        pointsM[pointCount][2] = static_cast<float>(yMm / 1000.0);
        pointsM[pointCount][3] = code;
        return true;
    }

    // Empties the store (rows stay as garbage-free zeros).
    void clear() { *this = OutlineStore{}; }

    // A new outline starts in the store: no row held, nothing finished. The
    // rows of the previous outline stay until they are overwritten.
    void beginOutline() {
        pointCount = 0;
        finishedCount = 0;
        finished_ = false;
    }

    // Marks the outline finished. The on-screen digitizer finishes without
    // leaving an end record as the last row ("中ボタン" stores none, and its
    // finish sets pointCount back to 0), so it says so explicitly. The mark
    // holds while finishedCount counts the finished points: "実行" and
    // "キャンセル" set finishedCount to 0 and so end it.
    void markFinished() { finished_ = true; }

    // The outline is complete: its end record (code 4) is the last row, or
    // a finish marked it. No further record may be appended to it.
    bool endReceived() const {
        return (pointCount > 0 && pointsM[pointCount][3] == 4.0f) ||
               (finished_ && finishedCount > 0);
    }

private:
    bool finished_ = false;
};
