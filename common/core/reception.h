#pragma once
// What every tablet road does with what its serial line reports: a record
// joins the outline store (or is refused, with a log line and the outline's
// first refusal told), dropped bytes are refused as a record would be, and a
// lost line is reported. Used by VarpadLumo and by the tablet programs alike;
// windows only show what it returns.

#include "common/core/outline_store.h"
#include "common/core/refusals.h"
#include "common/core/tablet_records.h"

#include <QString>

#include "common/core/result.h"

#include <functional>

struct ReceptionOutcome {
    bool stored = false;       // a row was added to the store
    bool endOfOutline = false; // the row was the end record: close the port, draw the sketch
    bool lineLost = false;     // the device went away (carrier lost); message says why
    QString logText;           // lines for the log (CR LF ended); may be empty
    QString message;           // for a message box (empty when nothing to say)
};

class Reception {
public:
    // A step a road adds before a point joins the store (the tablet programs
    // write its line of 座標.txt): a failure refuses the point.
    using Step = std::function<Result<>(const TabletPoint&)>;

    // Takes one parsed record into the store, under the store's admission
    // rule (CheckPoint): 99 points and the end record, no end record before
    // a point. A refused record (malformed, not admitted, refused by `step`,
    // or arriving while a finished outline waits) changes nothing in the
    // store; it leaves a line in the log, and the first refusal of an
    // outline a message. The point's log line is `logLine`, by default
    // "( X , Y )  Flg = code".
    ReceptionOutcome take(const Result<TabletPoint>& parsed, OutlineStore& store,
                          const QString& logLine = QString(), const Step& step = Step());

    // Something the line itself lost (received bytes dropped), refused as a
    // record would be.
    ReceptionOutcome refuse(const QString& reason);

    // What the line reported besides a record (CommEventCode): dropped bytes
    // are refused, a lost carrier is told (lineLost, its text as message).
    ReceptionOutcome lineEvent(int commEvent, const QString& errorText);

    // Refusals only counted so far, as one log line (empty when there are none).
    QString flush() { return refusals_.flush(); }

    // A new outline begins (store emptied, port reopened): the message may
    // come again. Returns the line counting the refusals of the outline that
    // ends which were not logged one by one (empty when there are none).
    QString reset() { return refusals_.reset(); }

    int refusedCount() const { return refusals_.refusedCount(); }

    static QString outlineWaitingMessage();

private:
    OutlineRefusals refusals_;
};
