#include "tools/tabletsim/pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <utility>

namespace tabletsim {

namespace {

QString SystemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

bool Stopped(const volatile std::sig_atomic_t* stop) {
    return stop && *stop;
}

} // namespace

Result<Pty> Pty::create() {
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0)
        return Fail(SystemError("posix_openpt"));
    if (grantpt(m) != 0 || unlockpt(m) != 0) {
        const QString why = SystemError("grantpt/unlockpt");
        ::close(m);
        return Fail(why);
    }
    const char* name = ptsname(m);
    if (!name) {
        const QString why = SystemError("ptsname");
        ::close(m);
        return Fail(why);
    }
    Pty pty(m, QString::fromLocal8Bit(name));

    // Open the slave once ourselves: it sets the line raw, and after it is
    // closed again the master reports a hang-up for as long as nobody holds
    // the slave open, which is how slaveOpen() tells.
    const int s = ::open(name, O_RDWR | O_NOCTTY);
    if (s < 0)
        return Fail(SystemError("open slave"));
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(s, TCSANOW, &tio);
    }
    ::close(s);

    const int flags = fcntl(m, F_GETFL);
    fcntl(m, F_SETFL, flags | O_NONBLOCK);
    return pty;
}

Pty::Pty(Pty&& other) noexcept
    : master_(std::exchange(other.master_, -1)), slavePath_(std::move(other.slavePath_)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
    if (this != &other) {
        if (master_ >= 0)
            ::close(master_);
        master_ = std::exchange(other.master_, -1);
        slavePath_ = std::move(other.slavePath_);
    }
    return *this;
}

Pty::~Pty() {
    if (master_ >= 0)
        ::close(master_);
}

bool Pty::slaveOpen() const {
    pollfd p{master_, 0, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

bool Pty::waitForSlaveOpen(int timeoutMs, const volatile std::sig_atomic_t* stop) const {
    const long long until = NowMs() + timeoutMs;
    while (!slaveOpen()) {
        if (Stopped(stop) || (timeoutMs >= 0 && NowMs() >= until))
            return false;
        drain();
        const timespec pause{0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return true;
}

bool Pty::writeAll(const QByteArray& bytes, const volatile std::sig_atomic_t* stop) const {
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (Stopped(stop))
            return false;
        const ssize_t n = ::write(master_, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The slave's input is full: let its reader catch up.
        drain();
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

void Pty::drain() const {
    char buf[256];
    while (::read(master_, buf, sizeof buf) > 0) {
    }
}

} // namespace tabletsim
