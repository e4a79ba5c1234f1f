#pragma once
// A take-off on the drawing without its window: what a mouse press adds to
// the outline store and what it draws, and the values the finish needs
// (segment count, sums and bounding box of the vertices). Positions are in
// drawing-box units (pixels of the drawing at the current zoom).

#include "common/core/outline_store.h"
#include "common/core/result.h"

#include <QColor>
#include <QPointF>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// QBColor(11) light cyan and QBColor(12) light red.
inline const QColor kQBColor11 = QColor(0, 255, 255);
inline const QColor kQBColor12 = QColor(255, 0, 0);

// What one press draws on the drawing box.
struct PressMarks {
    bool line = false; // from `from` to `at` in lineColour
    QPointF from;
    QPointF at; // the dot (circle of radius 0.3) at the new point
    bool dot = false;
    QColor lineColour;   // also the dot's outline; its fill is QBColor(12)
    bool number = false; // "[n]" at numberPos in QBColor(12), bold, 14 pt
    QPointF numberPos;
    QString numberText;
};

// What became of one press.
struct PressOutcome {
    std::optional<QString> refusal; // the press is not taken: tell the user, nothing changed
    bool ignored = false;           // the press repeats the last point: nothing changed, no word
    PressMarks marks;
    QString logLine;     // for the main window's log
    bool finish = false; // the middle button: run the finish
};

// A point of the take-off: its position (box units) and button.
struct TracePoint {
    float x = 0, y = 0;
    int button = 0;
};

class TakeoffTrace {
public:
    // lastX holds this while no take-off is under way.
    static constexpr float kIdle = 99999.99f;

    // A take-off is under way (its first point was taken).
    bool underway() const { return lastX != kIdle; }

    // A press of `button` (1 left, 2 right, 4 middle, other values when
    // several are held) at (x, y), the position as read back from the press
    // labels. xText and yText are the drawing coordinates with "0.00".
    // metresPerUnit* scale the segment numbers' offsets. Refused, with
    // nothing changed: a point when 99 rows are held (the last row is kept
    // for the end), a middle press before the first segment, a position
    // whose texts do not fit a point field (CheckPointDigits). Ignored: a
    // left or right press at the last point's position (the second press of
    // a double-click would add a segment of no length).
    PressOutcome press(int button, float x, float y, const QString& xText, const QString& yText,
                       float metresPerUnitX, float metresPerUnitY, OutlineStore& store);

    // A left or right press within kSnapDistance box units (screen pixels)
    // of the take-off's first point, when it would be the third point or a
    // later one, is taken at that point: its position and its coordinate
    // texts, so the outline closes exactly. Nothing for any other press.
    static constexpr double kSnapDistance = 6;
    struct Snap {
        float x = 0, y = 0;
        QString xText, yText;
    };
    std::optional<Snap> snapToFirst(int button, float x, float y) const;

    // Takes back the last point of the take-off under way: its row of the
    // outline store (and the store's last point text), the segment count,
    // sums, bounding box and last point as they were before it. Returns the
    // point's log line, or nothing when no point is held. Down to no point:
    // then no take-off is under way.
    std::optional<QString> undo(OutlineStore& store);

    // The points taken (box units), and the log lines of the take-off.
    const std::vector<TracePoint>& points() const { return points_; }
    QString logText() const;

    // The button "中ボタン" finishes without a point: refused when the
    // take-off has no segment to finish.
    Result<> checkFinish() const;

    // Starts afresh: no take-off under way, no segment, sums and bounding
    // box at their initial values.
    void reset() { *this = TakeoffTrace{}; }

    // The drawing box was zoomed by `ratio` (new zoom / old zoom): the last
    // point, the sums and the bounding box follow it, so the next segment
    // starts at the same drawing point and the finish cuts the same figure.
    void rescale(double ratio);

    float lastX = kIdle;
    float lastY = kIdle;
    int16_t segmentCount = 0;
    float sumX = 0, sumY = 0;
    float minX = 1e8f, maxX = -1e8f, minY = 1e8f, maxY = -1e8f;

private:
    void extend(float x, float y);

    // What a press changed, to take it back.
    struct Before {
        float lastX, lastY;
        int16_t segmentCount;
        float sumX, sumY, minX, maxX, minY, maxY;
        int16_t pointCount;
        std::array<QString, 3> lastPointText;
        QString logLine; // the line the press logged
    };
    std::vector<TracePoint> points_;
    std::vector<Before> undo_;
    QString firstXText_, firstYText_;
};

// The marks of a press drawn on a box zoomed by `ratio`: positions follow,
// the dot's radius and the number's font stay.
PressMarks ScaledMarks(const PressMarks& marks, double ratio);

// A point whose "0.00" texts have more digits before the "." than the 9
// characters of a point field hold (PointFieldText) would be stored as
// another number: refused ("座標の桁が多すぎます").
Result<> CheckPointDigits(const QString& xText, const QString& yText);

// The refusal of a finish without a segment or without a calibration.
QString NoSegmentMessage();
QString NoCalibrationMessage();
