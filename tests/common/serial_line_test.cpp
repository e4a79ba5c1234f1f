// The serial line through a real pseudo-terminal, with tabletsim playing the
// tablet on the other side.
#include "common/core/tablet_records.h"
#include "common/serial/serial_line.h"
#include "test_paths.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kGuardMs = 15000; // failure guard only; records normally arrive at once

class Simulator {
public:
    // Starts tabletsim and reads the port's path from its first line.
    bool start(const QStringList& args) {
        proc_.setProgram(QBinPath("/tabletsim"));
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start();
        if (!proc_.waitForStarted(kGuardMs))
            return false;
        while (!proc_.canReadLine())
            if (!proc_.waitForReadyRead(kGuardMs))
                return false;
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
        return path_.startsWith('/');
    }
    // One stdin command of --repeat ("" sends the script again).
    void command(const QByteArray& line) {
        proc_.write(line + '\n');
        proc_.waitForBytesWritten(kGuardMs);
    }
    void stop() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(kGuardMs))
            proc_.kill();
        proc_.waitForFinished(kGuardMs);
    }
    ~Simulator() { stop(); }
    // Waits for a line of the simulator's output ("sent 3").
    bool waitForOutput(const QByteArray& line) {
        return QTest::qWaitFor(
            [&] {
                while (proc_.canReadLine())
                    if (proc_.readLine().trimmed() == line)
                        return true;
                return false;
            },
            kGuardMs);
    }
    const QString& path() const { return path_; }
    QString errors() { return QString::fromLocal8Bit(proc_.readAllStandardError()); }

private:
    QProcess proc_;
    QString path_;
};

// Warnings about the pseudo-terminal while a line is in use: one that
// refuses 7 data bits or parity, as every one does, is no cause for one.
QStringList& Warnings() {
    static QStringList warnings;
    return warnings;
}

QtMessageHandler& PreviousHandler() {
    static QtMessageHandler previous = nullptr;
    return previous;
}

class SerialLineOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(QBinPath("/tabletsim"))) << "build the tabletsim target";
        ASSERT_TRUE(dir_.isValid());
        Warnings().clear();
        PreviousHandler() = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (type != QtDebugMsg && type != QtInfoMsg && text.contains("pseudo-terminal"))
                    Warnings() << text;
                else if (PreviousHandler())
                    PreviousHandler()(type, context, text);
            });
    }
    void TearDown() override {
        line_.reset();
        qInstallMessageHandler(PreviousHandler());
        EXPECT_TRUE(Warnings().isEmpty()) << Warnings().join(u'\n').toStdString();
    }

    QString writeScript(const char* name, const QByteArray& text) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text);
        return path;
    }

    // Starts the simulator and a line on its port, collecting every record
    // the way the receive handlers do: one Input() per receive event.
    void startLine(const QStringList& simArgs, const char* program, const char* control,
                   RecordFramer::Mode mode) {
        ASSERT_TRUE(sim_.start(simArgs)) << sim_.errors().toStdString();
        SerialSettings s = DefaultSettings(program, control);
        s.portName = sim_.path();
        line_ = std::make_unique<SerialLine>(s, mode);
        QObject::connect(line_.get(), &SerialLine::OnComm, [this] {
            events_.push_back(line_->CommEvent());
            if (line_->CommEvent() == kComEvReceive)
                received_.push_back(line_->Input());
        });
        const Result<> opened = line_->setPortOpen(true);
        ASSERT_TRUE(opened) << opened.error().toStdString();
        ASSERT_TRUE(line_->PortOpen());
    }

    bool waitForRecords(size_t n) {
        return QTest::qWaitFor([&] { return received_.size() >= n; }, kGuardMs);
    }

    QTemporaryDir dir_;
    Simulator sim_;
    std::unique_ptr<SerialLine> line_;
    std::vector<QByteArray> received_;
    std::vector<int> events_;
};

const QByteArray kMtScript = "1.2345 2.5 2\n"
                             "# a comment\n"
                             "10 0.75 1\n"
                             "0 0 3\n";
const std::vector<QByteArray> kMtRecords = {
    QByteArray("   1.2345   2.5000") + "2\r",
    QByteArray("  10.0000   0.7500") + "1\r",
    QByteArray("   0.0000   0.0000") + "3\r",
};

TEST_F(SerialLineOnPty, Mt4500RecordsArriveOneEventEachAndByteExact) {
    startLine({"--mode", "mt4500", "--script", writeScript("mt.txt", kMtScript), "--repeat"},
              "VarpadLumo", "MSComm1", RecordFramer::Mode::FixedLength);
    sim_.command("");
    ASSERT_TRUE(waitForRecords(3));
    EXPECT_EQ(received_, kMtRecords);
    EXPECT_EQ(events_, (std::vector<int>{2, 2, 2}));
    const Result<TabletPoint> first = ParseMt4500Record(received_[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, 1);
    EXPECT_EQ(first->xText, "   1.2345");
}

TEST_F(SerialLineOnPty, T5160RecordsSentInTwoHalvesArriveWhole) {
    startLine({"--mode", "t5160", "--split", "--script",
               writeScript("t.txt", "12345 6789 2\n1000 500 4\n-20 30 8\n"), "--repeat"},
              "T5160", "MSComm1", RecordFramer::Mode::Line);
    sim_.command("");
    ASSERT_TRUE(waitForRecords(3));
    EXPECT_EQ(received_,
              (std::vector<QByteArray>{"12345,6789,2\r\n", "1000,500,4\r\n", "-20,30,8\r\n"}));
    EXPECT_EQ(ParseT5160Record(received_[0], "100").value().xText, "123.4500");
}

TEST_F(SerialLineOnPty, MergedRecordsInOneWriteGiveOneEventPerRecord) {
    startLine(
        {"--mode", "mt4500", "--merge", "--script", writeScript("mt.txt", kMtScript), "--repeat"},
        "MT4500", "MSComm1", RecordFramer::Mode::FixedLength);
    sim_.command("");
    sim_.command("");
    ASSERT_TRUE(waitForRecords(6));
    std::vector<QByteArray> twice = kMtRecords;
    twice.insert(twice.end(), kMtRecords.begin(), kMtRecords.end());
    EXPECT_EQ(received_, twice);
}

TEST_F(SerialLineOnPty, SettingsChangedAfterOpenAsTheDevicePrograms) {
    // The device programs open the port first, then set handshaking and the line.
    startLine({"--mode", "t5160", "--script", writeScript("t.txt", "1 2 2\n"), "--repeat"}, "T5160",
              "MSComm1", RecordFramer::Mode::Line);
    line_->setHandshaking(kHandshakeRtsCts);
    EXPECT_TRUE(line_->setSettingsText("9600,E,7,1"));
    EXPECT_FALSE(line_->setSettingsText("9600,E,7"));
    EXPECT_EQ(line_->settingsText(), "9600,e,7,1");
    EXPECT_TRUE(line_->PortOpen());
    sim_.command("");
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(received_[0], "1,2,2\r\n");
}

TEST_F(SerialLineOnPty, ClosingInTheHandlerStopsDeliveryUntilReopened) {
    // Two points, the end record and one more point, all in one write.
    startLine({"--mode", "mt4500", "--merge", "--script",
               writeScript("mt.txt", kMtScript + "5 5 1\n"), "--repeat"},
              "VarpadLumo", "MSComm1", RecordFramer::Mode::FixedLength);
    QObject::connect(line_.get(), &SerialLine::OnComm, [this] {
        const Result<TabletPoint> r = ParseMt4500Record(received_.back());
        if (r && r->code == 4)
            (void)line_->setPortOpen(false);
    });
    sim_.command("");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !line_->PortOpen(); }, kGuardMs));
    EXPECT_EQ(received_, kMtRecords);
    EXPECT_TRUE(line_->Input().isEmpty());

    // Reopened, the line starts afresh: the first record after the reopening
    // is the one sent now, not the point left over from before.
    ASSERT_TRUE(line_->setPortOpen(true));
    sim_.command("raw   99.0000  99.0000"
                 "1\\r");
    ASSERT_TRUE(waitForRecords(4));
    EXPECT_EQ(received_[3], QByteArray("  99.0000  99.0000") + "1\r");
}

TEST_F(SerialLineOnPty, TheSimulatorSendsTheOutlineEachTimeThePortOpens) {
    startLine({"--mode", "mt4500", "--script", writeScript("mt.txt", kMtScript), "--on-open",
               "--settle", "200"},
              "VarpadLumo", "MSComm1", RecordFramer::Mode::FixedLength);
    ASSERT_TRUE(waitForRecords(3));
    (void)line_->setPortOpen(false);
    ASSERT_TRUE(sim_.waitForOutput("closed"));
    ASSERT_TRUE(line_->setPortOpen(true));
    ASSERT_TRUE(waitForRecords(6));
    EXPECT_EQ(std::vector<QByteArray>(received_.begin() + 3, received_.end()), kMtRecords);
}

TEST_F(SerialLineOnPty, RecordsArrivingDuringAHandlerAreAnnouncedAfterIt) {
    startLine({"--mode", "t5160", "--delay", "20", "--script",
               writeScript("t.txt", "1 1 2\n2 2 2\n3 3 2\n"), "--repeat"},
              "VarpadLumo", "MSComm2", RecordFramer::Mode::Line);
    int depth = 0;
    int deepest = 0;
    bool waited = false;
    QObject::connect(line_.get(), &SerialLine::OnComm, [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        if (!waited) {
            // A handler that runs an event loop (a message box, say) while the
            // other records come in.
            waited = true;
            EXPECT_TRUE(sim_.waitForOutput("sent 3"));
        }
        --depth;
    });
    sim_.command("");
    ASSERT_TRUE(waitForRecords(3));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(received_, (std::vector<QByteArray>{"1,1,2\r\n", "2,2,2\r\n", "3,3,2\r\n"}));
}

TEST_F(SerialLineOnPty, MalformedRecordsReachTheHandlerAndTheLineStaysInStep) {
    startLine({"--mode", "mt4500", "--raw",
               writeScript("raw.txt", "   1.2345   2.5\\r\n"
                                      "   1.2345   2.5000"
                                      "2\\r\n"),
               "--repeat"},
              "VarpadLumo", "MSComm1", RecordFramer::Mode::FixedLength);
    sim_.command("");
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_FALSE(ParseMt4500Record(received_[0]));
    EXPECT_TRUE(ParseMt4500Record(received_[1]));
}

TEST_F(SerialLineOnPty, OverlongGarbageIsReportedAndLaterRecordsStillArrive) {
    startLine({"--mode", "t5160", "--repeat"}, "T5160", "MSComm1", RecordFramer::Mode::Line);
    sim_.command("raw " + QByteArray(3000, 'x') + "\\r\\n");
    sim_.command("raw 1,2,2\\r\\n");
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(received_, (std::vector<QByteArray>{"1,2,2\r\n"}));
    EXPECT_NE(std::find(events_.begin(), events_.end(), kComEventRxOver), events_.end());
    EXPECT_FALSE(line_->errorText().isEmpty());
}

TEST_F(SerialLineOnPty, ParityMarkingKeepsARealFfByteAsOneByte) {
    // The line asks the driver to mark bytes with parity errors, which then
    // doubles a real 0xFF; the framer takes the pair back as one byte.
    startLine({"--mode", "t5160", "--repeat"}, "T5160", "MSComm1", RecordFramer::Mode::Line);
    sim_.command("raw 1\\xff,2,2\\r\\n");
    sim_.command("raw 3,\\xff\\xff,2\\r\\n");
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(received_, (std::vector<QByteArray>{"1\xff,2,2\r\n", "3,\xff\xff,2\r\n"}));
}

TEST_F(SerialLineOnPty, TabletGoneClosesThePortWithAnEvent) {
    startLine({"--mode", "t5160", "--repeat"}, "T5160", "MSComm1", RecordFramer::Mode::Line);
    sim_.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !line_->PortOpen(); }, kGuardMs));
    EXPECT_EQ(events_.back(), kComEvCD);
    EXPECT_TRUE(line_->errorText().contains(sim_.path()));
}

TEST(SerialLineOpen, MissingDeviceFailsWithAMessageNamingThePort) {
    SerialSettings s = DefaultSettings("VarpadLumo", "MSComm1");
    s.portName = "/dev/pointra-no-such-tablet";
    SerialLine line(s, RecordFramer::Mode::FixedLength);
    const Result<> opened = line.setPortOpen(true);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(line.PortOpen());
    EXPECT_TRUE(opened.error().contains("/dev/pointra-no-such-tablet"));
    EXPECT_EQ(line.errorText(), opened.error());
    EXPECT_TRUE(line.Input().isEmpty());
    EXPECT_TRUE(line.setPortOpen(false)) << "closing a closed port is harmless";
}

TEST(SerialLineOpen, ANonTerminalDeviceIsRefused) {
    SerialSettings s = DefaultSettings("VarpadLumo", "MSComm2");
    s.portName = "/dev/null";
    SerialLine line(s, RecordFramer::Mode::Line);
    const Result<> opened = line.setPortOpen(true);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(line.PortOpen());
    EXPECT_TRUE(opened.error().contains("/dev/null"));
}

} // namespace
