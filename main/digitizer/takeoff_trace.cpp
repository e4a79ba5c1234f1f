#include "main/digitizer/takeoff_trace.h"

#include "common/numtext.h"
#include "common/point_log.h"
#include "common/refusals.h"

#include <cmath>

QString NoSegmentMessage() {
    return QStringLiteral("まだ線分がありません。\r\n"
                          "2点以上を取ってから中ボタンで終了して下さい");
}

QString NoCalibrationMessage() {
    return QStringLiteral("画像のスケールが設定されていません。\r\n"
                          "基準値--->スケール で設定して下さい");
}

std::optional<QString> RefusePointDigits(const QString& xText, const QString& yText) {
    bool fitsX = true, fitsY = true;
    PointFieldText(xText, &fitsX);
    PointFieldText(yText, &fitsY);
    if (fitsX && fitsY)
        return std::nullopt;
    return QStringLiteral("座標の桁が多すぎます（X %1 m、Y %2 m）。\r\n"
                          "この点は取り込みません。基準値を確かめて下さい")
        .arg(Brief(xText, 24), Brief(yText, 24));
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

void TakeoffTrace::rescale(double ratio) {
    auto scaled = [ratio](float& v) { v = float(double(v) * ratio); };
    if (underway()) {
        scaled(lastX);
        scaled(lastY);
    }
    scaled(sumX);
    scaled(sumY);
    // The bounding box holds its start values until a point extends it.
    if (minX <= maxX) {
        scaled(minX);
        scaled(maxX);
    }
    if (minY <= maxY) {
        scaled(minY);
        scaled(maxY);
    }
}

PressMarks ScaledMarks(const PressMarks& marks, double ratio) {
    PressMarks m = marks;
    m.from *= ratio;
    m.at *= ratio;
    m.numberPos *= ratio;
    return m;
}

std::optional<QString> TakeoffTrace::refuseFinish() const {
    if (!underway() || segmentCount == 0)
        return NoSegmentMessage();
    return std::nullopt;
}

PressOutcome TakeoffTrace::press(int button, float x, float y, const QString& xText,
                                 const QString& yText, float metresPerUnitX, float metresPerUnitY,
                                 OutlineStore& store) {
    PressOutcome out;
    // Refusals first, so a refused press changes nothing.
    if (button == 4) {
        if (const auto why = refuseFinish()) {
            out.refusal = why;
            return out;
        }
    }
    if (underway()) {
        if (const auto why = RefusePoint(store, button)) {
            out.refusal = why;
            return out;
        }
    }
    if (const auto why = RefusePointDigits(xText, yText)) {
        out.refusal = why;
        return out;
    }

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
    }

    lastX = x;
    lastY = y;
    const QString code = QString::number(button);
    store.lastPointText = {PointFieldText(xText), PointFieldText(yText), code};
    out.logLine = PointLogLine(store.lastPointText[0], store.lastPointText[1], code);
    store.appendMetres(Val(store.lastPointText[0]), Val(store.lastPointText[1]), float(button));
    if (button == 4) {
        // The closing point is stored, not counted.
        store.finishedCount = int16_t(store.pointCount - 1);
        out.finish = true;
    }
    return out;
}
