#include "app/QtUiDispatcher.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/HiveRun.h"
#include "compact/THiveManager.h"
#include "registry/OSInfo.h"

#include <QTextStream>

namespace cli {

namespace {

// The machine's hive list as the hive manager reads it.
class HivesCommand : public Command {
public:
    QString name() const override { return "hives"; }
    QString usage() const override { return "hives"; }
    QString description() const override {
        return "Lists the loaded hives: key, file, owner and file size.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        BootedMachine machine(global, true);
        InitOSInfo();
        app::QtUiDispatcher ui;
        THiveManager manager(ui);
        ScanMachineHives(manager);
        QTextStream out(stdout);
        for (const auto& hive : manager.Hives) {
            out << MachineText(hive->KeyName) << "\t" << MachineText(hive->FileName) << "\t"
                << MachineText(hive->Owner) << "\t";
            if (hive->FileSize == kNoFileSize)
                out << "missing";
            else
                out << hive->FileSize;
            out << "\n";
        }
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeHivesCommand() {
    return std::make_unique<HivesCommand>();
}

} // namespace cli
