#pragma once
// The worksheet shown in the main window: cells holding text or numbers,
// addressed by (row, column) counted from 1 as a spreadsheet does. The
// program writes cells through Cells(); the user edits them in the view
// (setData, clearCells, insertRows, removeRows), and every change the user
// makes is announced by edited().

#include <QAbstractTableModel>
#include <QModelIndexList>
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
    // The last row the sheet holds: the row after it is the one the next
    // "実行" writes, and that row number is a 16-bit integer.
    static constexpr int kLastRow = 32766;

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

    // What a text typed into a cell becomes: a number when the text is wholly
    // one decimal number (blanks around it allowed, full-width digits taken
    // as digits: " 2400 ", "-0.75", "1E-05", "２４００"), otherwise the text as
    // typed ("3600mm", "1 2"); an empty text empties the cell.
    static QVariant ValueOfTypedText(const QString& text);

    // The longest text a cell takes from the user (the workbook format's limit).
    static constexpr int kMaxTypedText = 32767;

    // Empties the given cells (the Delete key). Returns whether any held a value.
    bool clearCells(const QModelIndexList& indexes);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The user's edit of one cell (see ValueOfTypedText); a text longer than
    // kMaxTypedText or a row past kLastRow is refused. Giving a cell the value
    // it holds is no change.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Rows inserted or removed by the user: the cells below move down or up.
    // An insertion that would push a used row past kLastRow is refused.
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

signals:
    // The user changed the sheet.
    void edited();

private:
    void refreshShape();
    // Moves the cells of rows >= `from` by `delta` rows; a negative delta
    // removes rows from .. from - delta - 1 first.
    void shiftRows(int from, int delta);

    std::map<std::pair<int, int>, QVariant> cells_;
    // Number of non-empty cells in each row and column, so the used extent
    // is known without a scan of every cell.
    std::map<int, int> rowUse_;
    std::map<int, int> columnUse_;
    int shownRows_ = kShownRows + kSpareRows;
    int shownColumns_ = kShownColumns + kSpareColumns;
};
