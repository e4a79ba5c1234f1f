#include "common/core/sketch_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

// Bounding box start values, as the stores have always used them.
constexpr float kBoxStart = 99999.99f;
constexpr double kMaxScale = 2.0;

// Rows beyond the table's end are never read, whatever the count says.
int rowsToDraw(int n) {
    return std::clamp(n, 0, static_cast<int>(OutlineStore::kMaxRows));
}

} // namespace

SketchGeometry ComputeSketch(const OutlineStore& store, int n, double innerHeight) {
    SketchGeometry g;
    g.n = rowsToDraw(n);
    const float h = static_cast<float>(innerHeight);
    g.m = h * 0.1;
    if (g.n == 0)
        return g;

    float minX = kBoxStart, minY = kBoxStart;
    float maxX = -kBoxStart, maxY = -kBoxStart;
    for (int i = 1; i <= g.n; ++i) {
        const float x = store.pointsMm[i][1];
        const float y = store.pointsMm[i][2];
        if (x < minX)
            minX = x;
        if (x > maxX)
            maxX = x;
        if (y < minY)
            minY = y;
        if (y > maxY)
            maxY = y;
    }
    g.minX = minX;
    g.minY = minY;
    g.maxX = maxX;
    g.maxY = maxY;

    // Points moved so the bounding box starts at 0, and their sums.
    std::vector<SketchPoint> shifted(static_cast<std::size_t>(g.n));
    float sumX = 0.0f, sumY = 0.0f;
    for (int i = 1; i <= g.n; ++i) {
        SketchPoint& p = shifted[static_cast<std::size_t>(i - 1)];
        p.x = store.pointsMm[i][1] - minX;
        p.y = store.pointsMm[i][2] - minY;
        p.code = store.pointsMm[i][3];
        sumX += p.x;
        sumY += p.y;
    }
    const float rangeX = maxX - minX;
    const float rangeY = maxY - minY;
    g.meanX = sumX / static_cast<float>(g.n);
    g.meanY = sumY / static_cast<float>(g.n);
    g.range = rangeX >= rangeY ? rangeX : rangeY;

    // A single point or coinciding points have no extent to fill the picture
    // with; they get the largest enlargement instead of a division by zero.
    if (g.range > 0.0f)
        g.s = std::min(static_cast<double>(h / g.range) * 0.8, kMaxScale);
    else
        g.s = kMaxScale;

    g.points.reserve(shifted.size());
    for (const SketchPoint& p : shifted) {
        SketchPoint q;
        q.x = static_cast<float>(g.s * p.x + g.m);
        q.y = static_cast<float>(h - (g.s * p.y + g.m));
        q.code = p.code;
        g.points.push_back(q);
    }

    for (int i = 2; i <= g.n; ++i) {
        const SketchPoint& a = g.points[static_cast<std::size_t>(i - 2)];
        const SketchPoint& b = g.points[static_cast<std::size_t>(i - 1)];
        const float dx = std::fabs(b.x - a.x);
        const float dy = std::fabs(b.y - a.y);
        double offX, offY;
        if (dx >= dy) { // mainly horizontal: left of and below the middle
            offX = -0.25 * g.m;
            offY = 0.1 * g.m;
        } else { // mainly vertical: right of and above the middle
            offX = 0.1 * g.m;
            offY = -0.25 * g.m;
        }
        SketchLabel label;
        label.x = static_cast<float>((b.x + a.x) / 2 + offX);
        label.y = static_cast<float>((b.y + a.y) / 2 + offY);
        label.text = QStringLiteral("[%1]").arg(i - 1);
        g.segments.push_back(label);
    }

    g.nameX = static_cast<float>(g.s * g.meanX + g.m);
    g.nameY = static_cast<float>(h - (g.s * g.meanY + g.m));
    return g;
}

SketchGeometry ComputeSketch(const OutlineStore& store, double innerHeight) {
    return ComputeSketch(store, store.pointCount() - 1, innerHeight);
}

SketchGeometry SketchOutline(OutlineStore& store, int n, double innerHeight) {
    SketchGeometry g = ComputeSketch(store, n, innerHeight);
    for (int i = 1; i <= g.n; ++i) {
        store.pointsMm[i][1] = g.points[static_cast<std::size_t>(i - 1)].x;
        store.pointsMm[i][2] = g.points[static_cast<std::size_t>(i - 1)].y;
    }
    return g;
}
