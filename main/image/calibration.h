#pragma once
// The calibration of a drawing: the 24 values the calibration dialog holds
// (an X and a Y value for each of twelve rows), the calibration file beside
// the drawing (imagePath & ".inf") and the conversion of a position on the
// drawing into drawing coordinates in metres.
//
// Positions are in the units of the drawing box: pixels of the drawing shown
// at the current zoom. The origin is kept in pixels of the drawing itself
// (zoom 1), so a calibration gives the same coordinates at every zoom.

#include "common/textcodec.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The twelve rows, in the order of the calibration file's fields.
enum class CalRow {
    MouseDown,        // last mouse-down point (box units)
    MouseUp,          // last mouse-up point (box units)
    ConvertedDown,    // mouse-down point in drawing coordinates
    ConvertedUp,      // mouse-up point in drawing coordinates
    Origin,           // the origin, in drawing pixels (zoom 1)
    OriginCoordinate, // drawing coordinate given to the origin, m
    CalibrationStart, // start of the calibration drag
    CalibrationEnd,   // end of the calibration drag
    Difference,       // absolute difference of start and end
    RealLength,       // real length of that difference, m
    Coefficient,      // metres per drawing pixel (per box unit at zoom 1)
    Unit,             // unit text
};
inline constexpr int kCalRows = 12;
inline constexpr int kCalItems = 2 * kCalRows;

// The values as texts, exactly as the dialog shows them.
struct CalibrationTexts {
    std::array<QString, kCalRows> x;
    std::array<QString, kCalRows> y;

    // "1" everywhere, "ｍ" for the units.
    static CalibrationTexts defaults();

    QString& X(CalRow r) { return x[static_cast<int>(r)]; }
    QString& Y(CalRow r) { return y[static_cast<int>(r)]; }
    const QString& X(CalRow r) const { return x[static_cast<int>(r)]; }
    const QString& Y(CalRow r) const { return y[static_cast<int>(r)]; }
    bool operator==(const CalibrationTexts&) const = default;
};

// imagePath & ".inf".
QString CalibrationFilePath(const QString& imagePath);

// The two lines of the file: the twelve X texts joined by ",", then the Y
// texts, each line ended by CR LF.
QStringList CalibrationFileLines(const CalibrationTexts& texts);

// Writes the file whole (a temporary file renamed over the old one).
bool WriteCalibrationFile(const QString& path, const CalibrationTexts& texts,
                          const TextCodec& codec, QString* error = nullptr);

// What a calibration file gave back.
struct CalibrationRead {
    int items = 0;   // items read into the texts (at most 24)
    bool ok = false; // all 24 were there
    QString error;   // why not, for the user
};

// Reads the file's items, separated by "," or line ends, into texts in the
// file's order (X line first), as many as the file holds up to 24; the texts
// not reached keep their values. A file larger than a calibration file can
// be is not read.
CalibrationRead ReadCalibrationFile(const QString& path, const TextCodec& codec,
                                    CalibrationTexts& texts);

// What a calibration can mean, whatever the drawing: a coefficient from 0.01 mm
// to 100 m a drawing pixel (the five decimals of a coefficient hold nothing
// finer), an origin within 1,000,000 drawing pixels of the drawing's corner
// and an origin coordinate within 1,000,000 m of 0. A calibration file with
// a value outside these ranges is no calibration; a scale that would make
// one, or a value typed into the dialog outside them, is refused.
inline constexpr double kMinMetresPerPixel = 0.00001;
inline constexpr double kMaxMetresPerPixel = 100;
inline constexpr double kMaxOriginPixels = 1000000;
inline constexpr double kMaxOriginMetres = 1000000;

// The refusal of one value outside its row's range (origin, origin coordinate,
// coefficient), naming the value and the range; nothing for a value within
// it or a row without a range.
std::optional<QString> RefuseCalibrationValue(CalRow row, bool y, const QString& text);
// The first refusal among the values positions are converted with, else nothing.
std::optional<QString> RefuseCalibration(const CalibrationTexts& texts);

// The numbers a position is converted with.
struct DrawingFrame {
    double originX = 0, originY = 0; // the origin, drawing pixels (zoom 1)
    double refX = 0, refY = 0;       // drawing coordinate of the origin, m
    float zoom = 1;                  // zoomFactor
    float metresPerUnitX = 0;        // metres per box unit at this zoom
    float metresPerUnitY = 0;

    // From the dialog's texts, at a zoom and with the window's coefficients.
    static DrawingFrame from(const CalibrationTexts& texts, float zoom, float metresPerUnitX,
                             float metresPerUnitY);
};

struct DrawingPoint {
    double x = 0, y = 0; // metres; the drawing's Y axis points up
};

// X = (x - originX x zoom) x metresPerUnitX + refX,
// Y = (originY x zoom - y) x metresPerUnitY + refY.
DrawingPoint PositionToDrawing(float x, float y, const DrawingFrame& frame);

// ---- The calibration commands' arithmetic ----

// The scale's input boxes: prompts and titles.
QString ScalePromptX();
QString ScalePromptY();
inline const QString kScaleTitleX = QStringLiteral("X校正値");
inline const QString kScaleTitleY = QStringLiteral("Y校正値");
// The origin command's question.
inline const QString kOriginQuestion =
    QStringLiteral("原点を再設定します。最後にマウスを押した点が使用されます");

// A scale needs a drag with a width and a height (the last press to the last
// release): the refusal when it has none, else nothing.
std::optional<QString> RefuseScaleDrag(const CalibrationTexts& texts);

// What a scale made of the values.
struct ScaleOutcome {
    CalibrationTexts texts; // the values with the drag, lengths, coefficients and origin
    double delt = 0;        // |X coefficient - Y coefficient|
    bool accepted = false;  // delt below 0.005: the axes agree
    QString message;        // "Delt = ..." and the verdict
    // The lengths give a coefficient outside its range: nothing may change.
    std::optional<QString> refusal;
};

// The scale from the drag held in the press and release values and the two
// typed lengths in millimetres (their numeric value; 0 counts as 1 m), at
// the zoom the drag was made: the start, end and difference of the drag, the
// real lengths in metres, the coefficients per box unit and then per drawing
// pixel (each rounded to "0.00000"), and the drag's start as the origin with
// drawing coordinates (0, 0), in drawing pixels (the start divided by zoom).
// Coefficients outside their range give the refusal instead of a verdict.
ScaleOutcome ScaleFromDrag(const CalibrationTexts& current, const QString& answerX,
                           const QString& answerY, float zoom);

// The origin command: the last press becomes the origin, in drawing pixels
// (the press divided by zoom); every other value stays.
CalibrationTexts OriginFromPress(const CalibrationTexts& current, float zoom);
