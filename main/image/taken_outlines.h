#pragma once
// The outlines taken off a drawing. Each outline whose row "実行" wrote is
// kept beside the drawing, in imagePath & ".takeoff", so that the drawing
// shows which rooms are done whenever it is opened again. The file goes
// with the calibration: a turn or a new conversion of the drawing deletes
// both.
//
// One line an outline, in the code page, CR LF ended: the number of points,
// their positions in drawing pixels (zoom 1) as X and Y texts, then the
// comment, all joined by "," (the comment last, so it may hold commas):
//   4,100,100,500,100,500,400,100,400,居間-1
//
// A drawing may lie in a folder several estimators share, each taking off
// the same drawing in a session of their own. Every change of a drawing's
// own files (its outlines, its calibration, their removal with the drawing)
// reads, changes and replaces them holding the drawing's lock, a lock file
// beside it: one session's change never undoes another's.

#include "common/core/file_lock.h"
#include "common/core/outline_store.h"
#include "common/core/result.h"
#include "common/core/textcodec.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>

struct TakenOutline {
    QList<QPointF> points; // drawing pixels
    QString comment;
    bool operator==(const TakenOutline&) const = default;
};

// imagePath & ".takeoff".
QString TakenOutlinesPath(const QString& imagePath);

// A file holds at most this many bytes, a line at most 100 points.
inline constexpr qint64 kMaxTakenOutlinesBytes = 4 * 1024 * 1024;
inline constexpr int kMaxTakenOutlinePoints = 100;
// A comment holds at most what the digitizer's コメント box takes; a longer
// line is no outline the digitizer wrote and is refused.
inline constexpr int kMaxTakenCommentLength = 32767;
inline constexpr int kMaxTakenLineLength =
    16 + kMaxTakenOutlinePoints * 2 * 24 + kMaxTakenCommentLength;

// The file's line of one outline (without its line end).
QString TakenOutlineLine(const TakenOutline& outline);

struct TakenOutlinesRead {
    QList<TakenOutline> outlines;
    // Why a line or the file was not taken (quoting a few dozen characters
    // of the first such line), empty when every line was read. A missing
    // file is no error: nothing was taken off the drawing yet.
    QString error;
};
TakenOutlinesRead ReadTakenOutlines(const QString& path, const TextCodec& codec);

// ---- The drawing's lock ----

// imagePath & ".lock": the lock file of a drawing's own files. Never one of
// those files itself: each is replaced by a rename, and a lock on it would
// guard the old file only.
QString DrawingLockPath(const QString& imagePath);

// How long a change waits for another session's change of the same drawing.
inline constexpr int kDrawingLockWaitMs = 5000;

// Takes the drawing's lock into `lock`, waiting up to waitMs while another
// session holds it. Fails with a message naming the drawing when it is still
// held then, or when the lock file cannot be made.
Result<> LockDrawing(FileLock& lock, const QString& imagePath, int waitMs = kDrawingLockWaitMs);

// ---- Adding outlines ----

// Adds outlines at the end of the drawing's file, holding the drawing's lock
// (LockDrawing) from the read to the replacement, so outlines other sessions
// add meanwhile are kept. The lines already there are kept byte for byte,
// those no reader takes included, and the whole file is replaced
// atomically. A file that cannot be read whole (past the bound, not a
// regular file), or a lock still held by another session after waitMs, is
// not replaced: a failure naming it.
// Replaces the drawing's outline file with `outlines` (under the drawing's
// lock, which the caller holds); no file is made when there are none and
// there was none.
Result<> WriteTakenOutlines(const QString& imagePath, const QList<TakenOutline>& outlines,
                            const TextCodec& codec);

Result<> AppendTakenOutlines(const QString& imagePath, const QList<TakenOutline>& outlines,
                             const TextCodec& codec, int waitMs = kDrawingLockWaitMs);

// The outlines finished on screen: the one waiting for "実行" (the row
// written for exactly that outline keeps it in its drawing's file), and the
// ones whose row was written but whose drawing's file could not take them
// yet. Those are never dropped: every later row written tries them again.
class OnScreenOutlines {
public:
    // The digitizer finished `outline` on the drawing at imagePath; `store`
    // holds it as "実行" will read it.
    void finished(const QString& imagePath, const TakenOutline& outline, const OutlineStore& store);

    // "実行" wrote the row of `written`. When that is the outline finished
    // on screen, it is added to its drawing's file, after the outlines
    // still unsaved (retry()). The message of a failed write; else nothing.
    std::optional<QString> rowWritten(const OutlineStore& written, const TextCodec& codec);

    // Adds the unsaved outlines to their drawings' files, in the order they
    // were finished. A file that cannot take them keeps them unsaved; its
    // failure is said once until it takes them (a finish is never held up by
    // it): the message, else nothing.
    std::optional<QString> retry(const TextCodec& codec, int waitMs = kDrawingLockWaitMs);

    // The outlines of a drawing whose row was written but which its file
    // does not hold yet.
    QList<TakenOutline> unsaved(const QString& imagePath) const;

private:
    struct Waiting {
        QString imagePath;
        TakenOutline outline;
        OutlineStore store;
    };
    struct Unsaved {
        QString imagePath;
        TakenOutline outline;
    };
    std::optional<Waiting> waiting_;
    QList<Unsaved> unsaved_;
    QStringList reported_; // drawings whose failed write was said
};
