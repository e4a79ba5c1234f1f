#pragma once
// Numbers and their texts, as the stored files, logs and worksheet expect them.

#include <QString>

#include <cstdint>

// Numeric value of a text: the leading number after blanks (sign, digits,
// decimal point, exponent), 0 when the text starts with no number.
// "3600mm" -> 3600, "" -> 0, "  -0.75" -> -0.75, "1.5E3x" -> 1500.
// Blanks are space, tab, CR and LF. The exponent letter is E or D (either
// case) and counts only when digits follow ("1E" -> 1, "2E+x" -> 2). A number
// beyond the range of a double reads as 0, so no infinity reaches the callers.
double Val(const QString& text);

// True when the text (after leading/trailing blanks) is one number as Val
// reads it and nothing else: "12", " -0.5 ", "1E3", ".5" are; "", "12mm",
// "1 2", "1E", "-" are not.
bool IsNumericText(const QString& text);

// A number field of an exchange file: after blanks, an optional "-" and
// digits with at most one ".", then blanks only (" -0.75", "12.", ".5 ").
// No "+", no exponent, nothing else: "1.5E+300", "3600mm", "", "-", "1 2"
// and a field holding a NUL are not. Blanks are space and tab.
bool IsDecimalField(const QString& text);

// Coordinates of this magnitude or more (1,000 km) are refused wherever they
// are read: no drawing is that large, and neither the sketch nor the row
// computation may meet such values.
inline constexpr double kMaxCoordinateMetres = 1000000.0;

// Int(v): the largest integer not above v.
double VbInt(double v);

// CInt: rounds to the nearest integer, halves to even (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double v);

// Format(v, pattern) for the patterns the system uses: "0", "0.0", "0.00",
// "0.00000" ... (digits after the point = zeros after '.'), rounded half away
// from zero, with a leading "-" for negative values that do not round to zero.
// The value is first taken to its 15-digit decimal form (the precision a
// Double is shown with), then rounded: 2.675 -> "2.68", 1.005 -> "1.01",
// 0.125 -> "0.13", -0.004 -> "0.00".
QString Format(double v, const QString& pattern);

// The same for a Single: its 7-digit decimal form is rounded, so a Single
// that shows as 0.35 formats as "0.4" with "0.0" (its widened double value,
// 0.3499999940..., would give "0.3").
QString FormatSingle(float v, const QString& pattern);

// A number as text in its general form: no leading blank, no trailing zeros,
// at most 7 significant digits (Single) or 15 (Double), exponent form below
// 0.0001 in magnitude ("1E-05") and from 1E+07 (Single) / 1E+15 (Double) up.
// Exponent form: mantissa without trailing zeros, "E", sign, at least two
// exponent digits ("1.5E-07", "1E+15", "-2.5E+100").
// SingleToText(33.6f) -> "33.6", SingleToText(2.0000002f) -> "2",
// DoubleToText(0.1 + 0.2) -> "0.3", DoubleToText(0.00001) -> "1E-05".
QString SingleToText(float v);
QString DoubleToText(double v);

// The shortest text that reads back as the same Single (up to 9 significant
// digits), in the same general form: shows the drift of Single arithmetic
// that SingleToText hides. Ten steps of +0.1 from 1 -> "2.0000002";
// 0.3f - 0.1f -> "0.20000002"; 33.6f -> "33.6".
QString SingleToRoundTripText(float v);

// Coordinate text: decimal text of v, "." appended when it has none, then
// "000000", cut to the first 8 characters. 1.5 -> "1.500000", 12 -> "12.00000",
// 0.0375 -> "0.037500", -0.75 -> "-0.75000", 123.45678 -> "123.4567".
// The decimal text is never in exponent form here: a value below 0.0001 in
// magnitude gives its plain digits (0.00000015 -> "0.000000"), because a cut
// exponent text ("1.5E-070") would read back as a different number.
// *fits (when given) is false when the decimal text has more than 8
// characters before its "." (sign included): the cut text would then read as
// another number (123456789.5 -> "12345678").
QString CoordText(double v, bool* fits = nullptr);

// Point field of 9 characters made from a coordinate's "0.00" text t (the
// digitizer's point texts): t & "000000"; without a "-" a blank followed by
// its first 8 characters, otherwise its first 9 characters.
// "12.5" -> " 12.50000", "-3.25" -> "-3.250000".
// *fits (when given) is false when the digits before the "." do not all fit
// in the field (more than 8 characters before it, or 9 with the "-"): the
// field would then read as another number (123456789.00 -> " 12345678").
QString PointFieldText(const QString& formattedText, bool* fits = nullptr);
