#include "ui/ResultModel.h"

#include "app/AnsiText.h"

namespace ui {

const char* const ResultModel::kLabels[5] = {
    "Key Location:", "Value Name:", "Value Data:", "Diagnosis:", "Repair:"};

void ResultModel::Clear() {
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void ResultModel::Append(std::vector<Row> rows) {
    if (rows.empty())
        return;
    beginInsertRows({}, Count(), Count() + int(rows.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    endInsertRows();
}

void ResultModel::RemoveRow(int row) {
    if (row < 0 || row >= Count())
        return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void ResultModel::RemoveRows(int row, int count) {
    if (row < 0 || count <= 0 || row + count > Count())
        return;
    beginRemoveRows({}, row, row + count - 1);
    rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
    endRemoveRows();
}

void ResultModel::SetChecked(int row, bool checked) {
    if (row < 0 || row >= Count() || rows_[size_t(row)].checked == checked)
        return;
    rows_[size_t(row)].checked = checked;
    const QModelIndex cell = index(row, colCheck);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
    emit checkChanged();
}

void ResultModel::SetAllChecked(bool checked) {
    for (Row& row : rows_)
        row.checked = checked;
    if (rows_.empty())
        return;
    emit dataChanged(index(0, colCheck), index(Count() - 1, colCheck), {Qt::CheckStateRole});
    emit checkChanged();
}

void ResultModel::InvertChecked() {
    for (Row& row : rows_)
        row.checked = !row.checked;
    if (rows_.empty())
        return;
    emit dataChanged(index(0, colCheck), index(Count() - 1, colCheck), {Qt::CheckStateRole});
    emit checkChanged();
}

int ResultModel::CheckedCount() const {
    int count = 0;
    for (const Row& row : rows_)
        count += row.checked ? 1 : 0;
    return count;
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = rows_[size_t(index.row())];
    if (role == Qt::CheckStateRole && index.column() == colCheck)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case colImage:
        return row.imageIndex;
    case colKeyLocation:
        return app::FromAnsi(row.keyLocation);
    case colValueName:
        return app::FromAnsi(row.valueName);
    case colValueData:
        return row.valueData;
    case colDiagnosis:
        return row.diagnosis;
    case colRepair:
        return row.repair;
    default:
        if (index.column() >= colFirstLabel && index.column() < kColumnCount)
            return QString(kLabels[index.column() - colFirstLabel]);
        return {};
    }
}

bool ResultModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != colCheck || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == colCheck)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

} // namespace ui
