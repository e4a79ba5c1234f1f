// Workbook files of the worksheet: saving as .xlsx (checked with openpyxl),
// the recovery workbook, and reading past workbooks (.xlsx, .xls).
#include "main/takeoff/recovery.h"
#include "main/takeoff/workbook.h"

#include "file_systems.h"
#include "succeeded.h"
#include "test_paths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

QString Fixture(const char* name) {
    return QDataPath("/workbooks/") + QString::fromUtf8(name);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Reads a workbook with openpyxl in Debian's own python3: the sheet names,
// every cell of the first sheet with its Python type, the dimensions, and
// the raw XML of the first sheet's part.
QJsonObject ReadWithOpenpyxl(const QString& path) {
    static const char* script = R"(
import json, sys, zipfile
import openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
cells = []
for row in ws.iter_rows():
    for c in row:
        if c.value is not None:
            cells.append({"row": c.row, "column": c.column, "type": type(c.value).__name__,
                          "value": c.value, "repr": repr(c.value)})
with zipfile.ZipFile(sys.argv[1]) as z:
    raw = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
json.dump({"sheets": wb.sheetnames, "cells": cells, "max_row": ws.max_row,
           "max_column": ws.max_column, "raw": raw}, sys.stdout)
)";
    QProcess py;
    py.start(kPython, {QStringLiteral("-c"), QString::fromUtf8(script), path});
    const bool finished = py.waitForStarted() && py.waitForFinished(120000);
    const QByteArray err = py.readAllStandardError();
    EXPECT_TRUE(finished && py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0)
        << err.constData();
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(py.readAllStandardOutput(), &parseError);
    EXPECT_EQ(parseError.error, QJsonParseError::NoError) << err.constData();
    return doc.object();
}

// Cell (row, column) of ReadWithOpenpyxl's answer, empty when absent.
QJsonObject PyCell(const QJsonObject& book, int row, int column) {
    for (const auto& v : book.value(QStringLiteral("cells")).toArray()) {
        const QJsonObject c = v.toObject();
        if (c.value(QStringLiteral("row")).toInt() == row &&
            c.value(QStringLiteral("column")).toInt() == column)
            return c;
    }
    return {};
}

QString PyType(const QJsonObject& book, int row, int column) {
    return PyCell(book, row, column).value(QStringLiteral("type")).toString();
}

// The take-off sheet as the main window fills it: headings, a rectangle
// with ceiling height 2400, the same with its short sides as perimeter only,
// and an open outline with no height (plain integer zeros).
void FillTakeoffSheet(Worksheet& sheet) {
    for (int c = 0; c < 7; ++c)
        sheet.Cells(1, c + 1) = QString::fromUtf8(Worksheet::kHeadings[size_t(c)]);
    const QVariantList rows[] = {
        {QStringLiteral("拾い-1"), 14.0, 14.0, 2400.0, 12.0, 33.6, 12.0},
        {QStringLiteral("拾い-2"), 14.0, 8.0, 2400.0, 12.0, 19.2, 12.0},
        {QStringLiteral("拾い-3"), 10.0, 10.0, 0, 0, 0, 0},
    };
    int r = 2;
    for (const auto& row : rows) {
        for (int c = 0; c < row.size(); ++c)
            sheet.Cells(r, c + 1) = row[c];
        ++r;
    }
}

class WorkbookFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QStringList entries() const {
        return QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    QTemporaryDir dir_;
};

// ---- saving ----

TEST_F(WorkbookFiles, WorkbookSaveIsReadByOpenpyxlWithTypesAndExactNumbers) {
    Worksheet sheet;
    FillTakeoffSheet(sheet);
    sheet.Cells(6, 1) = true;
    sheet.Cells(6, 2) = QVariant::fromValue(33.6f); // a single, as the row arithmetic has it
    sheet.Cells(6, 3) = QVariant::fromValue(0.1 + 0.2);
    const QString path = file(QStringLiteral("積算.xlsx"));
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, path)));

    const QJsonObject book = ReadWithOpenpyxl(path);
    EXPECT_EQ(book.value(QStringLiteral("sheets")).toArray(), QJsonArray{QStringLiteral("Sheet1")});
    for (int c = 1; c <= 7; ++c) {
        EXPECT_EQ(PyType(book, 1, c), QStringLiteral("str"));
        EXPECT_EQ(PyCell(book, 1, c).value(QStringLiteral("value")).toString(),
                  QString::fromUtf8(Worksheet::kHeadings[size_t(c - 1)]));
    }
    EXPECT_EQ(PyCell(book, 2, 1).value(QStringLiteral("value")).toString(),
              QStringLiteral("拾い-1"));
    // Whole numbers come out as int, others as float with their exact decimal.
    EXPECT_EQ(PyType(book, 2, 2), QStringLiteral("int"));
    EXPECT_EQ(PyCell(book, 2, 4).value(QStringLiteral("value")).toInt(), 2400);
    EXPECT_EQ(PyType(book, 2, 6), QStringLiteral("float"));
    EXPECT_EQ(PyCell(book, 2, 6).value(QStringLiteral("repr")).toString(), QStringLiteral("33.6"));
    EXPECT_EQ(PyCell(book, 3, 6).value(QStringLiteral("repr")).toString(), QStringLiteral("19.2"));
    EXPECT_EQ(PyType(book, 4, 4), QStringLiteral("int"));
    EXPECT_EQ(PyCell(book, 4, 7).value(QStringLiteral("value")).toInt(), 0);
    EXPECT_EQ(PyType(book, 6, 1), QStringLiteral("bool"));
    EXPECT_EQ(PyCell(book, 6, 2).value(QStringLiteral("repr")).toString(), QStringLiteral("33.6"));
    EXPECT_EQ(PyCell(book, 6, 3).value(QStringLiteral("repr")).toString(), QStringLiteral("0.3"));
    EXPECT_EQ(book.value(QStringLiteral("max_row")).toInt(), 6);
    EXPECT_EQ(book.value(QStringLiteral("max_column")).toInt(), 7);

    const QString raw = book.value(QStringLiteral("raw")).toString();
    EXPECT_TRUE(raw.contains(QStringLiteral("<v>33.6</v>"))) << raw.toStdString();
    EXPECT_FALSE(raw.contains(QStringLiteral("33.59999"))) << raw.toStdString();
}

TEST_F(WorkbookFiles, WorkbookRoundTripKeepsEveryValue) {
    Worksheet sheet;
    FillTakeoffSheet(sheet);
    const QString awkward[] = {
        QStringLiteral("  前後に空白  "),    QStringLiteral("a & b < c > \"d\" 'e'"),
        QStringLiteral("一行目\r\n二行目"),  QStringLiteral("タブ\tと\x01制御文字"),
        QStringLiteral("絵文字 \U0001F4D0"), QString(5000, QChar(u'長')),
    };
    int r = 10;
    for (const auto& text : awkward)
        sheet.Cells(r++, 1) = text;
    sheet.Cells(1000, 30) = -1.25e-7;
    sheet.Cells(20, 2) = false;
    sheet.Cells(20, 3) = 123456789012.5;

    const QString path = file(QStringLiteral("round.xlsx"));
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, path)));
    const auto data = ReadWorkbook(path);
    ASSERT_TRUE(data) << data.error().toStdString();

    EXPECT_EQ(data->sheetName, QStringLiteral("Sheet1"));
    EXPECT_EQ(data->cells.size(), sheet.cells().size());
    for (const auto& [key, want] : sheet.cells()) {
        const QVariant got = data->value(key.first, key.second);
        SCOPED_TRACE(QStringLiteral("cell %1,%2").arg(key.first).arg(key.second).toStdString());
        if (want.typeId() == QMetaType::QString || want.typeId() == QMetaType::Bool) {
            EXPECT_EQ(got.typeId(), want.typeId());
            EXPECT_EQ(got, want);
        } else {
            EXPECT_TRUE(got.typeId() == QMetaType::Double || got.typeId() == QMetaType::Int);
            EXPECT_EQ(got.toDouble(), want.toDouble());
        }
    }
    EXPECT_EQ(data->firstRow, 1);
    EXPECT_EQ(data->firstColumn, 1);
    EXPECT_EQ(data->usedRows, 1000);
    EXPECT_EQ(data->usedColumns, 30);
}

TEST_F(WorkbookFiles, WorkbookSaveFailsCleanlyAndKeepsTheOldFile) {
    Worksheet sheet;
    FillTakeoffSheet(sheet);

    // A folder that does not exist, and a "folder" that is a file.
    Result<> saved = SaveWorkbook(sheet, file(QStringLiteral("無い/積算.xlsx")));
    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.error().startsWith(QStringLiteral("ワークブックを保存できません: ")))
        << saved.error().toStdString();
    EXPECT_TRUE(saved.error().contains(QStringLiteral("フォルダーがありません")))
        << saved.error().toStdString();
    WriteAll(file(QStringLiteral("plain")), "x");
    saved = SaveWorkbook(sheet, file(QStringLiteral("plain/積算.xlsx")));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error().isEmpty());

    // A folder under the target's name stays as it is.
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("taken.xlsx/inner")));
    saved = SaveWorkbook(sheet, file(QStringLiteral("taken.xlsx")));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error().isEmpty());
    EXPECT_TRUE(QDir(file(QStringLiteral("taken.xlsx/inner"))).exists());

    // A sheet that cannot be written (a text beyond a cell's limit): the
    // old workbook is left byte for byte, with no temporary file beside it.
    const QString path = file(QStringLiteral("old.xlsx"));
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, path)));
    const QByteArray before = ReadAll(path);
    const QStringList entriesBefore = entries();
    Worksheet tooLong;
    tooLong.Cells(3, 2) = QString(40000, QChar(u'a'));
    saved = SaveWorkbook(tooLong, path);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.error().contains(QStringLiteral("セル B3"))) << saved.error().toStdString();
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(entries(), entriesBefore);

    // Replacing works and leaves nothing else behind.
    sheet.Cells(5, 1) = QStringLiteral("追加");
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, path)));
    EXPECT_EQ(entries(), entriesBefore);
    const auto back = ReadWorkbook(path);
    ASSERT_TRUE(back) << back.error().toStdString();
    EXPECT_EQ(back->value(5, 1), QVariant(QStringLiteral("追加")));
}

TEST_F(WorkbookFiles, WorkbookSaveIntoReadOnlyFolderFails) {
    if (IsRoot()) { // root writes into read-only folders: run as an ordinary user
        const UserRun run = RerunAsOrdinaryUser();
        if (run.skipped)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        EXPECT_TRUE(run.passed) << run.output.toStdString();
        return;
    }
    Worksheet sheet;
    FillTakeoffSheet(sheet);
    const QString folder = file(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/old.xlsx");
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, path)));
    const QByteArray before = ReadAll(path);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    Worksheet other;
    other.Cells(1, 1) = QStringLiteral("別");
    const Result<> saved = SaveWorkbook(other, path);
    EXPECT_FALSE(saved);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(saved.error().isEmpty());
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(WorkbookFiles, WorkbookRecoveryRecordsWhetherItsRowsWereSaved) {
    Worksheet sheet;
    FillTakeoffSheet(sheet);
    const QString instPath = dir_.path() + QLatin1Char('/');
    EXPECT_EQ(RecoveryWorkbookPath(instPath), instPath + QStringLiteral("worksheet-recovery.xlsx"));
    EXPECT_EQ(RecoveryWorkbookPath(dir_.path()),
              instPath + QStringLiteral("worksheet-recovery.xlsx"));
    EXPECT_EQ(FindRecoveryWorkbook(instPath).state, RecoveryFound::State::None);

    ASSERT_TRUE(Succeeded(WriteRecoveryWorkbook(sheet, instPath, false)));
    const QJsonObject book = ReadWithOpenpyxl(RecoveryWorkbookPath(instPath));
    EXPECT_EQ(PyCell(book, 2, 6).value(QStringLiteral("repr")).toString(), QStringLiteral("33.6"));
    RecoveryFound found = FindRecoveryWorkbook(instPath);
    ASSERT_EQ(found.state, RecoveryFound::State::Unsaved);
    EXPECT_EQ(found.data.value(4, 1), QVariant(QStringLiteral("拾い-3")));

    ASSERT_TRUE(Succeeded(WriteRecoveryWorkbook(sheet, instPath, true)));
    EXPECT_EQ(FindRecoveryWorkbook(instPath).state, RecoveryFound::State::Saved);
    // Headings alone are nothing to offer; a workbook without the mark is.
    Worksheet headings;
    headings.Cells(1, 1) = QStringLiteral("処理名称");
    ASSERT_TRUE(Succeeded(WriteRecoveryWorkbook(headings, instPath, false)));
    EXPECT_EQ(FindRecoveryWorkbook(instPath).state, RecoveryFound::State::Saved);
    ASSERT_TRUE(Succeeded(SaveWorkbook(sheet, RecoveryWorkbookPath(instPath))));
    EXPECT_EQ(FindRecoveryWorkbook(instPath).state, RecoveryFound::State::Unsaved);

    // Kept aside under a dated name, never over another file.
    const QDateTime when(QDate(2026, 12, 8), QTime(11, 25, 30));
    const Result<QString> kept = KeepRecoveryWorkbook(instPath, when);
    ASSERT_TRUE(Succeeded(kept));
    const QString first = *kept;
    EXPECT_EQ(first, instPath + QStringLiteral("worksheet-recovery-20261208-112530.xlsx"));
    EXPECT_EQ(FindRecoveryWorkbook(instPath).state, RecoveryFound::State::None);
    ASSERT_TRUE(Succeeded(WriteRecoveryWorkbook(headings, instPath, false)));
    const QByteArray firstBytes = ReadAll(first);
    EXPECT_EQ(KeepRecoveryWorkbook(instPath, when).value(),
              instPath + QStringLiteral("worksheet-recovery-20261208-112530-2.xlsx"));
    EXPECT_EQ(ReadAll(first), firstBytes);
    const Result<QString> nothing = KeepRecoveryWorkbook(instPath, when);
    EXPECT_FALSE(nothing) << "nothing left to keep";
    EXPECT_FALSE(nothing.error().isEmpty());

    WriteAll(RecoveryWorkbookPath(instPath), "PK\x03\x04 broken");
    found = FindRecoveryWorkbook(instPath);
    EXPECT_EQ(found.state, RecoveryFound::State::Unreadable);
    EXPECT_FALSE(found.error.isEmpty());
    EXPECT_FALSE(WriteRecoveryWorkbook(sheet, dir_.path() + QStringLiteral("/無い/"), false));
}

// ---- reading workbooks made by other programs ----

TEST(WorkbookRead, OpenpyxlWorkbookFirstSheetOnly) {
    const auto data = ReadWorkbook(Fixture("openpyxl_takeoff.xlsx"));
    ASSERT_TRUE(data) << data.error().toStdString();
    EXPECT_EQ(data->sheetName, QStringLiteral("積算"));
    EXPECT_EQ(data->firstRow, 1);
    EXPECT_EQ(data->firstColumn, 1);
    EXPECT_EQ(data->usedRows, 10);
    EXPECT_EQ(data->usedColumns, 7);
    EXPECT_EQ(data->value(1, 1), QVariant(QStringLiteral("処理名称")));
    EXPECT_EQ(data->value(1, 7), QVariant(QStringLiteral("天井面積")));
    EXPECT_EQ(data->value(2, 1), QVariant(QStringLiteral("拾い-1")));
    EXPECT_EQ(data->value(2, 2).typeId(), QMetaType::Int);
    EXPECT_EQ(data->value(2, 2).toInt(), 14);
    EXPECT_EQ(data->value(2, 6).typeId(), QMetaType::Double);
    EXPECT_EQ(data->value(2, 6).toDouble(), 33.6);
    EXPECT_EQ(data->value(3, 6).toDouble(), 19.2);
    EXPECT_EQ(data->value(10, 4), QVariant(true));
    // Nothing of the second sheet.
    for (const auto& [key, v] : data->cells) {
        EXPECT_LE(key.first, 10);
        EXPECT_LE(key.second, 7);
        EXPECT_NE(v, QVariant(QStringLiteral("二枚目のシートは読まない")));
    }

    // Copied in as "過去の積算を編集" does: the next row goes to row 11.
    Worksheet sheet;
    sheet.Cells(40, 12) = QStringLiteral("消える");
    CopyIntoSheet(*data, sheet);
    EXPECT_EQ(data->lastRow() + 1, 11);
    EXPECT_EQ(sheet.usedRows(), 10);
    EXPECT_EQ(sheet.usedColumns(), 7);
    EXPECT_EQ(sheet.cellValue(2, 6).toDouble(), 33.6);
    EXPECT_FALSE(sheet.cellValue(40, 12).isValid());
}

TEST(WorkbookRead, FirstSheetIsTakenInTheWorkbooksOrder) {
    const auto data = ReadWorkbook(Fixture("reordered_first_sheet.xlsx"));
    ASSERT_TRUE(data) << data.error().toStdString();
    EXPECT_EQ(data->sheetName, QStringLiteral("最初"));
    EXPECT_EQ(data->value(1, 1), QVariant(QStringLiteral("最初のシート")));
    EXPECT_EQ(data->value(3, 2).toDouble(), 3.25);
    EXPECT_FALSE(data->value(5, 3).isValid());
}

TEST(WorkbookRead, HandMadeWorkbookCellKinds) {
    const auto data = ReadWorkbook(Fixture("handmade.xlsx"));
    ASSERT_TRUE(data) << data.error().toStdString();
    // A chart sheet first in order is not a worksheet.
    EXPECT_EQ(data->sheetName, QStringLiteral("手作り"));
    // Shared strings: plain, runs of rich text, with a reading that is not
    // part of the value, blanks kept, an escaped CR.
    EXPECT_EQ(data->value(1, 1), QVariant(QStringLiteral("処理名称")));
    EXPECT_EQ(data->value(1, 2), QVariant(QStringLiteral("拾い-7")));
    EXPECT_EQ(data->value(1, 3), QVariant(QStringLiteral("天井高")));
    EXPECT_EQ(data->value(2, 1), QVariant(QStringLiteral("  前後に空白  ")));
    EXPECT_EQ(data->value(2, 2), QVariant(QStringLiteral("一行目\r\n二行目")));
    // Cells without a reference follow each other along the row.
    EXPECT_EQ(data->value(3, 1), QVariant(QStringLiteral("インライン")));
    EXPECT_EQ(data->value(3, 2), QVariant(true));
    EXPECT_EQ(data->value(3, 3), QVariant(false));
    EXPECT_EQ(data->value(3, 4).toDouble(), 33.6);
    EXPECT_EQ(data->value(3, 5), QVariant(14));
    EXPECT_EQ(data->value(3, 6).toDouble(), 0.0015);
    // A row without a number follows the one before; formula results,
    // error values, dates as their serial numbers.
    EXPECT_EQ(data->value(4, 1), QVariant(QStringLiteral("処理名称!")));
    EXPECT_EQ(data->value(4, 2), QVariant(QStringLiteral("#DIV/0!")));
    EXPECT_EQ(data->value(4, 3).toDouble(), 45383.0);
    EXPECT_EQ(data->value(4, 4), QVariant(QStringLiteral("リッチテキスト")));
    // A formatted empty cell counts into the used range, as in a spreadsheet.
    EXPECT_FALSE(data->value(6, 8).isValid());
    EXPECT_EQ(data->usedRows, 6);
    EXPECT_EQ(data->usedColumns, 8);
    for (const auto& [key, v] : data->cells)
        EXPECT_NE(v, QVariant(QStringLiteral("読まない")));
}

TEST(WorkbookRead, XlwtWorkbook) {
    const auto data = ReadWorkbook(Fixture("xlwt_takeoff.xls"));
    ASSERT_TRUE(data) << data.error().toStdString();
    EXPECT_EQ(data->sheetName, QStringLiteral("積算"));
    EXPECT_EQ(data->value(1, 1), QVariant(QStringLiteral("処理名称")));
    EXPECT_EQ(data->value(1, 7), QVariant(QStringLiteral("天井面積")));
    EXPECT_EQ(data->value(2, 1), QVariant(QStringLiteral("拾い-1")));
    EXPECT_EQ(data->value(2, 2).toDouble(), 14.0);
    EXPECT_EQ(data->value(2, 6).toDouble(), 33.6);
    EXPECT_EQ(data->value(3, 6).toDouble(), 19.2);
    EXPECT_EQ(data->value(6, 1), QVariant(QStringLiteral("日付")));
    // 1 April 2024 stays the serial number the file holds.
    EXPECT_EQ(data->value(6, 2).toDouble(), 45383.0);
    EXPECT_EQ(data->value(6, 3).toDouble(), 2.5);
    EXPECT_EQ(data->usedRows, 6);
    EXPECT_EQ(data->usedColumns, 7);
    EXPECT_FALSE(data->value(31, 21).isValid());
}

TEST(WorkbookRead, FormatIsToldByContentNotName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString xlsxAsXls = dir.filePath(QStringLiteral("past.xls"));
    const QString xlsAsXlsx = dir.filePath(QStringLiteral("past.xlsx"));
    ASSERT_TRUE(QFile::copy(Fixture("openpyxl_takeoff.xlsx"), xlsxAsXls));
    ASSERT_TRUE(QFile::copy(Fixture("xlwt_takeoff.xls"), xlsAsXlsx));
    const auto a = ReadWorkbook(xlsxAsXls);
    ASSERT_TRUE(a) << a.error().toStdString();
    EXPECT_EQ(a->usedRows, 10);
    const auto b = ReadWorkbook(xlsAsXlsx);
    ASSERT_TRUE(b) << b.error().toStdString();
    EXPECT_EQ(b->value(2, 6).toDouble(), 33.6);
}

// A table laid out from B2 by another program: every cell at its own
// address, the next row below its last.
TEST(WorkbookRead, TableAwayFromA1KeepsEveryCellAtItsAddress) {
    const auto data = ReadWorkbook(Fixture("openpyxl_from_b2.xlsx"));
    ASSERT_TRUE(data) << data.error().toStdString();
    EXPECT_EQ(data->firstRow, 2);
    EXPECT_EQ(data->firstColumn, 2);
    EXPECT_EQ(data->lastRow(), 6);
    EXPECT_EQ(data->lastColumn(), 8);
    Worksheet sheet;
    sheet.Cells(1, 1) = QStringLiteral("消える");
    CopyIntoSheet(*data, sheet);
    EXPECT_EQ(sheet.cells().size(), data->cells.size());
    EXPECT_EQ(sheet.cells().size(), 35u);
    for (const auto& [key, value] : data->cells)
        EXPECT_EQ(sheet.cellValue(key.first, key.second), value) << key.first << "," << key.second;
    EXPECT_EQ(sheet.cellValue(2, 2), QVariant(QStringLiteral("処理名称")));
    EXPECT_EQ(sheet.cellValue(3, 7).toDouble(), 33.6);
    EXPECT_EQ(sheet.cellValue(6, 8), QVariant(QStringLiteral("最後の列")));
    EXPECT_FALSE(sheet.cellValue(1, 1).isValid());
    EXPECT_EQ(sheet.usedRows(), 6);
    EXPECT_EQ(sheet.usedColumns(), 8);
}

TEST(WorkbookRead, EmptySheetReportsA1) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("empty.xlsx"));
    ASSERT_TRUE(Succeeded(SaveWorkbook(Worksheet(), path)));
    const auto data = ReadWorkbook(path);
    ASSERT_TRUE(data) << data.error().toStdString();
    EXPECT_TRUE(data->cells.empty());
    EXPECT_EQ(data->usedRows, 1);
    EXPECT_EQ(data->usedColumns, 1);
}

// ---- refusing what is not a sound workbook ----

void ExpectRefused(const QString& path, const char* reasonPart) {
    SCOPED_TRACE(path.toStdString());
    const auto data = ReadWorkbook(path);
    EXPECT_FALSE(data);
    const QString& error = data.error();
    const QString head =
        QStringLiteral("ワークブックを読み込めません: ") + path + QStringLiteral("\r\n");
    EXPECT_TRUE(error.startsWith(head)) << error.toStdString();
    EXPECT_GT(error.size(), head.size()) << "no reason given";
    EXPECT_TRUE(error.contains(QString::fromUtf8(reasonPart))) << error.toStdString();
}

TEST(WorkbookRead, DamagedOrHostileFixturesAreRefused) {
    ExpectRefused(Fixture("text_named.xlsx"), "ワークブック (.xlsx, .xls) ではありません");
    ExpectRefused(Fixture("bad_ole2.xls"), "");
    ExpectRefused(Fixture("broken_sheet_xml.xlsx"), "XML が壊れています");
    ExpectRefused(Fixture("missing_sheet_part.xlsx"), "がありません");
    ExpectRefused(Fixture("column_out_of_range.xlsx"), "範囲の外");
    ExpectRefused(Fixture("row_out_of_range.xlsx"), "");
    ExpectRefused(Fixture("bad_shared_string.xlsx"), "共有文字列 5 がありません");
    ExpectRefused(Fixture("doctype_entities.xlsx"), "DOCTYPE");
    ExpectRefused(Fixture("bad_number.xlsx"), "数値 \"33,6\"");
}

TEST(WorkbookRead, DamagedFilesAreRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray good = ReadAll(Fixture("openpyxl_takeoff.xlsx"));
    ASSERT_FALSE(good.isEmpty());

    const QString truncated = dir.filePath(QStringLiteral("truncated.xlsx"));
    WriteAll(truncated, good.left(good.size() / 2));
    ExpectRefused(truncated, "ZIP");

    // Rubbish in the middle of the compressed data of the parts.
    QByteArray damaged = good;
    for (qsizetype i = 200; i < damaged.size() / 2; i += 7)
        damaged[i] = char(damaged[i] ^ 0x5A);
    const QString scrambled = dir.filePath(QStringLiteral("scrambled.xlsx"));
    WriteAll(scrambled, damaged);
    ExpectRefused(scrambled, "");

    const QString empty = dir.filePath(QStringLiteral("empty.xlsx"));
    WriteAll(empty, QByteArray());
    ExpectRefused(empty, "ではありません");

    const QString zipOnly = dir.filePath(QStringLiteral("zip.xlsx"));
    WriteAll(zipOnly, QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    ExpectRefused(zipOnly, "");

    ExpectRefused(dir.filePath(QStringLiteral("無い.xlsx")), "ファイルがありません");
    ExpectRefused(dir.path(), "フォルダー");
}

// ---- limits: what reading a workbook may cost ----

// A hostile or over-limit workbook made by make_hostile.py.
QString MakeHostile(const QTemporaryDir& dir, const char* kind) {
    const QString path = dir.filePath(QString::fromLatin1(kind) + QStringLiteral(".xlsx"));
    QProcess py;
    py.start(kPython, {Fixture("make_hostile.py"), QString::fromLatin1(kind), path});
    EXPECT_TRUE(py.waitForFinished(120000) && py.exitCode() == 0)
        << py.readAllStandardError().constData();
    return path;
}

struct ProbeRun {
    int exitCode = -1;
    QString output;
    long maxRssKb = 0;
};

// Reads the workbook in a child process (workbook_probe) and takes its peak
// resident memory from the kernel.
ProbeRun Probe(const QString& path, const QTemporaryDir& dir) {
    ProbeRun run;
    const QByteArray program = QByteArray::fromStdString(BinPath("/workbook_probe"));
    const QByteArray file = QFile::encodeName(path);
    const QByteArray out = QFile::encodeName(dir.filePath(QStringLiteral("probe.out")));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(file.constData()),
                    nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << program.constData();
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.maxRssKb = usage.ru_maxrss;
    run.output = QString::fromUtf8(ReadAll(QFile::decodeName(out)));
    return run;
}

constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// Small files that inflate to tens of megabytes, with one huge value, tag,
// comment or nesting, or that claim huge sheets: each is refused with a short message, costing a
// few MB more than reading a normal workbook (measured in the plain build only).
TEST(WorkbookLimits, HostileWorkbooksAreRefusedInBoundedMemory) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ProbeRun normal = Probe(Fixture("openpyxl_takeoff.xlsx"), dir);
    ASSERT_EQ(normal.exitCode, 0) << normal.output.toStdString();
    EXPECT_EQ(normal.output, QStringLiteral("ok 10 70\n"));

    const std::pair<const char*, const char*> cases[] = {
        {"long_shared_string", "文字列が長すぎます"},
        {"long_inline_string", "文字列が長すぎます"},
        {"long_attribute", "タグが長すぎます"},
        {"long_comment", "タグが長すぎます"},
        {"huge_part", "大きすぎます"},
        {"deep_nesting", "入れ子が深すぎます"},
        {"long_number", "数値 \"1111"},
        // .xls files whose sheets claim more cells than FreeXL should allocate.
        {"xls_many_cells", "シートの大きさが大きすぎます"},
        {"xls_many_cells_mini", "シートの大きさが大きすぎます"},
    };
    for (const auto& [kind, reason] : cases) {
        SCOPED_TRACE(kind);
        const QString path = MakeHostile(dir, kind);
        const ProbeRun run = Probe(path, dir);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.output.startsWith(QStringLiteral("ワークブックを読み込めません: ")))
            << run.output.left(300).toStdString();
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(reason)))
            << run.output.left(300).toStdString();
        EXPECT_LT(run.output.size(), path.size() + 160) << "a short message";
        if (!kSanitized) {
            EXPECT_LT(run.maxRssKb, normal.maxRssKb + 16 * 1024)
                << "peak " << run.maxRssKb << " KB";
        }
    }
}

// What the sheet could not hold or save again is refused at load; the last
// row the row number reaches is taken.
TEST(WorkbookLimits, WorkbooksTheSheetCannotHoldAreRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ExpectRefused(MakeHostile(dir, "text_over_cell_limit"),
                  "文字列が長すぎます (1 つのセルは 32767 文字まで)");
    ExpectRefused(MakeHostile(dir, "cell_past_last_row"), "32766 行目まで");
    const auto last = ReadWorkbook(MakeHostile(dir, "cell_on_last_row"));
    ASSERT_TRUE(last) << last.error().toStdString();
    EXPECT_EQ(last->lastRow(), 32766);
}

// FreeXL reads memory it never filled when the OLE2 directory is said to
// start in sector 0 or 1: the header is checked before FreeXL sees the file.
TEST(WorkbookLimits, Ole2DirectoryStartIsCheckedFirst) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray good = ReadAll(Fixture("xlwt_takeoff.xls"));
    ASSERT_GE(good.size(), 512);
    for (const quint32 start : {0u, 1u, 0xFFFFFFFEu, 9u}) {
        QByteArray bytes = good;
        for (int i = 0; i < 4; ++i)
            bytes[0x30 + i] = char((start >> (8 * i)) & 0xFF);
        const QString path = dir.filePath(QStringLiteral("dir%1.xls").arg(start));
        WriteAll(path, bytes);
        if (start == 9u) {
            EXPECT_TRUE(ReadWorkbook(path)) << "the file's own directory start";
            continue;
        }
        ExpectRefused(path, "OLE2 のディレクトリの位置");
    }
}

} // namespace
