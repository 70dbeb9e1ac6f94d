#pragma once
// What several commands need: the machine to work on, key arguments, text output.

#include "app/BootedMachine.h"
#include "cli/Command.h"
#include "win32/base/WinTypes.h"

#include <QCommandLineParser>
#include <optional>
#include <string>

namespace cli {

// The machine folder: --machine, else HIVEWARDEN_MACHINE, else the sandbox (made on first
// use; the first call says on stderr that the sandbox is used).
std::string MachineFolderFor(const GlobalOptions& global);

// Boots the machine for the lifetime of the object; the destructor shuts it down.
// The boot's warnings go to stderr. finish() shuts down early and reports a failure to
// write the hives.
//
// Releasing the machine is its next start: the hive replacements that wait for it (a
// restore's, a compaction's) are made then, and finish() and the destructor say which
// on stdout, and which could not be made, and why, on stderr.
class BootedMachine {
public:
    BootedMachine(const GlobalOptions& global, bool readOnly);
    ~BootedMachine();
    BootedMachine(const BootedMachine&) = delete;
    BootedMachine& operator=(const BootedMachine&) = delete;
    // False when a replacement waited and could not be made (it still waits).
    bool finish();

private:
    std::optional<app::BootedMachine> machine_;
};

// Prints what a release of the machine did with the hive replacements that waited:
// "Replaced ..." on stdout for each made, "Failed: ..." on stderr for each not made.
// False when one was not made.
bool ReportReplacements(const win32::ReplacementRun& run);

// Enables a privilege of the booted machine's process token, as a Windows program does
// before the call that needs it; throws CommandError when the token does not hold it.
void EnableRequiredPrivilege(const char* name);

// "HKLM\SOFTWARE\x" or "HKEY_LOCAL_MACHINE\SOFTWARE\x" into the root and the subkey.
struct KeyArgument {
    HKEY root = nullptr;
    std::u16string rootName; // the long name
    std::u16string subkey;
    std::u16string fullName() const;
};
KeyArgument ParseKeyArgument(const QString& text);

// Parses the command's arguments; throws CommandError with the parser's message, and
// with `usage` when the number of positional arguments is not `positional`.
void ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int positional, const QString& usage);

// Throws CommandError with the system's text for a failed registry call.
void CheckRegistryCall(LONG rc, const std::string& what);

std::u16string ToU16(const QString& text);
QString FromU16(std::u16string_view text);

} // namespace cli
