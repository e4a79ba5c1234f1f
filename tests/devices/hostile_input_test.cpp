// The device programs fed damaged and hostile input, each run a child process
// whose own peak memory is measured: a refusal in a short message, a bounded
// cost, and what was there before left as it was.
#include "device_test_helpers.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kFourLines = "  0001.500 0002.0001\r\n"
                              "  0004.500 0002.0001\r\n"
                              "  0004.500 0004.0002\r\n"
                              "4 0001.500 0004.0001\r\n";

// A message in the system's style quotes only a few dozen characters of
// what it refuses.
constexpr int kShortMessage = 300;

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.valid());
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("廊下")) + "\r\n");
        inst.writeFile(QStringLiteral("curGazo.bmp"), "old sketch");
    }
    // The one message of a refused run, checked to be short and to hold `what`.
    void expectRefused(const ProgramRun& run, const QString& what) {
        ASSERT_TRUE(run.finished) << "the program hung";
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(WithinMemoryBound(run));
        const QStringList messages = inst.loggedMessages();
        ASSERT_EQ(messages.size(), 1) << qPrintable(messages.join("|"));
        EXPECT_TRUE(messages[0].contains(what)) << qPrintable(messages[0]);
        EXPECT_LT(messages[0].size(), kShortMessage) << qPrintable(messages[0]);
        EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
    }
    void writeRegistryText(const QByteArray& text) {
        QFile f(inst.registryPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    Installation inst;
};

TEST_F(Hostile, PlainNumoraRunStaysWellWithinTheBound) {
    inst.writeRegistry(QStringLiteral("Numora"), QString());
    inst.writeFile(QStringLiteral("座標.txt"), kFourLines);
    const ProgramRun run = RunProgram(QStringLiteral("Numora"), inst);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(WithinMemoryBound(run));
}

// The registry file is read at every start.
TEST_F(Hostile, RegistryFileThatCannotBeReadIsNamed) {
    inst.writeFile(QStringLiteral("座標.txt"), kFourLines);
    const QByteArray header = "Windows Registry Editor Version 5.00\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
                              "\"InstPath\"=\"" +
                              inst.instPath().toUtf8() + "\"\r\n";
    const QString where =
        QStringLiteral("レジストリファイル（%1）を読み込めません").arg(inst.registryPath());
    // A key of 40,000 levels in an 80 KB line.
    QByteArray deep = "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 40000; ++i)
        deep += "\\k";
    writeRegistryText(header + deep + "]\r\n");
    expectRefused(RunProgram(QStringLiteral("Numora"), inst), where);

    // No export header: not a registry file at all.
    writeRegistryText("InstPath=" + inst.instPath().toUtf8() + "\n");
    QFile::remove(inst.messageLogPath());
    expectRefused(RunProgram(QStringLiteral("Numora"), inst), where);

    // A code page nobody on the estimating side reads.
    writeRegistryText(header + "\"CodePage\"=\"UCS-4\"\r\n");
    QFile::remove(inst.messageLogPath());
    expectRefused(RunProgram(QStringLiteral("Numora"), inst), QStringLiteral("「UCS-4」"));
}

// An installation folder that is not there is named as the cause, by every
// program alike, before any file of it is looked for.
TEST_F(Hostile, InstallationFolderThatDoesNotExistIsNamed) {
    const QString absent = inst.path(QStringLiteral("does-not-exist/"));
    writeRegistryText("Windows Registry Editor Version 5.00\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
                      "\"InstPath\"=\"" +
                      absent.toUtf8() + "\"\r\n");
    const QString expected =
        QStringLiteral("インストールフォルダ「%1」がありません（レジストリファイル（%2）の "
                       "\"InstPath\"）。 起動できないため終了します。")
            .arg(absent, inst.registryPath());
    for (const QString& program :
         {QStringLiteral("T5160"), QStringLiteral("MT4500"), QStringLiteral("Numora")}) {
        QFile::remove(inst.messageLogPath());
        const ProgramRun run = RunProgram(program, inst);
        ASSERT_TRUE(run.finished) << qPrintable(program);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(program);
        EXPECT_EQ(inst.loggedMessages(), QStringList{expected}) << qPrintable(program);
    }
}

TEST_F(Hostile, NumoraRefusesOversizedOddAndMisreadCoordinateFiles) {
    inst.writeRegistry(QStringLiteral("Numora"), QString());
    const QString coordPath = inst.path(QStringLiteral("座標.txt"));
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* inMessage;
    };
    const Case cases[] = {
        {"400 MB, sparse",
         [&] {
             inst.writeFile(QStringLiteral("座標.txt"), kFourLines);
             ASSERT_EQ(::truncate(QFile::encodeName(coordPath).constData(), 400LL << 20), 0);
         },
         "座標.txt が大きすぎます"},
        {"FIFO",
         [&] {
             inst.remove(QStringLiteral("座標.txt"));
             ASSERT_EQ(::mkfifo(QFile::encodeName(coordPath).constData(), 0600), 0);
         },
         "通常のファイルではありません"},
        {"exponent",
         [&] {
             inst.remove(QStringLiteral("座標.txt"));
             inst.writeFile(QStringLiteral("座標.txt"), "  0001.500 0002.0001\r\n"
                                                        "4 1.5E+300 1.5E+3001\r\n");
         },
         "2 行目の X 座標「1.5E+300」が数値ではありません"},
        {"NUL in a field",
         [&] {
             inst.writeFile(QStringLiteral("座標.txt"), QByteArray("4 0001.5\0"
                                                                   "0 0002.0001\r\n",
                                                                   22));
         },
         "1 行目の X 座標「0001.5?0」"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(inst.messageLogPath());
        c.make();
        expectRefused(RunProgram(QStringLiteral("Numora"), inst), QString::fromUtf8(c.inMessage));
    }
}

TEST_F(Hostile, RoomNameThatNeverEndsOrBlocks) {
    inst.writeRegistry(QStringLiteral("Numora"), QString());
    inst.writeFile(QStringLiteral("座標.txt"), kFourLines);
    const QString roomPath = inst.path(QStringLiteral("roomName.txt"));
    inst.remove(QStringLiteral("roomName.txt"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), roomPath));
    expectRefused(RunProgram(QStringLiteral("Numora"), inst),
                  QStringLiteral("通常のファイルではありません"));

    inst.remove(QStringLiteral("roomName.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(roomPath).constData(), 0600), 0);
    QFile::remove(inst.messageLogPath());
    expectRefused(RunProgram(QStringLiteral("Numora"), inst),
                  QStringLiteral("通常のファイルではありません"));

    inst.remove(QStringLiteral("roomName.txt"));
    inst.writeFile(QStringLiteral("roomName.txt"), QByteArray(1 << 20, 'x'));
    QFile::remove(inst.messageLogPath());
    expectRefused(RunProgram(QStringLiteral("Numora"), inst),
                  QStringLiteral("roomName.txt の 1 行目が長すぎます"));
}

// The tablet programs against tabletsim, which goes away ("q") once the
// program has taken what the test waits for.
class HostileTablet : public Hostile {
protected:
    void start(const QString& program, const QByteArray& raw) {
        const QString script = WriteScript(inst, QStringLiteral("records.txt"), raw);
        sim = std::make_unique<TabletSim>(
            program == u"T5160" ? QStringLiteral("t5160") : QStringLiteral("mt4500"),
            QStringList{QStringLiteral("--raw"), script, QStringLiteral("--wait-open"),
                        QStringLiteral("--repeat")});
        ASSERT_FALSE(sim->path().isEmpty());
        inst.writeRegistry(program, sim->path());
        child = std::make_unique<ChildProgram>(program, inst);
    }
    // Waits until cond() holds, then takes the tablet away.
    ProgramRun hangUpWhen(const std::function<bool()>& cond) {
        EXPECT_TRUE(WaitFor(cond, 30000)) << qPrintable(inst.loggedMessages().join("|"));
        sim->command("q");
        return child->wait();
    }
    QByteArray coords() const { return inst.readFile(QStringLiteral("座標.txt")); }

    std::unique_ptr<TabletSim> sim;
    std::unique_ptr<ChildProgram> child;
};

// After a lost connection: the message, status 2, the points without an end
// line, and one message box for all the refusals before it.
void ExpectLostMidOutline(const ProgramRun& run, const QStringList& messages) {
    ASSERT_TRUE(run.finished) << "the program did not end after the tablet went away";
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(WithinMemoryBound(run));
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().contains(QStringLiteral("接続が切れました")))
        << qPrintable(messages.last());
    for (const QString& m : messages)
        EXPECT_LT(m.size(), kShortMessage) << qPrintable(m);
}

TEST_F(HostileTablet, Mt4500LostMidOutlineKeepsThePointsWithoutEndLine) {
    start(QStringLiteral("MT4500"), "0001.50000002.00001\\r\n"
                                    "0005.50000002.00002\\r\n");
    const QByteArray two = " 0001.50000002.00002\r\n 0005.50000002.00001\r\n";
    const ProgramRun run = hangUpWhen([&] { return coords() == two; });
    ExpectLostMidOutline(run, inst.loggedMessages());
    EXPECT_EQ(inst.loggedMessages().size(), 1);
    EXPECT_EQ(coords(), two);
    EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
}

TEST_F(HostileTablet, T5160LostMidOutlineKeepsThePointsWithoutEndLine) {
    inst.writeFile(QStringLiteral("縮尺.txt"), "200\r\n");
    start(QStringLiteral("T5160"), "1000,500,2\\r\\n\n");
    const QByteArray one = "  20.00000 10.000001\r\n";
    const ProgramRun run = hangUpWhen([&] { return coords() == one; });
    ExpectLostMidOutline(run, inst.loggedMessages());
    EXPECT_EQ(coords(), one);
}

TEST_F(HostileTablet, Mt4500GarbageEndRecordsDoNotEndTheOutline) {
    // NUL, ^Z and escape bytes with an end digit in column 19, then a real
    // outline: only the real one is taken, with one message for the noise.
    start(QStringLiteral("MT4500"), "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
                                    "\\x1a\\x1a\\x1a\\x1b\\x1b\\x1b\\x1b\\x1b\\x1b3\\r\n"
                                    "\\x1b[2J\\x1a\\x1a\\x1a\\x1a\\x1a   0.00009\\r\n"
                                    "0001.50000002.00001\\r\n"
                                    "0005.50000002.00002\\r\n"
                                    "0005.50000002.00003\\r\n");
    const ProgramRun run = child->wait();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    const QStringList messages = inst.loggedMessages();
    ASSERT_EQ(messages.size(), 1) << qPrintable(messages.join("|"));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("座標が数値ではありません")));
    EXPECT_LT(messages[0].size(), kShortMessage);
    EXPECT_EQ(coords(), QByteArray(" 0001.50000002.00002\r\n"
                                   " 0005.50000002.00001\r\n"
                                   " 0005.50000002.00004\r\n"));
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

TEST_F(HostileTablet, Mt4500FloodOfOneByteGivesOneMessage) {
    // 2 MB of one byte: a hundred thousand broken records.
    start(QStringLiteral("MT4500"), QByteArray(2 << 20, 'x') + "\n");
    const ProgramRun run = hangUpWhen([&] { return !inst.loggedMessages().isEmpty(); });
    const QStringList messages = inst.loggedMessages();
    ExpectLostMidOutline(run, messages);
    EXPECT_EQ(messages.size(), 2) << qPrintable(messages.join("|"));
    EXPECT_EQ(coords(), QByteArray(""));
}

TEST_F(HostileTablet, T5160ScaleThatWritesNoReadableCoordinate) {
    // The largest scale with the largest count: the metres have 10 digits
    // before the point, which 8 characters cannot hold.
    inst.writeFile(QStringLiteral("縮尺.txt"), "2147483647\r\n");
    start(QStringLiteral("T5160"), "32767,100,2\\r\\n\n1,1,2\\r\\n\n");
    const ProgramRun run = hangUpWhen([&] { return coords() == "  214748.3 214748.31\r\n"; });
    const QStringList messages = inst.loggedMessages();
    ExpectLostMidOutline(run, messages);
    ASSERT_EQ(messages.size(), 2) << qPrintable(messages.join("|"));
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("座標の桁が多すぎます")))
        << qPrintable(messages[0]);
}

TEST_F(HostileTablet, T5160HugeScaleLineIsQuotedBrieflyAndAskedFor) {
    inst.writeFile(QStringLiteral("縮尺.txt"), QByteArray(1 << 20, '7') + "\r\n");
    start(QStringLiteral("T5160"), "1000,500,2\\r\\n\n");
    const ProgramRun run = hangUpWhen([&] { return inst.loggedMessages().size() >= 2; });
    const QStringList messages = inst.loggedMessages();
    ExpectLostMidOutline(run, messages);
    ASSERT_EQ(messages.size(), 3) << qPrintable(messages.join("|"));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("縮尺.txt の 1 行目が長すぎます")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("最初に縮尺を設定して下さい")));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("縮尺が設定されていません")));
    EXPECT_EQ(coords(), QByteArray(""));
}

} // namespace
