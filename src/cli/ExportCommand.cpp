#include "backup/ExportRegKey.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/StoreText.h"

#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

class ExportCommand : public Command {
public:
    QString name() const override { return "export"; }
    QString usage() const override { return "export KEY FILE [--value NAME]"; }
    QString description() const override {
        return "Appends a key with its subtree, or one value of each of its keys, to a .reg file.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption value("value", "Only this value of each key that has it.", "name");
        parser.addOption(value);
        ParseArguments(parser, name(), args, 2, usage());
        const KeyArgument key = ParseKeyArgument(parser.positionalArguments().at(0));
        const QString file = QFileInfo(parser.positionalArguments().at(1)).absoluteFilePath();
        BootedMachine machine(global, true);
        try {
            ExportRegKey(key.root, ToAnsi(FromU16(key.subkey)), file.toStdString(),
                         ToAnsi(parser.value(value)));
        } catch (const EExportError& e) {
            throw CommandError(e.what());
        }
        QTextStream(stdout) << "Exported " << FromU16(key.fullName()) << " to " << file << "\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeExportCommand() {
    return std::make_unique<ExportCommand>();
}

} // namespace cli
