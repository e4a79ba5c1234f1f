#pragma once
// The outline sketch drawn in a picture box: the main window and every device
// program draw the same sketch, from the geometry of sketch_geometry.h.

#include "common/core/sketch_geometry.h"

#include <QColor>
#include <QString>

class PictureBox;

inline const QColor kSketchRed{255, 0, 0};
inline const QColor kSketchBlue{0, 0, 255};
inline constexpr float kSketchFontSize = 14.0f;
inline constexpr float kSketchDotRadius = 0.5f;

// Draws a finished outline: finishedCount = pointCount - 1 (0 when the store
// holds no point before its end record), rows 1 to finishedCount of pointsMm
// are replaced by their picture positions, then the points, the segments in
// red (code 1) or blue (code 2), their numbers and the name are drawn.
void DrawOutline(PictureBox& picture, OutlineStore& store, const QString& name);
// The same for rows 1 to n (for outlines whose last row is itself a point);
// finishedCount is left alone. Returns the geometry drawn.
SketchGeometry DrawOutline(PictureBox& picture, OutlineStore& store, int n, const QString& name);
// Draws a sketch computed by SketchOutline (nothing when it has no point).
void DrawSketch(PictureBox& picture, const SketchGeometry& geometry, const QString& name);
