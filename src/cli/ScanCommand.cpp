#include "app/QtUiDispatcher.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ScanRun.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"

namespace cli {

namespace {

constexpr char kUsage[] = "scan [--section N ...] [--exclude LINE ...] [--json]";

class ScanCommand : public Command {
public:
    QString name() const override { return "scan"; }
    QString usage() const override { return kUsage; }
    QString details() const override { return SectionListText(); }
    QString description() const override {
        return "Scans the registry for entries that point at things that no longer exist.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const ScanOptions scanOptions(parser);
        const QCommandLineOption json("json", "One JSON object per problem and line.");
        parser.addOption(json);
        ParseArguments(parser, name(), args, 0, kUsage);
        const TRepairItems items = scanOptions.Sections(parser, kUsage);

        BootedMachine machine(global, true);
        InitOSInfo();
        app::QtUiDispatcher ui;
        TFixRegistry engine(ui);
        engine.ScanItems = items;
        engine.ExcludeKEYList = scanOptions.Exclusions(parser);
        ScanRun(parser.isSet(json)).Run(engine, ui);
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeScanCommand() {
    return std::make_unique<ScanCommand>();
}

} // namespace cli
