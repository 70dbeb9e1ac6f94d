#include "app/QtUiDispatcher.h"
#include "backup/ExportRegKey.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ScanRun.h"
#include "cli/StoreText.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"

#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

constexpr char kUsage[] = "clean --undo FILE [--section N ...] [--exclude LINE ...] [--yes]";

class CleanCommand : public Command {
public:
    QString name() const override { return "clean"; }
    QString usage() const override { return kUsage; }
    QString details() const override { return SectionListText(); }
    QString description() const override {
        return "Scans, then with --yes removes every problem found, saving each to an undo "
               "file first.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const ScanOptions scanOptions(parser);
        const QCommandLineOption undo(
            "undo", "Save what is removed to this .reg file (\"\" for none).", "FILE");
        const QCommandLineOption yes("yes", "Remove the problems found.");
        parser.addOption(undo);
        parser.addOption(yes);
        ParseArguments(parser, name(), args, 0, kUsage);
        if (!parser.isSet(undo))
            throw CommandError(
                std::string("Name an undo file with --undo (\"\" for none)\nUsage: ") + kUsage);
        const TRepairItems items = scanOptions.Sections(parser, kUsage);
        const QString undoName = parser.value(undo);
        const std::string undoFile = undoName.isEmpty()
                                         ? std::string()
                                         : QFileInfo(undoName).absoluteFilePath().toStdString();
        const bool repair = parser.isSet(yes);

        BootedMachine machine(global, !repair);
        InitOSInfo();
        app::QtUiDispatcher ui;
        TFixRegistry engine(ui);
        engine.ScanItems = items;
        engine.ExcludeKEYList = scanOptions.Exclusions(parser);
        ScanRun run(false);
        run.Run(engine, ui);
        if (!repair)
            return 0;

        const std::vector<TInvalidRegData> problems = engine.InvalidDataList();
        size_t removed = 0;
        std::string failure;
        for (const TInvalidRegData& problem : problems) {
            run.ShowProgress("Removing", int((removed + 1) * 100 / problems.size()));
            try {
                if (!engine.FixItem(problem.Category, undoFile, problem.KeyLocation,
                                    problem.ValueName)) {
                    failure = "Could not remove the problem of \"" +
                              std::string(RepairItemDisplayName(problem.Category)) + "\" at " +
                              FromAnsi(problem.KeyLocation).toStdString() + " (value \"" +
                              FromAnsi(problem.ValueName).toStdString() + "\")";
                    if (!engine.LastFixRefusal().empty())
                        failure = FromAnsi(engine.LastFixRefusal()).toStdString();
                    break;
                }
            } catch (const EExportError& e) {
                failure = std::string("Nothing more was removed: the undo file could not be "
                                      "written: ") +
                          e.what();
                break;
            }
            ++removed;
        }
        run.ClearProgress();
        // On a full disk the hives may not be written either: the count is told all the same.
        bool flushed = engine.FlushRepairs();
        std::string unwritten;
        try {
            machine.finish();
        } catch (const std::exception& e) {
            flushed = false;
            unwritten = e.what();
        }
        QTextStream(stdout) << "Removed " << removed << (removed == 1 ? " problem" : " problems")
                            << (undoFile.empty()
                                    ? QString()
                                    : " (undo file " + QString::fromStdString(undoFile) + ")")
                            << ".\n";
        const std::string count = std::to_string(removed) + " of " +
                                  std::to_string(problems.size()) +
                                  (problems.size() == 1 ? " problem" : " problems");
        if (!flushed)
            throw CommandError("The removal of " + count +
                               " could not be written to the hive files" +
                               (unwritten.empty() ? std::string() : " (" + unwritten + ")") +
                               "; a hive that was not written keeps its entries.");
        if (!failure.empty())
            throw CommandError(failure + ". " + count + (removed == 1 ? " was" : " were") +
                               " removed before it stopped.");
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeCleanCommand() {
    return std::make_unique<CleanCommand>();
}

} // namespace cli
