#pragma once
// "SelectionItems": the scan sections checked on the wizard's selection page, as the
// zero-based row numbers of the checked rows, "0,3,7".

#include <string>
#include <string_view>
#include <vector>

std::string SelectionItemsText(const std::vector<int>& checkedRows);
// One flag per row; entries that are no number or no valid row are passed over.
std::vector<bool> CheckedRowsFromText(std::string_view text, int rowCount);

// Writes "SelectionItems" under "\Options", creating both as needed.
void SaveSelection(const std::string& storeFile, const std::vector<int>& checkedRows);
// The stored selection; no row is checked when "\Options" or the value is missing.
std::vector<bool> LoadSelection(const std::string& storeFile, int rowCount);
