#pragma once
// Replacing a file whole without ever leaving it half written, and the rules
// every file the programs write, replace or empty must meet, in a working
// folder of one's own as in a drawing folder several users share.
//
// The new contents go to a temporary file in the folder of the file they
// replace; it is flushed to the disk and renamed over the old file only once
// it is complete. On any failure the old file stays as it was and no
// temporary file is left behind; one left by a replacement that was cut off
// (a crash) is removed by the next replacement of the same name.
//
// Names are resolved by the kernel, never by their text: every folder on the
// way is opened, and a symbolic link is read relative to the folder that
// holds it. A link is followed only in a folder the user owns, and only a
// link of the user's own (or root's): in the user's working folder 座標.txt or
// curGazo.bmp may be links into the estimating program's folder. In any other
// folder a link is never written through: the replacement takes the link's
// name, and what it pointed to stays untouched.
//
// A replacement keeps what the old file was: its mode, its ACL and every
// other extended attribute (one that cannot be set on the new file refuses
// the replacement), its owner and group as far as the writer may keep them
// (root keeps both; anyone else the group when a member of it, except in a
// setgid folder, where the new file takes the folder's group). Another
// user's file replaced in a shared folder becomes the writer's own. A new
// file gets the usual permissions (0666 less the umask, or the folder's
// default ACL).

#include "common/core/result.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The path a name leads to after following every symbolic link the way the
// kernel does (each link read relative to the folder that holds it), whoever
// owns the folders; the folders in it are the kernel's own (no link left in
// them). Empty when the links lead nowhere within 40 steps or a folder on the
// way cannot be opened.
QString FollowLinks(const QString& path);

// Opens the file at `path` for reading, without blocking (O_NONBLOCK: a FIFO
// without a writer is not waited on), resolving it as the kernel does but
// following only links the user or root made: in a folder others share,
// another user's link may point at a file only this user may read, whose
// contents a read-modify-write would then put where that user reads them.
// The descriptor, or -1 with errno; `othersLink` set when another user's
// link was the cause.
int OpenForReading(const QString& path, bool* othersLink);

// Whether the file at path may be replaced, or why not: the check the
// windows make to tell the user before any work, by the same rules the
// replacement itself applies when it opens the file. The name must lead to a
// regular file, a link that is replaced rather than followed, or nothing yet;
// a FIFO, a device, a socket or a folder (or a link followed to one) is
// refused without being opened (opening a FIFO would wait for a reader), as
// root too. A file the user made read-only is refused (their own guard);
// another user's file without write permission for this one is replaced when
// the folder lets the user write (it keeps its mode), and a folder the user
// may not write is refused naming it. Refused too: a file with another name (a hard link: the
// replacement would split them), another user's file in a sticky folder, an
// extended attribute that cannot be read. The message names the file.
Result<> CheckWritingTo(const QString& path);

// The reason a write failed, for the user: "ディスクの空き容量が足りません" for a
// full disk (or quota), a Japanese text for the usual others, the system's
// text for the rest.
QString WriteErrorText(int err);

// A folder's file system has (almost) no room left: less than 1 MB free. Asked
// after a child process failed to write there, to say why.
bool FolderIsFull(const QString& folder);

// A replacement under way. begin() checks the target (the rules of
// CheckWritingTo, on what it opened) and creates the temporary file;
// append() adds bytes to it, or a child process writes it by its name
// (temporaryPath()); commit() gives it the old file's owner, mode and
// attributes, flushes it, renames it over the target and makes the rename
// durable. Destroyed unfinished, it removes the temporary file and leaves the
// target as it was.
class AtomicReplacement {
public:
    explicit AtomicReplacement(const QString& path);
    ~AtomicReplacement();
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    Result<> begin();
    Result<> append(const char* data, qsizetype size);
    Result<> commit();
    // Gives up: the temporary file is removed, the target stays.
    void abandon();

    const QString& path() const { return path_; }
    // The temporary file (empty before begin()).
    QString temporaryPath() const;
    // Bytes the temporary file holds now (whoever wrote them), -1 before begin().
    qint64 temporarySize() const;

private:
    struct Work;
    // Abandon() and the failure to return: a system error or a refusal.
    Failure fail(int err);
    Failure refuse(const QString& why);

    QString path_; // as given, for messages
    std::unique_ptr<Work> work_;
};

// Writes `bytes` over path as one replacement. A failure's message names the
// file; the old file stays as it was.
Result<> WriteFileAtomically(const QString& path, const QByteArray& bytes);

// A file opened to be written in place from its start (座標.txt, which grows
// as points arrive), emptied. The name is opened first, without following a
// link where a replacement would not follow it and without waiting on a
// FIFO, and only then checked: a regular file is emptied; a link that is not
// followed gives way to a new empty file of its name (what it pointed to is
// never opened); a missing file is made; anything else is refused without
// being opened. The file itself must be writable (it is written in place).
// The descriptor, open for writing and emptied, for the caller to close; else
// the message naming the file: the rule that refused it, or why the system
// could not open it.
Result<int> OpenEmptiedInPlace(const QString& path);
