// The keypad road's process: the command line for cobcrun, and real runs of
// cobcrun on the demo size-input module with the answers on its standard
// input, in an installation folder whose path has blanks and Japanese.
#include "main/takeoff/keypad.h"

#include "common/core/exchange_files.h"
#include "common/core/outline_store.h"
#include "test_paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const TextCodec kCp932{QStringLiteral("CP932")};

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

// --- the command line ------------------------------------------------------

TEST(RuntimeCommandLine, ShortFolderGivesTheModulePathAsOneArgument) {
    const RuntimeCommand c =
        BuildRuntimeCommand(QStringLiteral("/i/"), QStringLiteral("cobcrun"), QString());
    EXPECT_EQ(c.program, QStringLiteral("cobcrun"));
    EXPECT_EQ(c.arguments, (QStringList{QStringLiteral("-c"), QStringLiteral("/i/runtm.cfg"),
                                        QStringLiteral("/i/LUMO80/Object/LumoSizein")}));
    EXPECT_EQ(c.workingDirectory, QStringLiteral("/i/"));
    // An empty runtime value means cobcrun.
    EXPECT_EQ(BuildRuntimeCommand(QStringLiteral("/i/"), QString(), QString()).program,
              QStringLiteral("cobcrun"));
    EXPECT_EQ(BuildRuntimeCommand(QStringLiteral("/i/"), QStringLiteral("/opt/cob/bin/cobcrun"),
                                  QString())
                  .program,
              QStringLiteral("/opt/cob/bin/cobcrun"));
}

// Without a "Terminal" value a console program started from a desktop gets a
// terminal window of its own; from a console it shares that console.
TEST(RuntimeCommandLine, TerminalPrefixIsChosenWhenNoneIsSet) {
    const auto none = [](const QString&) { return false; };
    const auto onlyXterm = [](const QString& p) { return p == QStringLiteral("xterm"); };
    const auto both = [](const QString&) { return true; };
    EXPECT_EQ(ChooseTerminalPrefix(QStringLiteral(" urxvt -e "), false, none),
              QStringLiteral("urxvt -e"));
    EXPECT_EQ(ChooseTerminalPrefix(QString(), true, none), QString());
    EXPECT_EQ(ChooseTerminalPrefix(QString(), false, both),
              QStringLiteral("x-terminal-emulator -e"));
    EXPECT_EQ(ChooseTerminalPrefix(QStringLiteral("  "), false, onlyXterm),
              QStringLiteral("xterm -e"));
    EXPECT_EQ(ChooseTerminalPrefix(QString(), false, none), std::nullopt);
    EXPECT_TRUE(ProgramExists(QStringLiteral("sh")));
    EXPECT_TRUE(ProgramExists(QStringLiteral("/bin/sh")));
    EXPECT_FALSE(ProgramExists(QStringLiteral("/nonexistent/cobcrun")));
    EXPECT_FALSE(ProgramExists(QStringLiteral("/etc/passwd"))) << "not executable";
    EXPECT_FALSE(ProgramExists(QStringLiteral("no-such-program-here")));
}

TEST(RuntimeCommandLine, ModuleOverThirtyOneBytesGoesThroughMinusM) {
    // "/abcdefg/" + "LUMO80/Object/LumoSizein": 9 + 24 = 33 bytes.
    // "/abcdef/" gives 32, "/abcde/" 31: only 31 passes as it is.
    EXPECT_EQ(BuildRuntimeCommand(QStringLiteral("/abcde/"), {}, {}).arguments.size(), 3);
    for (const char* inst : {"/abcdef/", "/abcdefg/"}) {
        const QString i = QString::fromLatin1(inst);
        const RuntimeCommand c = BuildRuntimeCommand(i, {}, {});
        EXPECT_EQ(c.arguments,
                  (QStringList{QStringLiteral("-c"), i + QStringLiteral("runtm.cfg"),
                               QStringLiteral("-M"), i + QStringLiteral("LUMO80/Object/"),
                               QStringLiteral("LumoSizein")}))
            << inst;
    }
    // Counted in bytes: 27 characters, but "日本" takes 6 bytes.
    const RuntimeCommand j = BuildRuntimeCommand(QStringLiteral("/日本/"), {}, {});
    EXPECT_EQ(j.arguments.value(2), QStringLiteral("-M"));
}

TEST(RuntimeCommandLine, TerminalPrefixComesFirstWithItsQuotedWords) {
    RuntimeCommand c = BuildRuntimeCommand(QStringLiteral("/i/"), QStringLiteral("cobcrun"),
                                           QStringLiteral("  x-terminal-emulator   -e "));
    EXPECT_EQ(c.program, QStringLiteral("x-terminal-emulator"));
    EXPECT_EQ(c.arguments, (QStringList{QStringLiteral("-e"), QStringLiteral("cobcrun"),
                                        QStringLiteral("-c"), QStringLiteral("/i/runtm.cfg"),
                                        QStringLiteral("/i/LUMO80/Object/LumoSizein")}));

    c = BuildRuntimeCommand(QStringLiteral("/i/"), QStringLiteral("cobcrun"),
                            QStringLiteral("\"/opt/my term/xterm\" -T '寸法 入力' -e"));
    EXPECT_EQ(c.program, QStringLiteral("/opt/my term/xterm"));
    EXPECT_EQ(c.arguments.mid(0, 4),
              (QStringList{QStringLiteral("-T"), QStringLiteral("寸法 入力"), QStringLiteral("-e"),
                           QStringLiteral("cobcrun")}));
}

TEST(RuntimeCommandLine, WordsSplitAtBlanksAndHonourQuotes) {
    EXPECT_EQ(SplitCommandWords(QString()), QStringList());
    EXPECT_EQ(SplitCommandWords(QStringLiteral("   ")), QStringList());
    EXPECT_EQ(SplitCommandWords(QStringLiteral("a\tb  c")),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    // Quotes join, an empty pair is an empty word, a quote inside a word.
    EXPECT_EQ(SplitCommandWords(QStringLiteral("x\"y z\"w '' \"it's\"")),
              (QStringList{QStringLiteral("xy zw"), QString(), QStringLiteral("it's")}));
    // Backslash: a blank or quote as it is; inside single quotes no escape.
    EXPECT_EQ(SplitCommandWords(QStringLiteral("a\\ b \"q\\\"q\" 'c\\d'")),
              (QStringList{QStringLiteral("a b"), QStringLiteral("q\"q"), QStringLiteral("c\\d")}));
}

// --- running ---------------------------------------------------------------

TEST(KeypadRunProcess, MissingRuntimeIsReportedNotStarted) {
    RuntimeCommand c = BuildRuntimeCommand(QDir::tempPath() + u'/',
                                           QStringLiteral("/nonexistent/cobcrun"), QString());
    QString error;
    EXPECT_EQ(RunAndWait(c, &error), kRunNotStarted);
    EXPECT_TRUE(
        error.contains(QStringLiteral("COBOLランタイム（/nonexistent/cobcrun）を起動できません")))
        << error.toStdString();

    // A terminal prefix that is not there is reported the same way.
    c = BuildRuntimeCommand(QDir::tempPath() + u'/', QStringLiteral("cobcrun"),
                            QStringLiteral("no-such-terminal-pointra -e"));
    EXPECT_EQ(RunAndWait(c, &error), kRunNotStarted);
    EXPECT_TRUE(error.contains(QStringLiteral("no-such-terminal-pointra"))) << error.toStdString();
}

TEST(KeypadRunProcess, ExitCodeAndCrashArePassedOn) {
    QTemporaryDir dir;
    RuntimeCommand c{QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"), QStringLiteral("pwd > here; exit 3")},
                     dir.path()};
    QString error;
    EXPECT_EQ(RunAndWait(c, &error), 3);
    EXPECT_EQ(
        QFileInfo(QString::fromLocal8Bit(readBytes(dir.filePath(QStringLiteral("here")))).trimmed())
            .canonicalFilePath(),
        QFileInfo(dir.path()).canonicalFilePath());

    c.arguments = QStringList{QStringLiteral("-c"), QStringLiteral("kill -SEGV $$")};
    EXPECT_EQ(RunAndWait(c, &error), kRunCrashed);
    EXPECT_TRUE(error.contains(QStringLiteral("異常終了"))) << error.toStdString();
}

// An installation folder with a long path of blanks and Japanese, holding
// the demo module and the runtime configuration.
class DemoSizein : public ::testing::Test {
protected:
    void SetUp() override {
        const QString built = QBinPath("/../demo-install/LUMO80/Object/LumoSizein.so");
        ASSERT_TRUE(QFileInfo::exists(built))
            << "the demo module is not built (target demo_sizein): " << built.toStdString();
        inst = dir.path() + QStringLiteral("/見積 デモ/インストール 先/");
        ASSERT_TRUE(QDir().mkpath(inst + QStringLiteral("LUMO80/Object")));
        ASSERT_TRUE(QFile::copy(built, inst + QStringLiteral("LUMO80/Object/LumoSizein.so")));
        ASSERT_TRUE(QFile::copy(QSourcePath("/examples/demo/runtm.cfg"),
                                inst + QStringLiteral("runtm.cfg")));
    }

    // Runs the module with the answers on its standard input.
    int run(const QByteArray& answers) {
        KeypadRun r(BuildRuntimeCommand(inst, QStringLiteral("cobcrun"), QString()));
        r.setStandardInput(answers);
        r.setCaptureOutput(true);
        QString error;
        const int rc = r.run(&error);
        output = r.output();
        EXPECT_GE(rc, 0) << error.toStdString();
        return rc;
    }

    QTemporaryDir dir;
    QString inst;
    QByteArray output;
};

TEST_F(DemoSizein, RectangleIsWrittenInMillimetresAndClosed) {
    const RuntimeCommand c = BuildRuntimeCommand(inst, QStringLiteral("cobcrun"), QString());
    ASSERT_TRUE(c.arguments.contains(QStringLiteral("-M")));

    ASSERT_EQ(run("1\n4000\n2500.5\n"), kSizeinWritten) << output.toStdString();
    EXPECT_EQ(readBytes(CoordFilePath(inst)), QByteArray("       0.0      0.01\r\n"
                                                         "    4000.0      0.01\r\n"
                                                         "    4000.0   2500.51\r\n"
                                                         "       0.0   2500.51\r\n"
                                                         "4      0.0      0.01\r\n"));
    EXPECT_FALSE(QFileInfo::exists(inst + QStringLiteral("座標.tmp")));

    // The main program takes it: five lines and its end record.
    const Result<QVector<CoordLine>> content = ReadCoordLines(CoordFilePath(inst), kCp932);
    ASSERT_TRUE(content) << content.error().toStdString();
    OutlineStore store;
    ASSERT_TRUE(FillOutlineStore(store, *content));
    EXPECT_EQ(store.pointCount(), 6);
    EXPECT_FLOAT_EQ(store.pointsMm[3][1], 4000.0f);
    EXPECT_FLOAT_EQ(store.pointsM[3][2], 2.5005f);

    // And Numora finds the marked last line.
    const Result<QVector<NumoraPoint>> numora = ReadNumoraCoordFile(CoordFilePath(inst), kCp932);
    ASSERT_TRUE(numora) << numora.error().toStdString();
    EXPECT_EQ(numora->size(), 5);
}

TEST_F(DemoSizein, PointsOneByOneWithMistakesCorrected) {
    // A wrong menu answer, a line that is no point, a code 4 refused, a
    // rounded negative value; the first point's code closes the outline.
    ASSERT_EQ(run("7\n2\n0 0 2\n3000 0 1\nabc\n10 10 4\n3000 -1500.25 1\n\n"), kSizeinWritten)
        << output.toStdString();
    EXPECT_EQ(readBytes(CoordFilePath(inst)), QByteArray("       0.0      0.02\r\n"
                                                         "    3000.0      0.01\r\n"
                                                         "    3000.0  -1500.31\r\n"
                                                         "4      0.0      0.02\r\n"));
    const Result<QVector<CoordLine>> content = ReadCoordLines(CoordFilePath(inst), kCp932);
    ASSERT_TRUE(content);
    EXPECT_DOUBLE_EQ((*content)[2].y, -1500.3);
}

TEST_F(DemoSizein, CancelAndEndOfInputLeaveThePreviousFileAlone) {
    const QByteArray previous("   1.00000  2.000001\r\n");
    {
        QFile f(CoordFilePath(inst));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(previous);
    }
    const FileStamp before = StampFile(CoordFilePath(inst));
    // 0 cancels; no answers at all; a rectangle whose depth never comes;
    // a single point.
    for (const QByteArray& answers :
         {QByteArray("0\n"), QByteArray(), QByteArray("1\n4000\n"), QByteArray("2\n5 5 1\n\n")}) {
        EXPECT_EQ(run(answers), kSizeinCancelled) << answers.toStdString() << output.toStdString();
        EXPECT_EQ(readBytes(CoordFilePath(inst)), previous);
        EXPECT_EQ(StampFile(CoordFilePath(inst)), before);
    }
    EXPECT_FALSE(QFileInfo::exists(inst + QStringLiteral("座標.tmp")));
}

} // namespace
