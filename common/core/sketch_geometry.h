#pragma once
// The geometry of the outline sketch: an outline of the outline store placed
// on a picture, scaled by one factor so its longer side fills 80 % of the
// picture's height (a small outline is enlarged at most twice), with the
// position of every segment number and of the outline's name at the mean
// position of its points. Drawing it is DrawOutline's (outline_sketch.h).

#include "common/core/outline_store.h"

#include <QString>

#include <vector>

// One point of the sketch in picture units (Y grows downwards).
struct SketchPoint {
    float x = 0.0f;
    float y = 0.0f;
    float code = 0.0f; // point code of the row
};

// A text of the sketch with its top-left corner in picture units.
struct SketchLabel {
    float x = 0.0f;
    float y = 0.0f;
    QString text;
};

struct SketchGeometry {
    int n = 0;         // points drawn (rows 1 to n); 0 draws nothing
    float minX = 0.0f; // bounding box of rows 1 to n, millimetres
    float minY = 0.0f;
    float maxX = 0.0f;
    float maxY = 0.0f;
    float meanX = 0.0f; // mean of the points after moving minX/minY to 0
    float meanY = 0.0f;
    float range = 0.0f;                // the longer side of the bounding box
    double s = 0.0;                    // scale factor, at most 2 (2 as well for a zero range)
    double m = 0.0;                    // margin, a tenth of the inner height
    std::vector<SketchPoint> points;   // points[i - 1] is row i
    std::vector<SketchLabel> segments; // segments[i - 2] is "[i-1]" for row i >= 2
    float nameX = 0.0f;                // top-left of the name
    float nameY = 0.0f;
};

// The sketch of rows 1 to n of the millimetre table on a picture of the given
// inner height. n is cut to the rows the store holds; n <= 0 gives no points.
// The store is not changed.
SketchGeometry ComputeSketch(const OutlineStore& store, int n, double innerHeight);
// The same for a finished outline: its end record (the last row) is left out,
// n = pointCount - 1.
SketchGeometry ComputeSketch(const OutlineStore& store, double innerHeight);

// The sketch of rows 1 to n, whose picture positions then replace those rows
// of pointsMm (the metre rows keep the outline for the lengths and areas).
SketchGeometry SketchOutline(OutlineStore& store, int n, double innerHeight);
