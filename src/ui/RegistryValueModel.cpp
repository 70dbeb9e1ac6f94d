#include "ui/RegistryValueModel.h"

#include "app/AnsiText.h"
#include "registry/AnsiCharTable.h"
#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "registry/TRegPathManager.h"
#include "ui/RegistryValueText.h"
#include "win32/registry/Registry.h"

#include <algorithm>

namespace ui {

namespace {

constexpr const char* kDefaultName = "(Default)";

bool sameName(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return a.empty() && b.empty();
    return a.size() == b.size() && FindTextFrom(a, b) == 1;
}

} // namespace

RegistryValueModel::RegistryValueModel(QObject* parent) : QAbstractTableModel(parent) {}

void RegistryValueModel::ShowKey(const std::string& keyLocation) {
    beginResetModel();
    values_.clear();
    keyLocation_ = keyLocation;
    HKEY key = nullptr;
    try {
        if (!keyLocation.empty()) {
            TRegPathManager path;
            path.SetPath(keyLocation);
            if (RegOpenKeyExA(path.RootKey(), path.SubKey().c_str(), 0, KEY_QUERY_VALUE, &key) !=
                ERROR_SUCCESS)
                key = nullptr;
        }
    } catch (const EInvalidRootName&) {
        key = nullptr;
    }
    if (!key) {
        endResetModel();
        return;
    }

    DWORD count = 0, maxName = 0, maxData = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                     &maxData, nullptr, nullptr);
    // A name of n UTF-16 units takes up to 2n bytes in a double-byte code page; the data
    // of strings never grows from UTF-16 into the code page.
    std::string name(2 * size_t(maxName) + 2, '\0');
    std::string data(std::max<size_t>(maxData, 16), '\0');
    values_.reserve(count + 1);
    bool haveDefault = false;
    for (DWORD index = 0;;) {
        DWORD nameSize = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = REG_NONE;
        const LONG rc = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (rc == ERROR_MORE_DATA) {
            // Changed since the key was asked for its sizes: bigger buffers, same value.
            name.resize(std::max<size_t>(name.size() * 2, nameSize + 1));
            data.resize(std::max<size_t>(data.size() * 2, dataSize));
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        Value value;
        value.name.assign(name.data(), nameSize);
        value.type = type;
        value.data.assign(data.data(), std::min<size_t>(dataSize, kShownValueDataBytes));
        haveDefault |= value.name.empty();
        values_.push_back(std::move(value));
        ++index;
    }
    RegCloseKey(key);

    if (!haveDefault) {
        Value unset;
        unset.set = false;
        values_.push_back(std::move(unset));
    }
    const auto table = CurrentAnsiCharTable();
    std::stable_sort(values_.begin(), values_.end(), [&table](const Value& a, const Value& b) {
        return table->NameLess(a.name, b.name);
    });
    endResetModel();
}

std::string RegistryValueModel::Name(int row) const {
    return row >= 0 && size_t(row) < values_.size() ? values_[size_t(row)].name : std::string();
}

int RegistryValueModel::RowOf(const std::string& name) const {
    for (size_t row = 0; row < values_.size(); ++row)
        if (sameName(values_[row].name, name))
            return int(row);
    return -1;
}

int RegistryValueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(values_.size());
}

int RegistryValueModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RegistryValueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || size_t(index.row()) >= values_.size())
        return {};
    const Value& value = values_[size_t(index.row())];
    switch (index.column()) {
    case NameColumn:
        return value.name.empty() ? QString(kDefaultName) : app::FromAnsi(value.name);
    case TypeColumn:
        return ValueTypeText(value.type);
    case DataColumn:
        return value.set ? ValueDataText(value.type, value.data) : QString("(value not set)");
    default:
        return {};
    }
}

QVariant RegistryValueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QString("Name");
    case TypeColumn:
        return QString("Type");
    case DataColumn:
        return QString("Data");
    default:
        return {};
    }
}

Qt::ItemFlags RegistryValueModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace ui
