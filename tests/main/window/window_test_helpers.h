#pragma once
// Shared set-up of the main-window tests: a temporary installation folder, a
// registry file pointing at it, and the messages the window shows.

#include "common/message.h"
#include "common/registry.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// Installation folder plus registry file; messages are collected.
class InstallationFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the registry file with the given extra text after the Pointra key.
    void writeRegistry(const QString& instPathValue, const QString& extra = QString());
    QString instPath() const { return dir_.path() + QLatin1Char('/'); }

    QTemporaryDir dir_;
    QStringList messages;
    MsgAnswer answer = MsgAnswer::Yes;
};

// A tablet simulator on a pseudo-terminal, run as the real program.
class TabletSim {
public:
    // mode: "mt4500" or "t5160"; extra arguments follow.
    TabletSim(const QString& mode, const QStringList& args);
    ~TabletSim();
    // Path of the pseudo-terminal's device (empty when it failed to start).
    QString path() const { return path_; }
    // Sends text on the simulator's standard input (interactive commands).
    void write(const QByteArray& bytes);

private:
    std::unique_ptr<QProcess> proc_;
    QString path_;
};

// Runs the event loop until cond() holds or the guard time is over.
template <class Cond> bool WaitFor(Cond cond, int guardMs = 10000);

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <class Cond> bool WaitFor(Cond cond, int guardMs) {
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
