// The MT4500 window in process: "処理中断", "設定" and the log.
#include "device_test_helpers.h"

#include "common/serial/serial_line.h"
#include "devices/mt4500/form1.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class Mt4500Form : public InProcessFixture {
protected:
    void SetUp() override {
        InProcessFixture::SetUp();
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("和室")) + "\r\n");
        inst.writeFile(QStringLiteral("curGazo.bmp"), "old sketch");
        sim = std::make_unique<TabletSim>(QStringLiteral("mt4500"),
                                          QStringList{QStringLiteral("--repeat")});
        ASSERT_FALSE(sim->path().isEmpty());
        useRegistry(QStringLiteral("MT4500"), sim->path());
        form = std::make_unique<mt4500::Form1>();
        QObject::connect(form.get(), &mt4500::Form1::programEnded,
                         [this](int code) { ended = code; });
        ASSERT_TRUE(form->Form_Load()) << qPrintable(messages.join("|"));
    }
    void TearDown() override {
        form.reset();
        sim.reset();
        InProcessFixture::TearDown();
    }
    void send(const QByteArray& record) {
        const qsizetype before = form->logText().size() + messages.size();
        sim->command("raw " + record);
        ASSERT_TRUE(WaitFor([&] {
            return form->logText().size() + messages.size() != before || form->hasEnded();
        }));
    }
    QByteArray coords() const { return inst.readFile(QStringLiteral("座標.txt")); }

    std::unique_ptr<TabletSim> sim;
    std::unique_ptr<mt4500::Form1> form;
    int ended = -1;
};

TEST_F(Mt4500Form, RecordIsLoggedWithItsCodeAndStoredInMillimetres) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("シリアル転送 (MT4500)"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("和室"));
    EXPECT_EQ(form->MSComm1->settingsText(), QStringLiteral("1200,n,7,1"));
    EXPECT_EQ(form->MSComm1->Handshaking(), 3);
    send("0001.50000002.00001\\r");
    EXPECT_EQ(form->logText(), QStringLiteral("( 0001.5000 , 0002.0000 )  Flg = 2\r\n"));
    EXPECT_EQ(coords(), QByteArray(" 0001.50000002.00002\r\n"));
    ASSERT_EQ(form->store().pointCount(), 1);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][1], 1500.0f);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][2], 2000.0f);
    EXPECT_FLOAT_EQ(form->store().pointsMm[1][3], 2.0f);
}

TEST_F(Mt4500Form, AbandonLeavesOnlyTheAbandonLine) {
    send("0001.50000002.00001\\r");
    send("0004.50000002.00002\\r");
    ASSERT_EQ(coords(), QByteArray(" 0001.50000002.00002\r\n 0004.50000002.00001\r\n"));
    form->Command5->click();
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
    EXPECT_FALSE(form->MSComm1->PortOpen());
    EXPECT_EQ(coords(), QByteArray(" 0000000000000000008\r\n"));
    EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
}

TEST_F(Mt4500Form, SettingsButtonAppliesTheLineAgainOnTheOpenPort) {
    SerialSettings other = form->MSComm1->settings();
    other.baud = 9600;
    other.handshaking = 0;
    form->MSComm1->setSettings(other);
    form->Command2->click();
    EXPECT_TRUE(form->MSComm1->PortOpen());
    EXPECT_EQ(form->MSComm1->settingsText(), QStringLiteral("1200,n,7,1"));
    EXPECT_EQ(form->MSComm1->Handshaking(), 3);
    send("0001.50000002.00002\\r");
    EXPECT_EQ(coords(), QByteArray(" 0001.50000002.00001\r\n"));
}

} // namespace
