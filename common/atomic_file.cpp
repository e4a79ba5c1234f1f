#include "common/atomic_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The longest part of the file's name a temporary name borrows: with the dot
// and ".tmpXXXXXX" it stays within a folder entry's 255 bytes.
constexpr int kTempStemBytes = 200;

void setError(QString* error, const QString& path, int err) {
    if (error)
        *error =
            QStringLiteral("ファイル「%1」を書き込めません: %2").arg(path, WriteErrorText(err));
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

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

QString FollowLinks(const QString& path) {
    QString current = QFileInfo(path).absoluteFilePath();
    for (int step = 0; step < 40; ++step) {
        const QByteArray name = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(name.constData(), buffer, sizeof buffer);
        if (n < 0 || n == ssize_t(sizeof buffer))
            return QString();
        const QString target = QFile::decodeName(QByteArray(buffer, qsizetype(n)));
        current = target.startsWith(QLatin1Char('/'))
                      ? target
                      : QFileInfo(current).absolutePath() + QLatin1Char('/') + target;
    }
    return QString();
}

std::optional<QString> RefuseWritingTo(const QString& path) {
    const QString target = FollowLinks(path);
    if (target.isEmpty())
        return QStringLiteral("ファイル「%1」のリンクをたどれないため書き込めません").arg(path);
    const QString shown = target == QFileInfo(path).absoluteFilePath()
                              ? path
                              : path + QStringLiteral("」→「") + target;
    const QByteArray name = QFile::encodeName(target);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return std::nullopt; // a new file
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("ファイル「%1」は通常のファイルではない（%2）ため書き込めません")
            .arg(shown, KindOf(st.st_mode));
    if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0) {
        if (errno == EROFS)
            return QStringLiteral(
                       "ファイル「%1」は読み取り専用のファイルシステムにあるため書き込めません")
                .arg(shown);
        return QStringLiteral("ファイル「%1」は読み取り専用のため書き込めません").arg(shown);
    }
    return std::nullopt;
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

AtomicReplacement::AtomicReplacement(const QString& path) : path_(path) {}

AtomicReplacement::~AtomicReplacement() {
    abandon();
}

bool AtomicReplacement::fail(int err, QString* error) {
    abandon();
    setError(error, path_, err);
    return false;
}

bool AtomicReplacement::begin(QString* error) {
    abandon();
    if (path_.isEmpty())
        return fail(ENOENT, error);
    if (const auto why = RefuseWritingTo(path_)) {
        if (error)
            *error = *why;
        return false;
    }
    const QFileInfo target(FollowLinks(path_));
    target_ = QFile::encodeName(target.absoluteFilePath());
    QByteArray stem = QFile::encodeName(target.fileName());
    stem.truncate(kTempStemBytes);
    temp_ = QFile::encodeName(target.absolutePath()) + "/." + stem + ".tmpXXXXXX";

    // Permissions: those of the file replaced, else the usual ones for a new file.
    struct stat old {};
    const mode_t mode =
        ::stat(target_.constData(), &old) == 0 ? old.st_mode & 07777 : newFileMode();
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        temp_.clear();
        return fail(err, error);
    }
    if (::fchmod(fd_, mode) != 0)
        return fail(errno, error);
    return true;
}

bool AtomicReplacement::append(const char* data, qsizetype size, QString* error) {
    if (fd_ < 0)
        return fail(EBADF, error);
    if (!writeAll(fd_, data, size))
        return fail(errno, error);
    return true;
}

bool AtomicReplacement::commit(QString* error) {
    if (fd_ < 0)
        return fail(EBADF, error);
    if (fsyncRetrying(fd_) != 0)
        return fail(errno, error);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail(errno, error);
    if (::rename(temp_.constData(), target_.constData()) != 0)
        return fail(errno, error);
    temp_.clear();
    // Make the rename itself durable.
    const QByteArray folder =
        QFile::encodeName(QFileInfo(QFile::decodeName(target_)).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsyncRetrying(dirFd);
        ::close(dirFd);
    }
    return true;
}

void AtomicReplacement::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlink(temp_.constData());
        temp_.clear();
    }
}

QString AtomicReplacement::temporaryPath() const {
    return QFile::decodeName(temp_);
}

qint64 AtomicReplacement::temporarySize() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return qint64(st.st_size);
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    AtomicReplacement file(path);
    return file.begin(error) && file.append(bytes.constData(), bytes.size(), error) &&
           file.commit(error);
}
