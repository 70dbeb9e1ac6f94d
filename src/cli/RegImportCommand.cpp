#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "win32/registry/RegImport.h"

#include <QTextStream>

namespace cli {

namespace {

class RegImportCommand : public Command {
public:
    QString name() const override { return "reg import"; }
    QString usage() const override { return "reg import FILE"; }
    QString description() const override { return "Imports a .reg file into the machine."; }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 1, usage());
        const QString file = parser.positionalArguments().at(0);
        BootedMachine machine(global, false);
        win32::RegImportResult result;
        try {
            result = win32::RegImportFile(file.toStdString());
        } catch (const std::exception& e) {
            throw CommandError(e.what());
        }
        machine.finish();
        QTextStream err(stderr);
        for (const auto& problem : result.problems)
            err << file << ":" << problem.line << ": " << QString::fromStdString(problem.message)
                << "\n";
        QTextStream(stdout) << "Imported " << result.applied << " entries from " << file
                            << (result.skipped == 0
                                    ? QString()
                                    : QString("; %1 lines skipped").arg(result.skipped))
                            << "\n";
        return result.skipped == 0 ? 0 : 1;
    }
};

} // namespace

std::unique_ptr<Command> MakeRegImportCommand() {
    return std::make_unique<RegImportCommand>();
}

} // namespace cli
