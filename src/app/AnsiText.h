#pragma once
// Text of the machine (key names, values, settings-file text) is in its ANSI code page;
// Qt speaks UTF-16.

#include <QString>
#include <string_view>

namespace app {

QString FromAnsi(std::string_view text);

} // namespace app
