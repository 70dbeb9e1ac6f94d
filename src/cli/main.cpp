// hivewarden-cli: the command-line companion of Hivewarden.

#include "cli/Command.h"
#include "cli/Commands.h"

#include <QCoreApplication>
#include <QTextStream>
#include <exception>

namespace cli {

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeMachineCreateCommand());
    commands.push_back(MakeRegImportCommand());
    commands.push_back(MakeRegSaveCommand());
    commands.push_back(MakeRegDeleteCommand());
    commands.push_back(MakeRegQueryCommand());
    commands.push_back(MakeRestartCommand());
    commands.push_back(MakeInfoCommand());
    commands.push_back(MakeStoreDumpCommand());
    commands.push_back(MakeStoreRunCommand());
    commands.push_back(MakeScanCommand());
    return commands;
}

} // namespace cli

namespace {

void printUsage(QTextStream& out) {
    out << "Usage: hivewarden-cli [--machine DIR] COMMAND [ARGUMENTS]\n\n"
        << "The machine is DIR, else the folder named by HIVEWARDEN_MACHINE.\n\nCommands:\n";
    for (const auto& command : cli::AllCommands())
        out << "  " << command->name().leftJustified(16) << command->description() << "\n";
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    cli::GlobalOptions global;
    while (!args.isEmpty() && args.first().startsWith("--")) {
        const QString option = args.takeFirst();
        if (option == "--machine" && !args.isEmpty()) {
            global.machine = args.takeFirst().toStdString();
        } else if (option.startsWith("--machine=")) {
            global.machine = option.mid(10).toStdString();
        } else if (option == "--help") {
            QTextStream out(stdout);
            printUsage(out);
            return 0;
        } else {
            err << "hivewarden-cli: unknown option " << option << "\n";
            printUsage(err);
            return 2;
        }
    }
    for (const auto& command : cli::AllCommands()) {
        const QStringList words = command->name().split(' ');
        if (args.mid(0, words.size()) != words)
            continue;
        try {
            return command->execute(global, args.mid(words.size()));
        } catch (const std::exception& e) {
            err << "hivewarden-cli: " << QString::fromUtf8(e.what()) << "\n";
            return 1;
        }
    }
    if (args.isEmpty())
        err << "hivewarden-cli: no command given\n";
    else
        err << "hivewarden-cli: unknown command " << args.join(' ') << "\n";
    printUsage(err);
    return 2;
}
