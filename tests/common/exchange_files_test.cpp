// The exchange files on real files: the readers of 座標.txt (main program and
// Numora), the writers' line forms and the flushed writer, 縮尺.txt and
// roomName.txt in the code page.
#include "common/core/exchange_files.h"

#include "common/core/outline_store.h"
#include "common/core/point_log.h"
#include "test_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "file_systems.h"

#include <gtest/gtest.h>

namespace {

const TextCodec kCp932{QStringLiteral("CP932")};

QString fixture(const char* name) {
    return QDataPath("/exchange/") + QString::fromUtf8(name);
}

// `count` coordinate lines "   1.00000  2.000001" and CR LF.
QByteArray coordLines(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "   1.00000  2.000001\r\n";
    return bytes;
}

class ExchangeFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString inst() const { return dir.path() + u'/'; }
    QString coord() const { return CoordFilePath(inst()); }
};

TEST(ExchangePaths, NamesFollowTheFolderWithOneSeparator) {
    EXPECT_EQ(CoordFilePath(QStringLiteral("/opt/p/")), QStringLiteral("/opt/p/座標.txt"));
    EXPECT_EQ(ScaleFilePath(QStringLiteral("/opt/p/")), QStringLiteral("/opt/p/縮尺.txt"));
    EXPECT_EQ(RoomNameFilePath(QStringLiteral("/opt/p/")), QStringLiteral("/opt/p/roomName.txt"));
    EXPECT_EQ(SketchFilePath(QStringLiteral("/opt/p/")), QStringLiteral("/opt/p/curGazo.bmp"));
    // A folder registered without its "/" gets one; never two.
    EXPECT_EQ(CoordFilePath(QStringLiteral("/opt/p")), QStringLiteral("/opt/p/座標.txt"));
    EXPECT_EQ(InstFilePath(QStringLiteral("/opt/p"), QStringLiteral("runtm.cfg")),
              QStringLiteral("/opt/p/runtm.cfg"));
}

TEST_F(ExchangeFiles, FolderWithOrWithoutItsSeparatorNamesTheSameFile) {
    WriteBytes(coord(), "x");
    EXPECT_EQ(ReadBytes(CoordFilePath(dir.path())), QByteArray("x"));
}

// --- the main program's reader -------------------------------------------

TEST(CoordReader, ThreeLinesGiveThreeRowsAndTheEndRecord) {
    const Result<QVector<CoordLine>> c = ReadCoordLines(fixture("three-lines.txt"), kCp932);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    ASSERT_EQ(c->size(), 3);
    EXPECT_EQ((*c)[0].xText, QStringLiteral("  1.50000"));
    EXPECT_EQ((*c)[0].yText, QStringLiteral("  2.00000"));
    EXPECT_EQ((*c)[0].codeText, QStringLiteral("1"));
    EXPECT_DOUBLE_EQ((*c)[1].x, 4.5);
    EXPECT_DOUBLE_EQ((*c)[2].y, 4.0);
    EXPECT_EQ((*c)[2].code, 4);

    QString log;
    for (const CoordLine& l : *c)
        log += PointLogLine(l.xText, l.yText, l.codeText);
    EXPECT_EQ(log, QStringLiteral("(   1.50000 ,   2.00000 )  Flg = 1\r\n"
                                  "(   4.50000 ,   2.00000 )  Flg = 1\r\n"
                                  "(   4.50000 ,   4.00000 )  Flg = 4\r\n"));

    OutlineStore store;
    ASSERT_TRUE(FillOutlineStore(store, *c));
    EXPECT_EQ(store.pointCount(), 4);
    // The file's numbers are millimetres; the metre store holds a thousandth.
    EXPECT_FLOAT_EQ(store.pointsMm[2][1], 4.5f);
    EXPECT_FLOAT_EQ(store.pointsM[2][1], 0.0045f);
    EXPECT_FLOAT_EQ(store.pointsMm[3][3], 4.0f);
    EXPECT_FLOAT_EQ(store.pointsMm[4][1], 0.0f);
    EXPECT_FLOAT_EQ(store.pointsMm[4][2], 0.0f);
    EXPECT_FLOAT_EQ(store.pointsMm[4][3], 4.0f);
    EXPECT_EQ(store.lastPointText[0], QStringLiteral("  4.50000"));
    EXPECT_EQ(store.lastPointText[2], QStringLiteral("4"));
}

TEST(CoordReader, FillingReplacesAnEarlierOutline) {
    OutlineStore store;
    for (int i = 0; i < 10; ++i)
        store.appendMetres(1, 1, 1);
    const Result<QVector<CoordLine>> c = ReadCoordLines(fixture("three-lines.txt"), kCp932);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    ASSERT_TRUE(FillOutlineStore(store, *c));
    EXPECT_EQ(store.pointCount(), 4);
}

TEST_F(ExchangeFiles, AnyLineEndAByteOrderMarkAndTrailingBlankLinesAreAccepted) {
    // A UTF-8 byte-order mark in a CP932 file, LF and lone CR line ends, then
    // blank lines an editor left at the end.
    WriteBytes(coord(), "\xEF\xBB\xBF"
                        "    3600.0       -22\n"
                        "     -0.75     1.251\r"
                        "        .5       7.1\r\n\n   \r\n");
    const Result<QVector<CoordLine>> c = ReadCoordLines(coord(), kCp932);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    ASSERT_EQ(c->size(), 3);
    EXPECT_DOUBLE_EQ((*c)[0].x, 3600.0);
    EXPECT_DOUBLE_EQ((*c)[0].y, -2.0);
    EXPECT_EQ((*c)[0].code, 2);
    EXPECT_DOUBLE_EQ((*c)[1].x, -0.75);
    EXPECT_DOUBLE_EQ((*c)[1].y, 1.25);
    EXPECT_DOUBLE_EQ((*c)[2].x, 0.5);
    EXPECT_EQ((*c)[2].code, 1);
}

TEST_F(ExchangeFiles, NinetyNineLinesAreTakenAHundredRefused) {
    WriteBytes(coord(), coordLines(99));
    Result<QVector<CoordLine>> c = ReadCoordLines(coord(), kCp932);
    ASSERT_TRUE(c.ok());
    OutlineStore store;
    ASSERT_TRUE(FillOutlineStore(store, *c));
    EXPECT_EQ(store.pointCount(), 100);

    WriteBytes(coord(), coordLines(100));
    c = ReadCoordLines(coord(), kCp932);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.error().contains(QStringLiteral("100 行"))) << c.error().toStdString();
    EXPECT_TRUE(c.error().contains(QStringLiteral("99"))) << c.error().toStdString();
}

TEST_F(ExchangeFiles, BadFilesAreRefusedWholeWithTheLineNamed) {
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* inMessage;
    };
    const Case cases[] = {
        {"empty file", QByteArray(), "座標がありません"},
        {"only blank lines", "\r\n  \r\n", "座標がありません"},
        {"short second line", coordLines(1) + "   1.0  2.0 1\r\n" + coordLines(1),
         "2 行目が短すぎます"},
        {"blank line inside", coordLines(1) + "\r\n" + coordLines(1), "2 行目が短すぎます"},
        {"code not a digit", coordLines(2) + "   1.00000  2.00000x\r\n", "3 行目の点コード「x」"},
        {"code blank", "   1.00000  2.00000 \r\n", "1 行目の点コード「 」"},
        // A field is a plain decimal: no unit, no exponent, no "+", no stray
        // byte, not blank (each would once have been read as some number).
        {"unit", " 3600mm     2.000001\r\n", "1 行目の X 座標「3600mm   」が数値ではありません"},
        {"blank field", "   1.00000         1\r\n", "1 行目の Y 座標"},
        {"exponent", coordLines(1) + " 1.5E+300   2.000001\r\n", "2 行目の X 座標「1.5E+300 」"},
        {"plus", "   +1.0000  2.000001\r\n", "1 行目の X 座標"},
        {"two points", "   1.0.000  2.000001\r\n", "1 行目の X 座標"},
        {"NUL",
         QByteArray("   1.0\0"
                    "000  2.000001\r\n",
                    22),
         "1 行目の X 座標「  1.0?000」"},
        {"invalid byte",
         "   1.\xff"
         "0000  2.000001\r\n",
         "1 行目の X 座標"},
        {"only a sign", "         -  2.000001\r\n", "1 行目の X 座標"},
    };
    for (const Case& c : cases) {
        WriteBytes(coord(), c.bytes);
        const Result<QVector<CoordLine>> r = ReadCoordLines(coord(), kCp932);
        EXPECT_FALSE(r.ok()) << c.what;
        EXPECT_TRUE(r.error().contains(QString::fromUtf8(c.inMessage)))
            << c.what << ": " << r.error().toStdString();
        EXPECT_TRUE(r.error().contains(QStringLiteral("座標.txt"))) << c.what;
    }
}

TEST_F(ExchangeFiles, MissingFileIsRefusedWithItsPath) {
    const Result<QVector<CoordLine>> r = ReadCoordLines(coord(), kCp932);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains(QStringLiteral("がありません")));
    EXPECT_TRUE(r.error().contains(coord())) << r.error().toStdString();
}

// --- the writers' line forms and the writer -------------------------------

TEST(CoordLineForms, T5160LineHasItsColumnsAndCutsNotRounds) {
    EXPECT_EQ(T5160CoordLine(1.5, -0.75, 1), QStringLiteral("  1.500000 -0.750001"));
    EXPECT_EQ(T5160CoordLine(12, 123.45678, 2), QStringLiteral("  12.00000 123.45672"));
    EXPECT_EQ(T5160CoordLine(123.45678, 0, 4), QStringLiteral("  123.4567 0.0000004"));
    EXPECT_EQ(T5160CoordLine(1.5, -0.75, 1).size(), 20);
}

TEST(CoordLineForms, Mt4500LineKeepsTheFieldsAsReceived) {
    EXPECT_EQ(Mt4500CoordLine(QStringLiteral("0001.5000"), QStringLiteral("0002.0000"), 2),
              QStringLiteral(" 0001.50000002.00002"));
    EXPECT_EQ(Mt4500CoordLine(QStringLiteral("   1.2345"), QStringLiteral("   2.5000"), 1),
              QStringLiteral("    1.2345   2.50001"));
    // A short field keeps the columns; a long one cannot be written.
    EXPECT_EQ(Mt4500CoordLine(QStringLiteral("1.5"), QStringLiteral("-2"), 1),
              QStringLiteral("       1.5       -21"));
    EXPECT_TRUE(Mt4500CoordLine(QStringLiteral("0001.50000"), QStringLiteral("0"), 1).isEmpty());
}

TEST_F(ExchangeFiles, WrittenLinesReadBackThroughTheMainReader) {
    CoordFileWriter w(kCp932);
    ASSERT_TRUE(w.open(coord()));
    ASSERT_TRUE(w.appendLine(T5160CoordLine(1.5, -0.75, 1)));
    ASSERT_TRUE(
        w.appendLine(Mt4500CoordLine(QStringLiteral("0001.5000"), QStringLiteral("0002.0000"), 2)));
    w.close();
    EXPECT_EQ(ReadBytes(coord()), QByteArray("  1.500000 -0.750001\r\n 0001.50000002.00002\r\n"));
    const Result<QVector<CoordLine>> c = ReadCoordLines(coord(), kCp932);
    ASSERT_TRUE(c.ok());
    EXPECT_DOUBLE_EQ((*c)[0].x, 1.5);
    EXPECT_DOUBLE_EQ((*c)[0].y, -0.75);
    EXPECT_DOUBLE_EQ((*c)[1].x, 1.5);
    EXPECT_DOUBLE_EQ((*c)[1].y, 2.0);
    EXPECT_EQ((*c)[1].code, 2);
}

TEST_F(ExchangeFiles, WriterEmptiesAtOpenAndEveryLineIsOnDiskAtOnce) {
    WriteBytes(coord(), coordLines(5));
    CoordFileWriter w(kCp932);
    ASSERT_TRUE(w.open(coord()));
    EXPECT_EQ(ReadBytes(coord()), QByteArray());

    QByteArray expected;
    for (int i = 1; i <= 3; ++i) {
        const QString line = T5160CoordLine(i, -i, i == 3 ? 4 : 1);
        ASSERT_TRUE(w.appendLine(line));
        expected += line.toLatin1() + "\r\n";
        // Another handle sees the line while the writer still holds the file.
        EXPECT_EQ(ReadBytes(coord()), expected) << "after line " << i;
        EXPECT_EQ(w.linesWritten(), i);
    }
    EXPECT_TRUE(w.isOpen());
    w.close();
    EXPECT_FALSE(w.appendLine(QStringLiteral("x")));
    EXPECT_EQ(ReadBytes(coord()), expected);
}

TEST_F(ExchangeFiles, WriterReportsAFolderThatIsNotThere) {
    CoordFileWriter w;
    const Result<> opened = w.open(CoordFilePath(inst() + QStringLiteral("nowhere/")));
    EXPECT_FALSE(opened);
    EXPECT_TRUE(opened.error().contains(QStringLiteral("座標.txt")))
        << opened.error().toStdString();
    EXPECT_FALSE(w.isOpen());
}

TEST_F(ExchangeFiles, AbandonLineReplacesTheFileWhole) {
    WriteBytes(coord(), coordLines(3));
    ASSERT_TRUE(WriteCoordFileWhole(coord(), {QString::fromLatin1(kMt4500AbandonLine)}, kCp932));
    EXPECT_EQ(ReadBytes(coord()), QByteArray(" 0000000000000000008\r\n"));
}

// --- Numora's reader -------------------------------------------------------

TEST(NumoraReader, FourLinesWithTheLastMarkedGiveFourPoints) {
    const Result<QVector<NumoraPoint>> o = ReadNumoraCoordFile(fixture("numora-four.txt"), kCp932);
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    ASSERT_EQ(o->size(), 4);
    const float want[4][3] = {{1500, 2000, 1}, {4500, 2000, 1}, {4500, 4000, 2}, {1500, 4000, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ((*o)[i].x, want[i][0]) << i;
        EXPECT_FLOAT_EQ((*o)[i].y, want[i][1]) << i;
        EXPECT_EQ((*o)[i].code, int16_t(want[i][2])) << i;
    }
}

TEST_F(ExchangeFiles, NumoraSignsInTheirColumnOrInsideTheNumber) {
    // "-" in column 2 and in column 11; a T5160 line with the sign inside
    // columns 3-10; lines after the marked one are not read.
    WriteBytes(coord(), " -0002.500-0001.0001\r\n"
                        "  -0.75000 1.2500002\r\n"
                        "4 0000.000 0000.0001\r\n"
                        "garbage\r\n");
    const Result<QVector<NumoraPoint>> o = ReadNumoraCoordFile(coord(), kCp932);
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    ASSERT_EQ(o->size(), 3);
    EXPECT_FLOAT_EQ((*o)[0].x, -2500.0f);
    EXPECT_FLOAT_EQ((*o)[0].y, -1000.0f);
    EXPECT_FLOAT_EQ((*o)[1].x, -750.0f);
    EXPECT_FLOAT_EQ((*o)[1].y, 1250.0f);
    EXPECT_EQ((*o)[1].code, 2);
}

TEST_F(ExchangeFiles, NumoraTakesAByteOrderMarkAndTheLargestMagnitude) {
    // The mark would shift every column by two characters in CP932.
    WriteBytes(coord(), "\xEF\xBB\xBF  0001.500 0002.0001\r4 999999.9-0004.0002\r");
    const Result<QVector<NumoraPoint>> o = ReadNumoraCoordFile(coord(), kCp932);
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    ASSERT_EQ(o->size(), 2);
    EXPECT_FLOAT_EQ((*o)[0].x, 1500.0f);
    EXPECT_FLOAT_EQ((*o)[0].y, 2000.0f);
    EXPECT_EQ((*o)[0].code, 1);
    EXPECT_FLOAT_EQ((*o)[1].x, 999999900.0f);
    EXPECT_FLOAT_EQ((*o)[1].y, -4000.0f);
}

TEST_F(ExchangeFiles, NumoraMarkOnTheNinetyNinthLineIsStillRead) {
    WriteBytes(coord(), coordLines(98) + "4  1.00000  2.000001\r\n");
    const Result<QVector<NumoraPoint>> o = ReadNumoraCoordFile(coord(), kCp932);
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    EXPECT_EQ(o->size(), 99);
}

TEST_F(ExchangeFiles, NumoraRefusesWhatItCannotSketch) {
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* inMessage;
    };
    const Case cases[] = {
        {"empty file", QByteArray(), "座標がありません"},
        {"no marked line before the end", coordLines(3), "3 行でファイルが終わっています"},
        {"short line", coordLines(1) + "4  1.0  2.0 1\r\n", "2 行目が短すぎます"},
        {"code not a digit", "4  1.00000  2.00000-\r\n", "1 行目の点コード「-」"},
        {"no mark within 99 lines", coordLines(120), "最初の 99 行に最後の行"},
        {"exponent", "4 1.5E+300 2.0000001\r\n", "1 行目の X 座標「1.5E+300」"},
        {"NUL",
         QByteArray("4  1.0\0"
                    "000 2.0000001\r\n",
                    22),
         "1 行目の X 座標"},
        {"unit in Y", "  1.000000 2.00m0001\r\n", "1 行目の Y 座標"},
        // 1,000 km and more: no drawing is that large.
        {"a thousand kilometres", "4 1000000. 2.0000001\r\n", "X 座標「1000000.」が大きすぎます"},
        {"too large", coordLines(3000), "座標.txt が大きすぎます"},
    };
    for (const Case& c : cases) {
        WriteBytes(coord(), c.bytes);
        const Result<QVector<NumoraPoint>> o = ReadNumoraCoordFile(coord(), kCp932);
        EXPECT_FALSE(o.ok()) << c.what;
        EXPECT_TRUE(o.error().contains(QString::fromUtf8(c.inMessage)))
            << c.what << ": " << o.error().toStdString();
    }
    QFile::remove(coord());
    const Result<QVector<NumoraPoint>> missing = ReadNumoraCoordFile(CoordFilePath(inst()), kCp932);
    EXPECT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().contains(QStringLiteral("がありません")));
}

// --- 縮尺.txt and roomName.txt --------------------------------------------

TEST_F(ExchangeFiles, ScaleFileMissingEmptyPresentAndRewritten) {
    const QString path = ScaleFilePath(inst());
    ScaleFileContent s = ReadScaleFile(path, kCp932);
    EXPECT_EQ(s.status, ScaleFileContent::Missing);
    EXPECT_TRUE(s.error.contains(QStringLiteral("縮尺.txt")));

    WriteBytes(path, QByteArray());
    EXPECT_EQ(ReadScaleFile(path, kCp932).status, ScaleFileContent::Empty);

    WriteBytes(path, "\r\n");
    s = ReadScaleFile(path, kCp932);
    EXPECT_EQ(s.status, ScaleFileContent::Present);
    EXPECT_TRUE(s.firstLine.isEmpty());

    ASSERT_TRUE(WriteScaleFile(path, QStringLiteral("200"), kCp932));
    EXPECT_EQ(ReadBytes(path), QByteArray("200\r\n"));
    s = ReadScaleFile(path, kCp932);
    EXPECT_EQ(s.status, ScaleFileContent::Present);
    EXPECT_EQ(s.firstLine, QStringLiteral("200"));

    // Only the first line is read; it must end within its bound.
    WriteBytes(path, "150\r" + QByteArray(5000, 'x'));
    s = ReadScaleFile(path, kCp932);
    EXPECT_EQ(s.status, ScaleFileContent::Present);
    EXPECT_EQ(s.firstLine, QStringLiteral("150"));
    WriteBytes(path, QByteArray(1024 * 1024, '9') + "\r\n");
    s = ReadScaleFile(path, kCp932);
    EXPECT_EQ(s.status, ScaleFileContent::TooLong);
    EXPECT_TRUE(s.firstLine.isEmpty());
    EXPECT_TRUE(s.error.contains(QStringLiteral("縮尺.txt の 1 行目が長すぎます")))
        << s.error.toStdString();
    EXPECT_LT(s.error.size(), 120) << "quotes only the start of the line";
    ASSERT_TRUE(WriteScaleFile(path, QStringLiteral("200"), kCp932));

    // A rewrite that cannot be done leaves the old file.
    const Result<> written =
        WriteScaleFile(inst() + QStringLiteral("nowhere/縮尺.txt"), QStringLiteral("50"), kCp932);
    EXPECT_FALSE(written);
    EXPECT_FALSE(written.error().isEmpty());
    EXPECT_EQ(ReadBytes(path), QByteArray("200\r\n"));
    EXPECT_EQ(QDir(inst()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(ExchangeFiles, RoomNameInShiftJisRoundTrips) {
    const Result<QString> r = ReadRoomNameFile(fixture("roomName-cp932.txt"), kCp932);
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    EXPECT_EQ(*r, QStringLiteral("会議室Ａ（北）"));

    // Written back in the code page, the first line is the fixture's bytes.
    const QString path = RoomNameFilePath(inst());
    ASSERT_TRUE(WriteTextLines(path, {*r}, kCp932));
    const QByteArray fixtureBytes = ReadBytes(fixture("roomName-cp932.txt"));
    EXPECT_EQ(ReadBytes(path), fixtureBytes.left(fixtureBytes.indexOf('\n') + 1));

    // The same name in a UTF-8 installation.
    const TextCodec utf8(QStringLiteral("UTF-8"));
    ASSERT_TRUE(WriteTextLines(path, {*r}, utf8));
    EXPECT_EQ(ReadRoomNameFile(path, utf8).value(), *r);
    EXPECT_NE(ReadRoomNameFile(path, kCp932).value(), *r);
}

TEST_F(ExchangeFiles, RoomNameMissingOrEmpty) {
    const QString path = RoomNameFilePath(inst());
    Result<QString> r = ReadRoomNameFile(path, kCp932);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains(QStringLiteral("roomName.txt がありません")))
        << r.error().toStdString();
    WriteBytes(path, QByteArray());
    r = ReadRoomNameFile(path, kCp932);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->isEmpty());
}

TEST_F(ExchangeFiles, StampTellsAReplacedFileFromAnUntouchedOne) {
    EXPECT_FALSE(StampFile(coord()).exists);
    WriteBytes(coord(), coordLines(2));
    const FileStamp before = StampFile(coord());
    EXPECT_TRUE(before.exists);
    EXPECT_EQ(StampFile(coord()), before);
    // Same size, renamed over: a new file all the same.
    const QString line = QStringLiteral("   1.00000  2.000001");
    ASSERT_TRUE(WriteCoordFileWhole(coord(), {line, line}, kCp932));
    EXPECT_EQ(StampFile(coord()).size, before.size);
    EXPECT_NE(StampFile(coord()), before);
}

} // namespace
