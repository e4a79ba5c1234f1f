// T5160 run as a program: records from the simulated tablet on a
// pseudo-terminal, 座標.txt and curGazo.bmp checked in the installation folder.
#include "device_test_helpers.h"

#include <QImage>

namespace {

const QByteArray kOldCoords = "  1.000000 1.0000001\r\n  2.000000 1.0000004\r\n";

class T5160Run : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.valid());
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("応接室")) + "\r\n");
        inst.writeFile(QStringLiteral("縮尺.txt"), "200\r\n");
    }

    // Runs the program against a simulator that sends the file's records once
    // the port is opened.
    ProgramRun runWith(const QByteArray& records, bool raw = false) {
        const QString script = WriteScript(inst, QStringLiteral("records.txt"), records);
        TabletSim sim(QStringLiteral("t5160"),
                      {raw ? QStringLiteral("--raw") : QStringLiteral("--script"), script,
                       QStringLiteral("--wait-open")});
        EXPECT_FALSE(sim.path().isEmpty());
        inst.writeRegistry(QStringLiteral("T5160"), sim.path());
        return RunProgram(QStringLiteral("T5160"), inst);
    }

    QByteArray coords() const { return inst.readFile(QStringLiteral("座標.txt")); }

    Installation inst;
};

TEST_F(T5160Run, ScaleTwoHundredOutlineWritesLinesAndSketch) {
    const ProgramRun run = runWith("1000 500 2\n3000 500 4\n3000 2000 2\n1000 2000 8\n");
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(inst.loggedMessages().isEmpty()) << qPrintable(inst.loggedMessages().join("|"));
    // Button 2 gives code 1, button 4 code 2, button 8 ends and is written with code 4.
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"
                                   "  60.00000 10.000002\r\n"
                                   "  60.00000 40.000001\r\n"
                                   "  20.00000 40.000004\r\n"));
    EXPECT_EQ(inst.readFile(QStringLiteral("縮尺.txt")), QByteArray("200\r\n"));

    const QByteArray bmp = inst.readFile(QStringLiteral("curGazo.bmp"));
    ASSERT_TRUE(IsSketchBitmap(bmp));
    const QImage img = LoadBitmap(bmp);
    // 40 m wide: factor 0.12, the points at (40, 360), (360, 360), (360, 120) pixels.
    EXPECT_TRUE(HasColourNear(img, 200, 360, QColor(0, 0, 255))); // [1] code 2: blue
    EXPECT_FALSE(HasColourNear(img, 200, 360, QColor(255, 0, 0), 0));
    EXPECT_TRUE(HasColourNear(img, 360, 240, QColor(255, 0, 0))); // [2] code 1: red
    // The end record is no point: nothing leads back to the start.
    EXPECT_EQ(CountColour(img, QRect(36, 130, 9, 210), QColor(255, 0, 0)), 0);
    EXPECT_EQ(CountColour(img, QRect(36, 130, 9, 210), QColor(0, 0, 255)), 0);
}

TEST_F(T5160Run, BadRecordsAreRefusedAndThePointsKept) {
    const ProgramRun run = runWith("12\\r\\n\n"
                                   "1000,500,2\\r\\n\n"
                                   "abc,500,2\\r\\n\n"
                                   "1000,70000,2\\r\\n\n"
                                   "3000,500,x\\r\\n\n"
                                   "3000,500\\r\\n\n"
                                   "3000,500,4\\r\\n\n"
                                   "3000,500,8\\r\\n\n",
                                   true);
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"
                                   "  60.00000 10.000002\r\n"
                                   "  60.00000 10.000004\r\n"));
    // One message box for the outline, however many records were refused.
    EXPECT_EQ(inst.loggedMessages().size(), 1) << qPrintable(inst.loggedMessages().join("|"));
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

TEST_F(T5160Run, EndButtonBeforeAnyPointIsRefused) {
    const ProgramRun run = runWith("1000 500 8\n1000 500 2\n3000 500 2\n3000 500 8\n");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(inst.loggedMessages().size(), 1);
    EXPECT_EQ(coords(), QByteArray("  20.00000 10.000001\r\n"
                                   "  60.00000 10.000001\r\n"
                                   "  60.00000 10.000004\r\n"));
}

TEST_F(T5160Run, HundredthPointIsRefusedAndTheEndStillTaken) {
    QByteArray script;
    for (int i = 0; i < 100; ++i)
        script += QByteArray::number(i * 10) + " 0 2\n";
    script += "0 100 8\n";
    const ProgramRun run = runWith(script);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    const QStringList messages = inst.loggedMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("99"))) << qPrintable(messages[0]);
    const QList<QByteArray> lines = coords().split('\n');
    ASSERT_EQ(lines.size(), 101); // 99 points, the end record, nothing after the last line end
    EXPECT_EQ(lines[98], QByteArray("  19.60000 0.0000001\r"));
    EXPECT_EQ(lines[99], QByteArray("  0.000000 2.0000004\r"));
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

// Start-up failures: a message, a non-zero status, and the last outline's
// files as they were, but for the port: 座標.txt is emptied before it is
// opened, so a missing tablet never leaves the last room's outline behind.
class T5160StartFailure : public T5160Run {
protected:
    void SetUp() override {
        T5160Run::SetUp();
        inst.writeFile(QStringLiteral("座標.txt"), kOldCoords);
        inst.writeFile(QStringLiteral("curGazo.bmp"), "old sketch");
        inst.writeRegistry(QStringLiteral("T5160"), inst.path(QStringLiteral("no-such-tty")));
    }
    void expectFailed(const ProgramRun& run, const QByteArray& coordsLeft = kOldCoords) {
        ASSERT_TRUE(run.finished);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(inst.loggedMessages().size(), 1) << qPrintable(inst.loggedMessages().join("|"));
        EXPECT_EQ(coords(), coordsLeft);
        EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
    }
};

TEST_F(T5160StartFailure, PortThatCannotBeOpenedLeavesAnEmptyCoordinatesFile) {
    expectFailed(RunProgram(QStringLiteral("T5160"), inst), QByteArray(""));
    EXPECT_TRUE(inst.loggedMessages().value(0).contains(QStringLiteral("no-such-tty")));
}

TEST_F(T5160StartFailure, MissingRoomNameFile) {
    inst.remove(QStringLiteral("roomName.txt"));
    expectFailed(RunProgram(QStringLiteral("T5160"), inst));
    EXPECT_TRUE(inst.loggedMessages().value(0).contains(QStringLiteral("roomName.txt")));
}

TEST_F(T5160StartFailure, MissingScaleFile) {
    inst.remove(QStringLiteral("縮尺.txt"));
    expectFailed(RunProgram(QStringLiteral("T5160"), inst));
    EXPECT_TRUE(inst.loggedMessages().value(0).contains(QStringLiteral("縮尺.txt")));
    EXPECT_FALSE(inst.exists(QStringLiteral("縮尺.txt")));
}

TEST_F(T5160StartFailure, NoInstallationFolderRegistered) {
    inst.writeRegistry(QStringLiteral("T5160"), inst.path(QStringLiteral("no-such-tty")), false);
    expectFailed(RunProgram(QStringLiteral("T5160"), inst));
    EXPECT_TRUE(inst.loggedMessages().value(0).contains(QStringLiteral("InstPath")));
}

} // namespace
