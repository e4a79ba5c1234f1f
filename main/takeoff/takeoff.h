#pragma once
// Lengths and areas of a finished outline: the values of one worksheet row.
// A pure function of the outline store and the ceiling height text, computed
// in single precision as the worksheet has always been filled.

#include "common/core/outline_store.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

struct TakeoffRow {
    float total = 0;     // total perimeter, m, rounded to 0.01
    float reference = 0; // reference length (code 1 segments), m, rounded to 0.01
    float height = 0;    // ceiling height as typed, mm (0 when not positive)
    double wall = 0;     // wall area, m2, rounded to 0.01 (0 without a height)
    float floor = 0;     // floor area, m2, rounded to 0.01 (0 when the outline is open)
    bool closed = false; // the last point lies within the closure tolerance of the first

    // The cell values of columns 2 to 7, as exactly rounded decimals (33.6,
    // not the widened single 33.59999847) or the integer 0 where the row
    // writes a plain 0.
    QVariant cell(int column) const;
};

// Distance within which the last point counts as back at the first, m.
inline constexpr double kClosureTolerance = 0.1;

// Computes the row of the finished outline: rows 1 to finishedCount of pointsM.
TakeoffRow ComputeTakeoffRow(const OutlineStore& store, const QString& ceilingHeightText);

// Int(v x 100 + 0.5) / 100, in the arithmetic the row uses.
float RoundCentimetres(float v);

// A single-precision result as the decimal it stands for, rounded to the
// given number of decimals (14 for 14.00, 33.6 for 33.60).
double ExactDecimal(double v, int decimals);

// The take-off name and serial number that follow a row whose label was
// written as takeoffName & "-" & serialNo: the text before the label's last
// "-" and the number after it plus one. Nothing when the label does not end
// in "-" and a whole number (a row typed by hand) or the next number would
// pass 32767.
struct LabelContinuation {
    QString takeoffName;
    int16_t serialNo = 1;
};
std::optional<LabelContinuation> ContinueFromRowLabel(const QString& label);
