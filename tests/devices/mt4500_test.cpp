// MT4500 run as a program against the simulated tablet.
#include "device_test_helpers.h"

#include <QImage>

namespace {

const QByteArray kOldCoords = " 0001.00000001.00002\r\n 0000.00000000.00004\r\n";

class Mt4500Run : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.valid());
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("和室")) + "\r\n");
    }
    ProgramRun runWithRaw(const QByteArray& records) {
        const QString script = WriteScript(inst, QStringLiteral("records.txt"), records);
        TabletSim sim(QStringLiteral("mt4500"),
                      {QStringLiteral("--raw"), script, QStringLiteral("--wait-open")});
        EXPECT_FALSE(sim.path().isEmpty());
        inst.writeRegistry(QStringLiteral("MT4500"), sim.path());
        return RunProgram(QStringLiteral("MT4500"), inst);
    }
    QByteArray coords() const { return inst.readFile(QStringLiteral("座標.txt")); }

    Installation inst;
};

TEST_F(Mt4500Run, OutlineWritesTheFieldsAsReceivedAndSavesTheSketch) {
    // 4 m by 2 m: factor 1.2, the lower left point at (600, 5400) twips.
    const ProgramRun run = runWithRaw("0001.50000002.00001\\r\n"
                                      "0005.50000002.00002\\r\n"
                                      "0005.50000004.00001\\r\n"
                                      "0009.00000009.00003\\r\n");
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(inst.loggedMessages().isEmpty()) << qPrintable(inst.loggedMessages().join("|"));
    // Button 1 gives code 2, button 2 code 1, button 3 ends with code 4.
    EXPECT_EQ(coords(), QByteArray(" 0001.50000002.00002\r\n"
                                   " 0005.50000002.00001\r\n"
                                   " 0005.50000004.00002\r\n"
                                   " 0009.00000009.00004\r\n"));
    const QByteArray bmp = inst.readFile(QStringLiteral("curGazo.bmp"));
    ASSERT_TRUE(IsSketchBitmap(bmp));
    const QImage img = LoadBitmap(bmp);
    // (600, 5400) twips = (40, 360) px; (5400, 5400) = (360, 360); (5400, 3000) = (360, 200).
    EXPECT_TRUE(HasColourNear(img, 40, 360, QColor(255, 0, 0)));  // the first point
    EXPECT_TRUE(HasColourNear(img, 120, 360, QColor(255, 0, 0))); // [1] code 1
    EXPECT_TRUE(HasColourNear(img, 360, 280, QColor(0, 0, 255))); // [2] code 2
    // The end record (9, 9) is not drawn: nothing above the outline.
    EXPECT_EQ(CountColour(img, QRect(0, 0, 400, 150), QColor(255, 0, 0)), 0);
    EXPECT_EQ(CountColour(img, QRect(0, 0, 400, 150), QColor(0, 0, 255)), 0);
}

TEST_F(Mt4500Run, ShortOrNonNumericRecordsAreRefused) {
    const ProgramRun run = runWithRaw("0001.5000\\r\n"
                                      "0001.50000002.00002\\r\n"
                                      "0001.50000002.0000x\\r\n"
                                      "00abcdefg0002.00002\\r\n"
                                      "0003.50000002.00002\\r\n"
                                      "0003.50000002.00003\\r\n");
    ASSERT_TRUE(run.finished) << qPrintable(run.stderrText);
    EXPECT_EQ(run.exitCode, 0);
    // One message box for the outline, however many records were refused.
    EXPECT_EQ(inst.loggedMessages().size(), 1) << qPrintable(inst.loggedMessages().join("|"));
    EXPECT_EQ(coords(), QByteArray(" 0001.50000002.00001\r\n"
                                   " 0003.50000002.00001\r\n"
                                   " 0003.50000002.00004\r\n"));
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

TEST_F(Mt4500Run, CoincidingPointsAreDrawnWithoutDividingByZero) {
    const ProgramRun run = runWithRaw("0001.00000001.00002\\r\n"
                                      "0001.00000001.00002\\r\n"
                                      "0001.00000001.00003\\r\n");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

class Mt4500StartFailure : public Mt4500Run {
protected:
    void SetUp() override {
        Mt4500Run::SetUp();
        inst.writeFile(QStringLiteral("座標.txt"), kOldCoords);
        inst.writeRegistry(QStringLiteral("MT4500"), inst.path(QStringLiteral("no-such-tty")));
    }
    void expectFailed(const ProgramRun& run, const QByteArray& coordsLeft = kOldCoords) {
        ASSERT_TRUE(run.finished);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(inst.loggedMessages().size(), 1) << qPrintable(inst.loggedMessages().join("|"));
        EXPECT_EQ(coords(), coordsLeft);
        EXPECT_FALSE(inst.exists(QStringLiteral("curGazo.bmp")));
    }
};

// 座標.txt is emptied before the port is opened; a run that cannot reach its
// tablet ends as an abandoned one.
TEST_F(Mt4500StartFailure, PortThatCannotBeOpenedLeavesTheAbandonLine) {
    expectFailed(RunProgram(QStringLiteral("MT4500"), inst), " 0000000000000000008\r\n");
}

TEST_F(Mt4500StartFailure, MissingRoomNameFile) {
    inst.remove(QStringLiteral("roomName.txt"));
    expectFailed(RunProgram(QStringLiteral("MT4500"), inst));
    EXPECT_TRUE(inst.loggedMessages().value(0).contains(QStringLiteral("roomName.txt")));
}

TEST_F(Mt4500StartFailure, NoInstallationFolderRegistered) {
    inst.writeRegistry(QStringLiteral("MT4500"), inst.path(QStringLiteral("no-such-tty")), false);
    expectFailed(RunProgram(QStringLiteral("MT4500"), inst));
}

} // namespace
