#pragma once
// The system's message texts for the error codes the layer returns (what FormatMessage
// with FORMAT_MESSAGE_FROM_SYSTEM gives on an English Windows).

#include "win32/base/WinTypes.h"

#include <string>

namespace win32 {

std::string SystemErrorText(LONG code);

} // namespace win32
