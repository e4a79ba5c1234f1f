// What one tablet record does to the outline store, and the worksheet model.
#include "common/core/reception.h"
#include "main/takeoff/worksheet.h"

#include <gtest/gtest.h>

namespace {

Result<TabletPoint> Point(double x, double y, int code) {
    TabletPoint p;
    p.xText = QString::number(x);
    p.yText = QString::number(y);
    p.xM = x;
    p.yM = y;
    p.code = code;
    return p;
}

TEST(Reception, PointsEndAndTheOutlineThatWaitsForExecute) {
    OutlineStore store;
    Reception r;
    EXPECT_TRUE(r.take(Point(1, 2, 1), store).stored);
    const ReceptionOutcome end = r.take(Point(0, 0, 4), store);
    EXPECT_TRUE(end.endOfOutline);
    EXPECT_EQ(end.logText, QStringLiteral("( 0 , 0 )  Flg = 4\r\n"));
    // A record after the end record (port reopened by "設定") is not glued
    // onto the finished outline.
    const ReceptionOutcome late = r.take(Point(5, 5, 1), store);
    EXPECT_FALSE(late.stored);
    EXPECT_EQ(late.message, Reception::outlineWaitingMessage());
    EXPECT_EQ(store.pointCount(), 2);
    EXPECT_TRUE(r.take(Point(6, 6, 1), store).message.isEmpty()) << "said once";
}

// The 100 rows hold 99 points and the end record; refusals leave lines in
// the log, 20 per outline, then one counting the rest before the next point.
TEST(Reception, HundredRowOutlineEndsAndRefusalsAreLoggedBriefly) {
    OutlineStore store;
    Reception r;
    const ReceptionOutcome early = r.take(Point(0, 0, 4), store);
    EXPECT_FALSE(early.stored);
    EXPECT_FALSE(early.message.isEmpty()) << "an end record before any point is refused";
    EXPECT_TRUE(early.logText.startsWith(QStringLiteral("× 取り込みません: ")));

    QString log, messages;
    for (int i = 1; i <= 99; ++i)
        log += r.take(Point(i, 0, 1), store).logText;
    const Result<TabletPoint> bad = Fail(QStringLiteral("受信データが正しくありません\r\n(詳細)"));
    for (int i = 0; i < 24; ++i) {
        const ReceptionOutcome out = i % 2 ? r.take(bad, store) : r.take(Point(7, 7, 2), store);
        messages += out.message;
        log += out.logText;
    }
    EXPECT_TRUE(messages.isEmpty()) << "the outline's first refusal already had its message";
    const ReceptionOutcome end = r.take(Point(0, 0, 4), store);
    EXPECT_TRUE(end.endOfOutline);
    log += end.logText;
    EXPECT_EQ(store.pointCount(), OutlineStore::kMaxRows);
    EXPECT_EQ(store.pointsM[99][1], 99.0f);

    const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 99 + 19 + 1 + 1);
    EXPECT_TRUE(lines[99].startsWith(QStringLiteral("× 取り込みません: 点は 99 点まで")))
        << lines[99].toStdString();
    EXPECT_EQ(lines[100], QStringLiteral("× 取り込みません: 受信データが正しくありません"));
    EXPECT_EQ(lines[118], QStringLiteral("× ほかに 5 件の記録を取り込みませんでした"));
    EXPECT_EQ(lines[119], QStringLiteral("( 0 , 0 )  Flg = 4"));
    EXPECT_EQ(r.refusedCount(), 25);
    // A new outline: the message comes again.
    EXPECT_EQ(r.reset(), QString());
    store.clear();
    EXPECT_EQ(r.take(bad, store).message, bad.error());
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

namespace {

// The user's edits: typed texts become numbers only when wholly a number,
// rows inserted and deleted move the cells below, and each change is announced.
TEST(WorksheetModel, UserEditsTypedTextsAndRows) {
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral(" 2400 ")), QVariant(2400.0));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("-0.75")), QVariant(-0.75));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("1E-05")), QVariant(1e-05));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("２４００．５")), QVariant(2400.5));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("3600mm")),
              QVariant(QStringLiteral("3600mm")));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("1 2")), QVariant(QStringLiteral("1 2")));
    EXPECT_EQ(Worksheet::ValueOfTypedText(QStringLiteral("1E999")),
              QVariant(QStringLiteral("1E999")));
    EXPECT_FALSE(Worksheet::ValueOfTypedText(QStringLiteral("  ")).isValid());

    Worksheet sh;
    int edits = 0;
    QObject::connect(&sh, &Worksheet::edited, [&] { ++edits; });
    for (int r = 1; r <= 4; ++r)
        sh.Cells(r, 1) = QStringLiteral("行%1").arg(r);
    sh.Cells(2, 2) = 0.1 + 0.2; // shows as 0.3
    EXPECT_EQ(edits, 0) << "the program's own writes are no edits";
    EXPECT_TRUE(sh.flags(sh.index(0, 0)) & Qt::ItemIsEditable);

    // The editor starts with the shown text: committing it unchanged keeps the value.
    EXPECT_TRUE(sh.setData(sh.index(1, 1), QStringLiteral("0.3")));
    EXPECT_EQ(sh.cellValue(2, 2).toDouble(), 0.1 + 0.2);
    EXPECT_EQ(edits, 0);
    EXPECT_TRUE(sh.setData(sh.index(2, 1), QStringLiteral("3600mm")));
    EXPECT_TRUE(sh.setData(sh.index(4, 6), QStringLiteral("12.5")));
    EXPECT_FALSE(sh.setData(sh.index(0, 2), QString(Worksheet::kMaxTypedText + 1, QChar(u'x'))));
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(sh.cellValue(3, 2), QVariant(QStringLiteral("3600mm")));
    EXPECT_EQ(sh.cellValue(5, 7), QVariant(12.5));
    EXPECT_EQ(sh.usedRows(), 5);

    ASSERT_TRUE(sh.insertRows(1, 2)); // two rows above row 2
    EXPECT_EQ(sh.cellValue(2, 1), QVariant());
    EXPECT_EQ(sh.cellValue(4, 1), QVariant(QStringLiteral("行2")));
    EXPECT_EQ(sh.cellValue(7, 7), QVariant(12.5));
    ASSERT_TRUE(sh.removeRows(3, 2)); // rows 4 and 5 ("行2", "行3")
    EXPECT_EQ(sh.cellValue(4, 1), QVariant(QStringLiteral("行4")));
    EXPECT_EQ(sh.cellValue(5, 7), QVariant(12.5));
    EXPECT_EQ(sh.usedRows(), 5);
    EXPECT_EQ(sh.usedColumns(), 7);
    EXPECT_TRUE(sh.clearCells({sh.index(4, 6), sh.index(3, 0)}));
    EXPECT_FALSE(sh.clearCells({sh.index(20, 20)}));
    EXPECT_EQ(sh.usedRows(), 1);
    EXPECT_EQ(sh.usedColumns(), 1);
    EXPECT_EQ(edits, 5);

    // No row is pushed past the last row the row number reaches.
    sh.Cells(Worksheet::kLastRow, 1) = QStringLiteral("最後");
    EXPECT_FALSE(sh.insertRows(0, 1));
    EXPECT_FALSE(sh.setData(sh.index(Worksheet::kLastRow, 0), QStringLiteral("x")));
    EXPECT_LE(sh.rowCount(), Worksheet::kLastRow);
}

} // namespace
