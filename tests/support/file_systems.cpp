#include "file_systems.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCannotDrop = 77;

QString FillerPath(const QString& root) {
    return root + QStringLiteral(".filler");
}

} // namespace

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
}

SmallFileSystem::SmallFileSystem(qint64 bytes) {
    if (!dir_.isValid() || ::geteuid() != 0)
        return;
    // Root's own folder, as a working folder must be (no other user writes it).
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0,
                       options.constData()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_)
        ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
}

bool SmallFileSystem::fill() {
    const int fd = ::open(QFile::encodeName(FillerPath(path())).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QByteArray block(64 * 1024, 'f');
    int size = block.size();
    bool full = false;
    while (!full) {
        const ssize_t n = ::write(fd, block.constData(), size_t(size));
        if (n >= 0)
            continue;
        if (errno != ENOSPC)
            break;
        // Smaller pieces take the last bytes too.
        if (size == 1)
            full = true;
        else
            size /= 2;
    }
    ::close(fd);
    return full;
}

void SmallFileSystem::unfill() {
    QFile::remove(FillerPath(path()));
}

bool IsRoot() {
    return ::geteuid() == 0;
}

UserRun RerunAsOrdinaryUser(int timeLimitMs) {
    UserRun run;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QByteArray filter =
        QByteArray("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, const_cast<char*>(filter.constData()), nullptr};
    // The same environment, without the root's private runtime folder.
    std::vector<QByteArray> kept;
    for (char** e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("XDG_RUNTIME_DIR="))
            kept.emplace_back(*e);
    std::vector<char*> envp;
    for (QByteArray& e : kept)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.skipped = true;
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
            ::setuid(0) == 0)
            ::_exit(kCannotDrop);
        ::execve(exe, argv, envp.data());
        ::_exit(kCannotDrop);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        run.skipped = true;
        return run;
    }
    QElapsedTimer clock;
    clock.start();
    char buffer[4096];
    bool killed = false;
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int left = int(std::max<qint64>(0, timeLimitMs - clock.elapsed()));
        const int ready = ::poll(&p, 1, left);
        if (ready == 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t n = ready > 0 ? ::read(pipeFds[0], buffer, sizeof buffer) : -1;
        if (n <= 0)
            break;
        run.output.append(buffer, n);
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.skipped = WIFEXITED(status) && WEXITSTATUS(status) == kCannotDrop;
    run.passed = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                 run.output.contains("[  PASSED  ] 1 test");
    return run;
}

Estimators MakeEstimators() {
    Estimators e;
    auto run = [](const QStringList& arguments) {
        QProcess p;
        p.start(arguments.first(), arguments.mid(1));
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    };
    if (!::getgrnam("pointra-test-share") &&
        !run({QStringLiteral("groupadd"), QStringLiteral("pointra-test-share")}))
        return e;
    const struct group* gr = ::getgrnam("pointra-test-share");
    if (!gr)
        return e;
    e.shared = gr->gr_gid;
    for (int i = 0; i < 2; ++i) {
        const QByteArray name = "pointra-test-est" + QByteArray::number(i + 1);
        if (!::getpwnam(name.constData()) &&
            !run({QStringLiteral("useradd"), QStringLiteral("-M"), QStringLiteral("-U"),
                  QStringLiteral("-G"), QStringLiteral("pointra-test-share"), QStringLiteral("-s"),
                  QStringLiteral("/usr/sbin/nologin"), QString::fromLatin1(name)}))
            return e;
        const passwd* pw = ::getpwnam(name.constData());
        if (!pw)
            return e;
        e.uid[i] = pw->pw_uid;
        e.own[i] = pw->pw_gid;
    }
    e.ok = true;
    return e;
}

void StartAsUser(QProcess& process, uid_t uid, gid_t gid, gid_t group, mode_t umask) {
    process.setChildProcessModifier([=] {
        if (::setgroups(1, &group) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(77);
        ::umask(umask);
    });
}

QString ProgramForOtherUsers(const QString& folder, QProcessEnvironment* env) {
    const QString program =
        folder + QStringLiteral("/") +
        QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget().section(QLatin1Char('/'), -1);
    if (!QFile::copy(QStringLiteral("/proc/self/exe"), program) ||
        !QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther))
        return QString();
    QStringList options = env->value(QStringLiteral("LSAN_OPTIONS")).split(QLatin1Char(':'));
    for (QString& option : options)
        if (option.startsWith(QStringLiteral("suppressions="))) {
            const QString copy = folder + QStringLiteral("/lsan.supp");
            if (!QFile::copy(option.mid(13), copy))
                return QString();
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ReadOther);
            option = QStringLiteral("suppressions=") + copy;
            env->insert(QStringLiteral("LSAN_OPTIONS"), options.join(QLatin1Char(':')));
            break;
        }
    return program;
}
