// The digitizer's take-off and view state without the window.
#include "main/digitizer/takeoff_trace.h"
#include "main/digitizer/view_state.h"
#include "main/digitizer/zoom.h"

#include "common/core/numtext.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// 0.01 m per box unit on both axes.
constexpr float kMpu = 0.01f;

PressOutcome Press(TakeoffTrace& t, OutlineStore& s, int button, float x, float y,
                   const char* xText = "1.00", const char* yText = "2.00") {
    return t.press(button, x, y, QString::fromLatin1(xText), QString::fromLatin1(yText), kMpu, kMpu,
                   s);
}

} // namespace

TEST(TakeoffTrace, TwoLeftPressesAndAMiddlePressFinish) {
    TakeoffTrace t;
    OutlineStore s;
    s.appendMetres(9, 9, 1); // an older outline: the first press starts afresh
    EXPECT_FALSE(t.underway());
    PressOutcome a = Press(t, s, 1, 100, 200, "12.5", "-3.25");
    EXPECT_FALSE(a.refusal);
    EXPECT_TRUE(a.marks.dot);
    EXPECT_FALSE(a.marks.line);
    EXPECT_FALSE(a.marks.number);
    EXPECT_EQ(a.logLine, QStringLiteral("(  12.50000 , -3.250000 )  Flg = 1\r\n"));
    EXPECT_EQ(s.pointCount(), 1);
    EXPECT_FLOAT_EQ(s.pointsM[1][1], 12.5f);
    EXPECT_FLOAT_EQ(s.pointsMm[1][2], -3250.0f);

    PressOutcome b = Press(t, s, 1, 300, 200, "14.50", "-3.25");
    EXPECT_TRUE(b.marks.line);
    EXPECT_EQ(b.marks.from, QPointF(100, 200));
    EXPECT_EQ(b.marks.at, QPointF(300, 200));
    EXPECT_EQ(b.marks.lineColour, kQBColor12);
    // A horizontal segment: its number 0.2 m left of and 0.08 m below the middle.
    EXPECT_EQ(b.marks.numberText, "[1]");
    EXPECT_NEAR(b.marks.numberPos.x(), 200 - 20, 1e-3);
    EXPECT_NEAR(b.marks.numberPos.y(), 200 + 8, 1e-3);

    PressOutcome c = Press(t, s, 4, 999, 999, "0.00", "0.00");
    EXPECT_TRUE(c.finish);
    EXPECT_FALSE(c.marks.line);
    EXPECT_FALSE(c.marks.number);
    EXPECT_EQ(s.pointCount(), 3);
    EXPECT_EQ(s.pointsM[1][3], 1.0f);
    EXPECT_EQ(s.pointsM[2][3], 1.0f);
    EXPECT_EQ(s.pointsM[3][3], 4.0f);
    EXPECT_EQ(s.finishedCount(), 2);
    EXPECT_EQ(t.segmentCount, 1);
    // Sums from the second point on; the box over every vertex but the closing one.
    EXPECT_FLOAT_EQ(t.sumX, 300);
    EXPECT_FLOAT_EQ(t.minX, 100);
    EXPECT_FLOAT_EQ(t.maxX, 300);
    EXPECT_FLOAT_EQ(t.maxY, 200);
}

TEST(TakeoffTrace, SegmentNumbersColoursAndOtherButtons) {
    TakeoffTrace t;
    OutlineStore s;
    Press(t, s, 2, 100, 100);
    // A vertical segment by the right button: cyan, number 0.08 m right, 0.15 m up.
    PressOutcome v = Press(t, s, 2, 100, 300);
    EXPECT_EQ(v.marks.lineColour, kQBColor11);
    EXPECT_NEAR(v.marks.numberPos.x(), 100 + 8, 1e-3);
    EXPECT_NEAR(v.marks.numberPos.y(), 200 - 15, 1e-3);
    // 45 degrees counts as horizontal.
    PressOutcome d = Press(t, s, 1, 200, 400);
    EXPECT_NEAR(d.marks.numberPos.x(), 150 - 20, 1e-3);
    EXPECT_NEAR(d.marks.numberPos.y(), 350 + 8, 1e-3);
    // Several buttons at once: stored with their value, numbered, not drawn.
    PressOutcome both = Press(t, s, 3, 300, 400);
    EXPECT_FALSE(both.marks.line);
    EXPECT_FALSE(both.marks.dot);
    EXPECT_EQ(both.marks.numberText, "[3]");
    EXPECT_EQ(s.pointsM[4][3], 3.0f);
    EXPECT_EQ(both.logLine.right(11), QStringLiteral("  Flg = 3\r\n"));
}

TEST(TakeoffTrace, RefusedPressesChangeNothing) {
    TakeoffTrace t;
    OutlineStore s;
    // A middle press as the first or the second press has no segment to finish.
    EXPECT_EQ(*Press(t, s, 4, 1, 1).refusal, NoSegmentMessage());
    EXPECT_FALSE(t.underway());
    Press(t, s, 1, 1, 1);
    EXPECT_TRUE(Press(t, s, 4, 2, 2).refusal);
    EXPECT_EQ(t.checkFinish().error(), NoSegmentMessage());
    EXPECT_EQ(s.pointCount(), 1);
    // 99 rows held: a point is refused, the middle button's end row is row 100.
    for (int i = 2; i <= 99; ++i)
        ASSERT_FALSE(Press(t, s, 1, float(i), 1).refusal) << i;
    const TakeoffTrace before = t;
    PressOutcome full = Press(t, s, 2, 500, 500);
    ASSERT_TRUE(full.refusal);
    EXPECT_TRUE(full.logLine.isEmpty());
    EXPECT_EQ(s.pointCount(), 99);
    EXPECT_EQ(t.segmentCount, before.segmentCount);
    EXPECT_EQ(t.lastX, before.lastX);
    EXPECT_FLOAT_EQ(t.maxX, 99);
    PressOutcome end = Press(t, s, 4, 500, 500);
    EXPECT_FALSE(end.refusal);
    EXPECT_TRUE(end.finish);
    EXPECT_EQ(s.pointCount(), 100);
    EXPECT_EQ(s.finishedCount(), 99);
}

TEST(OutlineStoreMark, AFinishedOnScreenOutlineTakesNoRecord) {
    OutlineStore s;
    s.appendMetres(0, 0, 1);
    s.appendMetres(1, 0, 1);
    s.finishWith(s.pointCount());
    s.markFinished();
    s.releaseRows(); // as the digitizer's finish leaves it
    EXPECT_TRUE(s.endReceived());
    // "実行" or "キャンセル" end the outline.
    s.finishWith(0);
    EXPECT_FALSE(s.endReceived());
    s.finishWith(2);
    s.beginOutline();
    EXPECT_FALSE(s.endReceived());
}

TEST(ViewStateFile, LineParseAndFile) {
    ViewState vs;
    vs.imagePath = QStringLiteral("/inst/見積用画像/a,b.bmp");
    vs.savedTop = -120;
    vs.savedLeft = -37.5f;
    vs.formHeight = 10800;
    vs.formWidth = 15360;
    vs.pictureHeight = 350;
    vs.pictureWidth = 500;
    vs.zoomFactor = 0.5f;
    EXPECT_EQ(vs.line(),
              QStringLiteral("/inst/見積用画像/a,b.bmp,-120,-37.5,10800,15360,350,500,0.5"));
    const auto back = ViewState::parse(vs.line());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->imagePath, vs.imagePath);
    EXPECT_EQ(back->savedLeft, -37.5f);
    EXPECT_EQ(back->zoomFactor, 0.5f);
    EXPECT_FALSE(ViewState::parse(QStringLiteral("a.bmp,1,2,3")));
    // A zoom the commands cannot reach reads as 1.
    EXPECT_EQ(ViewState::parse(QStringLiteral("a,0,0,0,0,0,0,0"))->zoomFactor, 1.0f);
    EXPECT_EQ(ViewState::parse(QStringLiteral("a,0,0,0,0,0,0,nan"))->zoomFactor, 1.0f);
    EXPECT_EQ(ViewState::parse(QStringLiteral("a,0,0,0,0,0,0,2.0000002"))->zoomFactor, 2.0000002f);

    QTemporaryDir dir;
    const TextCodec codec;
    const QString path = dir.filePath("curPass.txt");
    EXPECT_TRUE(ReadViewState(path, codec).empty); // missing: as an empty file
    QFile empty(path);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_TRUE(ReadViewState(path, codec).empty);
    ASSERT_TRUE(WriteViewState(path, vs, codec));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().endsWith(",0.5\r\n"));
    const ViewStateRead read = ReadViewState(path, codec);
    EXPECT_FALSE(read.empty);
    ASSERT_TRUE(read.state);
    EXPECT_EQ(read.state->imagePath, vs.imagePath);
}

TEST(ViewGeometry, ScrollRangesThumbnailAndComment) {
    // Max is what does not fit; halves round to even.
    ScrollRange r = ScrollRangeFor(1200, 600);
    EXPECT_EQ(r.max, 600);
    EXPECT_EQ(r.largeChange, 10);
    EXPECT_EQ(r.smallChange, 2);
    r = ScrollRangeFor(780, 600); // 180 / 60 = 3, 3 / 4 = 0.75
    EXPECT_EQ(r.largeChange, 3);
    EXPECT_EQ(r.smallChange, 1);
    r = ScrollRangeFor(1050, 600); // 450 / 60 = 7.5 -> 8, 8 / 4 = 2
    EXPECT_EQ(r.largeChange, 8);
    EXPECT_EQ(r.smallChange, 2);
    EXPECT_EQ(ScrollRangeFor(500, 600).max, 0);

    // A 10 m by 4 m room at 0.01 m per unit in a 300 high thumbnail: k = 0.25.
    Thumbnail t = ThumbnailFor(500, 1500, 300, 700, 0.01f, 300);
    EXPECT_NEAR(t.w, 1200, 1e-3);
    EXPECT_NEAR(t.h, 600, 1e-3);
    EXPECT_NEAR(t.k, 0.25, 1e-6);
    EXPECT_NEAR(t.x0, 400, 1e-3);
    // Near the top-left corner it is cut from 0; a tiny figure is enlarged at most twice.
    t = ThumbnailFor(20, 60, 10, 30, 0.01f, 400);
    EXPECT_EQ(t.x0, 0);
    EXPECT_EQ(t.y0, 0);
    EXPECT_NEAR(t.k, 400.0 / 240.0, 1e-5);
    t = ThumbnailFor(20, 21, 10, 11, 0.1f, 400);
    EXPECT_EQ(t.k, 2.0);

    EXPECT_EQ(CommentText(QStringLiteral("居間"), "2", true), QStringLiteral("居間-2"));
    EXPECT_EQ(CommentText(QStringLiteral("居間"), "2", false), QStringLiteral("居間"));
}

TEST(Zoom, StepsLimitsAndSinglePrecisionDrift) {
    const QString atMost = QStringLiteral("既に画像スケールは最大値です");
    const QString atLeast = QStringLiteral("既に画像スケールは最小値です");
    // Run a command n times from z; the texts of the zooms, then the refusal.
    auto run = [](ZoomCommand c, float z, int n, QStringList* refusals = nullptr) {
        QStringList seen;
        for (int i = 0; i < n; ++i) {
            const ZoomStep s = ZoomAfter(c, z);
            if (s.refusal && refusals)
                *refusals << *s.refusal;
            if (s.refusal) {
                EXPECT_EQ(s.zoom, z);
            }
            z = s.zoom;
            seen << SingleToRoundTripText(z);
        }
        return seen;
    };
    QStringList refused;
    // Five D13 from 1 reach exactly 2; a sixth is refused.
    EXPECT_EQ(run(ZoomCommand::Enlarge2, 1, 6, &refused).mid(4), (QStringList{"2", "2"}));
    EXPECT_EQ(refused, QStringList{atMost});
    // Ten D12 drift to 2.0000002, which is at the top.
    refused.clear();
    EXPECT_EQ(run(ZoomCommand::Enlarge, 1, 11, &refused).mid(9),
              (QStringList{"2.0000002", "2.0000002"}));
    EXPECT_EQ(refused, QStringList{atMost});
    // D15: 0.8, 0.6, 0.4, then the floor 0.3; then refused.
    refused.clear();
    QStringList shown;
    float z = 1;
    for (int i = 0; i < 5; ++i) {
        const ZoomStep s = ZoomAfter(ZoomCommand::Reduce2, z);
        if (s.refusal)
            refused << *s.refusal;
        z = s.zoom;
        shown << SingleToText(z);
    }
    EXPECT_EQ(shown, (QStringList{"0.8", "0.6", "0.4", "0.3", "0.3"}));
    EXPECT_EQ(z, 0.3f);
    EXPECT_EQ(refused, QStringList{atLeast});
    // D14 can end below the bound: at 0.29999992.
    refused.clear();
    EXPECT_EQ(run(ZoomCommand::Reduce, 1, 8, &refused).mid(6),
              (QStringList{"0.29999992", "0.29999992"}));
    EXPECT_EQ(refused, QStringList{atLeast});
    // D11 restores 1 from anywhere, never refused.
    EXPECT_EQ(ZoomAfter(ZoomCommand::Original, 2.0000002f).zoom, 1.0f);
    EXPECT_FALSE(ZoomAfter(ZoomCommand::Original, 0.3f).refusal);
}

TEST(TakeoffTrace, AZoomCarriesTheTakeoffWithTheDrawing) {
    TakeoffTrace idle;
    idle.rescale(1.5);
    EXPECT_FALSE(idle.underway());
    EXPECT_EQ(idle.minX, 1e8f);
    EXPECT_EQ(idle.maxY, -1e8f);

    TakeoffTrace t;
    OutlineStore s;
    Press(t, s, 1, 100, 100);
    Press(t, s, 1, 300, 100);
    Press(t, s, 2, 300, 250);
    t.rescale(1.5);
    EXPECT_FLOAT_EQ(t.lastX, 450);
    EXPECT_FLOAT_EQ(t.lastY, 375);
    EXPECT_FLOAT_EQ(t.sumX, 900);
    EXPECT_FLOAT_EQ(t.sumY, 525);
    EXPECT_FLOAT_EQ(t.minX, 150);
    EXPECT_FLOAT_EQ(t.maxX, 450);
    EXPECT_FLOAT_EQ(t.minY, 150);
    EXPECT_FLOAT_EQ(t.maxY, 375);
    EXPECT_EQ(t.segmentCount, 2);
    // The next segment starts where the last one ended, on the zoomed box.
    const PressOutcome next = t.press(1, 150, 375, "1.00", "2.00", kMpu / 1.5f, kMpu / 1.5f, s);
    EXPECT_EQ(next.marks.from, QPointF(450, 375));

    PressMarks m = Press(t, s, 1, 150, 150).marks;
    const PressMarks z = ScaledMarks(m, 2);
    EXPECT_EQ(z.from, m.from * 2);
    EXPECT_EQ(z.at, QPointF(300, 300));
    EXPECT_EQ(z.numberPos, m.numberPos * 2);
    EXPECT_EQ(z.numberText, m.numberText);
    EXPECT_EQ(z.lineColour, m.lineColour);
}

TEST(TakeoffTrace, UndoSnapToTheFirstPointAndARepeatedPress) {
    TakeoffTrace t;
    OutlineStore s;
    s.appendMetres(9, 9, 1); // an older outline: not brought back by an undo
    Press(t, s, 1, 100, 100, "1.00", "6.00");
    // Near the first point, but only from the third point on.
    EXPECT_FALSE(t.snapToFirst(1, 103, 100));
    Press(t, s, 2, 400, 100, "4.00", "6.00");
    const TakeoffTrace two = t;
    const auto two_text = s.lastPointText;
    EXPECT_FALSE(t.snapToFirst(4, 103, 100)); // a middle press finishes where it is
    EXPECT_FALSE(t.snapToFirst(1, 105, 105)); // 7.07 units away
    const auto snap = t.snapToFirst(1, 104, 96);
    ASSERT_TRUE(snap);
    EXPECT_EQ(QPointF(snap->x, snap->y), QPointF(100, 100));
    EXPECT_EQ(snap->xText + snap->yText, "1.006.00");
    // The second press of a double-click changes nothing.
    const PressOutcome again = Press(t, s, 2, 400, 100, "4.00", "6.00");
    EXPECT_TRUE(again.ignored);
    EXPECT_EQ(s.pointCount(), 2);

    // A point taken back: everything as it was, after a zoom too.
    Press(t, s, 1, 400, 300, "4.00", "4.00");
    t.rescale(2);
    EXPECT_EQ(*t.undo(s), QStringLiteral("(  4.000000 ,  4.000000 )  Flg = 1\r\n"));
    EXPECT_FLOAT_EQ(t.lastX, two.lastX * 2);
    EXPECT_FLOAT_EQ(t.sumX, two.sumX * 2);
    EXPECT_FLOAT_EQ(t.maxY, two.maxY * 2);
    EXPECT_EQ(t.segmentCount, two.segmentCount);
    EXPECT_EQ(s.pointCount(), 2);
    EXPECT_EQ(s.lastPointText, two_text);
    EXPECT_EQ(t.logText(), QStringLiteral("(  1.000000 ,  6.000000 )  Flg = 1\r\n"
                                          "(  4.000000 ,  6.000000 )  Flg = 2\r\n"));
    // Down to no point: no take-off, an empty store; then nothing more.
    EXPECT_TRUE(t.undo(s));
    EXPECT_TRUE(t.undo(s));
    EXPECT_FALSE(t.undo(s));
    EXPECT_FALSE(t.underway());
    EXPECT_EQ(s.pointCount(), 0);
    EXPECT_EQ(t.sumX, 0);
    EXPECT_EQ(t.minX, 1e8f);

    // The 100th point names the middle button, not a tablet's end button.
    for (int i = 1; i <= 99; ++i)
        Press(t, s, 1, float(10 * i), 1);
    const PressOutcome full = Press(t, s, 1, 5000, 5000);
    ASSERT_TRUE(full.refusal);
    EXPECT_TRUE(full.refusal->contains(QStringLiteral("「中ボタン」")))
        << full.refusal->toStdString();
}
