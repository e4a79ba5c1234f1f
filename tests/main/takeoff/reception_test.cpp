// What one tablet record does to the outline store, and the worksheet model.
#include "main/takeoff/reception.h"
#include "main/takeoff/worksheet.h"

#include <gtest/gtest.h>

namespace {

ParseResult Point(double x, double y, int code) {
    TabletPoint p;
    p.xText = QString::number(x);
    p.yText = QString::number(y);
    p.xM = x;
    p.yM = y;
    p.code = code;
    return {p, {}};
}

TEST(Reception, PointsEndAndTheOutlineThatWaitsForExecute) {
    OutlineStore store;
    Reception r;
    EXPECT_TRUE(r.take(Point(1, 2, 1), store).stored);
    const ReceptionOutcome end = r.take(Point(0, 0, 4), store);
    EXPECT_TRUE(end.endOfOutline);
    EXPECT_EQ(end.logLine, QStringLiteral("( 0 , 0 )  Flg = 4\r\n"));
    // A record after the end record (port reopened by "設定") is not glued
    // onto the finished outline.
    const ReceptionOutcome late = r.take(Point(5, 5, 1), store);
    EXPECT_FALSE(late.stored);
    EXPECT_EQ(late.message, Reception::outlineWaitingMessage());
    EXPECT_EQ(store.pointCount, 2);
    EXPECT_TRUE(r.take(Point(6, 6, 1), store).message.isEmpty()) << "said once";
}

TEST(Reception, RefusalsAreSaidOncePerOutline) {
    OutlineStore store;
    Reception r;
    const ParseResult bad{std::nullopt, QStringLiteral("受信データが正しくありません")};
    EXPECT_EQ(r.take(bad, store).message, bad.error);
    EXPECT_TRUE(r.take(bad, store).message.isEmpty());
    r.reset();
    EXPECT_EQ(r.take(bad, store).message, bad.error);
    EXPECT_EQ(store.pointCount, 0);
}

TEST(WorksheetModel, CellsExtentAndLetters) {
    Worksheet sh;
    // Always room to scroll past A1:H31 and past the used cells.
    EXPECT_GT(sh.rowCount(), Worksheet::kShownRows);
    EXPECT_GT(sh.columnCount(), Worksheet::kShownColumns);
    sh.Cells(40, 3) = 1.5;
    sh.Cells(2, 12) = QStringLiteral("x");
    EXPECT_EQ(sh.usedRows(), 40);
    EXPECT_EQ(sh.usedColumns(), 12);
    EXPECT_GT(sh.rowCount(), 40);
    EXPECT_GT(sh.columnCount(), 12);
    sh.Cells(40, 3) = QVariant();
    EXPECT_EQ(sh.usedRows(), 2);
    sh.Cells(2, 12) = QString();
    EXPECT_TRUE(sh.isEmpty());
    EXPECT_EQ(sh.usedColumns(), 0);
    EXPECT_EQ(Worksheet::ColumnLetters(1), "A");
    EXPECT_EQ(Worksheet::ColumnLetters(26), "Z");
    EXPECT_EQ(Worksheet::ColumnLetters(27), "AA");
    EXPECT_EQ(Worksheet::ColumnLetters(16384), "XFD");
    EXPECT_EQ(sh.headerData(0, Qt::Vertical).toString(), "1");
    sh.Cells(1, 1) = 33.6;
    EXPECT_EQ(sh.data(sh.index(0, 0)).toString(), "33.6");
    sh.Clear();
    EXPECT_FALSE(sh.Cells(1, 1).value().isValid());
}

} // namespace
