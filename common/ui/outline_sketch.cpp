#include "common/ui/outline_sketch.h"

#include "common/ui/picturebox.h"

#include <algorithm>

namespace {

void printRed(PictureBox& picture, float x, float y, const QString& text) {
    picture.setCurrentX(x);
    picture.setCurrentY(y);
    picture.setForeColor(kSketchRed);
    picture.setFontBold(true);
    picture.setFontSize(kSketchFontSize);
    picture.Print(text);
}

} // namespace

SketchGeometry DrawOutline(PictureBox& picture, OutlineStore& store, int n, const QString& name) {
    // The sketch leaves the picture positions in the millimetre rows.
    SketchGeometry g = SketchOutline(store, n, picture.ScaleHeight());
    DrawSketch(picture, g, name);
    return g;
}

void DrawSketch(PictureBox& picture, const SketchGeometry& g, const QString& name) {
    if (g.n == 0)
        return;

    const SketchPoint& first = g.points.front();
    picture.Circle(first.x, first.y, kSketchDotRadius, kSketchRed);
    for (int i = 2; i <= g.n; ++i) {
        const SketchPoint& a = g.points[static_cast<std::size_t>(i - 2)];
        const SketchPoint& b = g.points[static_cast<std::size_t>(i - 1)];
        QColor color;
        if (b.code == 1.0f)
            color = kSketchRed;
        else if (b.code == 2.0f)
            color = kSketchBlue;
        if (color.isValid()) {
            picture.Line(a.x, a.y, b.x, b.y, color);
            picture.Circle(b.x, b.y, kSketchDotRadius, color);
        }
        const SketchLabel& label = g.segments[static_cast<std::size_t>(i - 2)];
        printRed(picture, label.x, label.y, label.text);
    }
    printRed(picture, g.nameX, g.nameY, name);
}

void DrawOutline(PictureBox& picture, OutlineStore& store, const QString& name) {
    const int n = std::max(store.pointCount() - 1, 0);
    store.finishWith(n);
    DrawOutline(picture, store, n, name);
}
