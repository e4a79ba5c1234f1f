#include "tablet_sim.h"
#include "test_paths.h"

TabletSim::TabletSim(const QString& mode, const QStringList& args)
    : proc_(std::make_unique<QProcess>()) {
    proc_->setProgram(QBinPath("/tabletsim"));
    proc_->setArguments(QStringList{QStringLiteral("--mode"), mode} + args);
    proc_->setProcessChannelMode(QProcess::SeparateChannels);
    proc_->start();
    if (!proc_->waitForStarted(10000))
        return;
    WaitFor([&] { return proc_->canReadLine() || proc_->state() != QProcess::Running; }, 10000);
    path_ = QString::fromUtf8(proc_->readLine()).trimmed();
}

TabletSim::~TabletSim() {
    if (proc_->state() != QProcess::NotRunning) {
        proc_->terminate();
        if (!proc_->waitForFinished(3000)) {
            proc_->kill();
            proc_->waitForFinished(3000);
        }
    }
}

void TabletSim::write(const QByteArray& bytes) {
    proc_->write(bytes);
    proc_->waitForBytesWritten(3000);
}
