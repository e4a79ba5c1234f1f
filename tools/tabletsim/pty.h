#pragma once
// The pseudo-terminal the simulator plays the tablet on: it keeps the master
// side, the program under test opens the slave side as its serial port.

#include "common/core/result.h"

#include <QByteArray>
#include <QString>

#include <csignal>

namespace tabletsim {

class Pty {
public:
    // A new pair with the slave side in raw mode (no echo, no line-end
    // translation), so records pass byte for byte; else why not.
    static Result<Pty> create();

    Pty(Pty&& other) noexcept;
    Pty& operator=(Pty&& other) noexcept;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty();

    int master() const { return master_; }
    const QString& slavePath() const { return slavePath_; }

    // True while some process holds the slave side open.
    bool slaveOpen() const;
    // Waits until the slave side is opened (true), the timeout passes
    // (timeoutMs < 0: no limit) or *stop becomes non-zero (false).
    bool waitForSlaveOpen(int timeoutMs, const volatile std::sig_atomic_t* stop = nullptr) const;
    // Writes all bytes; false when the write fails or *stop becomes non-zero.
    bool writeAll(const QByteArray& bytes, const volatile std::sig_atomic_t* stop = nullptr) const;
    // Reads and drops what the slave side wrote (the simulator answers nothing).
    void drain() const;

private:
    Pty(int master, QString slavePath) : master_(master), slavePath_(std::move(slavePath)) {}

    int master_ = -1;
    QString slavePath_;
};

} // namespace tabletsim
