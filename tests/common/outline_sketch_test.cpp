#include "common/ui/outline_sketch.h"
#include "common/ui/picturebox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace {

struct Row {
    float x, y, code;
};

// An outline in millimetres followed by its end record.
OutlineStore outline(std::initializer_list<Row> rows, Row end = {0, 0, 4}) {
    OutlineStore store;
    for (const Row& r : rows)
        store.appendMillimetres(r.x, r.y, r.code);
    store.appendMillimetres(end.x, end.y, end.code);
    return store;
}

const QRgb kWhite = qRgb(255, 255, 255) & 0xffffff;
const QRgb kRed = qRgb(255, 0, 0) & 0xffffff;
const QRgb kBlue = qRgb(0, 0, 255) & 0xffffff;

QRgb at(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xffffff;
}

int count(const QImage& img, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (at(img, x, y) == colour)
                ++n;
    return n;
}

int notWhite(const QImage& img) {
    return img.width() * img.height() - count(img, img.rect(), kWhite);
}

class SketchPicture : public ::testing::Test {
protected:
    void SetUp() override { picture.resize(400, 400); } // 6000 x 6000 twips
    PictureBox picture;
};

} // namespace

TEST(ComputeSketch, WideOutlineFillsEightyPercentOfTheHeight) {
    // 4000 x 2000 mm; the end record lies far away and must not count.
    const OutlineStore store = outline(
        {{1000, 1000, 1}, {5000, 1000, 1}, {5000, 3000, 2}, {1000, 3000, 1}}, {-90000, 90000, 4});
    const SketchGeometry g = ComputeSketch(store, 6000.0);
    ASSERT_EQ(g.n, 4);
    EXPECT_NEAR(g.s, 1.2, 1e-9);
    EXPECT_NEAR(g.m, 600.0, 1e-9);
    EXPECT_FLOAT_EQ(g.range, 4000.0f);
    EXPECT_FLOAT_EQ(g.minX, 1000.0f);
    EXPECT_FLOAT_EQ(g.maxY, 3000.0f);
    ASSERT_EQ(g.points.size(), 4u);
    EXPECT_FLOAT_EQ(g.points[0].x, 600.0f); // lower left of the bounding box
    EXPECT_FLOAT_EQ(g.points[0].y, 5400.0f);
    EXPECT_FLOAT_EQ(g.points[1].x, 5400.0f);
    EXPECT_FLOAT_EQ(g.points[1].y, 5400.0f);
    EXPECT_FLOAT_EQ(g.points[2].x, 5400.0f);
    EXPECT_FLOAT_EQ(g.points[2].y, 3000.0f);
    EXPECT_FLOAT_EQ(g.points[2].code, 2.0f);

    // Horizontal segments are numbered left of and below their middle,
    // vertical ones right of and above it.
    ASSERT_EQ(g.segments.size(), 3u);
    EXPECT_EQ(g.segments[0].text, QStringLiteral("[1]"));
    EXPECT_FLOAT_EQ(g.segments[0].x, 3000.0f - 150.0f);
    EXPECT_FLOAT_EQ(g.segments[0].y, 5400.0f + 60.0f);
    EXPECT_EQ(g.segments[1].text, QStringLiteral("[2]"));
    EXPECT_FLOAT_EQ(g.segments[1].x, 5400.0f + 60.0f);
    EXPECT_FLOAT_EQ(g.segments[1].y, 4200.0f - 150.0f);
    EXPECT_EQ(g.segments[2].text, QStringLiteral("[3]"));
    EXPECT_FLOAT_EQ(g.segments[2].y, 3000.0f + 60.0f);

    EXPECT_FLOAT_EQ(g.meanX, 2000.0f);
    EXPECT_FLOAT_EQ(g.meanY, 1000.0f);
    EXPECT_FLOAT_EQ(g.nameX, 3000.0f);
    EXPECT_FLOAT_EQ(g.nameY, 4200.0f);
}

TEST(ComputeSketch, SmallOutlineIsEnlargedAtMostTwice) {
    const OutlineStore store = outline({{100, 100, 1}, {110, 100, 1}, {110, 105, 2}});
    const SketchGeometry g = ComputeSketch(store, 6000.0);
    EXPECT_FLOAT_EQ(g.range, 10.0f);
    EXPECT_DOUBLE_EQ(g.s, 2.0);
    EXPECT_FLOAT_EQ(g.points[1].x, 620.0f);
    EXPECT_FLOAT_EQ(g.points[2].y, 5390.0f);
}

TEST(ComputeSketch, TwoPointsGiveOneSegmentAndTheNameAtTheirMean) {
    const OutlineStore store = outline({{0, 0, 1}, {3000, 0, 1}});
    const SketchGeometry g = ComputeSketch(store, 6000.0);
    EXPECT_NEAR(g.s, 1.6, 1e-6);
    ASSERT_EQ(g.segments.size(), 1u);
    EXPECT_EQ(g.segments[0].text, QStringLiteral("[1]"));
    EXPECT_FLOAT_EQ(g.nameX, 3000.0f);
    EXPECT_FLOAT_EQ(g.nameY, 5400.0f);
}

TEST(ComputeSketch, DiagonalSegmentCountsAsHorizontal) {
    const OutlineStore store = outline({{0, 0, 1}, {1000, 1000, 1}});
    const SketchGeometry g = ComputeSketch(store, 6000.0);
    ASSERT_EQ(g.segments.size(), 1u);
    const float midX = (g.points[0].x + g.points[1].x) / 2;
    EXPECT_NEAR(g.segments[0].x, midX - 0.25 * g.m, 1e-3);
}

TEST(ComputeSketch, DegenerateOutlinesDoNotDivideByZero) {
    // No point before the end record, or none at all: nothing to draw.
    EXPECT_EQ(ComputeSketch(OutlineStore{}, 6000.0).n, 0);
    EXPECT_EQ(ComputeSketch(outline({}), 6000.0).n, 0);
    EXPECT_TRUE(ComputeSketch(outline({}), 6000.0).points.empty());

    // One point: no extent, the largest enlargement; it sits at the margin.
    SketchGeometry g = ComputeSketch(outline({{2500, 700, 1}}), 6000.0);
    ASSERT_EQ(g.n, 1);
    EXPECT_DOUBLE_EQ(g.s, 2.0);
    EXPECT_FLOAT_EQ(g.points[0].x, 600.0f);
    EXPECT_FLOAT_EQ(g.points[0].y, 5400.0f);
    EXPECT_FLOAT_EQ(g.nameX, 600.0f);
    EXPECT_FLOAT_EQ(g.nameY, 5400.0f);

    // Coinciding points: the same, and every position is a number.
    g = ComputeSketch(outline({{500, 500, 1}, {500, 500, 2}, {500, 500, 1}}), 6000.0);
    EXPECT_DOUBLE_EQ(g.s, 2.0);
    for (const SketchLabel& l : g.segments) {
        EXPECT_TRUE(std::isfinite(l.x));
        EXPECT_TRUE(std::isfinite(l.y));
    }

    // A count beyond the table is cut to its rows; the store itself never
    // counts beyond them.
    OutlineStore full;
    for (int i = 0; i < OutlineStore::kMaxRows; ++i)
        full.appendMillimetres(static_cast<float>(i), 0, 1);
    EXPECT_FALSE(full.appendMillimetres(1, 1, 1));
    EXPECT_EQ(ComputeSketch(full, 300, 6000.0).n, OutlineStore::kMaxRows);
}

TEST_F(SketchPicture, DrawOutlineRewritesTheMillimetreRowsAndCountsTheOutline) {
    OutlineStore store =
        outline({{1000, 1000, 1}, {5000, 1000, 1}, {5000, 3000, 2}}, {7777, 8888, 4});
    const SketchGeometry expected = ComputeSketch(store, 6000.0);
    const OutlineStore before = store;
    DrawOutline(picture, store, QStringLiteral("居間-2"));

    EXPECT_EQ(store.finishedCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FLOAT_EQ(store.pointsMm[i][1], expected.points[i - 1].x);
        EXPECT_FLOAT_EQ(store.pointsMm[i][2], expected.points[i - 1].y);
        EXPECT_FLOAT_EQ(store.pointsMm[i][3], before.pointsMm[i][3]);
        EXPECT_FLOAT_EQ(store.pointsM[i][1], before.pointsM[i][1]); // metres untouched
    }
    EXPECT_FLOAT_EQ(store.pointsMm[4][1], 7777.0f); // the end record is not a point
    EXPECT_FLOAT_EQ(store.pointsMm[4][2], 8888.0f);
}

TEST_F(SketchPicture, SegmentsAreRedOrBlueByCodeAndTheOutlineIsNotClosed) {
    // A square: bottom red, right side blue, top red; no side back to the start.
    OutlineStore store =
        outline({{0, 0, 1}, {4000, 0, 1}, {4000, 4000, 2}, {0, 4000, 1}}, {0, 2000, 4});
    DrawOutline(picture, store, QStringLiteral("居間"));
    const QImage img = picture.Image();
    // Picture corners: (40, 360), (360, 360), (360, 40), (40, 40) pixels.
    EXPECT_EQ(count(img, QRect(41, 360, 319, 1), kRed), 319);
    EXPECT_EQ(count(img, QRect(360, 41, 1, 319), kBlue), 319);
    EXPECT_EQ(count(img, QRect(41, 40, 319, 1), kRed), 319);
    EXPECT_EQ(count(img, QRect(40, 45, 1, 311), kWhite), 311);
    // The dots of the points lie on the corners.
    EXPECT_EQ(at(img, 40, 360), kRed);
    EXPECT_EQ(at(img, 40, 40), kRed);
    // Numbers and name are red text, nothing else is blue.
    EXPECT_GT(count(img, QRect(185, 362, 40, 30), kRed), 10);     // [1]
    EXPECT_GT(count(img, QRect(362, 185, 38, 30), kRed), 10);     // [2]
    EXPECT_GT(count(img, QRect(185, 42, 40, 30), kRed), 10);      // [3]
    EXPECT_GT(count(img, QRect(198, 198, 60, 30), kRed), 10);     // name
    EXPECT_EQ(count(img, img.rect(), kBlue), 319 + 1);            // side and its dot
    EXPECT_EQ(notWhite(img), count(img, img.rect(), kRed) + 320); // two colours only
}

TEST_F(SketchPicture, OtherCodesDrawNoSegmentButAreStillNumbered) {
    OutlineStore store;
    store.appendMillimetres(0, 0, 1);
    store.appendMillimetres(4000, 0, 1);
    store.appendMillimetres(4000, 4000, 4); // not a segment
    store.appendMillimetres(0, 4000, 1);
    DrawOutline(picture, store, 4, QStringLiteral("x"));
    const QImage img = picture.Image();
    EXPECT_EQ(count(img, QRect(41, 360, 319, 1), kRed), 319);
    EXPECT_EQ(count(img, QRect(360, 45, 1, 311), kWhite), 311);
    EXPECT_GT(count(img, QRect(362, 185, 38, 30), kRed), 10); // "[2]" all the same
    EXPECT_EQ(store.finishedCount(), 0); // the explicit-count form leaves it alone
}

TEST_F(SketchPicture, EmptyOutlinesDrawNothing) {
    OutlineStore empty;
    DrawOutline(picture, empty, QStringLiteral("居間"));
    EXPECT_EQ(empty.finishedCount(), 0);
    OutlineStore onlyEnd = outline({});
    DrawOutline(picture, onlyEnd, QStringLiteral("居間"));
    EXPECT_EQ(onlyEnd.finishedCount(), 0);
    EXPECT_EQ(notWhite(picture.Image()), 0);
    EXPECT_EQ(picture.retainedOperationCount(), 0u);
}

TEST_F(SketchPicture, SinglePointAndZeroExtentAreDrawnAtTheMargin) {
    OutlineStore one = outline({{2500, 700, 1}});
    DrawOutline(picture, one, QString());
    QImage img = picture.Image();
    EXPECT_EQ(one.finishedCount(), 1);
    EXPECT_EQ(at(img, 40, 360), kRed);
    EXPECT_EQ(notWhite(img), 1); // the dot; the empty name draws nothing

    picture.Cls();
    OutlineStore same = outline({{500, 500, 1}, {500, 500, 2}});
    DrawOutline(picture, same, QStringLiteral("A"));
    img = picture.Image();
    EXPECT_EQ(at(img, 40, 360), kBlue); // the later dot on top
    EXPECT_GT(count(img, img.rect(), kRed), 10);
}
