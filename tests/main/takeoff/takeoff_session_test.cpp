// The take-off session behind every road, without a window: tablet records,
// a keyed outline and a take-off on screen each end in their worksheet row,
// and the log, the sketches and the rows it reports are the whole story.
#include "main/takeoff/takeoff_session.h"
#include "main/takeoff/worksheet.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

Result<TabletPoint> Record(double x, double y, int code) {
    TabletPoint p;
    p.xText = QString::number(x, 'f', 2);
    p.yText = QString::number(y, 'f', 2);
    p.xM = x;
    p.yM = y;
    p.code = code;
    return p;
}

QString Row(Worksheet& sheet, int r) {
    QStringList cells;
    for (int c = 1; c <= 7; ++c)
        cells << sheet.Cells(r, c).value().toString();
    return cells.join(QLatin1Char('|'));
}

TEST(TakeoffSession, EveryRoadEndsInItsRowAndTellsWhatHappened) {
    Worksheet sheet;
    TakeoffSession session(sheet);
    session.setSketchHeight(400);
    session.setTakeoffName(QStringLiteral("居間"));
    QStringList told;
    QObject::connect(&session, &TakeoffSession::logAppended,
                     [&](const QString& t) { told << QStringLiteral("+") + t; });
    QObject::connect(&session, &TakeoffSession::logReset,
                     [&](const QString& t) { told << QStringLiteral("=") + t; });
    QObject::connect(&session, &TakeoffSession::sketchReady,
                     [&](const SketchGeometry& g, bool fresh) {
                         told << QStringLiteral("sketch %1%2").arg(g.n).arg(fresh ? " fresh" : "");
                     });
    QObject::connect(&session, &TakeoffSession::thumbnailReady,
                     [&](const QString& p) { told << QStringLiteral("thumbnail ") + p; });
    QObject::connect(&session, &TakeoffSession::rowWritten,
                     [&](int r) { told << QStringLiteral("row %1").arg(r); });

    // A tablet: a rectangle, a record refused on the way, the end record.
    EXPECT_EQ(session.writeRow(QStringLiteral("2400")).refusal.left(11),
              QStringLiteral("図形が完了していません"));
    for (auto [x, y] : {std::pair{0.0, 0.0}, {4.0, 0.0}, {4.0, 3.0}, {0.0, 3.0}, {0.0, 0.0}})
        EXPECT_TRUE(session.takeRecord(Record(x, y, 1)).stored);
    EXPECT_FALSE(session.takeRecord(Fail(QStringLiteral("壊れた記録"))).stored);
    EXPECT_TRUE(session.takeRecord(Record(0, 0, 4)).endOfOutline);
    EXPECT_EQ(session.outline().finishedCount(), 5);
    EXPECT_TRUE(session.writeRow(QStringLiteral("2400")).written);

    // The keypad: its outline replaces the store whole.
    OutlineStore keyed;
    for (auto [x, y, c] :
         {std::tuple{0, 0, 1}, {2000, 0, 1}, {2000, 1500, 2}, {0, 1500, 1}, {0, 0, 2}})
        keyed.appendMillimetres(x, y, float(c));
    keyed.appendMillimetres(0, 0, 4);
    session.replaceOutline(keyed, QStringLiteral("keyed\r\n"));
    EXPECT_TRUE(session.writeRow(QString()).written);

    // The digitizer: a point taken back, the middle button finishes.
    TakeoffTrace trace;
    const auto press = [&](int button, float x, float y) {
        return session.press(trace, button, x, y, QString::number(x / 100.0, 'f', 2),
                             QString::number(y / 100.0, 'f', 2), 0.01f, 0.01f);
    };
    press(1, 0, 0);
    press(1, 100, 0);
    press(2, 500, 500);
    EXPECT_TRUE(session.takeBack(trace));
    press(1, 100, 100);
    press(1, 0, 0);
    EXPECT_TRUE(press(4, 0, 0).finish);
    session.finishOnScreen(TakenOutline{}, QStringLiteral("/tmp/curGazo.bmp"));
    EXPECT_TRUE(session.outline().endReceived()) << "no record joins it before 実行";
    EXPECT_EQ(session.takeRecord(Record(1, 1, 1)).message, Reception::outlineWaitingMessage());
    EXPECT_TRUE(session.writeRow(QStringLiteral("2500")).written);

    EXPECT_EQ(Row(sheet, 2), QStringLiteral("居間-1|14|14|2400|12|33.6|12"));
    EXPECT_EQ(Row(sheet, 3), QStringLiteral("居間-2|7|4|0|3|0|3"));
    EXPECT_EQ(Row(sheet, 4), QStringLiteral("居間-3|3.41|3.41|2500|0.5|8.53|0.5"));
    EXPECT_EQ(session.rowNo(), 5);
    EXPECT_EQ(session.serialNo(), 4);
    // CR LF shown as "~"; "+" appended to the log, "=" the log as it now stands.
    EXPECT_EQ(
        told.join(QLatin1Char('\n')).replace(QStringLiteral("\r\n"), QStringLiteral("~")),
        QStringLiteral("+( 0.00 , 0.00 )  Flg = 1~\n"
                       "+( 4.00 , 0.00 )  Flg = 1~\n"
                       "+( 4.00 , 3.00 )  Flg = 1~\n"
                       "+( 0.00 , 3.00 )  Flg = 1~\n"
                       "+( 0.00 , 0.00 )  Flg = 1~\n"
                       "+× 取り込みません: 壊れた記録~\n"
                       "+( 0.00 , 0.00 )  Flg = 4~\n"
                       "sketch 5\n"
                       "=\n"
                       "row 2\n"
                       "+keyed~\n"
                       "sketch 5 fresh\n"
                       "=\n"
                       "row 3\n"
                       "+(  0.000000 ,  0.000000 )  Flg = 1~\n"
                       "+(  1.000000 ,  0.000000 )  Flg = 1~\n"
                       "+(  5.000000 ,  5.000000 )  Flg = 2~\n"
                       "=(  0.000000 ,  0.000000 )  Flg = 1~(  1.000000 ,  0.000000 )  Flg = 1~\n"
                       "+(  1.000000 ,  1.000000 )  Flg = 1~\n"
                       "+(  0.000000 ,  0.000000 )  Flg = 1~\n"
                       "+(  0.000000 ,  0.000000 )  Flg = 4~\n"
                       "thumbnail /tmp/curGazo.bmp\n"
                       "+× 取り込みません: 前の図形がまだ「実行」されていません。~\n"
                       "=\n"
                       "row 4"));
}

} // namespace
