// The code-page codec, text lines in files, and replacing files whole: what
// may be replaced, by whom, and on a full disk.
#include "common/atomic_file.h"
#include "common/exchange_files.h"
#include "common/picturebox.h"
#include "common/registry.h"
#include "common/textcodec.h"
#include "file_systems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

void writeRaw(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
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
    writeRaw(path, "one\rtwo\r\n");
    TextFileContent c = ReadTextFile(path, sjis, 9);
    ASSERT_TRUE(c.ok) << c.error.toStdString();
    EXPECT_EQ(c.lines, QStringList({q("one"), q("two")}));

    // One byte more than allowed; a missing file; a folder; a FIFO (which
    // would block a plain open); a link to an endless device.
    c = ReadTextFile(path, sjis, 8);
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(c.error.contains(q("座標.txt が大きすぎます"))) << c.error.toStdString();
    EXPECT_TRUE(c.error.contains(q("8 バイトまで"))) << c.error.toStdString();
    EXPECT_TRUE(c.lines.isEmpty());
    c = ReadTextFile(dir.filePath(q("missing.txt")), sjis, 100);
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(c.error.contains(q("missing.txt がありません"))) << c.error.toStdString();
    const QString fifo = dir.filePath(q("fifo.txt"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath(q("zero.txt"));
    ASSERT_TRUE(QFile::link(q("/dev/zero"), zero));
    for (const QString& odd : {dir.path(), fifo, zero}) {
        c = ReadTextFile(odd, sjis, 100);
        EXPECT_FALSE(c.ok) << odd.toStdString();
        EXPECT_TRUE(c.error.contains(q("通常のファイルではありません"))) << c.error.toStdString();
    }
}

TEST(TextLines, WriteEndsEveryLineWithCrLfInTheCodePage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TextCodec sjis(q("CP932"));
    const QString path = dir.filePath(q("縮尺.txt"));
    QString error;
    ASSERT_TRUE(WriteTextLines(path, {q("100"), q("拾い")}, sjis, &error)) << error.toStdString();
    EXPECT_EQ(readAll(path), QByteArray("100\r\n\x8f\x45\x82\xa2\r\n"));
    EXPECT_EQ(ReadTextFile(path, sjis, 100).lines, QStringList({q("100"), q("拾い")}));
    EXPECT_EQ(CrLfLine(q("縮尺"), TextCodec(q("UTF-8"))), q("縮尺\r\n").toUtf8());

    // Replacing it leaves no temporary file behind.
    ASSERT_TRUE(WriteTextLines(path, {q("50")}, sjis));
    EXPECT_EQ(readAll(path), QByteArray("50\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({q("縮尺.txt")}));
    ASSERT_TRUE(WriteTextLines(path, {}, sjis));
    EXPECT_EQ(readAll(path), QByteArray());
}

TEST(TextLines, CodePageFromRegistry) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray saved = qgetenv("POINTRA_REGISTRY");
    const bool wasSet = qEnvironmentVariableIsSet("POINTRA_REGISTRY");
    const QString reg = dir.filePath(q("registry.reg"));
    qputenv("POINTRA_REGISTRY", QFile::encodeName(reg));
    auto withCodePage = [&](const char* line, QString* refusal = nullptr) {
        writeRaw(reg, QByteArray("Windows Registry Editor Version 5.00\n"
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

TEST(AtomicFile, FailureLeavesTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    // A folder that does not exist.
    EXPECT_FALSE(WriteFileAtomically(dir.filePath(q("no/such/folder/curPass.txt")), "x", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(q("no"))));

    // A write that fails half-way (the file size limit is hit): the old file
    // stays whole and no temporary file is left.
    const QString path = dir.filePath(q("curPass.txt"));
    writeRaw(path, "old contents\r\n");
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    error.clear();
    const bool written = WriteFileAtomically(path, QByteArray(8192, 'n'), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains(q("curPass.txt"))) << error.toStdString();
    EXPECT_EQ(readAll(path), QByteArray("old contents\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({q("curPass.txt")}));

    // The target is a folder: refused, the folder untouched.
    ASSERT_TRUE(QDir(dir.path()).mkdir(q("sub")));
    EXPECT_FALSE(WriteFileAtomically(dir.filePath(q("sub")), "x", &error));
    EXPECT_TRUE(QFileInfo(dir.filePath(q("sub"))).isDir());
}

TEST(AtomicFile, KeepsPermissionsAndFollowsLinks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(q("drawing.jpg.inf"));
    writeRaw(path, "old");
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(path, perms));
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(readAll(path), QByteArray("new"));
    const auto mask = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(path) & mask, perms);

    const QString link = dir.filePath(q("link.inf"));
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(WriteFileAtomically(link, "through link"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(path), QByteArray("through link"));

    // A new file in a relative path.
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const bool relative = WriteFileAtomically(q("relative.txt"), "r");
    QDir::setCurrent(oldCwd);
    EXPECT_TRUE(relative);
    EXPECT_EQ(readAll(dir.filePath(q("relative.txt"))), QByteArray("r"));
}

// What a file is, links not followed: 'f' regular, 'p' FIFO, 'c' device,
// 's' socket, 'd' folder, 'l' link, '-' none.
char KindOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return '-';
    return S_ISREG(st.st_mode)    ? 'f'
           : S_ISFIFO(st.st_mode) ? 'p'
           : S_ISCHR(st.st_mode)  ? 'c'
           : S_ISSOCK(st.st_mode) ? 's'
           : S_ISDIR(st.st_mode)  ? 'd'
           : S_ISLNK(st.st_mode)  ? 'l'
                                  : '?';
}

TEST(AtomicFile, OnlyRegularFilesAreReplacedOrEmptiedAndNoneIsWaitedOn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto at = [&](const char* name) { return dir.filePath(q(name)); };
    // A FIFO (a reader keeps a plain open for writing from waiting), a
    // device node of our own (as root), a socket, a folder, and links to
    // each of them.
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("fifo")).constData(), 0666), 0);
    const int reader = ::open(QFile::encodeName(at("fifo")).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod(QFile::encodeName(at("null")).constData(), S_IFCHR | 0666, makedev(1, 3)),
                  0);
    }
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray sockName = QFile::encodeName(at("socket"));
    ASSERT_LT(size_t(sockName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, sockName.constData(), size_t(sockName.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(q("folder")));
    QStringList odd{at("fifo"), at("socket"), at("folder")};
    if (root)
        odd << at("null");
    for (const QString& target : QStringList(odd)) {
        const QString link = target + q(".link");
        ASSERT_TRUE(QFile::link(target, link));
        odd << link;
    }
    QString kinds;
    for (const QString& path : odd) {
        QString error;
        EXPECT_FALSE(WriteFileAtomically(path, "x", &error)) << path.toStdString();
        EXPECT_TRUE(error.startsWith(q("ファイル「") + path)) << error.toStdString();
        EXPECT_TRUE(error.contains(q("通常のファイルではない"))) << error.toStdString();
        CoordFileWriter writer;
        EXPECT_FALSE(writer.open(path, &error)) << path.toStdString();
        EXPECT_TRUE(error.contains(q("通常のファイルではない"))) << error.toStdString();
    }
    for (const QString& path : odd)
        kinds += QLatin1Char(KindOf(QFileInfo(path).isSymLink() ? FollowLinks(path) : path));
    EXPECT_EQ(kinds, root ? q("psdcpsdc") : q("psdpsd"));
    // Nothing was written into the FIFO, and no temporary file was left.
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0);
    ::close(reader);
    ::close(sock);
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).filter(q("tmp")),
        QStringList());

    // A link leading nowhere within 40 steps; a dangling link makes its target.
    ASSERT_TRUE(QFile::link(at("loop1"), at("loop2")));
    ASSERT_TRUE(QFile::link(at("loop2"), at("loop1")));
    QString error;
    EXPECT_FALSE(WriteFileAtomically(at("loop1"), "x", &error));
    EXPECT_TRUE(error.contains(q("リンクをたどれない"))) << error.toStdString();
    ASSERT_TRUE(QFile::link(q("made.txt"), at("dangling")));
    EXPECT_TRUE(WriteFileAtomically(at("dangling"), "made"));
    EXPECT_EQ(readAll(at("made.txt")), QByteArray("made"));
}

TEST(AtomicFile, ReadOnlyFilesAreRefusedForAnOrdinaryUser) {
    if (IsRoot()) {
        const UserRun run = RerunAsOrdinaryUser();
        if (run.skipped)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        EXPECT_TRUE(run.passed) << run.output.toStdString();
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(q("plan.bmp.inf"));
    writeRaw(path, "calibrated\r\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    // The folder is writable: only the file's own mode forbids the replacement.
    QString atomic, coords;
    EXPECT_FALSE(WriteFileAtomically(path, "replaced", &atomic));
    CoordFileWriter writer;
    EXPECT_FALSE(writer.open(path, &coords));
    const QString refusal = q("ファイル「") + path + q("」は読み取り専用のため書き込めません");
    EXPECT_EQ(atomic, refusal);
    EXPECT_EQ(coords, refusal);
    EXPECT_EQ(readAll(path), QByteArray("calibrated\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({q("plan.bmp.inf")}));
}

TEST(AtomicFile, AFullDiskLeavesEveryOldFileWholeAndSaysSo) {
    SmallFileSystem disk(2 * 1024 * 1024);
    if (!disk.ok())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    const QString text = disk.path() + q("curPass.txt");
    const QString bitmap = disk.path() + q("curGazo.bmp");
    writeRaw(text, "old view\r\n");
    QImage small(40, 40, QImage::Format_RGB32);
    small.fill(Qt::white);
    ASSERT_TRUE(SaveImageAsBmp(small, bitmap));
    const QByteArray oldBitmap = readAll(bitmap);
    ASSERT_TRUE(disk.fill());
    const QString full = q("ディスクの空き容量が足りません");
    QString error;
    // Whole texts, a small bitmap (it fits in a write buffer), a file
    // streamed piece by piece.
    EXPECT_FALSE(WriteFileAtomically(text, QByteArray(100, 'n'), &error));
    EXPECT_EQ(error, q("ファイル「") + text + q("」を書き込めません: ") + full);
    small.fill(Qt::black);
    EXPECT_FALSE(SaveImageAsBmp(small, bitmap, &error));
    EXPECT_TRUE(error.endsWith(full)) << error.toStdString();
    AtomicReplacement streamed(text);
    ASSERT_TRUE(streamed.begin(&error)) << error.toStdString();
    const QByteArray piece(64 * 1024, 's');
    bool appended = true;
    for (int i = 0; i < 4 && appended; ++i)
        appended = streamed.append(piece.constData(), piece.size(), &error);
    EXPECT_FALSE(appended && streamed.commit(&error));
    EXPECT_TRUE(error.endsWith(full)) << error.toStdString();
    EXPECT_EQ(readAll(text), QByteArray("old view\r\n"));
    EXPECT_EQ(readAll(bitmap), oldBitmap);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({q(".filler"), q("curGazo.bmp"), q("curPass.txt")}));
    EXPECT_TRUE(FolderIsFull(disk.path()));
    disk.unfill();
    EXPECT_FALSE(FolderIsFull(disk.path()));
    EXPECT_TRUE(WriteFileAtomically(text, "new view\r\n"));
}

} // namespace
