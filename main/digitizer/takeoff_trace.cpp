#include "main/digitizer/takeoff_trace.h"

#include "common/core/numtext.h"
#include "common/core/point_log.h"
#include "common/core/refusals.h"

#include <cmath>

QString NoSegmentMessage() {
    return QStringLiteral("まだ線分がありません。\r\n"
                          "2点以上を取ってから中ボタンで終了して下さい");
}

QString NoCalibrationMessage() {
    return QStringLiteral("画像のスケールが設定されていません。\r\n"
                          "基準値--->スケール で設定して下さい");
}

Result<> CheckPointDigits(const QString& xText, const QString& yText) {
    bool fitsX = true, fitsY = true;
    PointFieldText(xText, &fitsX);
    PointFieldText(yText, &fitsY);
    if (fitsX && fitsY)
        return {};
    return Fail(QStringLiteral("座標の桁が多すぎます（X %1 m、Y %2 m）。\r\n"
                               "この点は取り込みません。基準値を確かめて下さい")
                    .arg(Brief(xText, 24), Brief(yText, 24)));
}

void TakeoffTrace::extend(float x, float y) {
    if (x < minX)
        minX = x;
    if (x > maxX)
        maxX = x;
    if (y < minY)
        minY = y;
    if (y > maxY)
        maxY = y;
}

namespace {

// Positions of a take-off on a box zoomed by ratio. The idle mark and the
// bounding box's start values are no positions and stay.
void RescalePositions(double ratio, float& lastX, float& lastY, float& sumX, float& sumY,
                      float& minX, float& maxX, float& minY, float& maxY) {
    auto scaled = [ratio](float& v) { v = float(double(v) * ratio); };
    if (lastX != TakeoffTrace::kIdle) {
        scaled(lastX);
        scaled(lastY);
    }
    scaled(sumX);
    scaled(sumY);
    if (minX <= maxX) {
        scaled(minX);
        scaled(maxX);
    }
    if (minY <= maxY) {
        scaled(minY);
        scaled(maxY);
    }
}

} // namespace

void TakeoffTrace::rescale(double ratio) {
    RescalePositions(ratio, lastX, lastY, sumX, sumY, minX, maxX, minY, maxY);
    for (TracePoint& p : points_) {
        p.x = float(double(p.x) * ratio);
        p.y = float(double(p.y) * ratio);
    }
    for (Before& b : undo_)
        RescalePositions(ratio, b.lastX, b.lastY, b.sumX, b.sumY, b.minX, b.maxX, b.minY, b.maxY);
}

std::optional<TakeoffTrace::Snap> TakeoffTrace::snapToFirst(int button, float x, float y) const {
    if ((button != 1 && button != 2) || points_.size() < 2)
        return std::nullopt;
    const TracePoint& first = points_.front();
    if (std::hypot(double(x) - first.x, double(y) - first.y) > kSnapDistance)
        return std::nullopt;
    return Snap{first.x, first.y, firstXText_, firstYText_};
}

std::optional<QString> TakeoffTrace::undo(OutlineStore& store) {
    if (undo_.empty())
        return std::nullopt;
    const Before b = undo_.back();
    undo_.pop_back();
    points_.pop_back();
    lastX = b.lastX;
    lastY = b.lastY;
    segmentCount = b.segmentCount;
    sumX = b.sumX;
    sumY = b.sumY;
    minX = b.minX;
    maxX = b.maxX;
    minY = b.minY;
    maxY = b.maxY;
    store.takeBackTo(b.pointCount);
    store.lastPointText = b.lastPointText;
    return b.logLine;
}

QString TakeoffTrace::logText() const {
    QString text;
    for (const Before& b : undo_)
        text += b.logLine;
    return text;
}

PressMarks ScaledMarks(const PressMarks& marks, double ratio) {
    PressMarks m = marks;
    m.from *= ratio;
    m.at *= ratio;
    m.numberPos *= ratio;
    return m;
}

Result<> TakeoffTrace::checkFinish() const {
    if (!underway() || segmentCount == 0)
        return Fail(NoSegmentMessage());
    return {};
}

PressOutcome TakeoffTrace::press(int button, float x, float y, const QString& xText,
                                 const QString& yText, float metresPerUnitX, float metresPerUnitY,
                                 OutlineStore& store) {
    PressOutcome out;
    // Refusals first, so a refused press changes nothing.
    if (button == 4) {
        if (const auto checked = checkFinish(); !checked) {
            out.refusal = checked.error();
            return out;
        }
    }
    if (underway()) {
        if (const auto checked = CheckPoint(store, button, OutlineEnd::ScreenButton); !checked) {
            out.refusal = checked.error();
            return out;
        }
    }
    if (const auto checked = CheckPointDigits(xText, yText); !checked) {
        out.refusal = checked.error();
        return out;
    }
    if (underway() && (button == 1 || button == 2) && x == lastX && y == lastY) {
        out.ignored = true;
        return out;
    }
    // Taken back, the first point leaves an empty store, not the outline before it.
    const Before before{lastX,
                        lastY,
                        segmentCount,
                        sumX,
                        sumY,
                        minX,
                        maxX,
                        minY,
                        maxY,
                        underway() ? store.pointCount() : int16_t(0),
                        store.lastPointText,
                        QString()};

    PressMarks& m = out.marks;
    m.at = QPointF(x, y);
    if (underway()) {
        if (button != 4) {
            ++segmentCount;
            extend(x, y);
            sumX += x;
            sumY += y;
            if (button == 1 || button == 2) {
                m.line = true;
                m.dot = true;
                m.from = QPointF(lastX, lastY);
                m.lineColour = button == 1 ? kQBColor12 : kQBColor11;
            }
            // The number stands 0.2 m left of and 0.08 m below the middle of a
            // mainly horizontal segment, 0.08 m right of and 0.15 m above a
            // vertical one, so it scales with the zoom.
            const float dx = std::fabs(x - lastX);
            const float dy = std::fabs(y - lastY);
            double offX, offY;
            if (dx >= dy) {
                offX = -0.2 / metresPerUnitX;
                offY = 0.08 / metresPerUnitY;
            } else {
                offX = 0.08 / metresPerUnitX;
                offY = -0.15 / metresPerUnitY;
            }
            m.number = true;
            m.numberPos = QPointF(float((x + lastX) / 2 + offX), float((y + lastY) / 2 + offY));
            m.numberText = QStringLiteral("[%1]").arg(segmentCount);
        }
    } else {
        // The first point of a take-off, whatever the button.
        store.beginOutline();
        segmentCount = 0;
        extend(x, y);
        m.dot = true;
        m.lineColour = kQBColor12;
        points_.clear();
        undo_.clear();
        firstXText_ = xText;
        firstYText_ = yText;
    }

    lastX = x;
    lastY = y;
    const QString code = QString::number(button);
    store.lastPointText = {PointFieldText(xText), PointFieldText(yText), code};
    out.logLine = PointLogLine(store.lastPointText[0], store.lastPointText[1], code);
    store.appendMetres(Val(store.lastPointText[0]), Val(store.lastPointText[1]), float(button));
    if (button == 4) {
        // The closing point is stored, not counted.
        store.finishWith(store.pointCount() - 1);
        out.finish = true;
    } else {
        points_.push_back(TracePoint{x, y, button});
        undo_.push_back(before);
        undo_.back().logLine = out.logLine;
    }
    return out;
}
