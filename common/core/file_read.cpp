#include "common/core/file_read.h"

#include "common/core/atomic_file.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemMessage(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

Result<FileStart> ReadFileStart(const QString& path, qint64 limit) {
    const QString name = QFileInfo(path).fileName();
    // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
    bool othersLink = false;
    const Descriptor fd(OpenForReading(path, &othersLink));
    if (fd.get() < 0) {
        const int err = errno;
        return Fail(
            othersLink ? QStringLiteral("%1 は他の利用者が置いたリンクのため読みません（%2）。")
                             .arg(name, path)
            : err == ENOENT
                ? QStringLiteral("%1 がありません（%2）。").arg(name, path)
                : QStringLiteral("%1 を読めません（%2）: %3").arg(name, path, systemMessage(err)));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(QStringLiteral("%1 は通常のファイルではありません（%2）。").arg(name, path));
    // One byte past the limit tells whether the file goes on.
    const qint64 wanted = std::max<qint64>(limit, 0) + 1;
    QByteArray bytes(std::min<qint64>(wanted, std::max<qint64>(st.st_size, 0) + 1),
                     Qt::Uninitialized);
    qint64 got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() >= wanted)
                break;
            // The file grew since fstat: read on, still within the bound.
            bytes.resize(std::min<qint64>(wanted, bytes.size() * 2 + 4096));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(
                QStringLiteral("%1 を読めません（%2）: %3").arg(name, path, systemMessage(errno)));
        if (n == 0)
            break;
        got += n;
    }
    FileStart start;
    start.more = got > limit;
    bytes.truncate(std::min(got, std::max<qint64>(limit, 0)));
    start.bytes = std::move(bytes);
    return start;
}

Result<FileStart> ReadWholeFile(const QString& path, qint64 limit) {
    Result<FileStart> start = ReadFileStart(path, limit);
    if (start && start->more)
        return Fail(QStringLiteral("%1 が大きすぎます（%2）。読み込めるのは %3 バイトまでです。")
                        .arg(QFileInfo(path).fileName(), path)
                        .arg(limit));
    return start;
}
