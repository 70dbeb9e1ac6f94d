#pragma once
// Showing a key in the system's registry editor.

#include <string>

// Finds the editor's window (starting the editor when there is none), shows it, and
// selects the key at `keyLocation` ("HKEY_LOCAL_MACHINE\SOFTWARE\...") and, when
// `valueName` is not empty, that value. False when no editor window appears.
bool OpenRegeditAt(const std::string& keyLocation, const std::string& valueName);
