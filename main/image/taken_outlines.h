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

#include "common/outline_store.h"
#include "common/textcodec.h"

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

// Adds one outline at the end of the file. The lines already there are kept
// byte for byte, those no reader takes included, and the whole file is
// replaced atomically. A file that cannot be read whole (past the bound, not
// a regular file) is not replaced: false and a message naming it.
bool AppendTakenOutline(const QString& path, const TakenOutline& outline, const TextCodec& codec,
                        QString* error = nullptr);

// The outline finished on screen, waiting for "実行": the row written for
// exactly that outline keeps it in its drawing's file.
class OnScreenOutlines {
public:
    // The digitizer finished `outline` on the drawing at imagePath; `store`
    // holds it as "実行" will read it.
    void finished(const QString& imagePath, const TakenOutline& outline, const OutlineStore& store);

    // "実行" wrote the row of `written`. When that is the outline finished
    // on screen, it is appended to its drawing's file. The message of a
    // failed write, said once a file in a run (a finish is never held up by
    // it); else nothing.
    std::optional<QString> rowWritten(const OutlineStore& written, const TextCodec& codec);

private:
    struct Waiting {
        QString imagePath;
        TakenOutline outline;
        OutlineStore store;
    };
    std::optional<Waiting> waiting_;
    QStringList reported_; // files whose failed write was said
};
