#include "win32/system/Nls.h"

#include "win32/base/CodePage.h"
#include "win32/base/LastError.h"
#include "win32/registry/MachineRegistry.h"

#include <QChar>
#include <cstring>
#include <string>

using namespace win32;

namespace {

const CodePage& ansiCodePage() {
    if (MachineRegistry* reg = MachineRegistry::current())
        return *reg->codePage;
    static const CodePage fallback(1252);
    return fallback;
}

bool supported(UINT codePage) {
    return codePage == CP_ACP || codePage == ansiCodePage().number();
}

// Copies `count` units into a buffer of `capacity`, or reports the size needed.
template <typename Unit> int deliver(const Unit* data, size_t count, Unit* out, int capacity) {
    if (capacity == 0)
        return static_cast<int>(count);
    if (!out || static_cast<size_t>(capacity) < count) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, data, count * sizeof(Unit));
    return static_cast<int>(count);
}

} // namespace

UINT GetACP() {
    return ansiCodePage().number();
}

int MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (!supported(CodePage) || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 ||
        cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const std::u16string wide = ansiCodePage().toUnicode(std::string_view(lpMultiByteStr, length));
    return deliver(wide.data(), wide.size(), lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR, BOOL* lpUsedDefaultChar) {
    if (!supported(CodePage) || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 ||
        cbMultiByte < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                            : static_cast<size_t>(cchWideChar);
    const std::u16string_view wide(lpWideCharStr, length);
    const std::string ansi = ansiCodePage().fromUnicode(wide);
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = ansiCodePage().toUnicode(ansi) != wide;
    return deliver(ansi.data(), ansi.size(), lpMultiByteStr, cbMultiByte);
}

DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (!lpsz)
        return 0;
    const CodePage& ansi = ansiCodePage();
    for (DWORD i = 0; i < cchLength; ++i) {
        const std::u16string wide = ansi.toUnicode(std::string_view(lpsz + i, 1));
        if (wide.size() != 1)
            continue; // a lead byte of a double-byte code page
        const char16_t upper = QChar(wide[0]).toUpper().unicode();
        if (upper == wide[0])
            continue;
        const std::string back = ansi.fromUnicode(std::u16string_view(&upper, 1));
        if (back.size() == 1 && ansi.toUnicode(back) == std::u16string(1, upper))
            lpsz[i] = back[0];
    }
    return cchLength;
}
