#pragma once
// What the main window does with one tablet record: the outline store row,
// the log lines, and whether the outline has ended. Kept apart from the
// window so it can be checked without serial ports or widgets.

#include "common/core/outline_store.h"
#include "common/core/refusals.h"
#include "common/core/tablet_records.h"

#include <QString>

struct ReceptionOutcome {
    bool stored = false;       // a row was added to the store
    bool endOfOutline = false; // the row was the end record: close the port, draw the sketch
    QString logText;           // lines for the log (CR LF ended); may be empty
    QString message;           // for a message box (empty when nothing to say)
};

class Reception {
public:
    // Takes one parsed record into the store, under the store's admission
    // rule (CheckPoint): 99 points and the end record, no end record before
    // a point. A refused record (malformed, not admitted, or arriving while a
    // finished outline waits) changes nothing in the store; it leaves a line
    // in the log, and the first refusal of an outline a message.
    ReceptionOutcome take(const Result<TabletPoint>& parsed, OutlineStore& store);

    // Something the line itself lost (received bytes dropped), refused as a
    // record would be.
    ReceptionOutcome refuse(const QString& reason);

    // A new outline begins (store emptied, port reopened): the message may
    // come again. Returns the line counting the refusals of the outline that
    // ends which were not logged one by one (empty when there are none).
    QString reset() { return refusals_.reset(); }

    int refusedCount() const { return refusals_.refusedCount(); }

    static QString outlineWaitingMessage();

private:
    OutlineRefusals refusals_;
};
