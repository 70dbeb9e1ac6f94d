// The exclusion list of the scan engine.

#include "scan/TFixRegistry.h"

#include "registry/AsciiCase.h"
#include "registry/SplitFns.h"

#include <string_view>

void TFixRegistry::SetExcludeKEYText(const std::string& text) {
    ExcludeKEYList.clear();
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string::npos)
            end = text.size();
        ExcludeKEYList.push_back(text.substr(begin, end - begin));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n')
            ++end;
        begin = end + 1;
    }
}

namespace {

// The first entry of `list` that excludes `candidate`, or null.
const std::string* exclusionOf(const std::vector<std::string>& list, const std::string& candidate) {
    for (const std::string& entry : list) {
        const size_t bracket = entry.find('(');
        if (bracket == std::string::npos) {
            if (SameTextAscii(entry, candidate))
                return &entry;
        } else if (bracket > 0 &&
                   FindTextFrom(candidate, std::string_view(entry).substr(0, bracket)) > 0) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

bool TFixRegistry::IsExcluded(const std::string& candidate) const {
    return exclusionOf(ExcludeKEYList, candidate) != nullptr;
}

std::string TFixRegistry::ExclusionWithin(const std::string& keyLocation) const {
    if (keyLocation.empty())
        return {};
    const std::string below = AsciiUpper(keyLocation) + "\\";
    if (const std::string* entry = exclusionOf(ExcludeKEYList, keyLocation))
        return *entry;
    for (const std::string& entry : ExcludeKEYList) {
        const size_t bracket = entry.find('(');
        // The key the entry names: the whole line, or for "(include subkey)" its text
        // before the bracket.
        std::string key = bracket == std::string::npos ? entry : entry.substr(0, bracket);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\\'))
            key.pop_back();
        if (!key.empty() && AsciiUpper(key).starts_with(below))
            return entry;
    }
    return {};
}
