#pragma once
// The worksheet shown in the main window: cells holding text or numbers,
// addressed by (row, column) counted from 1 as a spreadsheet does.

#include <QAbstractTableModel>
#include <QString>
#include <QVariant>

#include <array>
#include <map>
#include <utility>

class Worksheet : public QAbstractTableModel {
    Q_OBJECT
public:
    // The area the sheet shows at least (A1:H31); it grows with the data.
    static constexpr int kShownRows = 31;
    static constexpr int kShownColumns = 8;
    // Rows and columns shown past the shown or used area, so the user can
    // always scroll on.
    static constexpr int kSpareRows = 20;
    static constexpr int kSpareColumns = 4;

    // The heading row, columns 1 to 7.
    static constexpr std::array<const char*, 7> kHeadings = {
        "処理名称", "全体周長", "基準長さ", "天井高", "床面積", "壁面積", "天井面積"};

    explicit Worksheet(QObject* parent = nullptr);

    QString name() const { return QStringLiteral("Sheet1"); }

    // One cell, as the spreadsheet object model spells it: Cells(row, column).value.
    class Cell {
    public:
        Cell(Worksheet& sheet, int row, int column) : sheet_(sheet), row_(row), column_(column) {}
        QVariant value() const { return sheet_.cellValue(row_, column_); }
        Cell& operator=(const QVariant& v) {
            sheet_.setCellValue(row_, column_, v);
            return *this;
        }

    private:
        Worksheet& sheet_;
        int row_;
        int column_;
    };
    Cell Cells(int row, int column) { return Cell(*this, row, column); }

    // A cell's value: a QString, a double, a bool, or invalid when empty.
    QVariant cellValue(int row, int column) const;
    // Sets a cell; an invalid QVariant or an empty text empties it.
    void setCellValue(int row, int column, const QVariant& value);
    // Empties every cell.
    void Clear();

    // Extent of the used cells from A1 (0 when the sheet is empty).
    int usedRows() const;
    int usedColumns() const;
    bool isEmpty() const { return cells_.empty(); }

    // All cells in row-major order (row, column) -> value.
    const std::map<std::pair<int, int>, QVariant>& cells() const { return cells_; }

    // Column letters as spreadsheets show them: 1 -> A, 26 -> Z, 27 -> AA.
    static QString ColumnLetters(int column);

    // Text of a cell as the sheet shows it (numbers in their general form).
    static QString DisplayText(const QVariant& value);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void refreshShape();

    std::map<std::pair<int, int>, QVariant> cells_;
    // Number of non-empty cells in each row and column, so the used extent
    // is known without a scan of every cell.
    std::map<int, int> rowUse_;
    std::map<int, int> columnUse_;
    int shownRows_ = kShownRows + kSpareRows;
    int shownColumns_ = kShownColumns + kSpareColumns;
};
