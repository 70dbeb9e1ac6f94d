#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "win32/machine/Machine.h"

#include <QTextStream>
#include <algorithm>

namespace cli {

namespace {

// What the next start of Windows does first: the hive replacements left by RegReplaceKey
// (a compaction or a restore). Done on the machine's folder without booting it, as
// Windows makes them before it loads the hives.
class RestartCommand : public Command {
public:
    QString name() const override { return "restart"; }
    QString description() const override {
        return "Makes the hive replacements that wait for the machine's next start.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, "restart");
        const std::string folder = MachineFolderFor(global);
        const auto pending = win32::PendingReplacementsOf(folder);
        QTextStream out(stdout);
        if (pending.empty()) {
            out << "No hive replacements are pending.\n";
            return 0;
        }
        const std::vector<std::string> failures = win32::PerformPendingReplacements(folder);
        QTextStream err(stderr);
        for (const auto& replacement : pending) {
            // A failure names the hive and the new file first.
            const std::string prefix = replacement.hive + " from " + replacement.newFile;
            const auto failed =
                std::find_if(failures.begin(), failures.end(),
                             [&](const std::string& f) { return f.rfind(prefix, 0) == 0; });
            if (failed == failures.end())
                out << "Replaced " << QString::fromStdString(replacement.hive) << " with "
                    << QString::fromStdString(replacement.newFile) << "; the old hive is "
                    << QString::fromStdString(replacement.oldFile) << "\n";
        }
        for (const std::string& failure : failures)
            err << "Failed: " << QString::fromStdString(failure) << "\n";
        return failures.empty() ? 0 : 1;
    }
};

} // namespace

std::unique_ptr<Command> MakeRestartCommand() {
    return std::make_unique<RestartCommand>();
}

} // namespace cli
