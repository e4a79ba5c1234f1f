#include "main/takeoff/takeoff.h"

#include "common/core/numtext.h"

#include <cmath>

float RoundCentimetres(float v) {
    // v * 100 stays single; adding the double 0.5 widens it.
    return static_cast<float>(std::floor(double(v * 100.0f) + 0.5) / 100.0);
}

double ExactDecimal(double v, int decimals) {
    const QString pattern = QStringLiteral("0.") + QString(decimals, QLatin1Char('0'));
    return Format(v, decimals > 0 ? pattern : QStringLiteral("0")).toDouble();
}

TakeoffRow ComputeTakeoffRow(const OutlineStore& store, const QString& ceilingHeightText) {
    TakeoffRow row;
    const int n = store.finishedCount();
    auto X = [&](int i) { return store.pointsM[i][1]; };
    auto Y = [&](int i) { return store.pointsM[i][2]; };

    float total = 0;
    float reference = 0;
    for (int i = 2; i <= n; ++i) {
        const float dx = X(i) - X(i - 1);
        const float dy = Y(i) - Y(i - 1);
        const double s = std::sqrt(double(dy) * double(dy) + double(dx) * double(dx));
        total = static_cast<float>(total + s);
        if (store.pointsM[i][3] == 1.0f)
            reference = static_cast<float>(reference + s);
    }
    row.total = RoundCentimetres(total);
    row.reference = RoundCentimetres(reference);

    const float h = static_cast<float>(Val(ceilingHeightText));
    if (h > 0) {
        row.height = h;
        row.wall = std::floor(double(h * row.reference) * 0.1 + 0.5) * 0.01;
    }

    if (n >= 1) {
        const float gx = X(n) - X(1);
        const float gy = Y(n) - Y(1);
        const double gap = std::sqrt(double(gx) * double(gx) + double(gy) * double(gy));
        row.closed = gap <= kClosureTolerance;
        if (row.closed) {
            float sum = 0;
            for (int i = 1; i <= n; ++i) {
                const int j = i == n ? 1 : i + 1;
                sum += (Y(i) + Y(j)) * (X(j) - X(i));
            }
            row.floor = RoundCentimetres(std::fabs(0.5f * sum));
        }
    }
    return row;
}

QVariant TakeoffRow::cell(int column) const {
    switch (column) {
    case 2:
        return ExactDecimal(total, 2);
    case 3:
        return ExactDecimal(reference, 2);
    case 4:
        return height > 0 ? QVariant(Val(SingleToText(height))) : QVariant(0);
    case 5:
    case 7:
        return closed ? QVariant(ExactDecimal(floor, 2)) : QVariant(0);
    case 6:
        return height > 0 ? QVariant(ExactDecimal(wall, 2)) : QVariant(0);
    default:
        return {};
    }
}

std::optional<LabelContinuation> ContinueFromRowLabel(const QString& label) {
    const qsizetype dash = label.lastIndexOf(u'-');
    if (dash < 0)
        return std::nullopt;
    const QString digits = label.mid(dash + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int next = digits.toInt() + 1;
    if (next > 32767)
        return std::nullopt;
    return LabelContinuation{label.left(dash), static_cast<int16_t>(next)};
}
