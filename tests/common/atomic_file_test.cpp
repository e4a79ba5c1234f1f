// Replacing files whole and emptying 座標.txt: what may be replaced, by whom,
// through which links, what a replacement keeps of the old file, on a full
// disk, and in drawing folders several real users share.
#include "common/core/atomic_file.h"
#include "common/core/exchange_files.h"
#include "common/core/file_read.h"
#include "common/ui/picturebox.h"
#include "file_systems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

QByteArray n(const QString& path) {
    return QFile::encodeName(path);
}

// What a file is, links not followed: 'f' regular, 'p' FIFO, 'c' device,
// 's' socket, 'd' folder, 'l' link, '-' none.
char KindOf(const QString& path) {
    struct stat st {};
    if (::lstat(n(path).constData(), &st) != 0)
        return '-';
    return S_ISREG(st.st_mode)    ? 'f'
           : S_ISFIFO(st.st_mode) ? 'p'
           : S_ISCHR(st.st_mode)  ? 'c'
           : S_ISSOCK(st.st_mode) ? 's'
           : S_ISDIR(st.st_mode)  ? 'd'
           : S_ISLNK(st.st_mode)  ? 'l'
                                  : '?';
}

// Every entry of a folder, hidden ones too.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

QString OwnerOf(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? q(pw->pw_name) : QString::number(uid);
}

QString GroupOf(gid_t gid) {
    const struct group* gr = ::getgrgid(gid);
    return gr ? q(gr->gr_name) : QString::number(gid);
}

// A file as one line: kind, owner:group, mode, links, its user.* attributes
// and its contents.
QString Describe(const QString& path) {
    struct stat st {};
    if (::lstat(n(path).constData(), &st) != 0)
        return q("none");
    QString line = QString(QLatin1Char(KindOf(path))) + u' ' + OwnerOf(st.st_uid) + u':' +
                   GroupOf(st.st_gid) + u' ' +
                   QString::number(st.st_mode & 07777, 8).rightJustified(4, u'0') +
                   QStringLiteral(" x") + QString::number(st.st_nlink);
    char value[256];
    const ssize_t got = ::lgetxattr(n(path).constData(), "user.drawing", value, sizeof value);
    if (got >= 0)
        line += QStringLiteral(" user.drawing=") + QString::fromUtf8(value, int(got));
    if (S_ISREG(st.st_mode))
        line += QStringLiteral(" [") + QString::fromUtf8(ReadBytes(path)) + u']';
    return line;
}

// The ACL as getfacl shows it, without the header.
QString AclOf(const QString& path) {
    QProcess p;
    p.start(q("getfacl"), {q("-cp"), path});
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool RunTool(const QString& program, const QStringList& args) {
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    QProcess p;
    p.start(program, args);
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void SetAttribute(const QString& path, const char* name, const QByteArray& value) {
    ASSERT_EQ(::lsetxattr(n(path).constData(), name, value.constData(), size_t(value.size()), 0), 0)
        << std::strerror(errno);
}

void MakeLink(const QString& target, const QString& link) {
    ASSERT_EQ(::symlink(n(target).constData(), n(link).constData()), 0) << link.toStdString();
}

TEST(AtomicFile, FailureLeavesTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder that does not exist.
    const Result<> noFolder =
        WriteFileAtomically(dir.filePath(q("no/such/folder/curPass.txt")), "x");
    EXPECT_FALSE(noFolder);
    EXPECT_FALSE(noFolder.error().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(q("no"))));

    // A write that fails half-way (the file size limit is hit): the old file
    // stays whole and no temporary file is left.
    const QString path = dir.filePath(q("curPass.txt"));
    WriteBytes(path, "old contents\r\n");
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result<> written = WriteFileAtomically(path, QByteArray(8192, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_TRUE(written.error().contains(q("curPass.txt"))) << written.error().toStdString();
    EXPECT_EQ(ReadBytes(path), QByteArray("old contents\r\n"));
    EXPECT_EQ(Entries(dir.path()), QStringList({q("curPass.txt")}));

    // The target is a folder: refused, the folder untouched.
    ASSERT_TRUE(QDir(dir.path()).mkdir(q("sub")));
    EXPECT_FALSE(WriteFileAtomically(dir.filePath(q("sub")), "x"));
    EXPECT_TRUE(QFileInfo(dir.filePath(q("sub"))).isDir());
}

TEST(AtomicFile, KeepsModeAttributesAndAclAndFollowsLinksAsTheKernelDoes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(q("drawing.jpg.inf"));
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(n(path).constData(), 0640), 0);
    SetAttribute(path, "user.drawing", "page 2");
    const bool haveAcl = RunTool(q("setfacl"), {q("-m"), q("u:nobody:rw"), path});
    const QString acl = haveAcl ? AclOf(path) : QString();
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    const QString me = OwnerOf(::geteuid()) + u':' + GroupOf(::getegid());
    // An ACL shows its mask in the group's bits of the mode.
    EXPECT_EQ(Describe(path), QStringLiteral("f %1 %2 x1 user.drawing=page 2 [new]")
                                  .arg(me, haveAcl ? q("0660") : q("0640")));
    if (haveAcl)
        EXPECT_EQ(AclOf(path), acl);
    else
        std::cout << "setfacl is missing: the ACL was not tried\n";

    // A link in a folder of the user's own is followed: its target is
    // replaced, the link stays.
    const QString link = dir.filePath(q("link.inf"));
    MakeLink(path, link);
    ASSERT_TRUE(WriteFileAtomically(link, "through link"));
    EXPECT_EQ(KindOf(link), 'l');
    EXPECT_EQ(ReadBytes(path), QByteArray("through link"));

    // A relative link holding ".." in a folder reached through a linked
    // folder leads where the kernel takes it (real/target.txt), not where
    // the text would (target.txt beside "linked").
    const QString root = dir.path() + u'/';
    ASSERT_TRUE(QDir(dir.path()).mkpath(q("real/sub")));
    MakeLink(q("real/sub"), root + q("linked"));
    MakeLink(q("../target.txt"), root + q("real/sub/file.txt"));
    MakeLink(q("../fifo"), root + q("real/sub/pipe"));
    ASSERT_EQ(::mkfifo(n(root + q("real/fifo")).constData(), 0600), 0);
    WriteBytes(root + q("target.txt"), "decoy");
    WriteBytes(root + q("real/target.txt"), "old");
    EXPECT_EQ(FollowLinks(root + q("linked/file.txt")), root + q("real/target.txt"));
    EXPECT_TRUE(CheckWritingTo(root + q("linked/file.txt")));
    ASSERT_TRUE(WriteFileAtomically(root + q("linked/file.txt"), "kernel's"));
    EXPECT_EQ(ReadBytes(root + q("real/target.txt")), QByteArray("kernel's"));
    EXPECT_EQ(ReadBytes(root + q("target.txt")), QByteArray("decoy"));
    const QString pipe = root + q("linked/pipe");
    const QString refusal =
        q("ファイル「") + pipe + q("」→「") + root +
        q("real/fifo」は通常のファイルではない（名前付きパイプ）ため書き込めません");
    const Result<> throughPipe = WriteFileAtomically(pipe, "x");
    EXPECT_FALSE(throughPipe);
    EXPECT_EQ(throughPipe.error(), refusal);
    EXPECT_EQ(CheckWritingTo(pipe).error(), refusal);

    // A new file in a relative path.
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const Result<> relative = WriteFileAtomically(q("relative.txt"), "r");
    QDir::setCurrent(oldCwd);
    EXPECT_TRUE(relative);
    EXPECT_EQ(ReadBytes(dir.filePath(q("relative.txt"))), QByteArray("r"));
    EXPECT_EQ(Entries(dir.path()).filter(q(".tmp")), QStringList());
}

TEST(AtomicFile, OnlyRegularFilesAreReplacedOrEmptiedAndNoneIsWaitedOn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto at = [&](const char* name) { return dir.filePath(q(name)); };
    // A FIFO with a reader (a plain open for writing would not wait), one
    // without (it would wait for ever), a device node of our own (as root),
    // a socket, a folder, and links to each of them.
    ASSERT_EQ(::mkfifo(n(at("fifo")).constData(), 0666), 0);
    ASSERT_EQ(::mkfifo(n(at("lonely")).constData(), 0666), 0);
    const int reader = ::open(n(at("fifo")).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod(n(at("null")).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray sockName = n(at("socket"));
    ASSERT_LT(size_t(sockName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, sockName.constData(), size_t(sockName.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(q("folder")));
    QStringList odd{at("fifo"), at("lonely"), at("socket"), at("folder")};
    if (root)
        odd << at("null");
    for (const QString& target : QStringList(odd)) {
        const QString link = target + q(".link");
        MakeLink(target, link);
        odd << link;
    }
    // Should anything wait on the FIFO without a reader, the test ends here.
    ::alarm(20);
    QString kinds;
    for (const QString& path : odd) {
        const QString followed = QFileInfo(path).isSymLink() ? FollowLinks(path) : path;
        const Result<> written = WriteFileAtomically(path, "x");
        const QString& error = written.error();
        EXPECT_FALSE(written) << path.toStdString();
        EXPECT_TRUE(error.startsWith(q("ファイル「") + path)) << error.toStdString();
        EXPECT_TRUE(error.contains(q("通常のファイルではない"))) << error.toStdString();
        EXPECT_EQ(CheckWritingTo(path).error(), error);
        CoordFileWriter writer;
        const Result<> opened = writer.open(path);
        EXPECT_FALSE(opened) << path.toStdString();
        EXPECT_TRUE(opened.error().contains(q("通常のファイルではない")))
            << opened.error().toStdString();
        kinds += QLatin1Char(KindOf(followed));
    }
    ::alarm(0);
    EXPECT_EQ(kinds, root ? q("ppsdcppsdc") : q("ppsdppsd"));
    // Nothing was written into the FIFO, and no temporary file was left.
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0);
    ::close(reader);
    ::close(sock);
    EXPECT_EQ(Entries(dir.path()).filter(q("tmp")), QStringList());

    // A link leading nowhere within 40 steps; a dangling link makes its target.
    MakeLink(at("loop1"), at("loop2"));
    MakeLink(at("loop2"), at("loop1"));
    const Result<> looped = WriteFileAtomically(at("loop1"), "x");
    EXPECT_FALSE(looped);
    EXPECT_EQ(looped.error(),
              q("ファイル「") + at("loop1") + q("」のリンクをたどれないため書き込めません"));
    EXPECT_EQ(FollowLinks(at("loop1")), QString());
    MakeLink(q("made.txt"), at("dangling"));
    EXPECT_TRUE(WriteFileAtomically(at("dangling"), "made"));
    EXPECT_EQ(ReadBytes(at("made.txt")), QByteArray("made"));
    EXPECT_EQ(KindOf(at("dangling")), 'l');
}

// Run as an ordinary user, for whom the mode bits count.
TEST(AtomicFile, WhatTheUserMadeReadOnlyOrMayNotWriteStays) {
    if (IsRoot()) {
        const UserRun run = RerunAsOrdinaryUser();
        if (run.skipped)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        EXPECT_TRUE(run.passed) << run.output.toStdString();
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A file the user made read-only stays as it is, written whole or in
    // place (座標.txt); another user's is replaced (see SharedFolders).
    const QString path = dir.filePath(q("plan.bmp.inf"));
    WriteBytes(path, "calibrated\r\n");
    ASSERT_EQ(::chmod(n(path).constData(), 0440), 0);
    const QString readOnly = q("ファイル「") + path + q("」は読み取り専用のため書き込めません");
    EXPECT_EQ(CheckWritingTo(path).error(), readOnly);
    const Result<> replaced = WriteFileAtomically(path, "replaced");
    EXPECT_FALSE(replaced);
    EXPECT_EQ(replaced.error(), readOnly);
    CoordFileWriter writer;
    const Result<> opened = writer.open(path);
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.error(), readOnly);
    const QString me = OwnerOf(::geteuid()) + u':' + GroupOf(::getegid());
    EXPECT_EQ(Describe(path), QStringLiteral("f %1 0440 x1 [calibrated\r\n]").arg(me));

    // A folder the user may not write: refused, naming the folder, its file
    // as it was.
    const QString locked = dir.filePath(q("locked"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(q("locked")));
    const QString inside = locked + q("/plan.takeoff");
    WriteBytes(inside, "kept");
    ASSERT_EQ(::chmod(n(locked).constData(), 0555), 0);
    const QString refusal = q("ファイル「") + inside + q("」はフォルダ「") + locked +
                            q("」に書き込む権限がないため書き込めません");
    EXPECT_EQ(CheckWritingTo(inside).error(), refusal);
    const Result<> lost = WriteFileAtomically(inside, "lost");
    EXPECT_FALSE(lost);
    EXPECT_EQ(lost.error(), refusal);
    EXPECT_EQ(ReadBytes(inside), QByteArray("kept"));
    EXPECT_EQ(Entries(locked), QStringList({q("plan.takeoff")}));
    ::chmod(n(locked).constData(), 0755);
    EXPECT_EQ(Entries(dir.path()), QStringList({q("locked"), q("plan.bmp.inf")}));
}

TEST(AtomicFile, HardLinksAreRefusedAndLeftoversOfCutOffReplacementsGo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + u'/';
    // A file with a second name: refused, naming it; both names unchanged.
    const QString one = root + q("plan.takeoff"), two = root + q("copy.takeoff");
    WriteBytes(one, "shared");
    ASSERT_EQ(::link(n(one).constData(), n(two).constData()), 0);
    const QString refusal = q("ファイル「") + one +
                            q("」には別の名前（ハードリンク）もあり、置き換えるとその名前と別のファ"
                              "イルになるため書き込めません");
    EXPECT_EQ(CheckWritingTo(one).error(), refusal);
    const Result<> split = WriteFileAtomically(one, "split");
    EXPECT_FALSE(split);
    EXPECT_EQ(split.error(), refusal);
    EXPECT_EQ(Describe(one), Describe(two));
    EXPECT_EQ(ReadBytes(two), QByteArray("shared"));
    ASSERT_TRUE(QFile::remove(two));

    // Temporary files left by cut-off replacements of this name go with the
    // next one; one a replacement under way holds, those of other names,
    // and names that only look alike stay.
    const QString path = root + q("curPass.txt");
    WriteBytes(path, "old");
    for (const char* left : {".curPass.txt.tmpAb3xY9", ".curPass.txt.tmp000000"})
        WriteBytes(root + q(left), "cut off");
    for (const char* other :
         {".other.txt.tmpAb3xY9", ".curPass.txt.tmpAb3", ".curPass.txt.tmp12345!"})
        WriteBytes(root + q(other), "not ours");
    AtomicReplacement underWay(path);
    const Result<> begun = underWay.begin();
    ASSERT_TRUE(begun) << begun.error().toStdString();
    ASSERT_TRUE(underWay.append("first", 5));
    const QString live = QFileInfo(underWay.temporaryPath()).fileName();
    EXPECT_EQ(underWay.temporaryPath(), root + live);
    EXPECT_TRUE(live.startsWith(q(".curPass.txt.tmp")) && live.size() == 22) << live.toStdString();
    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(ReadBytes(path), QByteArray("second"));
    QStringList expected{q(".curPass.txt.tmp12345!"), q(".curPass.txt.tmpAb3"), live,
                         q(".other.txt.tmpAb3xY9"),   q("curPass.txt"),         q("plan.takeoff")};
    expected.sort();
    EXPECT_EQ(Entries(dir.path()), expected);
    const Result<> committed = underWay.commit();
    ASSERT_TRUE(committed) << committed.error().toStdString();
    EXPECT_EQ(ReadBytes(path), QByteArray("first"));
    expected.removeOne(live);
    EXPECT_EQ(Entries(dir.path()), expected);

    // Another user's leftover is not this user's to remove.
    if (IsRoot()) {
        const QString foreign = root + q(".curPass.txt.tmpZZZZZZ");
        WriteBytes(foreign, "theirs");
        ASSERT_EQ(::chown(n(foreign).constData(), 65534, 65534), 0);
        ASSERT_TRUE(WriteFileAtomically(path, "third"));
        EXPECT_EQ(Describe(foreign), q("f nobody:") + GroupOf(65534) + q(" 0644 x1 [theirs]"));
    }
}

TEST(AtomicFile, AFullDiskLeavesEveryOldFileWholeAndSaysSo) {
    SmallFileSystem disk(2 * 1024 * 1024);
    if (!disk.ok())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    const QString text = disk.path() + q("curPass.txt");
    const QString bitmap = disk.path() + q("curGazo.bmp");
    WriteBytes(text, "old view\r\n");
    QImage small(40, 40, QImage::Format_RGB32);
    small.fill(Qt::white);
    ASSERT_TRUE(SaveImageAsBmp(small, bitmap));
    const QByteArray oldBitmap = ReadBytes(bitmap);
    ASSERT_TRUE(disk.fill());
    const QString full = q("ディスクの空き容量が足りません");
    // Whole texts, a small bitmap (it fits in a write buffer), a file
    // streamed piece by piece.
    const Result<> texts = WriteFileAtomically(text, QByteArray(100, 'n'));
    EXPECT_FALSE(texts);
    EXPECT_EQ(texts.error(), q("ファイル「") + text + q("」を書き込めません: ") + full);
    small.fill(Qt::black);
    const Result<> saved = SaveImageAsBmp(small, bitmap);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.error().endsWith(full)) << saved.error().toStdString();
    AtomicReplacement streamed(text);
    Result<> step = streamed.begin();
    ASSERT_TRUE(step) << step.error().toStdString();
    const QByteArray piece(64 * 1024, 's');
    for (int i = 0; i < 4 && step; ++i)
        step = streamed.append(piece.constData(), piece.size());
    if (step)
        step = streamed.commit();
    EXPECT_FALSE(step);
    EXPECT_TRUE(step.error().endsWith(full)) << step.error().toStdString();
    EXPECT_EQ(ReadBytes(text), QByteArray("old view\r\n"));
    EXPECT_EQ(ReadBytes(bitmap), oldBitmap);
    EXPECT_EQ(Entries(disk.path()),
              QStringList({q(".filler"), q("curGazo.bmp"), q("curPass.txt")}));
    EXPECT_TRUE(FolderIsFull(disk.path()));
    disk.unfill();
    EXPECT_FALSE(FolderIsFull(disk.path()));
    EXPECT_TRUE(WriteFileAtomically(text, "new view\r\n"));
}

// --- Drawing folders several estimators share ------------------------------

// Runs `work` in a child process as estimator `i` (their own group, the
// shared one as a supplementary group) and gives back what it returned.
QString RunAs(const Estimators& e, int i, const std::function<QString()>& work) {
    int out[2];
    if (::pipe(out) != 0)
        return q("<no pipe>");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        const gid_t groups[] = {e.shared};
        if (::setgroups(1, groups) != 0 || ::setgid(e.own[i]) != 0 || ::setuid(e.uid[i]) != 0)
            ::_exit(2);
        ::umask(022);
        const QByteArray answer = work().toUtf8();
        const ssize_t written = ::write(out[1], answer.constData(), size_t(answer.size()));
        ::_exit(written == answer.size() ? 0 : 3);
    }
    ::close(out[1]);
    QByteArray answer;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, got);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return q("<child failed>");
    return QString::fromUtf8(answer);
}

QString Outcome(bool ok, const QString& error) {
    return ok ? q("ok") : error;
}

template <typename T> QString Outcome(const Result<T>& result) {
    return Outcome(result.ok(), result.error());
}

class SharedFolders : public ::testing::Test {
protected:
    void SetUp() override {
        if (!IsRoot())
            GTEST_SKIP() << "the shared folders need real users (run as root)";
        est = MakeEstimators();
        if (!est.ok)
            GTEST_SKIP() << "cannot make the test users (groupadd/useradd)";
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(::chmod(n(dir.path()).constData(), 0755), 0);
        root = dir.path() + u'/';
    }

    // A folder of root's, the shared group's, with this mode.
    QString folder(const char* name, mode_t mode) {
        const QString path = root + q(name);
        EXPECT_TRUE(QDir(root).mkdir(q(name)));
        EXPECT_EQ(::chown(n(path).constData(), 0, est.shared), 0);
        EXPECT_EQ(::chmod(n(path).constData(), mode), 0);
        return path + u'/';
    }

    void own(const QString& path, uid_t uid, gid_t gid, mode_t mode) {
        ASSERT_EQ(::lchown(n(path).constData(), uid, gid), 0);
        if (KindOf(path) != 'l') {
            ASSERT_EQ(::chmod(n(path).constData(), mode), 0);
        }
    }

    QString who(int i) const { return OwnerOf(est.uid[i]); }

    Estimators est;
    QTemporaryDir dir;
    QString root;
};

TEST_F(SharedFolders, ReplacementsKeepOwnerGroupModeAclAndAttributesAsFarAsTheWriterMay) {
    if (QStandardPaths::findExecutable(q("setfacl")).isEmpty())
        GTEST_SKIP() << "setfacl is missing (Debian package acl)";
    const QString setgid = folder("drawings", 02775);
    const QString plain = folder("plain", 0775);
    const QString share = GroupOf(est.shared);
    // An estimator's file with an ACL for the other and an attribute.
    const QString inf = setgid + q("plan.bmp.inf");
    WriteBytes(inf, "est1's");
    own(inf, est.uid[0], est.own[0], 0640);
    SetAttribute(inf, "user.drawing", "page 1");
    ASSERT_TRUE(RunTool(q("setfacl"), {q("-m"), QStringLiteral("u:%1:rw").arg(who(1)), inf}));
    const QString acl = AclOf(inf);

    // Root keeps owner and group (not the setgid folder's group).
    ASSERT_TRUE(WriteFileAtomically(inf, "root's"));
    EXPECT_EQ(Describe(inf),
              QStringLiteral("f %1:%1 0660 x1 user.drawing=page 1 [root's]").arg(who(0)));
    EXPECT_EQ(AclOf(inf), acl);

    // The other estimator: the file becomes theirs, in the setgid folder's
    // group; mode, ACL and attribute kept.
    EXPECT_EQ(RunAs(est, 1, [&] { return Outcome(WriteFileAtomically(inf, "est2's")); }), q("ok"));
    EXPECT_EQ(Describe(inf),
              QStringLiteral("f %1:%2 0660 x1 user.drawing=page 1 [est2's]").arg(who(1), share));
    EXPECT_EQ(AclOf(inf), acl);
    // A file the other made with the usual umask, read-only to this one,
    // is replaced all the same and keeps its mode.
    const QString takeoff = setgid + q("plan.bmp.takeoff");
    WriteBytes(takeoff, "est1's");
    own(takeoff, est.uid[0], est.shared, 0644);
    EXPECT_EQ(RunAs(est, 1, [&] { return Outcome(WriteFileAtomically(takeoff, "est2's")); }),
              q("ok"));
    EXPECT_EQ(Describe(takeoff), QStringLiteral("f %1:%2 0644 x1 [est2's]").arg(who(1), share));

    // In a folder without setgid the writer keeps the group they belong to,
    // and cannot keep one they do not.
    const QString mine = plain + q("room.takeoff"), theirs = plain + q("hall.takeoff");
    WriteBytes(mine, "a");
    own(mine, est.uid[0], est.shared, 0664);
    WriteBytes(theirs, "b");
    own(theirs, est.uid[0], est.own[0], 0666);
    // An attribute only root may set: not lost silently, the file refused.
    const QString marked = plain + q("marked.takeoff");
    WriteBytes(marked, "marked");
    own(marked, est.uid[0], est.shared, 0664);
    SetAttribute(marked, "security.pointra", "x");
    EXPECT_EQ(RunAs(est, 1,
                    [&] {
                        return Outcome(WriteFileAtomically(mine, "A")) + u'\n' +
                               Outcome(WriteFileAtomically(theirs, "B")) + u'\n' +
                               Outcome(WriteFileAtomically(marked, "C"));
                    }),
              q("ok\nok\nファイル「") + marked +
                  q("」の拡張属性「security.pointra」を新しいファイルに引き継げないため書き込めま"
                    "せん: 書き込みの権限がありません"));
    EXPECT_EQ(Describe(mine), QStringLiteral("f %1:%2 0664 x1 [A]").arg(who(1), share));
    EXPECT_EQ(Describe(theirs), QStringLiteral("f %1:%1 0666 x1 [B]").arg(who(1)));
    EXPECT_EQ(Describe(marked), QStringLiteral("f %1:%2 0664 x1 [marked]").arg(who(0), share));
    EXPECT_EQ(Entries(plain),
              QStringList({q("hall.takeoff"), q("marked.takeoff"), q("room.takeoff")}));
}

TEST_F(SharedFolders, LinksOthersPlantedAreNeverWrittenThrough) {
    const QString group = folder("drawings", 02775);
    const QString sticky = folder("sticky", 03775);
    // What the links point to: files the second estimator could write.
    const QString victims = folder("victims", 0755);
    QStringList targets;
    for (const char* name : {"a", "b", "c", "d", "fifo"}) {
        const QString target = victims + q(name);
        if (q(name) == q("fifo"))
            ASSERT_EQ(::mkfifo(n(target).constData(), 0666), 0);
        else
            WriteBytes(target, "precious");
        own(target, est.uid[0], est.own[0], 0666);
        targets << target;
    }
    const QString share = GroupOf(est.shared);
    // The first estimator plants links in the shared folders, and a FIFO.
    const QString takeoff = group + q("plan.takeoff"), coords = group + q("座標.txt");
    const QString stuckTakeoff = sticky + q("plan.takeoff"), stuckCoords = sticky + q("座標.txt");
    const QString fifoLink = group + q("pipe.txt"), fifo = group + q("fifo.txt");
    MakeLink(targets[0], takeoff);
    MakeLink(targets[1], coords);
    MakeLink(targets[2], stuckTakeoff);
    MakeLink(targets[3], stuckCoords);
    MakeLink(targets[4], fifoLink);
    ASSERT_EQ(::mkfifo(n(fifo).constData(), 0666), 0);
    for (const QString& planted : {takeoff, coords, stuckTakeoff, stuckCoords, fifoLink, fifo})
        own(planted, est.uid[0], est.shared, 0666);

    const QString answer = RunAs(est, 1, [&] {
        ::alarm(20); // a FIFO waited on ends the child
        QStringList lines;
        auto line = [&](bool ok, const QString& error) { lines << Outcome(ok, error); };
        // Another's link is not read through either (a read-modify-write
        // would put what it points to where its maker reads it); one's own is.
        const Result<FileStart> read = ReadFileStart(takeoff, 100);
        line(read.ok(), read.error());
        const QString mine = group + q("mine.takeoff");
        MakeLink(targets[0], mine);
        const Result<FileStart> own = ReadFileStart(mine, 100);
        line(own && own->bytes == "precious", own.error());
        QFile::remove(mine);
        const Result<> checked = CheckWritingTo(takeoff);
        line(checked.ok(), checked.error());
        const Result<> replaced = WriteFileAtomically(takeoff, "replaced");
        line(replaced.ok(), replaced.error());
        CoordFileWriter writer;
        Result<> coordsWritten = writer.open(coords);
        if (coordsWritten)
            coordsWritten = writer.appendLine(q("  1.000000 2.000000 1"));
        line(coordsWritten.ok(), coordsWritten.error());
        writer.close();
        const Result<> stuck = WriteFileAtomically(stuckTakeoff, "x");
        line(stuck.ok(), stuck.error());
        const Result<> stuckOpened = writer.open(stuckCoords);
        line(stuckOpened.ok(), stuckOpened.error());
        // A link to a FIFO is replaced too; the FIFO itself is refused.
        const Result<> linkOpened = writer.open(fifoLink);
        line(linkOpened.ok(), linkOpened.error());
        writer.close();
        const Result<> fifoOpened = writer.open(fifo);
        line(fifoOpened.ok(), fifoOpened.error());
        return lines.join(u'\n');
    });
    const QString stickyRule = q("」は他のユーザーのもので、フォルダ「") + sticky.chopped(1) +
                               q("」では持ち主しか置き換えられないため書き込めません");
    EXPECT_EQ(
        answer,
        QStringList(
            {q("plan.takeoff は他の利用者が置いたリンクのため読みません（") + takeoff + q("）。"),
             q("ok"), q("ok"), q("ok"), q("ok"), q("ファイル「") + stuckTakeoff + stickyRule,
             q("ファイル「") + stuckCoords + stickyRule, q("ok"),
             q("ファイル「") + fifo +
                 q("」は通常のファイルではない（名前付きパイプ）ため書き込めません")})
            .join(u'\n'));
    // In the group folder the links gave way to the estimator's own files;
    // in the sticky one they stay; every target untouched.
    EXPECT_EQ(Describe(takeoff), QStringLiteral("f %1:%2 0644 x1 [replaced]").arg(who(1), share));
    EXPECT_EQ(Describe(coords),
              QStringLiteral("f %1:%2 0644 x1 [  1.000000 2.000000 1\r\n]").arg(who(1), share));
    EXPECT_EQ(Describe(fifoLink), QStringLiteral("f %1:%2 0644 x1 []").arg(who(1), share));
    EXPECT_EQ(KindOf(stuckTakeoff), 'l');
    EXPECT_EQ(KindOf(stuckCoords), 'l');
    EXPECT_EQ(KindOf(fifo), 'p');
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Describe(targets[i]), QStringLiteral("f %1:%1 0666 x1 [precious]").arg(who(0)));
    EXPECT_EQ(KindOf(targets[4]), 'p');
    EXPECT_EQ(Entries(group),
              QStringList({q("fifo.txt"), q("pipe.txt"), q("plan.takeoff"), q("座標.txt")}));
}

} // namespace
