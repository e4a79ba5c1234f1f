#pragma once
// Real file systems and real users for the tests of files the programs
// write: a small tmpfs that can be filled up (root only), and a test run
// again as an ordinary user, for whom the mode bits count.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

class QProcessEnvironment;

// A file's bytes ("<unreadable>" when it cannot be read), and a file written
// whole (the test fails when it cannot be).
QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);

// A tmpfs of `bytes` mounted on a fresh folder while the object lives. Needs
// root (or CAP_SYS_ADMIN); !ok() otherwise, and the test skips.
class SmallFileSystem {
public:
    explicit SmallFileSystem(qint64 bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool ok() const { return mounted_; }
    // The mount point, ending in "/".
    QString path() const { return dir_.path() + QLatin1Char('/'); }
    // Takes every free byte with a file of its own: the next write of any
    // size fails with ENOSPC.
    bool fill();
    // Gives the room back.
    void unfill();

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

// What a run of a test as an ordinary user gave back.
struct UserRun {
    bool skipped = false; // no way to drop root's privileges here
    bool passed = false;  // it ended by itself within the time limit, its test passed
    QByteArray output;    // what it printed
};

// The tests of read-only files run as an ordinary user, for whom the mode
// bits count (root ignores them). Run as root, a test calls this first: it
// runs the same test again in a new process of this program as the user
// "nobody" (uid and gid 65534, no extra groups) and gives its outcome; the
// test then only checks that. Run as anyone else, the test goes on itself.
bool IsRoot();
UserRun RerunAsOrdinaryUser(int timeLimitMs = 120000);

// Two estimators and the group of their shared drawing folders, real users
// made for the tests when missing (root only; kept for the next run).
struct Estimators {
    uid_t uid[2] = {0, 0};
    gid_t own[2] = {0, 0}; // each one's own group
    gid_t shared = 0;
    bool ok = false;
};
Estimators MakeEstimators();

// `process`, when started, runs as the user `uid` of group `gid` with `group`
// as its one supplementary group and the given umask (exit status 77 when
// the identity cannot be taken).
class QProcess;
void StartAsUser(QProcess& process, uid_t uid, gid_t gid, gid_t group, mode_t umask);

// This test program, for other users to run: a copy of it in `folder` (the
// build folder may be one they cannot reach), and in `env` the sanitizer's
// suppressions copied beside it. Empty when it cannot be copied.
QString ProgramForOtherUsers(const QString& folder, QProcessEnvironment* env);
