#include "win32/host/PlainFileName.h"

#include <cstdio>

namespace win32 {

std::string PlainFileNameFault(std::string_view name) {
    if (name.empty())
        return "is empty";
    if (name.find_first_not_of('.') == std::string_view::npos)
        return "is made of dots alone, which name a folder, not a file in it";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\')
            return std::string("holds a \"") + c + "\", which would lead into another folder";
        if (c == ':')
            return "holds a \":\", which names a drive or a stream";
        if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "%02X", byte);
            return std::string("holds the control character 0x") + code;
        }
    }
    return {};
}

} // namespace win32
