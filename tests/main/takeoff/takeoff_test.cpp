// Lengths and areas of one worksheet row.
#include "main/takeoff/takeoff.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

namespace {

// A finished outline from (x, y, code) points in metres.
OutlineStore Outline(std::initializer_list<std::tuple<double, double, int>> points) {
    OutlineStore s;
    for (auto [x, y, c] : points)
        s.appendMetres(x, y, float(c));
    s.appendMetres(0, 0, 4);
    s.finishWith(s.pointCount() - 1);
    return s;
}

TEST(TakeoffRow, RectangleAllReference) {
    const auto s = Outline({{0, 0, 1}, {4, 0, 1}, {4, 3, 1}, {0, 3, 1}, {0, 0, 1}});
    const TakeoffRow r = ComputeTakeoffRow(s, "2400");
    EXPECT_EQ(r.cell(2).toDouble(), 14.0);
    EXPECT_EQ(r.cell(3).toDouble(), 14.0);
    EXPECT_EQ(r.cell(4).toDouble(), 2400.0);
    EXPECT_EQ(r.cell(5).toDouble(), 12.0);
    // Exactly the decimal 33.6, not the widened single 33.59999847.
    EXPECT_EQ(r.cell(6).toDouble(), 33.6);
    EXPECT_EQ(r.cell(7).toDouble(), 12.0);
    EXPECT_TRUE(r.closed);
}

TEST(TakeoffRow, PerimeterOnlySidesLeaveTheReference) {
    // The two 3 m sides with code 2.
    const auto s = Outline({{0, 0, 1}, {4, 0, 1}, {4, 3, 2}, {0, 3, 1}, {0, 0, 2}});
    const TakeoffRow r = ComputeTakeoffRow(s, "2400");
    EXPECT_EQ(r.cell(2).toDouble(), 14.0);
    EXPECT_EQ(r.cell(3).toDouble(), 8.0);
    EXPECT_EQ(r.cell(6).toDouble(), 19.2);
}

TEST(TakeoffRow, OpenAndNearlyClosedOutlines) {
    const auto open = Outline({{0, 0, 1}, {4, 0, 1}, {4, 3, 1}, {0, 3, 1}});
    const TakeoffRow o = ComputeTakeoffRow(open, "2400");
    EXPECT_FALSE(o.closed);
    EXPECT_EQ(o.cell(2).toDouble(), 11.0) << "only the three drawn sides";
    EXPECT_EQ(o.cell(5), QVariant(0));
    EXPECT_EQ(o.cell(7), QVariant(0));
    EXPECT_EQ(o.cell(5).typeId(), QMetaType::Int);

    // 0.05 m short of the start counts as closed; the area closes back to the first point.
    const auto near = Outline({{0, 0, 1}, {4, 0, 1}, {4, 3, 1}, {0, 3, 1}, {0, 0.05, 1}});
    const TakeoffRow n = ComputeTakeoffRow(near, "");
    EXPECT_TRUE(n.closed);
    EXPECT_EQ(n.cell(5).toDouble(), 12.0);
    EXPECT_EQ(n.cell(2).toDouble(), 13.95);
}

TEST(TakeoffRow, MissingOrNonPositiveHeightWritesIntegerZeros) {
    const auto s = Outline({{0, 0, 1}, {4, 0, 1}, {4, 3, 1}, {0, 0, 1}});
    for (const char* text : {"", "0", "-2400", "abc", "  "}) {
        const TakeoffRow r = ComputeTakeoffRow(s, text);
        EXPECT_EQ(r.cell(4), QVariant(0)) << text;
        EXPECT_EQ(r.cell(4).typeId(), QMetaType::Int) << text;
        EXPECT_EQ(r.cell(6), QVariant(0)) << text;
    }
    // A height typed with its unit reads as its leading number.
    EXPECT_EQ(ComputeTakeoffRow(s, "2400mm").cell(4).toDouble(), 2400.0);
    EXPECT_EQ(ComputeTakeoffRow(s, "2450.5").cell(4).toDouble(), 2450.5);
}

TEST(TakeoffRow, OnePointGivesZeros) {
    const auto s = Outline({{1.5, 2.5, 1}});
    const TakeoffRow r = ComputeTakeoffRow(s, "2400");
    EXPECT_EQ(r.cell(2).toDouble(), 0.0);
    EXPECT_EQ(r.cell(3).toDouble(), 0.0);
    EXPECT_EQ(r.cell(5).toDouble(), 0.0);
    EXPECT_EQ(r.cell(6).toDouble(), 0.0);
}

TEST(TakeoffRow, RoundingGoesUpAtTheHalfCentimetre) {
    EXPECT_FLOAT_EQ(RoundCentimetres(1.005f), 1.01f);
    EXPECT_FLOAT_EQ(RoundCentimetres(2.344f), 2.34f);
    EXPECT_EQ(ExactDecimal(double(RoundCentimetres(1.005f)), 2), 1.01);
    // A diagonal: 3-4-5 triangle gives exact lengths and area 6.
    const auto tri = Outline({{0, 0, 1}, {3, 0, 1}, {0, 4, 2}, {0, 0, 1}});
    const TakeoffRow r = ComputeTakeoffRow(tri, "1000");
    EXPECT_EQ(r.cell(2).toDouble(), 12.0);
    EXPECT_EQ(r.cell(3).toDouble(), 7.0);
    EXPECT_EQ(r.cell(5).toDouble(), 6.0);
    EXPECT_EQ(r.cell(6).toDouble(), 7.0);
}

} // namespace

namespace {

// The label of the last restored row gives the name and the next number.
TEST(RowLabel, TheNameBeforeTheLastDashAndTheNextNumber) {
    struct Case {
        const char* label;
        const char* name; // nullptr: no continuation
        int next;
    };
    const Case cases[] = {
        {"拾い-2", "拾い", 3},   {"A-棟-9", "A-棟", 10},  {"居間-0", "居間", 1},
        {"-4", "", 5},           {"x-32766", "x", 32767}, {"x-32767", nullptr, 0},
        {"拾い", nullptr, 0},    {"拾い-", nullptr, 0},   {"拾い-1a", nullptr, 0},
        {"拾い- 1", nullptr, 0}, {"拾い-１", nullptr, 0}, {"x-123456", nullptr, 0},
    };
    for (const Case& c : cases) {
        const auto got = ContinueFromRowLabel(QString::fromUtf8(c.label));
        if (!c.name) {
            EXPECT_FALSE(got) << c.label;
            continue;
        }
        ASSERT_TRUE(got) << c.label;
        EXPECT_EQ(got->takeoffName, QString::fromUtf8(c.name)) << c.label;
        EXPECT_EQ(got->serialNo, c.next) << c.label;
    }
}

} // namespace
