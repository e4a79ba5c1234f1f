#include "device_test_helpers.h"

#include "common/core/registry.h"
#include "common/core/textcodec.h"
#include "test_paths.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

QByteArray Sjis(const QString& text) {
    return TextCodec(QStringLiteral("CP932")).encode(text);
}

Installation::Installation() = default;

void Installation::writeFile(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(name);
    f.write(bytes);
}

QByteArray Installation::readFile(const QString& name) const {
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = f.readAll();
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

bool Installation::exists(const QString& name) const {
    return QFile::exists(path(name));
}

void Installation::remove(const QString& name) const {
    QFile::remove(path(name));
}

void Installation::writeRegistry(const QString& program, const QString& portName,
                                 bool withInstPath) {
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n");
    if (withInstPath)
        text += QStringLiteral("\"InstPath\"=\"%1\"\r\n").arg(instPath());
    text += QStringLiteral("\r\n[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\%1\\MSComm1]"
                           "\r\n\"PortName\"=\"%2\"\r\n")
                .arg(program, portName);
    QFile f(registryPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

QStringList Installation::loggedMessages() const {
    QFile f(messageLogPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString WriteScript(const Installation& inst, const QString& name, const QByteArray& text) {
    inst.writeFile(name, text);
    return inst.path(name);
}

ChildProgram::ChildProgram(const QString& program, const Installation& inst)
    : program_(program), stderrPath_(inst.path(QStringLiteral("stderr-") + program + ".txt")) {
    // Everything the child needs is made before fork(): after it, in a
    // threaded parent, the child may only call async-signal-safe functions.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("POINTRA_REGISTRY"), inst.registryPath());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("POINTRA_MESSAGE_LOG"), inst.messageLogPath());
    std::vector<QByteArray> envBytes;
    for (const QString& kv : env.toStringList())
        envBytes.push_back(kv.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& b : envBytes)
        envp.push_back(b.data());
    envp.push_back(nullptr);
    QByteArray exe = QFile::encodeName(QBinPath("/") + program);
    char* argv[] = {exe.data(), nullptr};
    const int err = ::open(QFile::encodeName(stderrPath_).constData(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        ::execve(exe.constData(), argv, envp.data());
        ::_exit(127);
    }
    if (err >= 0)
        ::close(err);
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

ProgramRun ChildProgram::wait(int guardMs) {
    ProgramRun run;
    if (pid_ <= 0)
        return run;
    QElapsedTimer t;
    t.start();
    int status = 0;
    struct rusage usage {};
    pid_t got = 0;
    while ((got = ::wait4(pid_, &status, WNOHANG, &usage)) == 0 && t.elapsed() < guardMs)
        QThread::msleep(10);
    if (got == 0) {
        ::kill(pid_, SIGKILL);
        got = ::wait4(pid_, &status, 0, &usage);
    } else {
        run.finished = got == pid_;
    }
    pid_ = -1;
    if (run.finished && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.maxRssKb = usage.ru_maxrss;
    QFile f(stderrPath_);
    if (f.open(QIODevice::ReadOnly))
        run.stderrText = QString::fromUtf8(f.readAll());
    // Under the sanitizer build a leak or undefined behaviour in the child
    // shows only on its console.
    for (const char* mark : {"Sanitizer", "runtime error:"})
        if (run.stderrText.contains(QLatin1String(mark)))
            ADD_FAILURE() << qPrintable(program_) << ": " << qPrintable(run.stderrText);
    return run;
}

ProgramRun RunProgram(const QString& program, const Installation& inst, int guardMs) {
    return ChildProgram(program, inst).wait(guardMs);
}

::testing::AssertionResult WithinMemoryBound(const ProgramRun& run) {
#if defined(__SANITIZE_ADDRESS__)
    (void)run;
    return ::testing::AssertionSuccess() << "not measured under AddressSanitizer";
#else
    if (run.maxRssKb <= 0 || run.maxRssKb > kHostileRunMaxRssKb)
        return ::testing::AssertionFailure()
               << "peak memory " << run.maxRssKb << " KB (bound " << kHostileRunMaxRssKb << " KB)";
    return ::testing::AssertionSuccess();
#endif
}

void InProcessFixture::SetUp() {
    ASSERT_TRUE(inst.valid());
    SetMessageHook([this](const QString& text) {
        messages << text;
        return MsgAnswer::Yes;
    });
}

void InProcessFixture::TearDown() {
    SetMessageHook({});
    qunsetenv("POINTRA_REGISTRY");
    RegistryFile::reload();
}

void InProcessFixture::useRegistry(const QString& program, const QString& portName,
                                   bool withInstPath) {
    inst.writeRegistry(program, portName, withInstPath);
    qputenv("POINTRA_REGISTRY", inst.registryPath().toUtf8());
    RegistryFile::reload();
}

::testing::AssertionResult IsSketchBitmap(const QByteArray& bytes) {
    if (bytes.isNull())
        return ::testing::AssertionFailure() << "no curGazo.bmp";
    if (bytes.size() < 54 || !bytes.startsWith("BM"))
        return ::testing::AssertionFailure() << "not a Windows bitmap";
    auto le32 = [&](int at) {
        return qint32(quint8(bytes[at])) | qint32(quint8(bytes[at + 1])) << 8 |
               qint32(quint8(bytes[at + 2])) << 16 | qint32(quint8(bytes[at + 3])) << 24;
    };
    const int bits = quint8(bytes[28]) | quint8(bytes[29]) << 8;
    if (le32(18) != 400 || std::abs(le32(22)) != 400)
        return ::testing::AssertionFailure() << "size " << le32(18) << " x " << le32(22);
    if (bits != 24)
        return ::testing::AssertionFailure() << bits << " bits per pixel";
    if (le32(2) != bytes.size())
        return ::testing::AssertionFailure()
               << "file size field " << le32(2) << " for " << bytes.size() << " bytes";
    return ::testing::AssertionSuccess();
}

QImage LoadBitmap(const QByteArray& bytes) {
    return QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32);
}

namespace {

bool Close(QRgb p, const QColor& c) {
    return std::abs(qRed(p) - c.red()) < 60 && std::abs(qGreen(p) - c.green()) < 60 &&
           std::abs(qBlue(p) - c.blue()) < 60;
}

} // namespace

bool HasColourNear(const QImage& image, int x, int y, const QColor& colour, int radius) {
    for (int yy = y - radius; yy <= y + radius; ++yy)
        for (int xx = x - radius; xx <= x + radius; ++xx)
            if (image.valid(xx, yy) && Close(image.pixel(xx, yy), colour))
                return true;
    return false;
}

int CountColour(const QImage& image, const QRect& area, const QColor& colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.valid(x, y) && Close(image.pixel(x, y), colour))
                ++n;
    return n;
}
