#include "common/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemMessage(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

void setError(QString* error, const QString& path, int err) {
    if (error)
        *error = QStringLiteral("ファイル「%1」を書き込めません: %2").arg(path, systemMessage(err));
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
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

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    if (path.isEmpty()) {
        setError(error, path, ENOENT);
        return false;
    }
    QString target = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(target);
    if (info.isSymLink())
        target = QFileInfo(info.symLinkTarget()).absoluteFilePath();
    const QFileInfo targetInfo(target);
    const QByteArray targetName = QFile::encodeName(target);
    QByteArray tempName = QFile::encodeName(targetInfo.absolutePath() + QStringLiteral("/.") +
                                            targetInfo.fileName() + QStringLiteral(".tmpXXXXXX"));

    // Permissions: those of the file replaced, else the usual ones for a new file.
    mode_t mode = 0;
    struct stat old {};
    if (::stat(targetName.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
        setError(error, path, errno);
        return false;
    }
    auto fail = [&](int err) {
        ::unlink(tempName.constData());
        setError(error, path, err);
        return false;
    };
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (::close(fd) != 0)
        return fail(errno);
    if (::rename(tempName.constData(), targetName.constData()) != 0)
        return fail(errno);

    // Make the rename itself durable.
    const QByteArray dirName = QFile::encodeName(targetInfo.absolutePath());
    const int dirFd = ::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
