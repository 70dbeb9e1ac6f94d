// The exclusion list of the scan engine.

#include "scan/TFixRegistry.h"

#include "registry/AsciiCase.h"
#include "registry/SplitFns.h"

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

bool TFixRegistry::IsExcluded(const std::string& candidate) const {
    for (const std::string& entry : ExcludeKEYList) {
        const size_t bracket = entry.find('(');
        if (bracket == std::string::npos) {
            if (SameTextAscii(entry, candidate))
                return true;
        } else if (bracket > 0 && FindTextFrom(candidate, entry.substr(0, bracket)) > 0) {
            return true;
        }
    }
    return false;
}
