#pragma once
// The two views a scan of a 64-bit installation judges: its 32-bit programs keep their
// registrations below Wow6432Node, and the files those name are the ones a 32-bit program
// sees (System32 is SysWOW64, %ProgramFiles% is "Program Files (x86)"). A record names the
// key as it is stored, so a repair and its undo file act on that key.

#include <functional>
#include <string>

// The machine is a 64-bit installation: the 32-bit view exists.
bool HasWow64View();

// A key path below HKLM\SOFTWARE ("SOFTWARE\Microsoft\...") as the 32-bit view stores it:
// "SOFTWARE\Wow6432Node\Microsoft\...".
std::string Wow64SoftwarePath(const std::string& softwarePath);

// Which program's files a reference is resolved among: a native program's, a 32-bit
// program's, or (a key both kinds of program share) either's.
enum class TRefView { Native, Wow64, Shared };

// Runs `check` on the calling thread seeing the files as the view's program does; for
// Shared, true when either view's check is (only the native one on a 32-bit installation).
bool ValidInView(TRefView view, const std::function<bool()>& check);

// Whether a key location names a key of the 32-bit view: one whose path has Wow6432Node
// right below HKEY_CLASSES_ROOT, HKLM\SOFTWARE or HKLM\SOFTWARE\Classes. It lies one
// level deeper than the native key of the same name.
bool IsWow64Location(const std::string& keyLocation);
