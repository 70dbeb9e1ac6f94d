#include "app/AnsiText.h"

#include "win32/system/Nls.h"

namespace app {

QString FromAnsi(std::string_view text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    QString wide(size, QChar(0));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<LPWSTR>(wide.data()), size);
    return wide;
}

} // namespace app
