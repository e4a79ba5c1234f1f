#pragma once
// What every input road does with a record it will not take: the point
// admission rule of the outline store, and the refusals of one outline
// (one message box, a bounded number of log lines).

#include "common/core/outline_store.h"
#include "common/core/result.h"

#include <QString>

// A point of code 1 or 2 (or an end record, code 4) may join the outline in
// the store. The store's 100 rows include the end record, so a point is
// refused once 99 rows are held while the end record is still taken; an end
// record before any point is refused, with the text saying why.
// The refusal of a point says how the outline is closed: by the tablet's end
// button, or on screen by the middle button or "中ボタン".
enum class OutlineEnd { TabletButton, ScreenButton };
Result<> CheckPoint(const OutlineStore& store, int code, OutlineEnd end = OutlineEnd::TabletButton);

// The first kBriefLength characters of a text read from outside (a record,
// a file line, a cell), with "…" when cut, control characters shown as "?":
// what a message may quote of bad input.
inline constexpr int kBriefLength = 40;
QString Brief(const QString& text, int length = kBriefLength);

// The refusals of the outline being taken. The first refusal of an outline
// is shown in a message box; every refusal leaves a line in the log saying
// why, at most kMaxLines per outline, after which they are only counted and
// one line gives their number (see flush()).
class OutlineRefusals {
public:
    static constexpr int kMaxLines = 20;

    struct Outcome {
        QString message; // for a message box; empty after the first of the outline
        QString logLine; // for the log, CR LF ended; empty once kMaxLines are written
    };

    Outcome refuse(const QString& reason);

    // The line counting the refusals not logged since the last flush (empty
    // when there are none). Called when a record is taken, when the outline
    // ends and before reset(), so the count stands where the refusals were.
    QString flush();

    // A new outline begins: the message box and the log lines may come again.
    // Returns flush() of the outline that ends.
    QString reset();

    int refusedCount() const { return refused_; }

private:
    int refused_ = 0;  // refusals of this outline
    int logged_ = 0;   // of which logged as lines
    int unlogged_ = 0; // not logged since the last flush
};
