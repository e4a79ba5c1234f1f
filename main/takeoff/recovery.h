#pragma once
// The recovery workbook: instPath & "worksheet-recovery.xlsx", rewritten with
// the whole sheet after every change, so that rows survive a crash or a
// killed program. It records whether the rows it holds were saved by the user
// (a custom document property); rows nobody saved are offered back at the
// next start and are never overwritten or removed: what is not taken back is
// kept under a dated name beside it.

#include "main/takeoff/workbook.h"

#include <QDateTime>
#include <QString>

// File name of the recovery workbook in the installation folder.
inline constexpr const char* kRecoveryWorkbookName = "worksheet-recovery.xlsx";
// The custom document property that says whether the rows were saved.
inline constexpr const char* kRowsSavedProperty = "RowsSaved";

// instPath & "worksheet-recovery.xlsx" (a "/" is put between when instPath
// does not end with one).
QString RecoveryWorkbookPath(const QString& instPath);

// Writes the sheet to the recovery workbook (atomically, see SaveWorkbook),
// recording whether its rows are saved elsewhere.
Result<> WriteRecoveryWorkbook(const Worksheet& sheet, const QString& instPath, bool rowsSaved);

// What a start finds in the installation folder.
struct RecoveryFound {
    enum class State {
        None,       // no recovery workbook
        Saved,      // its rows were saved, or it holds nothing below the headings
        Unsaved,    // it holds rows nobody saved: offer them back
        Unreadable, // it cannot be read: keep it aside
    };
    State state = State::None;
    WorkbookData data; // the sheet, for Unsaved
    QString error;     // why it cannot be read, for Unreadable
};
RecoveryFound FindRecoveryWorkbook(const QString& instPath);

// Renames the recovery workbook to a dated name beside it,
// "worksheet-recovery-20261208-112530.xlsx" for `when` (with "-2", "-3" ...
// when that name is taken), never replacing a file. Returns the new path.
Result<QString> KeepRecoveryWorkbook(const QString& instPath, const QDateTime& when);
