#pragma once
// Workbook files of the main window's worksheet: saving the sheet as .xlsx
// (also as the recovery workbook after every row), and reading the first
// worksheet of a past workbook (.xlsx or .xls) so it can be copied in.

#include "common/core/result.h"
#include "main/takeoff/worksheet.h"

#include <QString>
#include <QVariant>

#include <map>
#include <utility>

// Limits of a worksheet as the .xlsx format has them.
inline constexpr int kWorkbookMaxRows = 1048576;
inline constexpr int kWorkbookMaxColumns = 16384;
// The longest text a cell may hold (the format's own limit): longer texts
// are neither written nor read.
inline constexpr int kMaxCellText = 32767;
// The last row a workbook read in may use: the last row of the sheet.
inline constexpr int kWorkbookLastRow = Worksheet::kLastRow;
// The most cells with a value a workbook may bring in: a full sheet of the
// shown columns A to H.
inline constexpr int kWorkbookMaxCells = 32767 * 8;

// Writes every cell of the sheet into an .xlsx file with one worksheet
// "Sheet1": texts as strings, numbers (double, float, integers) as numbers,
// bools as booleans. A double is written in its shortest decimal form (33.6
// stays 33.6); a float as the decimal it stands for (33.6f is 33.6, not its
// widened value 33.59999847...). The file is made in full first and then put
// in place of `path` atomically: when anything fails the old file is left as
// it was, and the failure holds a Japanese message.
Result<> SaveWorkbook(const Worksheet& sheet, const QString& path);

// The same, with custom document properties of yes/no type (name, value), as
// the recovery workbook records whether its rows were saved.
Result<> SaveWorkbook(const Worksheet& sheet, const QString& path,
                      const std::map<QString, bool>& flags);

// The values of the first worksheet of a workbook.
struct WorkbookData {
    // Non-empty cells by their own (row, column), counted from 1: QString,
    // double, int (a number written without fraction or exponent) or bool.
    // Dates stay the serial numbers they are stored as.
    std::map<std::pair<int, int>, QVariant> cells;
    // The used range as a spreadsheet reports it: from its first used row and
    // column to its last. usedRows/usedColumns are the counts (last - first
    // + 1), as UsedRange.Rows.Count and Columns.Count give them. An empty
    // sheet reports A1, a range of one row and one column.
    int firstRow = 1;
    int firstColumn = 1;
    int usedRows = 1;
    int usedColumns = 1;
    // Name of the worksheet read.
    QString sheetName;
    // Custom document properties (.xlsx): name -> value as written.
    std::map<QString, QString> customProperties;

    int lastRow() const { return firstRow + usedRows - 1; }
    int lastColumn() const { return firstColumn + usedColumns - 1; }
    // Value of a cell, invalid when empty.
    QVariant value(int row, int column) const;
};

// Reads the first worksheet (in the workbook's own sheet order) of an .xlsx
// or .xls file; the format is told by the file's content, not its name. The
// whole sheet is read before anything is returned: a failure's message is
// "ワークブックを読み込めません: <file>\r\n<reason>".
// Refused, besides damaged files: a cell past kWorkbookLastRow, a text longer
// than kMaxCellText (the sheet could not be saved again), more than
// kWorkbookMaxCells cells; and, so that a hostile file costs little time and
// memory, a part that inflates past 64 MB and a tag longer than 64 KB.
Result<WorkbookData> ReadWorkbook(const QString& path);

// The copy of "過去の積算を編集": clears the sheet, then puts every cell of
// the source at its own address (a table starting at B2 stays at B2). The
// caller sets rowNo to lastRow() + 1.
void CopyIntoSheet(const WorkbookData& data, Worksheet& sheet);
