#include "window_test_helpers.h"

#include <QTextStream>

void InstallationFixture::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    messages.clear();
    SetMessageHook([this](const QString& text) {
        messages << text;
        return answer;
    });
    writeRegistry(instPath());
}

void InstallationFixture::TearDown() {
    SetMessageHook({});
    qunsetenv("POINTRA_REGISTRY");
    RegistryFile::reload();
}

void InstallationFixture::writeRegistry(const QString& instPathValue, const QString& extra) {
    const QString regPath = dir_.path() + QStringLiteral("/registry.reg");
    QFile f(regPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n");
    if (!instPathValue.isNull())
        text += QStringLiteral("\"InstPath\"=\"%1\"\r\n").arg(instPathValue);
    text += QStringLiteral("\r\n") + extra;
    f.write(text.toUtf8());
    f.close();
    qputenv("POINTRA_REGISTRY", regPath.toUtf8());
    RegistryFile::reload();
}

TabletSim::TabletSim(const QString& mode, const QStringList& args)
    : proc_(std::make_unique<QProcess>()) {
    proc_->setProgram(QStringLiteral(POINTRA_BIN_DIR "/tabletsim"));
    proc_->setArguments(QStringList{QStringLiteral("--mode"), mode} + args);
    proc_->setProcessChannelMode(QProcess::SeparateChannels);
    proc_->start();
    if (!proc_->waitForStarted(10000))
        return;
    // The first line the simulator prints is the path of its terminal.
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
