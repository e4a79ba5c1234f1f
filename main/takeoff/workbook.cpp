#include "main/takeoff/workbook.h"

#include "common/core/atomic_file.h"
#include "common/core/numtext.h"
#include "main/takeoff/workbook_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <locale.h>
#include <vector>

namespace {

QString saveMessage(const QString& path, const QString& reason) {
    return QStringLiteral("ワークブックを保存できません: %1\r\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString readMessage(const QString& path, const QString& reason) {
    return QStringLiteral("ワークブックを読み込めません: %1\r\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}

// libxlsxwriter prints numbers with snprintf, which follows the C locale of
// the thread; the application runs under the user's locale (a decimal comma
// in some), so the workbook is written under "C".
class CNumericLocale {
public:
    CNumericLocale() : c_(newlocale(LC_ALL_MASK, "C", locale_t(nullptr))) {
        if (c_)
            old_ = uselocale(c_);
    }
    ~CNumericLocale() {
        if (c_) {
            uselocale(old_);
            freelocale(c_);
        }
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t c_;
    locale_t old_ = LC_GLOBAL_LOCALE;
};

// A float as the decimal it stands for: the shortest text that reads back as
// the same float, read as a double.
double FloatAsDecimal(float v) {
    return SingleToRoundTripText(v).toDouble();
}

QString LxwReason(lxw_error err) {
    return QStringLiteral("ワークブックを作成できません (%1)")
        .arg(QString::fromUtf8(lxw_strerror(err)));
}

// Writes the cells into a new .xlsx at `file` (a file of our own temporary
// folder). Returns an empty text on success, else the reason.
QString WriteXlsx(const Worksheet& sheet, const QByteArray& file, const QByteArray& tmpDir,
                  const std::map<QString, bool>& flags) {
    // Check the cells before anything is written.
    for (const auto& [key, value] : sheet.cells()) {
        const auto [row, column] = key;
        if (row > kWorkbookMaxRows || column > kWorkbookMaxColumns)
            return QStringLiteral("%1 はワークシートの範囲 (1048576 行 × 16384 列) の外にあります")
                .arg(CellName(row, column));
        if (value.typeId() == QMetaType::QString && value.toString().size() > kMaxCellText)
            return QStringLiteral("%1 の文字列が長すぎます (%2 文字まで)")
                .arg(CellName(row, column))
                .arg(kMaxCellText);
    }

    CNumericLocale cLocale;
    lxw_workbook_options options{};
    options.constant_memory = LXW_FALSE;
    options.tmpdir = const_cast<char*>(tmpDir.constData());
    options.use_zip64 = LXW_FALSE;
    lxw_workbook* workbook = workbook_new_opt(file.constData(), &options);
    if (!workbook)
        return QStringLiteral("ワークブックを作成できません (メモリ不足)");
    lxw_worksheet* ws = workbook_add_worksheet(workbook, "Sheet1");
    if (!ws) {
        workbook_close(workbook);
        return QStringLiteral("ワークシートを作成できません");
    }
    // Room for the take-off names ("拾い-12") and the headings.
    worksheet_set_column(ws, 0, 0, 14, nullptr);
    // The names stay alive until the workbook is closed and written.
    std::vector<QByteArray> flagNames;
    flagNames.reserve(flags.size());
    for (const auto& [name, value] : flags) {
        flagNames.push_back(name.toUtf8());
        const lxw_error err = workbook_set_custom_property_boolean(
            workbook, flagNames.back().constData(), value ? LXW_TRUE : LXW_FALSE);
        if (err != LXW_NO_ERROR) {
            workbook_close(workbook);
            return LxwReason(err);
        }
    }

    QString failure;
    for (const auto& [key, value] : sheet.cells()) {
        const lxw_row_t row = lxw_row_t(key.first - 1);
        const lxw_col_t col = lxw_col_t(key.second - 1);
        lxw_error err = LXW_NO_ERROR;
        switch (value.typeId()) {
        case QMetaType::Bool:
            err = worksheet_write_boolean(ws, row, col, value.toBool() ? 1 : 0, nullptr);
            break;
        case QMetaType::Double:
        case QMetaType::Float: {
            const double d = value.typeId() == QMetaType::Float ? FloatAsDecimal(value.toFloat())
                                                                : value.toDouble();
            // A workbook cannot hold an infinity or NaN as a number.
            if (std::isfinite(d))
                err = worksheet_write_number(ws, row, col, d, nullptr);
            else
                err = worksheet_write_string(ws, row, col, "#NUM!", nullptr);
            break;
        }
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            err = worksheet_write_number(ws, row, col, value.toDouble(), nullptr);
            break;
        default: {
            const QString text = value.typeId() == QMetaType::QString
                                     ? value.toString()
                                     : Worksheet::DisplayText(value);
            // A NUL would end the C string early; nothing in a cell needs it.
            QString clean = text;
            clean.remove(QChar(0));
            if (clean.isEmpty())
                break;
            err = worksheet_write_string(ws, row, col, clean.toUtf8().constData(), nullptr);
            break;
        }
        }
        if (err != LXW_NO_ERROR) {
            failure =
                QStringLiteral("%1 を書き込めません (%2)")
                    .arg(CellName(key.first, key.second), QString::fromUtf8(lxw_strerror(err)));
            break;
        }
    }
    // workbook_close writes the file and frees the workbook in every case.
    const lxw_error closed = workbook_close(workbook);
    if (!failure.isEmpty())
        return failure;
    if (closed != LXW_NO_ERROR)
        return LxwReason(closed);
    return QString();
}

} // namespace

QString CellName(int row, int column) {
    return QStringLiteral("セル %1%2").arg(Worksheet::ColumnLetters(column)).arg(row);
}

Result<> SaveWorkbook(const Worksheet& sheet, const QString& path) {
    return SaveWorkbook(sheet, path, {});
}

Result<> SaveWorkbook(const Worksheet& sheet, const QString& path,
                      const std::map<QString, bool>& flags) {
    auto fail = [&](const QString& reason) { return Fail(saveMessage(path, reason)); };
    if (path.isEmpty())
        return fail(QStringLiteral("ファイル名がありません"));
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists())
        return fail(QStringLiteral("保存先のフォルダーがありません: %1")
                        .arg(QDir::toNativeSeparators(folder.filePath())));
    if (!folder.isDir())
        return fail(QStringLiteral("保存先がフォルダーではありません: %1")
                        .arg(QDir::toNativeSeparators(folder.filePath())));
    if (target.isDir())
        return fail(QStringLiteral("同じ名前のフォルダーがあります"));

    QTemporaryDir work;
    if (!work.isValid())
        return fail(QStringLiteral("一時フォルダーを作成できません: %1").arg(work.errorString()));
    const QString made = work.filePath(QStringLiteral("sheet.xlsx"));
    const QString reason =
        WriteXlsx(sheet, QFile::encodeName(made), QFile::encodeName(work.path()), flags);
    if (!reason.isEmpty())
        return fail(reason);

    QFile in(made);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("作成したワークブックを読めません: %1").arg(in.errorString()));
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return fail(QStringLiteral("作成したワークブックを読めません: %1").arg(in.errorString()));
    in.close();

    if (const auto written = WriteFileAtomically(path, bytes); !written)
        return fail(written.error());
    return {};
}

// ---- reading ----

QVariant WorkbookData::value(int row, int column) const {
    auto it = cells.find({row, column});
    return it == cells.end() ? QVariant() : it->second;
}

Result<> SheetCollector::add(int row, int column, const QVariant& value) {
    if (row < 1 || row > kWorkbookMaxRows || column < 1 || column > kWorkbookMaxColumns)
        return Fail(QStringLiteral("セルの位置 (%1 行 %2 列) がワークシートの範囲の外にあります")
                        .arg(row)
                        .arg(column));
    if (row > kWorkbookLastRow)
        return Fail(
            QStringLiteral("行が多すぎます (%1 行目にセルがあります。%2 行目まで読み込めます)")
                .arg(row)
                .arg(kWorkbookLastRow));
    if (!any_) {
        minRow_ = maxRow_ = row;
        minColumn_ = maxColumn_ = column;
        any_ = true;
    } else {
        minRow_ = std::min(minRow_, row);
        maxRow_ = std::max(maxRow_, row);
        minColumn_ = std::min(minColumn_, column);
        maxColumn_ = std::max(maxColumn_, column);
    }
    const bool empty =
        !value.isValid() || (value.typeId() == QMetaType::QString && value.toString().isEmpty());
    if (empty) {
        data_.cells.erase({row, column});
        return {};
    }
    auto [it, inserted] = data_.cells.insert_or_assign({row, column}, value);
    (void)it;
    if (inserted && data_.cells.size() > size_t(kWorkbookMaxCells))
        return Fail(QStringLiteral("セルが多すぎます (%1 個まで)").arg(kWorkbookMaxCells));
    return {};
}

WorkbookData SheetCollector::finish(const QString& sheetName) {
    if (any_) {
        data_.firstRow = minRow_;
        data_.firstColumn = minColumn_;
        data_.usedRows = maxRow_ - minRow_ + 1;
        data_.usedColumns = maxColumn_ - minColumn_ + 1;
    }
    data_.sheetName = sheetName;
    return std::move(data_);
}

Result<WorkbookData> ReadWorkbook(const QString& path) {
    auto fail = [&](const QString& reason) { return Fail(readMessage(path, reason)); };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return fail(QStringLiteral("ファイルがありません"));
    if (info.isDir())
        return fail(QStringLiteral("フォルダーです"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("ファイルを開けません: %1").arg(file.errorString()));
    const QByteArray head = file.read(8);
    file.close();

    static const char kZip[] = {'P', 'K'};
    static const unsigned char kOle2[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const bool zip = head.size() >= 4 && head.startsWith(QByteArray(kZip, 2));
    const bool ole2 =
        head.size() == 8 && head == QByteArray(reinterpret_cast<const char*>(kOle2), sizeof kOle2);
    if (!zip && !ole2)
        return fail(QStringLiteral("ワークブック (.xlsx, .xls) ではありません"));
    Result<WorkbookData> data = zip ? ReadXlsxWorkbook(path) : ReadXlsWorkbook(path);
    if (!data)
        return fail(data.error());
    return data;
}

void CopyIntoSheet(const WorkbookData& data, Worksheet& sheet) {
    sheet.Clear();
    for (const auto& [key, value] : data.cells)
        sheet.setCellValue(key.first, key.second, value);
}
