#include "common/core/file_lock.h"

#include "common/core/atomic_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool folderSharedWithGroup(const QByteArray& folder) {
    struct stat st {};
    return ::stat(folder.constData(), &st) == 0 && (st.st_mode & S_IWGRP);
}

// Mode of a new lock file: the usual one, and in a folder its group may
// write, writable by the group whatever the umask (every member locks it).
mode_t lockFileMode(const QByteArray& folder) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = 0666 & ~mask;
    return folderSharedWithGroup(folder) ? mode | S_IRGRP | S_IWGRP : mode;
}

int openExisting(const QByteArray& name) {
    return ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool createLockFile(const QByteArray& name, mode_t mode) {
    QByteArray temporary = name + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool made =
        ::fchmod(fd, mode) == 0 && ::link(temporary.constData(), name.constData()) == 0;
    const int err = errno;
    ::close(fd);
    ::unlink(temporary.constData());
    errno = err;
    return made;
}

bool tryLock(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

} // namespace

FileLock::~FileLock() {
    release();
}

FileLock::Outcome FileLock::acquire(const QString& path, int waitMs, QString* error) {
    release();
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    auto failed = [&](int err) {
        if (error)
            *error = QStringLiteral("ロックファイル「%1」を使えません: %2")
                         .arg(path, WriteErrorText(err));
        return Outcome::Failed;
    };
    int fd = openExisting(name);
    if (fd < 0 && errno == ENOENT) {
        // Made under a name of its own, given its mode, then linked to the
        // lock's name: another user never opens it while the umask's mode
        // still keeps them out. EEXIST means another process made it first.
        if (!createLockFile(name, lockFileMode(folder)) && errno != EEXIST)
            return failed(errno);
        fd = openExisting(name);
    }
    if (fd < 0)
        return failed(errno == ELOOP ? EPERM : errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(EPERM);
    }
    QElapsedTimer waited;
    waited.start();
    while (!tryLock(fd)) {
        const int err = errno;
        if ((err != EAGAIN && err != EACCES) || waited.elapsed() >= waitMs) {
            ::close(fd);
            return err == EAGAIN || err == EACCES ? Outcome::Busy : failed(err);
        }
        QThread::msleep(50);
    }
    fd_ = fd;
    return Outcome::Held;
}

void FileLock::release() {
    if (fd_ >= 0) {
        ::close(fd_); // closing the description gives its lock back
        fd_ = -1;
    }
}

void ShareWithFolderGroup(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat file {};
    if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_uid == ::geteuid() &&
        folderSharedWithGroup(QFile::encodeName(QFileInfo(path).absolutePath()))) {
        const mode_t mode = file.st_mode & 07777;
        if ((mode | S_IRGRP | S_IWGRP) != mode)
            ::fchmod(fd, mode | S_IRGRP | S_IWGRP);
    }
    ::close(fd);
}
