#pragma once
// The records of the two digitizer tablets, as the main window and the device
// programs read them. Pure functions: no port, no window.
//
// MT4500: columns 1-9 X in metres, 10-18 Y in metres (decimal texts, blank
// padded), 19 the button digit, 20 the terminator.
// T5160-25: "X count,Y count,button..." with the line end; counts of 0.1 mm on
// the drawing, turned into metres at real size with the scale denominator.

#include "common/core/result.h"

#include <QByteArray>
#include <QString>

struct TabletPoint {
    QString xText; // MT4500: the 9-character field as received; T5160: the 8-character text
    QString yText;
    int code = 0;       // point code: 1 reference, 2 perimeter only, 4 end of outline
    double xM = 0;      // Val(xText)
    double yM = 0;      // Val(yText)
    QString buttonText; // the button character as received
    QString thirdField; // T5160: field 3 as received, line end included; MT4500: empty
};

// Point code of a button digit. Not for non-digits.
int Mt4500ButtonCode(QChar button); // "1" -> 2, "2" -> 1, other digit -> 4
int T5160ButtonCode(QChar button);  // "2" -> 1, "4" -> 2, other digit -> 4

// The point of a record, or the message refusing it. Refused: fewer than 19
// characters, a button that is not a digit, an X or Y field that is not a
// decimal number (blanks around it allowed) or of kMaxCoordinateMetres or
// more, in a point record and in the end record alike (its coordinates are
// not used, but garbage with an end digit in column 19 is no end of the
// outline).
Result<TabletPoint> ParseMt4500Record(const QByteArray& record);

// The scale denominator typed by the user, as a whole number (rounded, halves
// to even). Refused with a message: an empty, non-numeric or non-positive
// text.
Result<long> ParseScaleDenominator(const QString& scaleText);

// The point of a record, or the message refusing it. Refused: no usable
// scale, fewer than three fields, a count that is not a whole number or lies
// outside -32768..32767, an empty field 3 or a button that is not a digit,
// and a point whose metres have more than 8 characters before the "."
// ("座標の桁が多すぎます"): its 8-character text would read as another
// number. Decimals past the 8 characters are cut (123.45678 -> 123.4567).
Result<TabletPoint> ParseT5160Record(const QByteArray& record, const QString& scaleText);

// A record made readable for a message: line ends and other control
// characters shown as "?", cut to a sensible length.
QString PrintableRecord(const QByteArray& record);
