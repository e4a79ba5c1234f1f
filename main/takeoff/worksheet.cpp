#include "main/takeoff/worksheet.h"

#include "common/core/numtext.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

Worksheet::Worksheet(QObject* parent) : QAbstractTableModel(parent) {}

QVariant Worksheet::cellValue(int row, int column) const {
    auto it = cells_.find({row, column});
    return it == cells_.end() ? QVariant() : it->second;
}

void Worksheet::setCellValue(int row, int column, const QVariant& value) {
    if (row < 1 || column < 1)
        return;
    const bool empty = !value.isValid() || value.isNull() ||
                       (value.typeId() == QMetaType::QString && value.toString().isEmpty());
    auto it = cells_.find({row, column});
    if (empty) {
        if (it == cells_.end())
            return;
        cells_.erase(it);
        auto drop = [](std::map<int, int>& use, int key) {
            if (--use[key] == 0)
                use.erase(key);
        };
        drop(rowUse_, row);
        drop(columnUse_, column);
    } else if (it != cells_.end()) {
        it->second = value;
    } else {
        cells_.emplace(std::make_pair(row, column), value);
        ++rowUse_[row];
        ++columnUse_[column];
    }
    refreshShape();
    if (row <= shownRows_ && column <= shownColumns_) {
        const QModelIndex i = index(row - 1, column - 1);
        emit dataChanged(i, i);
    }
}

void Worksheet::Clear() {
    beginResetModel();
    cells_.clear();
    rowUse_.clear();
    columnUse_.clear();
    shownRows_ = kShownRows + kSpareRows;
    shownColumns_ = kShownColumns + kSpareColumns;
    endResetModel();
}

int Worksheet::usedRows() const {
    return rowUse_.empty() ? 0 : rowUse_.rbegin()->first;
}

int Worksheet::usedColumns() const {
    return columnUse_.empty() ? 0 : columnUse_.rbegin()->first;
}

void Worksheet::refreshShape() {
    const int rows = std::min(std::max(kShownRows, usedRows()) + kSpareRows, kLastRow);
    const int cols = std::max(kShownColumns, usedColumns()) + kSpareColumns;
    if (rows > shownRows_) {
        beginInsertRows(QModelIndex(), shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    }
    if (cols > shownColumns_) {
        beginInsertColumns(QModelIndex(), shownColumns_, cols - 1);
        shownColumns_ = cols;
        endInsertColumns();
    }
}

QString Worksheet::ColumnLetters(int column) {
    QString s;
    while (column > 0) {
        const int rem = (column - 1) % 26;
        s.prepend(QChar('A' + rem));
        column = (column - 1) / 26;
    }
    return s;
}

QString Worksheet::DisplayText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return DoubleToText(value.toDouble());
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    default:
        return value.toString();
    }
}

int Worksheet::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int Worksheet::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownColumns_;
}

QVariant Worksheet::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const QVariant v = cellValue(index.row() + 1, index.column() + 1);
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return v.isValid() ? QVariant(DisplayText(v)) : QVariant();
    if (role == Qt::TextAlignmentRole && v.isValid()) {
        const bool number = v.typeId() != QMetaType::QString;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant Worksheet::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return ColumnLetters(section + 1);
    return QString::number(section + 1);
}

QVariant Worksheet::ValueOfTypedText(const QString& text) {
    if (text.trimmed().isEmpty())
        return {};
    // Full-width digits, point and minus, as a Japanese input method types them.
    const QString plain = text.normalized(QString::NormalizationForm_KC);
    if (IsNumericText(plain)) {
        const double v = Val(plain);
        // Val reads a number beyond a double's range as 0: such a text stays text.
        const QString mantissa = plain.section(QRegularExpression(QStringLiteral("[EeDd]")), 0, 0);
        if (std::isfinite(v) &&
            !(v == 0.0 && mantissa.contains(QRegularExpression(QStringLiteral("[1-9]")))))
            return v;
    }
    return text;
}

Qt::ItemFlags Worksheet::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool Worksheet::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    const int row = index.row() + 1;
    const int column = index.column() + 1;
    const QString text = value.toString();
    if (text.size() > kMaxTypedText || row > kLastRow)
        return false;
    const QVariant old = cellValue(row, column);
    // Leaving a cell as it shows (the editor starts with the shown text) is
    // no change, so a number keeps its full precision and type.
    if (old.isValid() ? DisplayText(old) == text : text.isEmpty())
        return true;
    setCellValue(row, column, ValueOfTypedText(text));
    emit edited();
    return true;
}

bool Worksheet::clearCells(const QModelIndexList& indexes) {
    bool any = false;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid() || !cellValue(i.row() + 1, i.column() + 1).isValid())
            continue;
        setCellValue(i.row() + 1, i.column() + 1, QVariant());
        any = true;
    }
    if (any)
        emit edited();
    return any;
}

void Worksheet::shiftRows(int from, int delta) {
    // Rows from `from` on move by delta; with a negative delta the rows
    // from .. from - delta - 1 are removed first.
    std::map<std::pair<int, int>, QVariant> kept(cells_.begin(), cells_.lower_bound({from, 0}));
    for (auto it = cells_.lower_bound({from, 0}); it != cells_.end(); ++it) {
        if (delta < 0 && it->first.first < from - delta)
            continue;
        kept.emplace(std::make_pair(it->first.first + delta, it->first.second),
                     std::move(it->second));
    }
    cells_ = std::move(kept);
    rowUse_.clear();
    columnUse_.clear();
    for (const auto& [key, value] : cells_) {
        ++rowUse_[key.first];
        ++columnUse_[key.second];
    }
}

bool Worksheet::insertRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count < 1)
        return false;
    if (row < usedRows() && usedRows() + count > kLastRow)
        return false;
    beginResetModel();
    shiftRows(row + 1, count);
    endResetModel();
    refreshShape();
    emit edited();
    return true;
}

bool Worksheet::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count < 1)
        return false;
    beginResetModel();
    shiftRows(row + 1, -count);
    endResetModel();
    emit edited();
    return true;
}
