#include "common/core/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The longest part of the file's name a temporary name borrows: with the dot
// and ".tmpXXXXXX" it stays within a folder entry's 255 bytes.
constexpr int kTempStemBytes = 200;
// The random part of a temporary name: six letters or digits.
constexpr int kTempRandomChars = 6;
// Links followed for one name before giving up (the kernel's own limit).
constexpr int kMaxLinks = 40;
constexpr char kAclAccess[] = "system.posix_acl_access";

// A descriptor closed with its owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

QString writeError(const QString& path, int err) {
    return QStringLiteral("ファイル「%1」を書き込めません: %2").arg(path, WriteErrorText(err));
}

// What a file that is no regular file is, for the user.
QString KindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return QStringLiteral("名前付きパイプ");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("デバイス");
    if (S_ISSOCK(mode))
        return QStringLiteral("ソケット");
    if (S_ISDIR(mode))
        return QStringLiteral("フォルダ");
    return QStringLiteral("特殊なファイル");
}

bool writeAll(int fd, const char* p, qsizetype left) {
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

int fsyncRetrying(int fd) {
    int r;
    while ((r = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    return r;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool inGroup(gid_t gid) {
    if (gid == ::getegid())
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[size_t(i)] == gid)
            return true;
    return false;
}

// The path the kernel knows an open folder by (no link in it).
QString folderPathOf(int dirFd, const QByteArray& fallback) {
    char buffer[PATH_MAX];
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(dirFd);
    const ssize_t n = ::readlink(proc.constData(), buffer, sizeof buffer);
    if (n > 0 && n < ssize_t(sizeof buffer) && buffer[0] == '/')
        return QFile::decodeName(QByteArray(buffer, qsizetype(n)));
    return QFileInfo(QFile::decodeName(fallback)).absoluteFilePath();
}

QString joined(const QString& folder, const QByteArray& name) {
    if (name.isEmpty())
        return folder;
    return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
           QFile::decodeName(name);
}

// Where a name leads, as the kernel resolves it: the folder holding the
// final entry (opened) and the entry's name in it. The entry itself is
// opened too (O_PATH: nothing is read or written, a FIFO is not waited on,
// a device is not woken) unless it is missing.
struct Target {
    Fd folder;             // O_PATH of the folder holding the entry
    QByteArray folderText; // how the folder was named, for a fallback text
    QByteArray name;       // the entry's name in it; empty, "." or "..": a folder
    Fd entry;              // O_PATH | O_NOFOLLOW of the entry, when it exists
    struct stat st {};     // the entry's (not followed)
    struct stat folderSt {};
    bool followed = false; // a link led here
    bool linkKept = false; // the entry is a link that is replaced, not followed
    bool isFolder = false; // the name is a folder ("dir/", "..", a link to one)

    bool exists() const { return entry.ok(); }
    QString folderPath() const { return folderPathOf(folder.get(), folderText); }
    QString finalPath() const { return joined(folderPath(), name); }
    // The file as the user is told about it: the name given, and where a
    // link led when one did.
    QString shown(const QString& path) const {
        return followed ? path + QStringLiteral("」→「") + finalPath() : path;
    }
};

enum class Links {
    WhereOwned, // a link only in a folder of the user's own, and made by the user or root
    MadeByUser, // a link made by the user or root, wherever it lies (reading)
    Always,     // every link, as the kernel would
};

// Splits a name into its folder part and its last part ("a/b" -> "a", "b";
// "b" -> ".", "b"; "/b" -> "/", "b"; "a/" -> "a", "").
std::pair<QByteArray, QByteArray> split(const QByteArray& text) {
    const qsizetype slash = text.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), text};
    QByteArray folder = text.left(slash);
    while (folder.endsWith('/'))
        folder.chop(1);
    if (folder.isEmpty())
        folder = QByteArrayLiteral("/");
    return {folder, text.mid(slash + 1)};
}

// Resolves `path` into `t`. 0 on success, else the errno of the failed step
// (ELOOP for links that lead nowhere).
int resolve(const QString& path, Links links, Target& t) {
    QByteArray text = QFile::encodeName(path);
    if (text.isEmpty())
        return ENOENT;
    Fd base; // the folder a relative link text is read from
    for (int hop = 0;; ++hop) {
        const auto [folderText, name] = split(text);
        const int at = base.ok() ? base.get() : AT_FDCWD;
        t.folder.reset(::openat(at, folderText.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!t.folder.ok())
            return errno;
        if (::fstat(t.folder.get(), &t.folderSt) != 0)
            return errno;
        t.folderText = folderText;
        t.name = name;
        t.entry.reset();
        t.linkKept = false;
        if (name.isEmpty() || name == "." || name == "..") {
            t.isFolder = true;
            return 0;
        }
        t.entry.reset(::openat(t.folder.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!t.entry.ok())
            return errno == ENOENT ? 0 : errno;
        if (::fstat(t.entry.get(), &t.st) != 0)
            return errno;
        if (!S_ISLNK(t.st.st_mode)) {
            t.isFolder = S_ISDIR(t.st.st_mode);
            return 0;
        }
        const uid_t me = ::geteuid();
        const bool users = t.st.st_uid == me || t.st.st_uid == 0;
        const bool follow = links == Links::Always || (links == Links::MadeByUser && users) ||
                            (t.folderSt.st_uid == me && users);
        if (!follow) {
            t.linkKept = true;
            return 0;
        }
        if (hop >= kMaxLinks)
            return ELOOP;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlinkat(t.entry.get(), "", buffer, sizeof buffer);
        if (n < 0 || n == ssize_t(sizeof buffer))
            return n < 0 ? errno : ENAMETOOLONG;
        text = QByteArray(buffer, qsizetype(n));
        if (text.isEmpty())
            return ENOENT;
        base = std::move(t.folder);
        t.followed = true;
    }
}

// Resolves a name into `t`, refusing one that leads where no file may be
// written. A name that cannot be resolved at all is no refusal: `err` says
// why, for the caller to tell.
Result<> resolveChecked(const QString& path, Links links, Target& t, int* err) {
    *err = resolve(path, links, t);
    if (*err == ELOOP)
        return Fail(
            QStringLiteral("ファイル「%1」のリンクをたどれないため書き込めません").arg(path));
    if (*err != 0)
        return {};
    if (t.isFolder || (t.exists() && !t.linkKept && !S_ISREG(t.st.st_mode))) {
        const mode_t mode = t.isFolder ? mode_t(S_IFDIR) : t.st.st_mode;
        return Fail(QStringLiteral("ファイル「%1」は通常のファイルではない（%2）ため書き込めません")
                        .arg(t.shown(path), KindOf(mode)));
    }
    return {};
}

// The extended attributes of a file, read through its O_PATH descriptor (by
// the kernel's name for it, so exactly that file), or through the name when
// /proc is missing, checking it is still the same file.
struct Attribute {
    QByteArray name, value;
};

class AttributeSource {
public:
    explicit AttributeSource(const Target& t) {
        proc_ = "/proc/self/fd/" + QByteArray::number(t.entry.get());
        struct stat st {};
        if (::stat(proc_.constData(), &st) == 0 && sameFile(st, t.st))
            return;
        proc_.clear();
        fd_.reset(::openat(t.folder.get(), t.name.constData(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd_.ok())
            openErr_ = errno;
        else if (::fstat(fd_.get(), &st) != 0 || !sameFile(st, t.st))
            openErr_ = ESTALE; // replaced meanwhile
    }
    int openError() const { return openErr_; }
    ssize_t list(char* buffer, size_t size) const {
        return proc_.isEmpty() ? ::flistxattr(fd_.get(), buffer, size)
                               : ::listxattr(proc_.constData(), buffer, size);
    }
    ssize_t get(const char* name, void* buffer, size_t size) const {
        return proc_.isEmpty() ? ::fgetxattr(fd_.get(), name, buffer, size)
                               : ::getxattr(proc_.constData(), name, buffer, size);
    }

private:
    QByteArray proc_;
    Fd fd_;
    int openErr_ = 0;
};

// Calls `call(buffer, size)` with a buffer large enough for its answer.
template <typename Call> int readSized(Call call, QByteArray* out) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t needed = call(nullptr, 0);
        if (needed < 0)
            return errno;
        out->resize(qsizetype(needed));
        const ssize_t got = call(needed ? out->data() : nullptr, size_t(needed));
        if (got >= 0) {
            out->resize(qsizetype(got));
            return 0;
        }
        if (errno != ERANGE)
            return errno;
    }
    return ERANGE;
}

// Every extended attribute of the target, or a message naming the attribute
// that cannot be read.
Result<std::vector<Attribute>> readAttributes(const Target& t, const QString& shown) {
    auto cannot = [&](const QByteArray& name, int err) {
        const QString why = err == EACCES || err == EPERM
                                ? QStringLiteral("読み取りの権限がありません")
                                : QString::fromLocal8Bit(std::strerror(err));
        return Fail(
            QStringLiteral("ファイル「%1」の拡張属性「%2」を読み取れないため書き込めません: %3")
                .arg(shown, QString::fromUtf8(name), why));
    };
    std::vector<Attribute> attributes;
    const AttributeSource source(t);
    if (source.openError())
        return cannot(QByteArrayLiteral("*"), source.openError());
    QByteArray names;
    const int listErr = readSized([&](char* b, size_t n) { return source.list(b, n); }, &names);
    if (listErr == ENOTSUP)
        return attributes; // a file system without attributes
    if (listErr != 0)
        return cannot(QByteArrayLiteral("*"), listErr);
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        Attribute a{name, {}};
        const int err = readSized(
            [&](char* b, size_t n) { return source.get(name.constData(), b, n); }, &a.value);
        if (err == ENODATA)
            continue; // removed meanwhile
        if (err != 0)
            return cannot(name, err);
        attributes.push_back(std::move(a));
    }
    return attributes;
}

// Gives the file `fd` the attribute, unless it has it as it is already (a
// file system's own, the same on every file). False and errno on failure.
bool setAttribute(int fd, const Attribute& a) {
    QByteArray current;
    if (readSized([&](char* b, size_t n) { return ::fgetxattr(fd, a.name.constData(), b, n); },
                  &current) == 0 &&
        current == a.value)
        return true;
    return ::fsetxattr(fd, a.name.constData(), a.value.constData(), size_t(a.value.size()), 0) == 0;
}

QString cannotKeep(const QString& shown, const Attribute& a, int err) {
    return QStringLiteral(
               "ファイル「%1」の拡張属性「%2」を新しいファイルに引き継げないため書き込めません: %3")
        .arg(shown, QString::fromUtf8(a.name), WriteErrorText(err));
}

// The rules on the folder and the entry a replacement renames over. The
// entry's kind was checked by resolveChecked.
Result<> checkReplacing(const QString& path, const Target& t) {
    const QString shown = t.shown(path);
    if (::faccessat(t.folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        if (errno == EROFS)
            return Fail(
                QStringLiteral(
                    "ファイル「%1」は読み取り専用のファイルシステムにあるため書き込めません")
                    .arg(shown));
        if (errno == EACCES || errno == EPERM)
            return Fail(QStringLiteral(
                            "ファイル「%1」はフォルダ「%2」に書き込む権限がないため書き込めません")
                            .arg(shown, t.folderPath()));
    }
    if (!t.exists())
        return {};
    // In a sticky folder only the owner of an entry (or of the folder)
    // may rename over it.
    const uid_t me = ::geteuid();
    if ((t.folderSt.st_mode & S_ISVTX) && me != 0 && t.st.st_uid != me && t.folderSt.st_uid != me)
        return Fail(
            QStringLiteral("ファイル「%1」は他のユーザーのもので、フォルダ「%2」では持ち主しか置き"
                           "換えられないため書き込めません")
                .arg(shown, t.folderPath()));
    // A file the user made read-only is theirs to protect; another user's
    // (read-only to this one by that user's umask, say) is the folder's to
    // replace, and keeps its mode.
    if (me != 0 && t.st.st_uid == me && !(t.st.st_mode & S_IWUSR))
        return Fail(QStringLiteral("ファイル「%1」は読み取り専用のため書き込めません").arg(shown));
    if (!t.linkKept && t.st.st_nlink > 1)
        return Fail(
            QStringLiteral("ファイル「%1」には別の名前（ハードリンク）もあり、置き換えるとその"
                           "名前と別のファイルになるため書き込めません")
                .arg(shown));
    return {};
}

// "." + the name's first bytes + ".tmp": what every temporary file of a
// replacement of this name starts with.
QByteArray temporaryPrefix(const QByteArray& name) {
    return "." + name.left(kTempStemBytes) + ".tmp";
}

bool isTemporaryOf(const char* entry, const QByteArray& prefix) {
    const size_t length = std::strlen(entry);
    if (length != size_t(prefix.size()) + kTempRandomChars ||
        std::strncmp(entry, prefix.constData(), size_t(prefix.size())) != 0)
        return false;
    for (size_t i = size_t(prefix.size()); i < length; ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// A lock on an open temporary file: held by the replacement that writes it
// for as long as it lives (the kernel drops it when the process ends,
// however), so a temporary file nobody holds was left by a replacement that
// was cut off.
bool lockTemporary(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Removes the temporary files of earlier replacements of `name` that were cut
// off: this user's regular files of that form nobody holds. One a replacement
// under way holds stays.
void removeLeftovers(const Target& t) {
    Fd listing(::openat(t.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing.ok())
        return;
    DIR* dir = ::fdopendir(listing.get());
    if (!dir)
        return;
    listing.release();
    const QByteArray prefix = temporaryPrefix(t.name);
    std::vector<QByteArray> candidates;
    while (const dirent* e = ::readdir(dir))
        if (isTemporaryOf(e->d_name, prefix))
            candidates.emplace_back(e->d_name);
    ::closedir(dir);
    for (const QByteArray& name : candidates) {
        Fd fd(::openat(t.folder.get(), name.constData(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        struct stat now {};
        if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || st.st_nlink != 1 || !lockTemporary(fd.get(), F_RDLCK))
            continue;
        if (::fstatat(t.folder.get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(st, now))
            ::unlinkat(t.folder.get(), name.constData(), 0);
    }
}

// Creates a temporary file for a replacement of t.name in its folder, locked
// (see lockTemporary). Its name in `name`; -1 and errno on failure.
int createTemporary(const Target& t, mode_t mode, QByteArray* name) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QByteArray prefix = temporaryPrefix(t.name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = prefix;
        for (int i = 0; i < kTempRandomChars; ++i)
            candidate += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        Fd fd(::openat(t.folder.get(), candidate.constData(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.ok()) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // Another replacement's clean-up may have taken it for a leftover in
        // the moment before the lock: then it holds it or removed it.
        // Where the file system keeps no locks (NFS mounted with nolock), the
        // file goes unlocked, and no clean-up ever takes it for a leftover.
        if (!lockTemporary(fd.get(), F_WRLCK) && (errno == EAGAIN || errno == EACCES))
            continue;
        struct stat mine {};
        struct stat now {};
        if (::fstat(fd.get(), &mine) != 0 ||
            ::fstatat(t.folder.get(), candidate.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(mine, now))
            continue;
        *name = candidate;
        return fd.release();
    }
    errno = EEXIST;
    return -1;
}

} // namespace

QString FollowLinks(const QString& path) {
    Target t;
    if (resolve(path, Links::Always, t) != 0)
        return QString();
    return t.finalPath();
}

int OpenForReading(const QString& path, bool* othersLink) {
    Target t;
    if (const int err = resolve(path, Links::MadeByUser, t)) {
        errno = err;
        return -1;
    }
    if (t.linkKept) {
        *othersLink = true;
        errno = EPERM;
        return -1;
    }
    if (!t.exists() && !t.isFolder) {
        errno = ENOENT;
        return -1;
    }
    // O_NOFOLLOW: a link put in the entry's place since is not followed.
    return ::openat(t.folder.get(), t.name.isEmpty() ? "." : t.name.constData(),
                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
}

Result<> CheckWritingTo(const QString& path) {
    Target t;
    int err = 0;
    if (auto checked = resolveChecked(path, Links::WhereOwned, t, &err); !checked)
        return checked;
    if (err != 0)
        return {}; // the write itself will say why (a folder that is not there)
    if (auto checked = checkReplacing(path, t); !checked)
        return checked;
    if (t.exists() && !t.linkKept)
        if (const auto attributes = readAttributes(t, t.shown(path)); !attributes)
            return Fail(attributes.error());
    return {};
}

QString WriteErrorText(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空き容量が足りません");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込みの権限がありません");
    case EROFS:
        return QStringLiteral("読み取り専用のファイルシステムです");
    case ENOENT:
        return QStringLiteral("フォルダがありません");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダがあります");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

bool FolderIsFull(const QString& folder) {
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0)
        return false;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize) < 1024 * 1024;
}

// What a replacement under way holds: the target's folder and the old file
// (both open, so the rename lands where the checks were made), what the old
// file was, and the temporary file.
struct AtomicReplacement::Work {
    Target target;
    QString shown;
    std::vector<Attribute> attributes; // the old file's
    QByteArray tempName;               // in the target's folder
    Fd temp;
};

AtomicReplacement::AtomicReplacement(const QString& path) : path_(path) {}

AtomicReplacement::~AtomicReplacement() {
    abandon();
}

Failure AtomicReplacement::fail(int err) {
    abandon();
    return Fail(writeError(path_, err));
}

Failure AtomicReplacement::refuse(const QString& why) {
    abandon();
    return Fail(why);
}

Result<> AtomicReplacement::begin() {
    abandon();
    auto work = std::make_unique<Work>();
    Target& t = work->target;
    int err = 0;
    if (const auto checked = resolveChecked(path_, Links::WhereOwned, t, &err); !checked)
        return refuse(checked.error());
    if (err != 0)
        return fail(err);
    work->shown = t.shown(path_);
    if (const auto checked = checkReplacing(path_, t); !checked)
        return refuse(checked.error());
    const bool keepOld = t.exists() && !t.linkKept;
    if (keepOld) {
        auto attributes = readAttributes(t, work->shown);
        if (!attributes)
            return refuse(attributes.error());
        work->attributes = std::move(*attributes);
    }
    removeLeftovers(t);
    // The temporary file of a file that is kept is the writer's alone until
    // commit() gives it the old file's mode; a new file is made with the
    // usual permissions (the umask, or the folder's default ACL).
    work->temp.reset(createTemporary(t, keepOld ? 0600 : 0666, &work->tempName));
    if (!work->temp.ok())
        return fail(errno);
    work_ = std::move(work);
    // Attributes other than the system's (the ACL) go on at once, so one
    // this user may not set refuses the replacement before any work.
    for (const Attribute& a : work_->attributes)
        if (!a.name.startsWith("system.") && !setAttribute(work_->temp.get(), a))
            return refuse(cannotKeep(work_->shown, a, errno));
    return {};
}

Result<> AtomicReplacement::append(const char* data, qsizetype size) {
    if (!work_)
        return fail(EBADF);
    if (!writeAll(work_->temp.get(), data, size))
        return fail(errno);
    return {};
}

Result<> AtomicReplacement::commit() {
    if (!work_)
        return fail(EBADF);
    Work& w = *work_;
    const Target& t = w.target;
    const int fd = w.temp.get();
    if (t.exists() && !t.linkKept) {
        // Owner and group as far as this user may keep them: root keeps
        // both; anyone else the group when a member of it, except in a
        // setgid folder, whose group the kernel gave the new file. Where
        // chown is refused (root on NFS), the writer's stay.
        const struct stat& old = t.st;
        const bool setgidFolder = t.folderSt.st_mode & S_ISGID;
        if (::geteuid() == 0)
            (void)::fchown(fd, old.st_uid, old.st_gid);
        else if (!setgidFolder && inGroup(old.st_gid))
            (void)::fchown(fd, uid_t(-1), old.st_gid);
        struct stat now {};
        if (::fstat(fd, &now) != 0)
            return fail(errno);
        // Set-user and set-group bits stay only with the owner and group
        // they were given for.
        mode_t mode = old.st_mode & 07777;
        if (now.st_uid != old.st_uid)
            mode &= ~mode_t(S_ISUID);
        if (now.st_gid != old.st_gid)
            mode &= ~mode_t(S_ISGID);
        if (::fchmod(fd, mode) != 0)
            return fail(errno);
        // Every attribute the old file had, the ACL among them; one the new
        // file already has as it was (a file system's own) is left alone.
        bool hadAcl = false;
        for (const Attribute& a : w.attributes) {
            hadAcl = hadAcl || a.name == kAclAccess;
            if (!setAttribute(fd, a))
                return refuse(cannotKeep(w.shown, a, errno));
        }
        // An ACL the folder's default gave the new file, which the old one
        // did not have, goes.
        if (!hadAcl)
            (void)::fremovexattr(fd, kAclAccess);
        if (::fstat(fd, &now) != 0)
            return fail(errno);
        if ((now.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0)
            return fail(errno);
    }
    if (fsyncRetrying(fd) != 0)
        return fail(errno);
    // The rename lands in the folder that was checked, over the entry that
    // was checked (a link that is not followed is replaced as an entry).
    if (::renameat(t.folder.get(), w.tempName.constData(), t.folder.get(), t.name.constData()) != 0)
        return fail(errno);
    w.tempName.clear();
    // Make the rename itself durable.
    Fd folder(::openat(t.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.ok())
        fsyncRetrying(folder.get());
    work_.reset();
    return {};
}

void AtomicReplacement::abandon() {
    if (!work_)
        return;
    if (!work_->tempName.isEmpty())
        ::unlinkat(work_->target.folder.get(), work_->tempName.constData(), 0);
    work_.reset();
}

QString AtomicReplacement::temporaryPath() const {
    if (!work_)
        return QString();
    return joined(work_->target.folderPath(), work_->tempName);
}

qint64 AtomicReplacement::temporarySize() const {
    struct stat st {};
    if (!work_ || ::fstat(work_->temp.get(), &st) != 0)
        return -1;
    return qint64(st.st_size);
}

Result<> WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    AtomicReplacement file(path);
    if (auto begun = file.begin(); !begun)
        return begun;
    if (auto appended = file.append(bytes.constData(), bytes.size()); !appended)
        return appended;
    return file.commit();
}

Result<int> OpenEmptiedInPlace(const QString& path) {
    const auto cannotOpen = [&](int err) {
        return Fail(QStringLiteral("%1 を書き込み用に開けません（%2）: %3")
                        .arg(QFileInfo(path).fileName(), path, WriteErrorText(err)));
    };
    // A file made or removed by someone else between two steps sends it
    // round again; a few rounds are plenty.
    for (int round = 0; round < 8; ++round) {
        Target t;
        int err = 0;
        if (auto checked = resolveChecked(path, Links::WhereOwned, t, &err); !checked)
            return Fail(checked.error());
        if (err != 0)
            return cannotOpen(err);
        const QString shown = t.shown(path);
        if (t.linkKept) {
            // A link that is not followed gives way to a new empty file,
            // renamed over it as an entry.
            if (const auto checked = checkReplacing(path, t); !checked)
                return Fail(checked.error());
            QByteArray name;
            Fd fd(createTemporary(t, 0666, &name));
            if (!fd.ok())
                return cannotOpen(errno);
            if (::renameat(t.folder.get(), name.constData(), t.folder.get(), t.name.constData()) !=
                0) {
                const int renameErr = errno;
                ::unlinkat(t.folder.get(), name.constData(), 0);
                return cannotOpen(renameErr);
            }
            lockTemporary(fd.get(), F_UNLCK);
            return fd.release();
        }
        if (!t.exists()) {
            Fd fd(::openat(t.folder.get(), t.name.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                               O_CLOEXEC,
                           0666));
            if (!fd.ok() && errno == EEXIST)
                continue;
            if (!fd.ok())
                return cannotOpen(errno);
            return fd.release();
        }
        // A regular file, already open (O_PATH): opened again for writing
        // through that descriptor, so it is the very file checked; by its
        // name (checked to be the same file) where /proc is missing.
        const QByteArray proc = "/proc/self/fd/" + QByteArray::number(t.entry.get());
        Fd fd(::open(proc.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.ok() && errno == ENOENT)
            fd.reset(::openat(t.folder.get(), t.name.constData(),
                              O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.ok()) {
            const int openErr = errno;
            if (openErr == EACCES || openErr == EPERM)
                return Fail(
                    QStringLiteral("ファイル「%1」は読み取り専用のため書き込めません").arg(shown));
            if (openErr == EROFS)
                return Fail(QStringLiteral("ファイル「%1」は読み取り専用のファイルシステムにある"
                                           "ため書き込めません")
                                .arg(shown));
            if (openErr == ENOENT || openErr == ELOOP || openErr == ENXIO)
                continue; // replaced meanwhile
            return cannotOpen(openErr);
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !sameFile(st, t.st))
            continue;
        if (::ftruncate(fd.get(), 0) != 0)
            return cannotOpen(errno);
        return fd.release();
    }
    return cannotOpen(EAGAIN);
}
