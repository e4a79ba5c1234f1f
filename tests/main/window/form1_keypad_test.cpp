// Form1's keypad road: the size-input module run under the real COBOL
// runtime, and the coordinates file it leaves read into the outline store.
#include "main/window/form1.h"
#include "tests/support/session_access.h"

#include "common/core/exchange_files.h"
#include "common/ui/picturebox.h"
#include "test_paths.h"
#include "window_test_helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

class Form1KeypadTest : public InstallationFixture {
protected:
    void writeCoordFile(const QByteArray& bytes) {
        QFile f(CoordFilePath(instPath()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // A module and a configuration for a stand-in runtime, which loads
    // neither: the road runs only once both are in place.
    void placeModuleFiles() {
        ASSERT_TRUE(QDir().mkpath(instPath() + "LUMO80/Object"));
        QFile module(instPath() + "LUMO80/Object/LumoSizein.so");
        ASSERT_TRUE(module.open(QIODevice::WriteOnly));
        QFile cfg(instPath() + "runtm.cfg");
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    }
    // The registry naming `runtime` as the COBOL runtime, run without a terminal.
    void useRuntime(const QString& runtime) {
        writeRegistry(instPath(),
                      QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]"
                                     "\r\n\"Runtime\"=\"%1\"\r\n\"Terminal\"=\"env\"\r\n")
                          .arg(runtime));
    }
};

TEST_F(Form1KeypadTest, ThreeLinesBecomeAnOutlineWithItsEndRecord) {
    writeCoordFile(" 0.0000000 0.0000001\r\n 4000.0000 0.0000001\r\n 4000.0000 3000.0004\r\n");
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.ReadCoordFile();
    const OutlineStore& s = StoreOf(form);
    EXPECT_EQ(s.pointCount(), 4);
    EXPECT_EQ(s.finishedCount(), 3);
    // The file's numbers are millimetres; the metre store gets one thousandth.
    EXPECT_FLOAT_EQ(s.pointsM[2][1], 4.0f);
    EXPECT_FLOAT_EQ(s.pointsM[3][2], 3.0f);
    EXPECT_EQ(s.pointsM[4][3], 4.0f);
    EXPECT_EQ(form.receivedText(), QStringLiteral("( 0.0000000 ,  0.000000 )  Flg = 1\r\n"
                                                  "( 4000.0000 ,  0.000000 )  Flg = 1\r\n"
                                                  "( 4000.0000 ,  3000.000 )  Flg = 4\r\n"));
    EXPECT_EQ(s.lastPointText[2], "4");
    EXPECT_TRUE(form.Command1->isEnabled());
    EXPECT_TRUE(form.Command2->isEnabled());
    EXPECT_GT(form.Picture1->retainedOperationCount(), 0u);
    EXPECT_TRUE(messages.isEmpty());
    // Read again (a second keypad run over a waiting outline): the new sketch
    // replaces the old one instead of being drawn over it.
    const auto drawn = form.Picture1->retainedOperationCount();
    form.ReadCoordFile();
    EXPECT_EQ(form.Picture1->retainedOperationCount(), drawn);
}

TEST_F(Form1KeypadTest, UnreadableFileLeavesTheStoreAsItWas) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    StoreOf(form).appendMetres(1, 2, 1);
    const QByteArray bad[] = {QByteArray(), " 1.0 2.0 1\r\n", " 0.0000000 0.000000X\r\n"};
    form.ReadCoordFile(); // no file at all
    for (const QByteArray& b : bad) {
        writeCoordFile(b);
        form.ReadCoordFile();
    }
    QByteArray many;
    for (int i = 0; i < 100; ++i)
        many += " 0.0000000 0.0000001\r\n";
    writeCoordFile(many);
    form.ReadCoordFile();
    EXPECT_EQ(messages.size(), 5);
    EXPECT_EQ(StoreOf(form).pointCount(), 1);
    EXPECT_FLOAT_EQ(StoreOf(form).pointsM[1][2], 2.0f);
    EXPECT_TRUE(form.receivedText().isEmpty());
}

TEST_F(Form1KeypadTest, MissingRuntimeIsReportedAndNothingIsRead) {
    writeRegistry(instPath(), QString());
    QFile reg(qEnvironmentVariable("POINTRA_REGISTRY"));
    ASSERT_TRUE(reg.open(QIODevice::Append));
    reg.write("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
              "\"Runtime\"=\"/nonexistent/cobcrun\"\r\n\"Terminal\"=\"env\"\r\n");
    reg.close();
    RegistryFile::reload();
    writeCoordFile(" 0.0000000 0.0000001\r\n");
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Command5_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("/nonexistent/cobcrun")) << messages[0].toStdString();
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(form.isEnabled());
}

// The whole road: cobcrun runs the demo module, whose answers come from a
// pipe set up by the terminal prefix; the outline becomes a worksheet row.
TEST_F(Form1KeypadTest, DemoModuleUnderTheRealRuntimeGivesARow) {
    const QString built = QBinPath("/../demo-install/LUMO80/Object/LumoSizein.so");
    ASSERT_TRUE(QFileInfo::exists(built)) << built.toStdString();
    ASSERT_TRUE(QDir().mkpath(instPath() + "LUMO80/Object"));
    ASSERT_TRUE(QFile::copy(built, instPath() + "LUMO80/Object/LumoSizein.so"));
    ASSERT_TRUE(QFile::copy(QSourcePath("/examples/demo/runtm.cfg"), instPath() + "runtm.cfg"));
    // Terminal prefix: sh -c 'printf "1\n4000\n3000\n" | "$0" "$@"' (escaped for the file).
    writeRegistry(instPath(), QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]"
                                             "\r\n\"Terminal\"=\"sh -c 'printf \\\"1\\\\n4000\\\\n"
                                             "3000\\\\n\\\" | \\\"$0\\\" \\\"$@\\\"'\"\r\n"));
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    ASSERT_TRUE(form.Option4->isChecked());
    form.Command5_Click();
    ASSERT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(StoreOf(form).finishedCount(), 5);
    EXPECT_EQ(form.receivedText().count("Flg"), 5);
    form.Text4->setText("2400");
    form.Command2_Click();
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_EQ(form.sheet().Cells(2, 2).value().toDouble(), 14.0);
    EXPECT_EQ(form.sheet().Cells(2, 5).value().toDouble(), 12.0);
    EXPECT_EQ(form.sheet().Cells(2, 6).value().toDouble(), 33.6);
}

} // namespace

namespace {

// A run that leaves 座標.txt as it was (the user cancelled behind a
// terminal, whose own exit code is 0) does not take the earlier outline.
TEST_F(Form1KeypadTest, UntouchedFileAfterTheRunIsNotTaken) {
    placeModuleFiles();
    writeCoordFile(" 0.0000000 0.0000001\r\n 4000.0000 0.0000001\r\n");
    useRuntime(QStringLiteral("true"));
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Command5_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("取り消された"))) << messages[0].toStdString();
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_FALSE(form.Command2->isEnabled());
}

// The module and the configuration are run only from places no other user
// can replace: a missing one is said as such (not as a cancel), one in a
// folder others may write, or reached through a link to one, is refused
// before anything runs.
TEST_F(Form1KeypadTest, TheModuleRunsOnlyFromPlacesNoOtherUserCanReplace) {
    useRuntime(QStringLiteral("true"));
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Command5_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("サイズ入力モジュール「") + instPath() +
                                       "LUMO80/Object/LumoSizein.so」がありません"))
        << messages[0].toStdString();
    messages.clear();
    placeModuleFiles();
    QTemporaryDir shared;
    QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::WriteGroup | QFile::ExeGroup |
                                             QFile::WriteOther | QFile::ExeOther);
    ASSERT_TRUE(QFile::rename(instPath() + "runtm.cfg", shared.path() + "/runtm.cfg"));
    ASSERT_TRUE(QFile::link(shared.path() + "/runtm.cfg", instPath() + "runtm.cfg"));
    form.Command5_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("はほかの利用者が書き換えられる場所（") +
                                     shared.path() + QStringLiteral("）にあるため実行しません")))
        << messages[0].toStdString();
}

// A module that writes its outline and then ends with RETURN-CODE 1: the
// file this run wrote is taken.
TEST_F(Form1KeypadTest, OutlineWrittenBeforeANonZeroReturnCodeIsTaken) {
    const QString built = QBinPath("/../test-modules/return-code-1/LumoSizein.so");
    ASSERT_TRUE(QFileInfo::exists(built)) << built.toStdString();
    ASSERT_TRUE(QDir().mkpath(instPath() + "LUMO80/Object"));
    ASSERT_TRUE(QFile::copy(built, instPath() + "LUMO80/Object/LumoSizein.so"));
    writeCoordFile(" 9.0000000 9.0000001\r\n"); // an earlier room's outline
    writeRegistry(instPath(), QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]"
                                             "\r\n\"Terminal\"=\"env\"\r\n"));
    QFile cfg(instPath() + "runtm.cfg");
    ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    cfg.close();
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Command5_Click();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    const OutlineStore& s = StoreOf(form);
    EXPECT_EQ(s.finishedCount(), 5);
    EXPECT_FLOAT_EQ(s.pointsM[3][1], 4.0f);
    EXPECT_FLOAT_EQ(s.pointsM[3][2], 3.0f);
    form.Command2_Click();
    EXPECT_EQ(form.sheet().Cells(2, 2).value().toDouble(), 14.0);
    EXPECT_EQ(form.sheet().Cells(2, 5).value().toDouble(), 12.0);
}

// While the size input runs, closing the window is refused with a message
// (the keyed points would be lost); after it, the window closes as usual.
TEST_F(Form1KeypadTest, ClosingDuringTheSizeInputIsRefused) {
    const QString script = dir_.path() + "/slow-runtime";
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nsleep 1\nprintf ' 0.0000000 0.0000001\\r\\n 4000.0000 0.0000001\\r\\n'"
            " > \"$PWD/座標.txt\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    placeModuleFiles();
    useRuntime(script);
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.show();
    bool closedDuringRun = true;
    bool running = false;
    QTimer::singleShot(300, &form, [&] {
        running = form.keypadRunning();
        closedDuringRun = form.close();
    });
    form.Command5_Click();
    EXPECT_TRUE(running);
    EXPECT_FALSE(closedDuringRun);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("サイズ入力の実行中は終了できません")));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(StoreOf(form).finishedCount(), 2) << "the outline of the run is taken";
    answer = MsgAnswer::No;
    EXPECT_TRUE(form.close());
}

} // namespace
