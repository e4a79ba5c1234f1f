// The T5160 window in process, for what only the user can do: typing a new
// scale, "終了", "text Clear".
#include "device_test_helpers.h"

#include "common/serial/serial_line.h"
#include "devices/t5160/form1.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class T5160Form : public InProcessFixture {
protected:
    void SetUp() override {
        InProcessFixture::SetUp();
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("応接室")) + "\r\n");
        inst.writeFile(QStringLiteral("縮尺.txt"), "200\r\n");
        sim = std::make_unique<TabletSim>(QStringLiteral("t5160"),
                                          QStringList{QStringLiteral("--repeat")});
        ASSERT_FALSE(sim->path().isEmpty());
        useRegistry(QStringLiteral("T5160"), sim->path());
    }
    void TearDown() override {
        form.reset();
        sim.reset();
        InProcessFixture::TearDown();
    }

    void load() {
        form = std::make_unique<t5160::Form1>();
        ASSERT_TRUE(form->Form_Load()) << qPrintable(messages.join("|"));
    }
    // Sends one record and waits until the window has dealt with it (a line
    // in the log or a message).
    void send(const QByteArray& record) {
        const qsizetype before = form->logText().size() + messages.size();
        sim->command("raw " + record);
        ASSERT_TRUE(WaitFor([&] {
            return form->logText().size() + messages.size() != before || form->hasEnded();
        }));
    }
    QByteArray coords() const { return inst.readFile(QStringLiteral("座標.txt")); }

    std::unique_ptr<TabletSim> sim;
    std::unique_ptr<t5160::Form1> form;
};

TEST_F(T5160Form, StartShowsRoomAndScaleAndEmptiesTheCoordinates) {
    inst.writeFile(QStringLiteral("座標.txt"), "  1.000000 1.0000001\r\n");
    load();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("シリアル転送 (T5160-25)"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("応接室"));
    EXPECT_EQ(form->Text3->text(), QStringLiteral("200"));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(coords(), QByteArray(""));
    EXPECT_TRUE(form->MSComm1->PortOpen());
    EXPECT_EQ(form->MSComm1->settingsText(), QStringLiteral("9600,e,7,1"));
    EXPECT_EQ(form->MSComm1->Handshaking(), 2);
    EXPECT_EQ(form->findChild<QPushButton*>(QStringLiteral("Command2"))->text(),
              QStringLiteral("終了"));
}

TEST_F(T5160Form, RecordIsLoggedWithItsOwnFieldAndStoredInMillimetres) {
    load();
    send("1000,500,2\\r\\n");
    EXPECT_EQ(form->logText(), QStringLiteral("(  20.00000 ,  10.00000 )  Flg = 2\r\n"));
    EXPECT_EQ(form->Text1->toPlainText(), QStringLiteral("(  20.00000 ,  10.00000 )  Flg = 2\n"));
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"));
    ASSERT_EQ(form->store().pointCount(), 1);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][1], 20000.0f);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][2], 10000.0f);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][3], 1.0f);

    form->Command5->click();
    EXPECT_TRUE(form->logText().isEmpty());
    EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
    EXPECT_EQ(form->store().pointCount(), 1); // the points stay
}

TEST_F(T5160Form, TypedScaleRewritesTheScaleFileAndScalesTheNextRecord) {
    load();
    form->Text3->clear();
    form->Text3->insert(QStringLiteral("100"));
    EXPECT_EQ(inst.readFile(QStringLiteral("縮尺.txt")), QByteArray("100\r\n"));
    send("12345,6789,2\\r\\n");
    EXPECT_EQ(coords(), QByteArray("  123.4500 67.890001\r\n"));

    // The next run starts with the scale typed.
    form.reset();
    load();
    EXPECT_EQ(form->Text3->text(), QStringLiteral("100"));
}

TEST_F(T5160Form, EmptyScaleFileAsksAndRecordsWaitForTheScale) {
    inst.writeFile(QStringLiteral("縮尺.txt"), "");
    load();
    ASSERT_EQ(messages, QStringList{QStringLiteral("最初に縮尺を設定して下さい")});
    send("1000,500,2\\r\\n");
    EXPECT_EQ(messages.size(), 2); // refused: no scale yet
    EXPECT_EQ(coords(), QByteArray(""));
    EXPECT_EQ(form->store().pointCount(), 0);

    form->Text3->insert(QStringLiteral("200"));
    EXPECT_EQ(inst.readFile(QStringLiteral("縮尺.txt")), QByteArray("200\r\n"));
    send("1000,500,2\\r\\n");
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"));

    form->Text3->setText(QStringLiteral("abc"));
    send("3000,500,2\\r\\n");
    // The outline's first refusal had its box; this one leaves a log line.
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(form->logText().endsWith(QStringLiteral(
        "× 取り込みません: 縮尺が正しくありません（abc）。縮尺を入力して下さい\r\n")))
        << qPrintable(form->logText());
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"));
    EXPECT_EQ(form->store().pointCount(), 1);
}

TEST_F(T5160Form, RefusalsOfAnOutlineGiveOneBoxAndTwentyLogLines) {
    load();
    QByteArray burst;
    for (int i = 0; i < 25; ++i)
        burst += "1,1,x\\r\\n";
    sim->command("raw " + burst);
    ASSERT_TRUE(WaitFor([&] { return form->logText().count(u'\n') >= 20; }));
    send("1000,500,2\\r\\n");
    ASSERT_TRUE(WaitFor([&] { return form->store().pointCount() == 1; }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("ボタンが数字ではありません")));
    const QStringList lines = form->logText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 23); // 20 refusals, the count, the point, nothing after the last
    EXPECT_TRUE(
        lines[19].startsWith(QStringLiteral("× 取り込みません: 受信データが正しくありません")));
    EXPECT_EQ(lines[20], QStringLiteral("× ほかに 5 件の記録を取り込みませんでした"));
    EXPECT_EQ(lines[21], QStringLiteral("(  20.00000 ,  10.00000 )  Flg = 2"));
}

TEST_F(T5160Form, EndButtonOfTheWindowKeepsTheLinesAndMakesNoSketch) {
    inst.writeFile(QStringLiteral("curGazo.bmp"), "old sketch");
    load();
    int ended = -1;
    QObject::connect(form.get(), &t5160::Form1::programEnded, [&](int code) { ended = code; });
    send("1000,500,2\\r\\n");
    send("3000,500,4\\r\\n");
    form->Command2->click();
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(form->hasEnded());
    EXPECT_FALSE(form->MSComm1->PortOpen());
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n  60.00000 10.000002\r\n"));
    EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
}

TEST_F(T5160Form, EndRecordSavesTheSketchAndEnds) {
    load();
    int ended = -1;
    QObject::connect(form.get(), &t5160::Form1::programEnded, [&](int code) { ended = code; });
    send("1000,500,2\\r\\n");
    send("3000,500,4\\r\\n");
    send("3000,500,8\\r\\n");
    EXPECT_EQ(ended, 0);
    EXPECT_FALSE(form->MSComm1->PortOpen());
    EXPECT_EQ(form->store().finishedCount(), 2);
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

} // namespace
