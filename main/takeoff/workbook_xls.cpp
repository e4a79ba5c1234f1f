// Reading the first worksheet of an .xls file (BIFF in an OLE2 container)
// through FreeXL.

#include "main/takeoff/workbook_reader.h"

#include <QDate>
#include <QFile>
#include <QTime>

#include <freexl.h>

#include <memory>

namespace {

QString FreexlReason(int code) {
    switch (code) {
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("メモリが足りません");
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("ファイルを開けません");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("Excel のブックが入っていません (暗号化されたブックかもしれません)");
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return QStringLiteral("文字コードを変換できません (FreeXL %1)").arg(code);
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("ファイルがひどく壊れています");
    default:
        return QStringLiteral("ファイルが壊れているか、対応していない形式です (FreeXL %1)")
            .arg(code);
    }
}

struct XlsCloser {
    void operator()(const void* h) const { freexl_close(h); }
};

// FreeXL turns numbers with a date format into texts; they go back to the
// serial numbers the workbook holds (1900 system with its phantom 29
// February 1900, or the 1904 system).
std::optional<double> DateSerial(const QString& text, int type, bool mode1904) {
    double days = 0;
    double seconds = 0;
    QString timePart;
    if (type == FREEXL_CELL_DATE || type == FREEXL_CELL_DATETIME) {
        const QDate d = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid())
            return std::nullopt;
        const qint64 jd = d.toJulianDay();
        if (mode1904)
            days = double(jd - QDate(1904, 1, 1).toJulianDay());
        else if (d < QDate(1900, 3, 1))
            days = double(jd - QDate(1899, 12, 31).toJulianDay());
        else
            days = double(jd - QDate(1899, 12, 30).toJulianDay());
        if (type == FREEXL_CELL_DATETIME)
            timePart = text.mid(11);
    } else {
        timePart = text;
    }
    if (!timePart.isEmpty()) {
        const QTime t = QTime::fromString(timePart.left(8), QStringLiteral("HH:mm:ss"));
        if (!t.isValid())
            return std::nullopt;
        seconds = t.msecsSinceStartOfDay() / 1000.0;
    }
    return days + seconds / 86400.0;
}

} // namespace

Result<WorkbookData> ReadXlsWorkbook(const QString& path) {
    if (const auto checked = CheckXlsContainer(path); !checked)
        return Fail(checked.error());
    const void* raw = nullptr;
    const int opened = freexl_open(QFile::encodeName(path).constData(), &raw);
    // FreeXL wants its handle closed even when the open failed.
    std::unique_ptr<const void, XlsCloser> handle(raw);
    if (opened != FREEXL_OK)
        return Fail(FreexlReason(opened));
    unsigned int info = 0;
    if (freexl_get_info(raw, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED) {
        return Fail(QStringLiteral("パスワードで保護されたブックは読み込めません"));
    }
    bool mode1904 = false;
    if (freexl_get_info(raw, FREEXL_BIFF_DATEMODE, &info) == FREEXL_OK)
        mode1904 = info == FREEXL_BIFF_DATEMODE_1904;
    unsigned int sheets = 0;
    if (freexl_get_info(raw, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
        return Fail(QStringLiteral("ワークシートがありません"));
    int rc = freexl_select_active_worksheet(raw, 0);
    if (rc != FREEXL_OK)
        return Fail(FreexlReason(rc));
    const char* name = nullptr;
    QString sheetName;
    if (freexl_get_worksheet_name(raw, 0, &name) == FREEXL_OK && name)
        sheetName = QString::fromUtf8(name);
    unsigned int rows = 0;
    unsigned short columns = 0;
    rc = freexl_worksheet_dimensions(raw, &rows, &columns);
    if (rc != FREEXL_OK)
        return Fail(FreexlReason(rc));
    // A BIFF8 sheet has at most 65536 rows and 256 columns.
    if (rows > 65536u || columns > 256u)
        return Fail(QStringLiteral("ワークシートの大きさ (%1 行 × %2 列) が正しくありません")
                        .arg(rows)
                        .arg(columns));

    SheetCollector cells;
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue cell;
            rc = freexl_get_cell_value(raw, r, c, &cell);
            if (rc != FREEXL_OK)
                return Fail(FreexlReason(rc));
            QVariant v;
            switch (cell.type) {
            case FREEXL_CELL_NULL:
                continue;
            case FREEXL_CELL_INT:
                v = cell.value.int_value;
                break;
            case FREEXL_CELL_DOUBLE:
                v = cell.value.double_value;
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                v = QString::fromUtf8(cell.value.text_value ? cell.value.text_value : "");
                break;
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME: {
                const QString text =
                    QString::fromUtf8(cell.value.text_value ? cell.value.text_value : "");
                const auto serial = DateSerial(text, cell.type, mode1904);
                if (serial)
                    v = *serial;
                else
                    v = text;
                break;
            }
            default:
                continue;
            }
            // Blank texts are not values; they do not widen the range either.
            if (v.typeId() == QMetaType::QString && v.toString().isEmpty())
                continue;
            if (v.typeId() == QMetaType::QString && v.toString().size() > kMaxCellText)
                return Fail(QStringLiteral("%1: 文字列が長すぎます (1 つのセルは %2 文字まで)")
                                .arg(CellName(int(r) + 1, int(c) + 1))
                                .arg(kMaxCellText));
            if (const auto added = cells.add(int(r) + 1, int(c) + 1, v); !added)
                return Fail(added.error());
        }
    }
    return cells.finish(sheetName);
}
