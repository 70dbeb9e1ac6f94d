#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "registry/OSInfo.h"
#include "registry/SystemRestart.h"
#include "win32/base/ErrorText.h"
#include "win32/base/LastError.h"
#include "win32/machine/Machine.h"
#include "win32/machine/SystemShutdown.h"

#include <QTextStream>
#include <optional>

namespace cli {

namespace {

// Restarts the machine as the program's restart button does (SeShutdownPrivilege,
// ExitWindowsEx): what the next start of Windows does first is make the hive
// replacements left by RegReplaceKey (a compaction or a restore), all or none. Each
// replacement is reported as it went; when one cannot be made, all stay pending.
class RestartCommand : public Command {
public:
    QString name() const override { return "restart"; }
    QString usage() const override { return "restart"; }
    QString description() const override {
        return "Makes the hive replacements that wait for the machine's next start.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        const std::string folder = MachineFolderFor(global);
        QTextStream out(stdout);
        if (win32::PendingReplacementsOf(folder).empty() &&
            !win32::HasUnfinishedReplacements(folder)) {
            out << "No hive replacements are pending.\n";
            return 0;
        }
        // The boot takes the machine's lock: a machine another process has mounted is
        // refused here, before anything is replaced.
        std::optional<BootedMachine> machine;
        try {
            machine.emplace(global, false);
        } catch (const CommandError& e) {
            throw CommandError(std::string(e.what()) + ". No hive was replaced.");
        }
        InitOSInfo();
        if (!RestartWindows(1, true)) {
            const DWORD error = GetLastError();
            std::string why = win32::SystemErrorText(LONG(error));
            if (error == ERROR_REGISTRY_IO_FAILED)
                for (const std::string& problem : win32::LastExitWindowsProblems())
                    why += " " + problem;
            throw CommandError("Cannot restart the machine: " + why + " No hive was replaced.");
        }
        return ReportReplacements(win32::LastRestartReplacements()) ? 0 : 1;
    }
};

} // namespace

std::unique_ptr<Command> MakeRestartCommand() {
    return std::make_unique<RestartCommand>();
}

} // namespace cli
