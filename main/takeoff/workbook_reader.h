#pragma once
// Pieces shared by the .xlsx and .xls readers of workbook.cpp.

#include "main/takeoff/workbook.h"

#include <QString>
#include <QVariant>

// Gathers the cells of the sheet being read, with its used range, and
// refuses what lies beyond the format's limits.
class SheetCollector {
public:
    // A cell present in the sheet. An invalid value or an empty text marks
    // the cell as used (it counts into the used range) without storing it.
    // Refused, with the reason, when the cell is out of range or there are
    // too many cells.
    Result<> add(int row, int column, const QVariant& value);

    WorkbookData finish(const QString& sheetName);

private:
    WorkbookData data_;
    bool any_ = false;
    int minRow_ = 0;
    int minColumn_ = 0;
    int maxRow_ = 0;
    int maxColumn_ = 0;
};

// "セル XFD1048576" and the like, for messages.
QString CellName(int row, int column);

// The readers proper. A failure's message is the reason (the second line of
// the message ReadWorkbook shows).
Result<WorkbookData> ReadXlsxWorkbook(const QString& path);
Result<WorkbookData> ReadXlsWorkbook(const QString& path);

// Checks an .xls file before FreeXL opens it (workbook_ole2.cpp), refusing
// it with the reason.
Result<> CheckXlsContainer(const QString& path);
