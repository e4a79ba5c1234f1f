#pragma once
// The digitizer's view without its window: the view-state file curPass.txt,
// the scroll ranges, and the geometry of the finish (comment label and
// thumbnail). Plain values and functions, so each rule is checked alone.

#include "common/core/textcodec.h"

#include <QString>

#include <optional>

// curPass.txt: one line of eight fields joined by ",".
struct ViewState {
    QString imagePath;
    float savedTop = 0;   // drawing box position in the view: -VScroll1.Value
    float savedLeft = 0;  // -HScroll1.Value
    float formHeight = 0; // window's outer size, twips
    float formWidth = 0;
    float pictureHeight = 0; // drawing box size, pixels
    float pictureWidth = 0;
    float zoomFactor = 1;

    // The line as written: numbers in the text form of a Single.
    QString line() const;
    // A line as read. The seven numbers are the last seven fields, so a path
    // holding "," survives. Nothing for a line with fewer than eight fields.
    // A zoom outside the zoom commands' range (0.3 to 2, with the drift of
    // their steps) reads as 1.
    static std::optional<ViewState> parse(const QString& line);
};

// What Form_Load finds in curPass.txt.
struct ViewStateRead {
    bool empty = true;              // missing, empty or first line empty: no drawing yet
    std::optional<ViewState> state; // when not empty and readable
    QString error;                  // when not empty and not readable
};
ViewStateRead ReadViewState(const QString& path, const TextCodec& codec);
Result<> WriteViewState(const QString& path, const ViewState& state, const TextCodec& codec);

// A scroll bar's range over a drawing box larger than the view: Max is the
// part that does not fit (0 when it fits), LargeChange Max / 60 and
// SmallChange LargeChange / 4, each rounded with halves to even.
struct ScrollRange {
    int max = 0;
    int largeChange = 1;
    int smallChange = 1;
};
ScrollRange ScrollRangeFor(int boxSize, int viewSize);

// The thumbnail of a finished figure: the bounding box with one metre of
// margin (m = 1 / metresPerUnitX box units on both axes), cut at 0 on the
// top and left, scaled to the thumbnail's height, at most twice.
struct Thumbnail {
    double x0 = 0, y0 = 0, w = 0, h = 0; // source area, box units
    double k = 0;                        // scale into the thumbnail
};
Thumbnail ThumbnailFor(float minX, float maxX, float minY, float maxY, float metresPerUnitX,
                       double thumbnailHeight);

// The comment text: the take-off name & "-" & the serial number's text when
// serial numbering is on, else the name alone.
QString CommentText(const QString& name, const QString& serialText, bool numbered);
