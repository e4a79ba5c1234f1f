// Locks on lock files between processes: held, busy for as long as another
// process holds it, free again the moment that process ends (even killed);
// never taken through a link or on something that is no regular file; made
// writable by the group in a folder the group writes.
#include "common/core/file_lock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(FileLockTest, OneHolderAtATimeAndNothingStale) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("drawing.jpg.lock"));
    // A child holds the lock until it is killed.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        FileLock held;
        char done = held.acquire(path, 0) == FileLock::Outcome::Held ? 'y' : 'n';
        ssize_t written = ::write(ready[1], &done, 1);
        (void)written;
        ::pause();
        ::_exit(0);
    }
    char done = 0;
    ASSERT_EQ(::read(ready[0], &done, 1), 1);
    ASSERT_EQ(done, 'y');
    FileLock mine;
    EXPECT_EQ(mine.acquire(path, 200), FileLock::Outcome::Busy);
    EXPECT_FALSE(mine.held());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(mine.acquire(path, 0), FileLock::Outcome::Held);
    EXPECT_TRUE(mine.held());
    // Within one process a second description is a second holder too.
    FileLock second;
    EXPECT_EQ(second.acquire(path, 0), FileLock::Outcome::Busy);
    mine.release();
    EXPECT_EQ(second.acquire(path, 0), FileLock::Outcome::Held);

    // Never through a link, never on a FIFO (no wait for a writer).
    const QString target = dir.filePath(QStringLiteral("precious.txt"));
    QFile(target).open(QIODevice::WriteOnly);
    const QString link = dir.filePath(QStringLiteral("link.lock"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
    QString error;
    EXPECT_EQ(mine.acquire(link, 0, &error), FileLock::Outcome::Failed);
    EXPECT_TRUE(error.contains(link)) << error.toStdString();
    const QString fifo = dir.filePath(QStringLiteral("fifo.lock"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(mine.acquire(fifo, 0, &error), FileLock::Outcome::Failed);

    // In a folder its group writes, the lock file is the group's too.
    const QString shared = dir.filePath(QStringLiteral("shared"));
    ASSERT_EQ(::mkdir(QFile::encodeName(shared).constData(), 0770), 0);
    ::chmod(QFile::encodeName(shared).constData(), 02770);
    const mode_t old = ::umask(022);
    EXPECT_EQ(mine.acquire(shared + QStringLiteral("/p1.jpg.lock"), 0), FileLock::Outcome::Held);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(shared + QStringLiteral("/p1.jpg.lock")).constData(), &st),
              0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    // It was made under a name of its own first; nothing of that is left.
    EXPECT_EQ(QDir(shared).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("p1.jpg.lock")});
}

} // namespace
