#include "main/takeoff/worksheet.h"

#include "common/numtext.h"

#include <algorithm>

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
    const int rows = std::max(kShownRows, usedRows()) + kSpareRows;
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
    if (role == Qt::DisplayRole)
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
