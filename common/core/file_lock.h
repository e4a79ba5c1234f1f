#pragma once
// A lock on a lock file of its own, held for the life of the object: an
// open file description lock (fcntl F_OFD_SETLK) on the whole file, which
// the kernel releases when the process ends, however it ends, so a crash
// never leaves a stale lock. It works across processes and users on local
// file systems and NFSv4 (on SMB mounted with "nobrl" only within one
// machine).
//
// The lock file is never replaced (a lock on a file that a rename replaces
// guards the old inode only): it is created when missing and left in place.
// It is opened without following a link and without blocking, and must be
// a regular file; in a folder other users may write (a shared drawing
// folder) it is made writable by the folder's group, so that every member
// can lock it whatever their umask.

#include <QString>

class FileLock {
public:
    enum class Outcome {
        Held,   // the lock is this object's now
        Busy,   // another process holds it (for the whole wait)
        Failed, // the lock file cannot be made or opened: `error` says why
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on `path`, trying again for `waitMs` milliseconds while
    // another process holds it. A message naming the file in `error` (when
    // given) for Failed.
    Outcome acquire(const QString& path, int waitMs, QString* error = nullptr);
    // Gives the lock back (the file stays).
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A file this process has just made in a folder whose group may write (a
// shared drawing folder) is made readable and writable by that group
// whatever the maker's umask, as lock files are: the other members read and
// replace it too. A file of another owner, a link or anything that is no
// regular file is left alone.
void ShareWithFolderGroup(const QString& path);
