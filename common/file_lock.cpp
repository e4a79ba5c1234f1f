#include "common/file_lock.h"

#include "common/atomic_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Mode of a new lock file: the usual one, and in a folder its group may
// write, writable by the group whatever the umask (every member locks it).
mode_t lockFileMode(const QByteArray& folder) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0 && (st.st_mode & S_IWGRP))
        mode |= S_IRGRP | S_IWGRP;
    return mode;
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
    int fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        const mode_t mode = lockFileMode(folder);
        fd = ::open(name.constData(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    mode);
        if (fd >= 0)
            ::fchmod(fd, mode);   // the umask took the group's bits away
        else if (errno == EEXIST) // made meanwhile by another process
            fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
