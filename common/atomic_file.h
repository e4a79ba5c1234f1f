#pragma once
// Replacing a file whole without ever leaving it half written, and the rules
// every file the programs write, replace or empty must meet.
//
// The new contents go to a temporary file in the folder of the file they
// replace; it is flushed to the disk and renamed over the old file only once
// it is complete. A symbolic link is followed, so its target is replaced (座標.txt
// or curGazo.bmp may be links into the estimating program's folder). The old
// file keeps its permissions; a new one gets the usual ones (0666 less the
// umask). On any failure the old file stays as it was and no temporary file
// is left behind.

#include <QByteArray>
#include <QString>

#include <optional>

// The path a name leads to after following every symbolic link (the name
// itself when it is none); a link that does not lead anywhere within 40 steps
// gives an empty text.
QString FollowLinks(const QString& path);

// Why the file at path may not be written, replaced or emptied, else nothing:
// after following links it must be a regular file the user may write, or not
// exist yet. A FIFO, a device, a socket or a folder (or a link to one) is
// refused before anything opens it (opening a FIFO would wait for a reader),
// as root too; so is a file without write permission. The message names the
// file.
std::optional<QString> RefuseWritingTo(const QString& path);

// The reason a write failed, for the user: "ディスクの空き容量が足りません" for a
// full disk (or quota), a Japanese text for the usual others, the system's
// text for the rest.
QString WriteErrorText(int err);

// A folder's file system has (almost) no room left: less than 1 MB free. Asked
// after a child process failed to write there, to say why.
bool FolderIsFull(const QString& folder);

// A replacement under way. begin() checks the target (RefuseWritingTo) and
// creates the temporary file; append() adds bytes to it, or a child process
// writes it by its name (temporaryPath()); commit() flushes it, renames it
// over the target and makes the rename durable. Destroyed unfinished, it
// removes the temporary file and leaves the target as it was.
class AtomicReplacement {
public:
    explicit AtomicReplacement(const QString& path);
    ~AtomicReplacement();
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    bool begin(QString* error = nullptr);
    bool append(const char* data, qsizetype size, QString* error = nullptr);
    bool commit(QString* error = nullptr);
    // Gives up: the temporary file is removed, the target stays.
    void abandon();

    const QString& path() const { return path_; }
    // The temporary file (empty before begin()).
    QString temporaryPath() const;
    // Bytes the temporary file holds now (whoever wrote them), -1 before begin().
    qint64 temporarySize() const;

private:
    bool fail(int err, QString* error);

    QString path_;      // as given, for messages
    QByteArray target_; // the file replaced, links followed
    QByteArray temp_;   // the temporary file beside it
    int fd_ = -1;
};

// Writes `bytes` over path as one replacement. False and a message naming the
// file (when `error` is given) on failure; the old file stays as it was.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
