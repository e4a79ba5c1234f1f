#pragma once
// What the main window does with one tablet record: the outline store row,
// the log line, and whether the outline has ended. Kept apart from the
// window so it can be checked without serial ports or widgets.

#include "common/outline_store.h"
#include "common/tablet_records.h"

#include <QString>

struct ReceptionOutcome {
    bool stored = false;       // a row was added to the store
    bool endOfOutline = false; // the row was the end record: close the port, draw the sketch
    QString logLine;           // text to append to the log (empty when refused)
    QString message;           // to show the user (empty when nothing to say)
};

class Reception {
public:
    // Takes one parsed record into the store. A refused record (malformed,
    // or the store already full) changes nothing; its message is given only
    // once per outline, so a stream of garbage does not bury the user in boxes.
    ReceptionOutcome take(const ParseResult& parsed, OutlineStore& store);

    // A new outline begins (store emptied, port reopened): messages may be shown again.
    void reset() { warned_ = false; }

    static QString storeFullMessage();
    static QString outlineWaitingMessage();

private:
    QString warnOnce(const QString& text);
    bool warned_ = false;
};
