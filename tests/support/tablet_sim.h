#pragma once
// Helpers shared by the tests that meet processes and serial lines: the
// tablet simulator run as the real program, and waiting on the event loop.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

// The tablet simulator (build/bin/tabletsim) on a pseudo-terminal. The first
// line it prints is its terminal's path.
class TabletSim {
public:
    // mode: "mt4500" or "t5160"; extra arguments follow.
    TabletSim(const QString& mode, const QStringList& args);
    ~TabletSim();
    // Path of the pseudo-terminal's device (empty when it failed to start).
    QString path() const { return path_; }
    // Bytes for its standard input, as they are.
    void write(const QByteArray& bytes);
    // One command line on its standard input ("raw 1000,500,2\\r\\n").
    void command(const QByteArray& line) { write(line + '\n'); }

private:
    std::unique_ptr<QProcess> proc_;
    QString path_;
};

// Runs the event loop until cond() holds or the guard time is over (a guard
// against a hang, not a timing assertion).
template <class Cond> bool WaitFor(Cond cond, int guardMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > guardMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
