// The code-page codec and text lines in files (replacing files whole is
// tested in atomic_file_test.cpp).
#include "common/core/installation.h"
#include "common/core/registry.h"
#include "common/core/textcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "file_systems.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

TEST(TextCodec, ShiftJisRoundTrip) {
    const TextCodec sjis(q("CP932"));
    ASSERT_TRUE(sjis.isValid());
    EXPECT_EQ(sjis.name(), q("CP932"));
    EXPECT_EQ(sjis.encode(q("拾い")), QByteArray("\x8f\x45\x82\xa2"));
    for (const char* text : {"拾い", "縮尺.txt", "居間-2", "見積用画像/", "ｍ", "～",
                             "天井高（mm）", "ASCII 1.500000 -0.75000 1"}) {
        const QByteArray bytes = sjis.encode(q(text));
        EXPECT_EQ(sjis.decode(bytes), q(text)) << text;
    }
    // ASCII stays byte for byte, backslash and tilde included.
    EXPECT_EQ(sjis.encode(q("a\\b~c")), QByteArray("a\\b~c"));
}

TEST(TextCodec, NamesAndFallbacks) {
    EXPECT_EQ(TextCodec(q("Shift_JIS")).name(), q("CP932"));
    EXPECT_EQ(TextCodec(q("sjis")).name(), q("CP932"));
    EXPECT_EQ(TextCodec(q("utf8")).name(), q("UTF-8"));
    EXPECT_TRUE(TextCodec(q("UTF-8")).isUtf8());
    EXPECT_EQ(TextCodec().name(), q("CP932"));
    // Only the two code pages the exchange files are read in: another name,
    // known to iconv or not, is invalid and works as CP932.
    for (const char* other : {"EUC-JP", "UCS-4", "UTF-16", "NO-SUCH-CODE-PAGE", ""}) {
        const TextCodec codec(q(other));
        EXPECT_FALSE(codec.isValid()) << other;
        EXPECT_EQ(codec.name(), q("CP932")) << other;
        EXPECT_EQ(codec.encode(q("拾い")), QByteArray("\x8f\x45\x82\xa2")) << other;
    }
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks) {
    const TextCodec sjis(q("CP932"));
    EXPECT_EQ(sjis.encode(q("a😀b")), QByteArray("a?b"));
    EXPECT_EQ(sjis.encode(q("한국")), QByteArray("??"));
    EXPECT_EQ(sjis.encode(q("é拾")), QByteArray("?\x8f\x45"));
}

TEST(TextCodec, InvalidBytesDecodeAsReplacementCharacter) {
    const TextCodec sjis(q("CP932"));
    const QString bad = QString(QChar(0xFFFD));
    EXPECT_EQ(sjis.decode(QByteArray("A\xff"
                                     "B")),
              q("A") + bad + q("B"));
    // A lead byte cut off at the end.
    EXPECT_EQ(sjis.decode(QByteArray("\x8f\x45\x82")), q("拾") + bad);
    EXPECT_EQ(sjis.decode(QByteArray("x\x80")), q("x") + bad);
    // Any bytes at all: no crash, every byte accounted for.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    EXPECT_FALSE(sjis.decode(all + all).isEmpty());
    const TextCodec utf8(q("UTF-8"));
    EXPECT_EQ(utf8.decode(QByteArray("a\xff")), q("a") + bad);
}

TEST(TextLines, EveryLineEndAndALastLineWithoutEnd) {
    const TextCodec sjis(q("CP932"));
    const TextCodec utf8(q("UTF-8"));
    struct Case {
        QByteArray bytes;
        QStringList lines;
    };
    const Case cases[] = {
        {"  1.500000 -0.750001\r\n  2.000000  0.000004\nlast",
         {q("  1.500000 -0.750001"), q("  2.000000  0.000004"), q("last")}},
        {"one\r\n\r\ntwo\r\n", {q("one"), q(""), q("two")}},
        // Lone CRs, as an old editor leaves them; CR CR is an empty line.
        {"one\rtwo\r\rthree\r", {q("one"), q("two"), q(""), q("three")}},
        {"a\n\rb", {q("a"), q(""), q("b")}},
        {"", {}},
        {"\r\n", {q("")}},
        {sjis.encode(q("居間")) + "\r\n", {q("居間")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitTextLines(c.bytes, sjis), c.lines) << c.bytes.toStdString();
    // The UTF-8 byte-order mark is not part of the first line, whatever the
    // code page: read as CP932 it would shift every column.
    EXPECT_EQ(SplitTextLines(QByteArray("\xEF\xBB\xBF") + q("拾い").toUtf8() + "\n", utf8),
              QStringList({q("拾い")}));
    EXPECT_EQ(SplitTextLines("\xEF\xBB\xBF  1.500000 -0.750001\r\n", sjis),
              QStringList({q("  1.500000 -0.750001")}));
}

TEST(TextLines, FilesAreReadOnlyWhenRegularAndSmallEnough) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TextCodec sjis(q("CP932"));
    const QString path = dir.filePath(q("座標.txt"));
    WriteBytes(path, "one\rtwo\r\n");
    Result<QStringList> c = ReadTextFile(path, sjis, 9);
    ASSERT_TRUE(c.ok()) << c.error().toStdString();
    EXPECT_EQ(*c, QStringList({q("one"), q("two")}));

    // One byte more than allowed; a missing file; a folder; a FIFO (which
    // would block a plain open); a link to an endless device.
    c = ReadTextFile(path, sjis, 8);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.error().contains(q("座標.txt が大きすぎます"))) << c.error().toStdString();
    EXPECT_TRUE(c.error().contains(q("8 バイトまで"))) << c.error().toStdString();
    c = ReadTextFile(dir.filePath(q("missing.txt")), sjis, 100);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.error().contains(q("missing.txt がありません"))) << c.error().toStdString();
    const QString fifo = dir.filePath(q("fifo.txt"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath(q("zero.txt"));
    ASSERT_TRUE(QFile::link(q("/dev/zero"), zero));
    for (const QString& odd : {dir.path(), fifo, zero}) {
        c = ReadTextFile(odd, sjis, 100);
        EXPECT_FALSE(c.ok()) << odd.toStdString();
        EXPECT_TRUE(c.error().contains(q("通常のファイルではありません")))
            << c.error().toStdString();
    }
}

TEST(TextLines, WriteEndsEveryLineWithCrLfInTheCodePage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TextCodec sjis(q("CP932"));
    const QString path = dir.filePath(q("縮尺.txt"));
    const Result<> written = WriteTextLines(path, {q("100"), q("拾い")}, sjis);
    ASSERT_TRUE(written) << written.error().toStdString();
    EXPECT_EQ(ReadBytes(path), QByteArray("100\r\n\x8f\x45\x82\xa2\r\n"));
    EXPECT_EQ(ReadTextFile(path, sjis, 100).value(), QStringList({q("100"), q("拾い")}));
    EXPECT_EQ(CrLfLine(q("縮尺"), TextCodec(q("UTF-8"))), q("縮尺\r\n").toUtf8());

    // Replacing it leaves no temporary file behind.
    ASSERT_TRUE(WriteTextLines(path, {q("50")}, sjis));
    EXPECT_EQ(ReadBytes(path), QByteArray("50\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({q("縮尺.txt")}));
    ASSERT_TRUE(WriteTextLines(path, {}, sjis));
    EXPECT_EQ(ReadBytes(path), QByteArray());
}

TEST(TextLines, CodePageFromRegistry) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray saved = qgetenv("POINTRA_REGISTRY");
    const bool wasSet = qEnvironmentVariableIsSet("POINTRA_REGISTRY");
    const QString reg = dir.filePath(q("registry.reg"));
    qputenv("POINTRA_REGISTRY", QFile::encodeName(reg));
    auto withCodePage = [&](const char* line, QString* refusal = nullptr) {
        WriteBytes(reg, QByteArray("Windows Registry Editor Version 5.00\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n") +
                            line + "\n");
        RegistryFile::reload();
        QString why;
        const QString name = TextCodec::fromRegistry(&why).name();
        EXPECT_EQ(RegistryStartProblem(), why) << line;
        if (refusal)
            *refusal = why;
        else
            EXPECT_TRUE(why.isEmpty()) << line << ": " << why.toStdString();
        return name;
    };
    EXPECT_EQ(withCodePage(""), q("CP932"));
    EXPECT_EQ(withCodePage("\"CodePage\"=\"UTF-8\""), q("UTF-8"));
    EXPECT_EQ(withCodePage("\"CodePage\"=\"cp932\""), q("CP932"));
    EXPECT_EQ(withCodePage("\"CodePage\"=\"Shift_JIS\""), q("CP932"));
    EXPECT_EQ(withCodePage("\"CodePage\"=\"\""), q("CP932"));
    // Other code pages are refused, with the file and the value named.
    QString refusal;
    EXPECT_EQ(withCodePage("\"CodePage\"=\"UCS-4\"", &refusal), q("CP932"));
    EXPECT_TRUE(refusal.contains(reg)) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains(q("「UCS-4」には対応していません"))) << refusal.toStdString();
    EXPECT_EQ(withCodePage("\"CodePage\"=\"KLINGON\"", &refusal), q("CP932"));
    EXPECT_FALSE(refusal.isEmpty());
    if (wasSet)
        qputenv("POINTRA_REGISTRY", saved);
    else
        qunsetenv("POINTRA_REGISTRY");
    RegistryFile::reload();
}

} // namespace
