#include "file_systems.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/mount.h>
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

SmallFileSystem::SmallFileSystem(qint64 bytes) {
    if (!dir_.isValid() || ::geteuid() != 0)
        return;
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
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
