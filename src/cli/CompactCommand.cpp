#include "app/QtUiDispatcher.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/HiveRun.h"
#include "compact/THiveManager.h"
#include "registry/DateTimeText.h"
#include "registry/OSInfo.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"

#include <QTextStream>

namespace cli {

namespace {

// Saves every loaded hive into a dense copy beside its file and asks for the copies to
// be swapped in at the machine's next start, which is when the command lets the machine
// go.
class CompactCommand : public Command {
public:
    QString name() const override { return "compact"; }
    QString usage() const override { return "compact"; }
    QString description() const override {
        return "Compacts every hive (the compact copies take their places when the command ends).";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        BootedMachine machine(global, false);
        InitOSInfo();
        RefuseWindows9x();
        app::QtUiDispatcher ui;
        THiveManager manager(ui);
        ScanMachineHives(manager);
        const std::string store = StoreFilePath(); // the machine's, known while it is booted
        const bool success = RunHiveOperation(manager, ui, hoCompact, "Compacting");
        // Letting the machine go is its next start: the compact copies take their hives'
        // places now, and the release says which.
        const bool replaced = machine.finish();
        if (!success)
            throw CommandError("The compaction failed: " + manager.LastError() + ".");

        QTextStream out(stdout);
        QTextStream err(stderr);
        int32_t before = 0, after = 0;
        int left = 0;
        for (const auto& hive : manager.Hives) {
            // Signed 32-bit sums, as the totals have always been shown.
            before = int32_t(uint32_t(before) + hive->FileSize);
            after = int32_t(uint32_t(after) + hive->SavedSize);
            if (hive->Saved || hive->SavedSize == kNoFileSize) {
                ++left;
                err << "Not compacted: " << MachineText(hive->KeyName) << " ("
                    << MachineText(hive->FileName) << ")"
                    << (hive->SaveError.empty() ? "" : ": " + MachineText(hive->SaveError)) << "\n";
            }
        }
        WriteOptionString(store, kLastCompactValue, DateTimeToText(Now()));
        out << QString("Total keys compacted %1\n").arg(manager.Hives.size());
        out << QString("Total size of all keys %1 KB\n").arg(before / 1024);
        out << QString("Total size after compaction %1 KB\n").arg(after / 1024);
        if (!replaced)
            ++left;
        return left == 0 ? 0 : 1;
    }
};

} // namespace

std::unique_ptr<Command> MakeCompactCommand() {
    return std::make_unique<CompactCommand>();
}

} // namespace cli
