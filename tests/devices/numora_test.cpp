// Numora run as a program on the 座標.txt the size-input module left.
#include "device_test_helpers.h"

#include <QImage>

namespace {

const QByteArray kFourLines = "  0001.500 0002.0001\r\n"
                              "  0004.500 0002.0001\r\n"
                              "  0004.500 0004.0002\r\n"
                              "4 0001.500 0004.0001\r\n";

class NumoraRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.valid());
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("廊下")) + "\r\n");
        inst.writeRegistry(QStringLiteral("Numora"), QString());
    }
    ProgramRun run(const QByteArray& coords) {
        inst.writeFile(QStringLiteral("座標.txt"), coords);
        return RunProgram(QStringLiteral("Numora"), inst);
    }
    Installation inst;
};

TEST_F(NumoraRun, FourLinesAreSketchedWithTheLastLineAsAPoint) {
    const ProgramRun r = run(kFourLines);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(inst.loggedMessages().isEmpty()) << qPrintable(inst.loggedMessages().join("|"));
    const QByteArray bmp = inst.readFile(QStringLiteral("curGazo.bmp"));
    ASSERT_TRUE(IsSketchBitmap(bmp));
    const QImage img = LoadBitmap(bmp);
    // 3 m wide: factor 1.6; points at (40, 360), (360, 360), (360, 147), (40, 147) pixels.
    EXPECT_TRUE(HasColourNear(img, 120, 360, QColor(255, 0, 0))); // [1] red
    EXPECT_TRUE(HasColourNear(img, 360, 300, QColor(0, 0, 255))); // [2] blue
    EXPECT_FALSE(HasColourNear(img, 360, 300, QColor(255, 0, 0), 0));
    EXPECT_TRUE(HasColourNear(img, 120, 147, QColor(255, 0, 0))); // [3] red, to the marked line
    // The outline is not closed from the last point back to the first.
    EXPECT_EQ(CountColour(img, QRect(36, 170, 9, 170), QColor(255, 0, 0)), 0);
    EXPECT_EQ(CountColour(img, QRect(36, 170, 9, 170), QColor(0, 0, 255)), 0);
    EXPECT_EQ(inst.readFile(QStringLiteral("座標.txt")), kFourLines); // read, never written
}

TEST_F(NumoraRun, SinglePointAndCoincidingPointsNeedNoExtent) {
    ProgramRun r = run("4 0001.500 0002.0001\r\n");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    const QByteArray bmp = inst.readFile(QStringLiteral("curGazo.bmp"));
    ASSERT_TRUE(IsSketchBitmap(bmp));
    EXPECT_TRUE(HasColourNear(LoadBitmap(bmp), 40, 360, QColor(255, 0, 0)));

    r = run("  0001.500 0002.0001\r\n4 0001.500 0002.0002\r\n");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));
}

// Files Numora cannot sketch: a message, a non-zero status and the last
// sketch left as it was.
class NumoraRefusal : public NumoraRun {
protected:
    void SetUp() override {
        NumoraRun::SetUp();
        inst.writeFile(QStringLiteral("curGazo.bmp"), "old sketch");
    }
    void expectRefused(const ProgramRun& r, const QString& inMessage) {
        ASSERT_TRUE(r.finished);
        EXPECT_NE(r.exitCode, 0);
        const QStringList messages = inst.loggedMessages();
        ASSERT_EQ(messages.size(), 1) << qPrintable(messages.join("|"));
        EXPECT_TRUE(messages[0].contains(inMessage)) << qPrintable(messages[0]);
        EXPECT_EQ(inst.readFile(QStringLiteral("curGazo.bmp")), QByteArray("old sketch"));
    }
};

TEST_F(NumoraRefusal, FileEndsBeforeTheMarkedLine) {
    expectRefused(run("  0001.500 0002.0001\r\n  0004.500 0002.0001\r\n"),
                  QStringLiteral("座標.txt"));
}

TEST_F(NumoraRefusal, LineShorterThanTwentyCharacters) {
    expectRefused(run("  0001.500 0002.0001\r\n4 0004.500 0002.00\r\n"), QStringLiteral("2 行目"));
}

TEST_F(NumoraRefusal, NoMarkedLineWithinNinetyNineLines) {
    QByteArray text;
    for (int i = 0; i < 99; ++i)
        text += "  0001.500 0002.0001\r\n";
    text += "4 0001.500 0002.0001\r\n";
    expectRefused(run(text), QStringLiteral("99"));
}

TEST_F(NumoraRefusal, EmptyFile) {
    expectRefused(run(""), QStringLiteral("座標.txt"));
}

TEST_F(NumoraRefusal, MissingCoordinatesFile) {
    const ProgramRun r = RunProgram(QStringLiteral("Numora"), inst);
    expectRefused(r, QStringLiteral("座標.txt"));
}

TEST_F(NumoraRefusal, MissingRoomNameFile) {
    inst.remove(QStringLiteral("roomName.txt"));
    expectRefused(run(kFourLines), QStringLiteral("roomName.txt"));
}

TEST_F(NumoraRefusal, NoInstallationFolderRegistered) {
    inst.writeRegistry(QStringLiteral("Numora"), QString(), false);
    expectRefused(run(kFourLines), QStringLiteral("InstPath"));
}

} // namespace
