#include "store/SelectionItems.h"

#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"

#include <charconv>

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string SelectionItemsText(const std::vector<int>& checkedRows) {
    std::string text;
    for (const int row : checkedRows) {
        if (!text.empty())
            text += ',';
        text += std::to_string(row);
    }
    return text;
}

std::vector<bool> CheckedRowsFromText(std::string_view text, int rowCount) {
    std::vector<bool> checked(static_cast<size_t>(std::max(rowCount, 0)), false);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view entry = trimmed(text.substr(start, end - start));
        int row = -1;
        const auto [rest, error] = std::from_chars(entry.data(), entry.data() + entry.size(), row);
        if (!entry.empty() && error == std::errc() && rest == entry.data() + entry.size() &&
            row >= 0 && row < rowCount)
            checked[static_cast<size_t>(row)] = true;
        start = end + 1;
    }
    return checked;
}

void SaveSelection(const std::string& storeFile, const std::vector<int>& checkedRows) {
    TfxRegFile store(storeFile);
    store.OpenKey(kOptionsKey, true);
    store.WriteString(kSelectionItemsValue, SelectionItemsText(checkedRows));
    store.CloseKey();
}

std::vector<bool> LoadSelection(const std::string& storeFile, int rowCount) {
    TfxRegFile store(storeFile);
    std::string text;
    if (store.OpenKey(kOptionsKey, false) && store.ValueExists(kSelectionItemsValue))
        text = store.ReadString(kSelectionItemsValue);
    store.CloseKey();
    return CheckedRowsFromText(text, rowCount);
}
