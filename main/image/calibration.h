#pragma once
// The calibration of a drawing: the 24 values the calibration dialog holds
// (an X and a Y value for each of twelve rows), the calibration file beside
// the drawing (imagePath & ".inf") and the conversion of a position on the
// drawing into drawing coordinates in metres.
//
// Positions are in the units of the drawing box: pixels of the drawing shown
// at the current zoom. The origin is kept in pixels of the drawing itself
// (zoom 1), so a calibration gives the same coordinates at every zoom.

#include "common/core/exchange_files.h"
#include "common/core/textcodec.h"
#include "main/image/pixels.h"
#include "main/image/taken_outlines.h"

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
Result<> WriteCalibrationFile(const QString& path, const CalibrationTexts& texts,
                              const TextCodec& codec);

// The calibration of a drawing of width x height pixels after a quarter
// turn: the origin turned with the drawing's pixels, every other row's X and
// Y swapped (the coefficients, the origin's coordinate, the drag and its
// lengths). Lengths measured on the turned drawing are those measured before.
CalibrationTexts TurnedCalibration(const CalibrationTexts& texts, QuarterTurn turn, int width,
                                   int height);

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

// One value of a row with a range (origin, origin coordinate, coefficient):
// refused outside it, naming the value and the range. A row without a range
// takes any value.
Result<> CheckCalibrationValue(CalRow row, bool y, const QString& text);
// The values positions are converted with: the first refusal among them.
Result<> CheckCalibration(const CalibrationTexts& texts);

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
// release): refused when it has none.
Result<> CheckScaleDrag(const CalibrationTexts& texts);

// What a scale made of the values.
struct ScaleOutcome {
    CalibrationTexts texts; // the values with the drag, lengths, coefficients and origin
    double delt = 0;        // |X coefficient - Y coefficient|
    bool accepted = false;  // delt below 0.005: the axes agree
    QString message;        // "Delt = ..." and the verdict
    // Accepted, but the coefficients differ by more than
    // kAxesDisagreementLimit of the larger: the question to ask before the
    // verdict (both values and the difference in per cent). Declined, nothing
    // of the scale is taken.
    std::optional<QString> question;
    // The lengths give a coefficient outside its range: nothing may change.
    std::optional<QString> refusal;
};

// The largest relative difference of the two coefficients a scale takes
// without asking.
inline constexpr double kAxesDisagreementLimit = 0.02;

// The scale from the drag held in the press and release values and the two
// typed lengths in millimetres (their numeric value; 0 counts as 1 m), at
// the zoom the drag was made: the start, end and difference of the drag (box
// units), the real lengths in metres, the coefficients per drawing pixel
// (length / difference x zoom, rounded once to "0.00000"), and the drag's
// start as the origin with drawing coordinates (0, 0), in drawing pixels (the
// start divided by zoom).
// Coefficients outside their range give the refusal instead of a verdict.
ScaleOutcome ScaleFromDrag(const CalibrationTexts& current, const QString& answerX,
                           const QString& answerY, float zoom);

// The origin command: the last press becomes the origin, in drawing pixels
// (the press divided by zoom); every other value stays.
CalibrationTexts OriginFromPress(const CalibrationTexts& current, float zoom);

// ---- A calibration file several sessions share ----

// A drawing's calibration file as read at one moment: its stamp (size,
// modification time, inode; exists false for none) and what the read gave.
struct CalibrationFileState {
    FileStamp stamp;
    CalibrationRead read;
    CalibrationTexts texts; // the values read over the ones given to the read
};

// Reads the file at path over `base` (ReadCalibrationFile) with its stamp; a
// file replaced while it was read is read again, so the values are the
// stamp's.
CalibrationFileState ReadCalibrationState(const QString& path, const TextCodec& codec,
                                          const CalibrationTexts& base);

// Two reads give the same calibration: neither is whole, or both are with the
// same origin, origin coordinates, coefficients and units (the last press
// and release a file also holds do not count).
bool SameCalibration(const CalibrationFileState& a, const CalibrationFileState& b);

// What one session knows of its drawing's calibration file: the file as it
// read or wrote it last. Another session's calibration written since is
// noticed (changed()); the user chooses between it and the session's own
// one, and keeping the own one is remembered for that very file; a write of
// this session asks before replacing it (othersFile()).
class CalibrationWatch {
public:
    // The drawing whose file is watched, and the file as read now: known.
    void know(const QString& imagePath, const CalibrationFileState& state);
    // Nothing is known any more (a drawing turned: its calibration is gone).
    void forget() { *this = CalibrationWatch(); }
    const QString& imagePath() const { return imagePath_; }
    bool knows(const QString& imagePath) const {
        return !imagePath_.isEmpty() && imagePath_ == imagePath;
    }

    // The file as another session left it, when it is no longer the one
    // known and the user has not chosen to keep the own calibration over it;
    // else nothing. A file rewritten with the same calibration is known from
    // now on, without a word.
    std::optional<CalibrationFileState> changed(const TextCodec& codec);
    // The user keeps the session's own calibration (`own`, nothing when the
    // drawing had none) over `theirs`, which stays on the disk: not asked
    // about again while the file stays so.
    void keepOwn(const CalibrationFileState& theirs, const std::optional<CalibrationTexts>& own);
    // The own calibration was kept over the file as it is now: what it is.
    bool keepsOwn() const;
    const std::optional<CalibrationTexts>& ownKept() const { return own_; }
    // The file as known (read or written last by this session).
    const FileStamp& knownStamp() const { return known_.stamp; }
    // The calibration in force in this session: the own one kept, else the
    // file's as known when it holds one a drawing can mean; else nothing.
    std::optional<CalibrationTexts> inForce() const;
    // Before the session writes: the file as it is now when it is not the one
    // known (another session wrote or removed it, with another calibration),
    // kept over or not; the user is asked before it is replaced. Else nothing.
    std::optional<CalibrationFileState> othersFile(const TextCodec& codec);

    enum class Write {
        Written, // the file holds texts, and is known as such
        Changed, // another session changed the file since `expected`: nothing written
        Locked,  // another session held the drawing's lock throughout: `error` says so
        Failed,  // the write failed: `error` says why
    };
    // Writes texts over the file holding the drawing's lock, when the file is
    // still as `expected` (its stamp when the user was last asked, or when it
    // was known).
    Write write(const CalibrationTexts& texts, const FileStamp& expected, const TextCodec& codec,
                QString* error = nullptr, int waitMs = kDrawingLockWaitMs);

private:
    std::optional<CalibrationFileState> differing(const TextCodec& codec, bool keptCounts);

    QString imagePath_;
    CalibrationFileState known_;
    std::optional<FileStamp> kept_;       // the other's file the own calibration was kept over
    std::optional<CalibrationTexts> own_; // and the own calibration kept
};

// The question when another session's calibration is noticed: whether to
// take it, and what becomes of the `points` taken so far (measured with the
// one in force, they are discarded when the new one is taken).
QString CalibrationChangedQuestion(const QString& imagePath, bool removed, int points);
// The question before this session's calibration replaces another's.
QString ReplaceCalibrationQuestion(const QString& imagePath);
