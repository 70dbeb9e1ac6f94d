// hivewarden-cli: the command-line companion of Hivewarden.

#include "cli/Command.h"
#include "cli/Commands.h"
#include "store/ProgramFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <exception>
#include <optional>

namespace cli {

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeMachineCreateCommand());
    commands.push_back(MakeMachineResetSandboxCommand());
    commands.push_back(MakeRegImportCommand());
    commands.push_back(MakeRegSaveCommand());
    commands.push_back(MakeRegDeleteCommand());
    commands.push_back(MakeRegQueryCommand());
    commands.push_back(MakeRestartCommand());
    commands.push_back(MakeInfoCommand());
    commands.push_back(MakeStoreDumpCommand());
    commands.push_back(MakeStoreRunCommand());
    commands.push_back(MakeExportCommand());
    commands.push_back(MakeScanCommand());
    commands.push_back(MakeCleanCommand());
    commands.push_back(MakeHivesCommand());
    commands.push_back(MakeCompactCommand());
    commands.push_back(MakeBackupCommand());
    commands.push_back(MakeBackupsCommand());
    commands.push_back(MakeRestoreCommand());
    return commands;
}

} // namespace cli

namespace {

void printUsage(QTextStream& out) {
    out << "Usage: hivewarden-cli [--machine DIR] [--drive D=DIR]... [--program-folder DIR] "
           "COMMAND [ARGUMENTS]\n\n"
        << "The machine is DIR, else the folder named by HIVEWARDEN_MACHINE, else the sandbox\n"
        << "machine, a small Windows XP installation made on first use.\n"
        << "--drive D=DIR makes the host folder DIR the machine's drive D:, writable, in\n"
        << "place of the drive the machine's hivewarden-machine.ini maps (a drive the ini\n"
        << "maps outside the machine folder is read-only).\n"
        << "--program-folder DIR keeps the program's files (each machine's system.dat and\n"
        << "Registry Backup) below DIR instead of beside the program.\n\nCommands:\n";
    for (const auto& command : cli::AllCommands())
        out << "  " << command->name().leftJustified(16) << command->description() << "\n";
}

// "D=DIR" or "D:=DIR", the folder made absolute from the current one.
std::optional<std::pair<char, std::string>> parseDrive(const QString& mapping) {
    const qsizetype equals = mapping.indexOf('=');
    const QString letter = mapping.left(equals);
    if (equals < 1 || equals + 1 >= mapping.size() ||
        !(letter.size() == 1 || (letter.size() == 2 && letter[1] == ':')) ||
        !letter[0].isLetter() || letter[0].unicode() > 0x7F)
        return std::nullopt;
    const QString folder = QFileInfo(mapping.mid(equals + 1)).absoluteFilePath();
    return std::pair(char(letter[0].toUpper().unicode()), folder.toStdString());
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
        } else if (option == "--program-folder" && !args.isEmpty()) {
            SetProgramFolder(QFileInfo(args.takeFirst()).absoluteFilePath().toStdString());
        } else if (option.startsWith("--program-folder=")) {
            SetProgramFolder(QFileInfo(option.mid(17)).absoluteFilePath().toStdString());
        } else if ((option == "--drive" && !args.isEmpty()) || option.startsWith("--drive=")) {
            const QString mapping = option == "--drive" ? args.takeFirst() : option.mid(8);
            const auto drive = parseDrive(mapping);
            if (!drive) {
                err << "hivewarden-cli: --drive wants a drive letter and a folder, as in "
                       "D=/mnt/data, not "
                    << mapping << "\n";
                return 2;
            }
            global.drives.push_back(*drive);
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
