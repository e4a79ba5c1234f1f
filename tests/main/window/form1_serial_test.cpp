// Form1's tablet reception through real pseudo-terminals played by tabletsim.
#include "main/window/form1.h"
#include "tests/support/session_access.h"

#include "common/serial/serial_line.h"
#include "common/ui/picturebox.h"
#include "window_test_helpers.h"

#include "common/core/sketch_geometry.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

namespace {

class Form1SerialTest : public InstallationFixture {
protected:
    // Starts the simulator with the given raw records and points the control at it.
    void startTablet(const QString& mode, const QByteArray& rawRecords,
                     const QStringList& extra = {}) {
        const QString raw = dir_.path() + "/records.txt";
        QFile f(raw);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(rawRecords);
        f.close();
        sim_ = std::make_unique<TabletSim>(
            mode, QStringList{"--raw", raw, "--wait-open", "--settle", "100", "--repeat"} + extra);
        ASSERT_FALSE(sim_->path().isEmpty());
        const QString control = mode == "mt4500" ? "MSComm1" : "MSComm2";
        writeRegistry(instPath(),
                      QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\"
                                     "VarpadLumo\\%1]\r\n\"PortName\"=\"%2\"\r\n")
                          .arg(control, sim_->path()));
    }

    static bool hasColour(const QImage& img, QRgb colour) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if ((img.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                    return true;
        return false;
    }

    std::unique_ptr<TabletSim> sim_;
};

// Records as the MT4500 sends them: X and Y right-aligned in nine columns,
// the button, CR (escaped for the simulator's raw file).
const QByteArray kMtRecords = "   1.2345   2.5000"
                              "2\\r\n"
                              "   4.0000   2.5000"
                              "1\\r\n"
                              "   0.0000   0.0000"
                              "9\\r\n";

TEST_F(Form1SerialTest, Mt4500OutlineIsLoggedStoredAndSketched) {
    startTablet("mt4500", kMtRecords);
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(form.port1().PortOpen()) << messages.join("|").toStdString();
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 3; }));

    EXPECT_EQ(form.receivedText(), QStringLiteral("(    1.2345 ,    2.5000 )  Flg = 1\r\n"
                                                  "(    4.0000 ,    2.5000 )  Flg = 2\r\n"
                                                  "(    0.0000 ,    0.0000 )  Flg = 4\r\n"));
    EXPECT_EQ(form.Text1->toPlainText(),
              QStringLiteral("(    1.2345 ,    2.5000 )  Flg = 1\n(    4.0000 ,    2.5000 )  "
                             "Flg = 2\n(    0.0000 ,    0.0000 )  Flg = 4"));
    const OutlineStore& s = StoreOf(form);
    EXPECT_FLOAT_EQ(s.pointsM[1][1], 1.2345f);
    EXPECT_FLOAT_EQ(s.pointsM[1][2], 2.5f);
    EXPECT_EQ(s.pointsM[1][3], 1.0f);
    EXPECT_EQ(s.pointsM[2][3], 2.0f);
    EXPECT_EQ(s.pointsM[3][3], 4.0f);
    EXPECT_EQ(s.finishedCount(), 2);
    EXPECT_EQ(s.lastPointText[2], "4");
    // The end record closed the port and drew the sketch (the mm store is
    // shifted in place by the sketch; the metre store is untouched).
    EXPECT_FALSE(form.port1().PortOpen());
    EXPECT_TRUE(form.Command1->isEnabled());
    EXPECT_TRUE(form.Command2->isEnabled());
    EXPECT_TRUE(hasColour(form.Picture1->Image(), qRgb(0, 0, 255)));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // "キャンセル" empties everything and reopens the port.
    form.Command1_Click();
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(form.receivedText().isEmpty());
    EXPECT_FALSE(form.Command2->isEnabled());
    EXPECT_TRUE(form.port1().PortOpen());
    EXPECT_FALSE(hasColour(form.Picture1->Image(), qRgb(0, 0, 255)));
}

TEST_F(Form1SerialTest, RecordAfterTheEndWaitsForTheReopenedPort) {
    startTablet("mt4500", kMtRecords);
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 3; }));
    ASSERT_FALSE(form.port1().PortOpen());

    sim_->write("raw    7.0000   7.0000"
                "2\\r\n");
    QThread::msleep(300);
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(StoreOf(form).pointCount(), 3) << "the closed port takes nothing";

    form.Command3_Click(); // "設定"
    ASSERT_TRUE(form.port1().PortOpen());
    WaitFor([] { return false; }, 200);
    // The finished outline waits for "実行" or "キャンセル": a new point is
    // not appended to it.
    sim_->write("raw    8.0000   8.0000"
                "2\\r\n");
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 1; }));
    EXPECT_EQ(StoreOf(form).pointCount(), 3);

    form.Command1_Click(); // "キャンセル" empties the store and keeps the port open
    WaitFor([] { return false; }, 200);
    sim_->write("raw    9.0000   9.0000"
                "2\\r\n");
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 1; }));
    EXPECT_FLOAT_EQ(StoreOf(form).pointsM[1][1], 9.0f)
        << "what came while the port was closed is not delivered later";
}

TEST_F(Form1SerialTest, T5160CountsAreScaledToEightCharacterTexts) {
    startTablet("t5160",
                "12345,6789,2\\r\\n"
                "0,6789,4\\r\\n"
                "0,0,8\\r\\n",
                {"--split"});
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Text5->setText("100");
    form.Option2_Click();
    ASSERT_TRUE(form.port2().PortOpen());
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 3; }));
    EXPECT_EQ(form.receivedText(), QStringLiteral("( 123.4500 , 67.89000 )  Flg = 1\r\n"
                                                  "( 0.000000 , 67.89000 )  Flg = 2\r\n"
                                                  "( 0.000000 , 0.000000 )  Flg = 4\r\n"));
    const OutlineStore& s = StoreOf(form);
    EXPECT_FLOAT_EQ(s.pointsM[1][1], 123.45f);
    EXPECT_FLOAT_EQ(s.pointsM[1][2], 67.89f);
    EXPECT_EQ(s.pointsM[2][3], 2.0f);
    EXPECT_FALSE(form.port2().PortOpen());
    EXPECT_EQ(messages, QStringList{QStringLiteral("最初に縮尺を設定して下さい")});
    EXPECT_TRUE(hasColour(form.Picture1->Image(), qRgb(0, 0, 255)));
}

TEST_F(Form1SerialTest, MergedRecordsAreTakenOneByOne) {
    startTablet("mt4500", kMtRecords, {"--merge"});
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 3; }));
    EXPECT_EQ(StoreOf(form).finishedCount(), 2);
}

TEST_F(Form1SerialTest, MalformedRecordsAreRefusedOnceAndTheOutlineStays) {
    startTablet("mt4500", "   1.0000   1.0000"
                          "2\\r\n"
                          "  1.2\\r\n"
                          "  abcdefg   1.0000"
                          "2\\r\n"
                          "   2.0000   1.0000"
                          "2\\r\n");
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 2; }));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_FLOAT_EQ(StoreOf(form).pointsM[2][1], 2.0f);
    EXPECT_EQ(messages.size(), 1) << "one message per outline, not per record";
    EXPECT_EQ(form.receivedText().count("Flg"), 2);
    EXPECT_TRUE(form.port1().PortOpen());
}

TEST_F(Form1SerialTest, T5160WithoutScaleOrWithCountsOutOfRangeIsRefused) {
    startTablet("t5160", "100,100,2\\r\\n");
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option2_Click(); // Text5 left empty
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(form.receivedText().startsWith(QStringLiteral("× 取り込みません: ")))
        << form.receivedText().toStdString();

    form.Text5->setText("50");
    sim_->write("raw 40000,100,2\\r\\n\n");
    sim_->write("raw 200,100,2\\r\\n\n");
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 1; }));
    // Each refused record left a line saying why; the message came once.
    const QStringList lines = form.receivedText().split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << form.receivedText().toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("× 取り込みません: ")))
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("( 1.000000 , 0.500000 )  Flg = 1"));
    EXPECT_EQ(messages.size(), 2);
}

// The store's 100 rows hold 99 points and the end record: the outline can be
// finished, the 100th point is refused with a message and a log line.
TEST_F(Form1SerialTest, HundredRowOutlineIsFinishedAndRefusalsAreLogged) {
    QByteArray records = "   0.0000   0.0000"
                         "9\\r\n"; // an end record before any point
    for (int i = 0; i < 100; ++i)
        records += QByteArray("   ") + QByteArray::number(i % 10) +
                   ".0000   1.0000"
                   "2\\r\n";
    records += "   0.0000   0.0000"
               "9\\r\n";
    startTablet("mt4500", records, {"--merge"});
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(WaitFor([&] { return !form.port1().PortOpen(); }));
    const OutlineStore& s = StoreOf(form);
    EXPECT_EQ(s.pointCount(), 100);
    EXPECT_EQ(s.finishedCount(), 99);
    EXPECT_EQ(s.pointsM[100][3], 4.0f);
    ASSERT_EQ(messages.size(), 1) << messages.join("|").toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("まだ点がありません")))
        << messages[0].toStdString();
    const QStringList lines = form.receivedText().split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 99 + 1 + 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("× 取り込みません: まだ点がありません")));
    EXPECT_TRUE(lines[100].startsWith(QStringLiteral("× 取り込みません: 点は 99 点まで")))
        << lines[100].toStdString();
    EXPECT_EQ(lines[101], QStringLiteral("(    0.0000 ,    0.0000 )  Flg = 4"));
    // "実行" writes the row of the 99 points.
    form.Command2_Click();
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
}

// 10,000 T5160 lines in one burst: one message box for the outline, at most
// 20 refusal lines, and one line counting the rest before the end record.
TEST_F(Form1SerialTest, BurstOfRecordsGivesOneMessageAndABoundedLog) {
    QByteArray burst;
    for (int i = 0; i < 10000; ++i)
        burst += QByteArray::number(i % 500) + ",100,2\\r\\n";
    startTablet("t5160", burst, {"--merge"});
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Text5->setText("100");
    form.Option2_Click();
    messages.clear(); // the scale reminder
    ASSERT_TRUE(WaitFor([&] { return StoreOf(form).pointCount() == 99; }));
    WaitFor([] { return false; }, 1500);
    sim_->write("raw 0,0,8\\r\\n\n");
    ASSERT_TRUE(WaitFor([&] { return !form.port2().PortOpen(); }, 20000));
    EXPECT_EQ(messages.size(), 1) << messages.join("|").toStdString();
    EXPECT_EQ(StoreOf(form).pointCount(), 100);
    const QString log = form.receivedText();
    EXPECT_EQ(log.count(QStringLiteral("× 取り込みません: ")), 20);
    EXPECT_EQ(log.count(QStringLiteral("× ほかに ")), 1);
    EXPECT_TRUE(log.endsWith(QStringLiteral("( 0.000000 , 0.000000 )  Flg = 4\r\n")));
    EXPECT_EQ(log.count(QStringLiteral("Flg")), 100);
}

// The whole road of a tablet outline: records through a real pty, the
// sketch where the sketch geometry puts it, "実行", the row.
TEST_F(Form1SerialTest, TabletOutlineBecomesSketchAndRow) {
    startTablet("mt4500", "   0.0000   0.0000"
                          "2\\r\n"
                          "   4.0000   0.0000"
                          "2\\r\n"
                          "   4.0000   3.0000"
                          "2\\r\n"
                          "   0.0000   3.0000"
                          "2\\r\n"
                          "   0.0000   0.0000"
                          "2\\r\n"
                          "   0.0000   0.0000"
                          "9\\r\n");
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Option1_Click();
    ASSERT_TRUE(WaitFor([&] { return !form.port1().PortOpen(); }));
    ASSERT_EQ(StoreOf(form).finishedCount(), 5);

    // Where the sketch geometry puts the outline, from the metres received.
    OutlineStore received;
    for (int i = 1; i < StoreOf(form).pointCount(); ++i)
        received.appendMetres(StoreOf(form).pointsM[i][1], StoreOf(form).pointsM[i][2],
                              StoreOf(form).pointsM[i][3]);
    received.appendMetres(0, 0, 4);
    const SketchGeometry g = ComputeSketch(received, form.Picture1->ScaleHeight());
    ASSERT_EQ(g.n, 5);
    for (int i = 1; i <= 5; ++i) { // the sketch left its positions in the millimetre rows
        EXPECT_FLOAT_EQ(StoreOf(form).pointsMm[i][1], g.points[size_t(i - 1)].x);
        EXPECT_FLOAT_EQ(StoreOf(form).pointsMm[i][2], g.points[size_t(i - 1)].y);
    }
    const QImage img = form.Picture1->Image();
    auto red = [&](int x, int y) { return (img.pixel(x, y) & 0xffffff) == 0xff0000; };
    auto redIn = [&](QRect box) {
        int n = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                n += red(x, y) ? 1 : 0;
        return n;
    };
    // Segment [1], from point 1 to point 2 (the bottom side), is a red line.
    const QPointF a(g.points[0].x / 15.0, g.points[0].y / 15.0);
    const QPointF b(g.points[1].x / 15.0, g.points[1].y / 15.0);
    for (double t : {0.2, 0.4, 0.6, 0.8}) {
        const QPoint p = (a + (b - a) * t).toPoint();
        EXPECT_GT(redIn(QRect(p.x() - 1, p.y() - 1, 3, 3)), 0) << p.x() << "," << p.y();
    }
    // Its number "[1]" is printed from its label position down and right, and
    // nowhere in the mirror box above the line.
    const SketchLabel& label = g.segments[0];
    EXPECT_EQ(label.text, QStringLiteral("[1]"));
    const QPoint at(qRound(label.x / 15.0), qRound(label.y / 15.0));
    EXPECT_GT(at.y(), qRound(a.y())) << "a horizontal segment has its number below it";
    EXPECT_GT(redIn(QRect(at.x(), at.y() + 2, 30, 18)), 20);
    EXPECT_EQ(redIn(QRect(at.x(), 2 * qRound(a.y()) - at.y() - 20, 30, 18)), 0);

    form.Text4->setText("2400");
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    const double expected[] = {14, 14, 2400, 12, 33.6, 12};
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    for (int c = 2; c <= 7; ++c)
        EXPECT_EQ(form.sheet().Cells(2, c).value().toDouble(), expected[c - 2]) << c;
    EXPECT_EQ(form.session().rowNo(), 3);
    EXPECT_TRUE(form.port1().PortOpen()) << "ready for the next outline";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

} // namespace
