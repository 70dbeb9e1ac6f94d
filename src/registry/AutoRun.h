#pragma once
// The program's entry under the machine's run-at-start-up key.

#include <string>

// Under HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run (never created):
// stores `command` as the string value `valueName` when `enable`, else deletes the value
// if it is there. Nothing happens when the key cannot be opened.
void SetAutoRun(const std::string& valueName, const std::string& command, bool enable);
