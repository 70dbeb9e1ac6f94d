#pragma once
// UTF-8 <-> UTF-16 for text that crosses to the host (file names, messages).

#include <string>
#include <string_view>

namespace hive {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace hive
