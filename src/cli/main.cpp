// hivewarden-cli: the command-line companion of Hivewarden.

#include "app/ProgramIdentity.h"
#include "cli/Command.h"
#include "cli/CommandList.h"
#include "store/ProgramFolder.h"
#include "win32/machine/Machine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <exception>
#include <optional>

namespace {

void printUsage(QTextStream& out) {
    out << "Usage: hivewarden-cli [--machine DIR] [--drive D=DIR]... [--program-folder DIR]\n"
        << "                      [--repair-damaged] COMMAND [ARGUMENTS]\n"
        << "       hivewarden-cli COMMAND --help\n"
        << "       hivewarden-cli --help | --version\n\n"
        << "The machine is DIR, else the folder named by HIVEWARDEN_MACHINE, else the\n"
        << "sandbox machine, a small Windows XP installation made on first use.\n"
        << "--drive D=DIR makes the host folder DIR the machine's drive D:, writable, in\n"
        << "place of the drive the machine's hivewarden-machine.ini maps (a drive the ini\n"
        << "maps outside the machine folder is read-only).\n"
        << "--program-folder DIR keeps the program's files (each machine's system.dat and\n"
        << "Registry Backup) below DIR instead of beside the program.\n"
        << "--repair-damaged lets a command that changes the registry mount a damaged hive:\n"
        << "the original is kept beside it and a sound hive of what could be read takes its\n"
        << "place (without it such a mount is refused; read-only commands read what they\n"
        << "can).\n"
        << "\nCommands:\n"
        << cli::CommandListText();
}

// A command's arguments ask for its usage: --help or -h before any "--".
bool asksForHelp(const QStringList& args) {
    for (const QString& arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
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
    QCoreApplication application(argc, argv);
    app::NameProgram();
    // Every command ends the process soon after it releases the machine.
    win32::LeaveReleasedRegistryToProcessEnd();
    QStringList args = application.arguments().mid(1);
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
        } else if (option == "--repair-damaged") {
            global.repairDamaged = true;
        } else if (option == "--help") {
            QTextStream out(stdout);
            printUsage(out);
            return 0;
        } else if (option == "--version") {
            QTextStream(stdout) << "hivewarden-cli " << app::ProgramVersion() << "\n";
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
        if (asksForHelp(args.mid(words.size()))) {
            QTextStream(stdout) << cli::CommandHelpText(*command);
            return 0;
        }
        try {
            return command->execute(global, args.mid(words.size()));
        } catch (const std::exception& e) {
            err << "hivewarden-cli: " << QString::fromUtf8(e.what()) << "\n";
            return 1;
        }
    }
    // "reg --help": the usage of the group's commands.
    if (!args.isEmpty() && asksForHelp(args.mid(1))) {
        QString usages;
        for (const auto& command : cli::AllCommands()) {
            if (command->name().startsWith(args.first() + ' '))
                usages += "       hivewarden-cli [OPTIONS] " + command->usage() + "\n";
        }
        if (!usages.isEmpty()) {
            QTextStream(stdout) << "Usage:" << usages.mid(6)
                                << "\nhivewarden-cli COMMAND --help tells more of each.\n";
            return 0;
        }
    }
    if (args.isEmpty())
        err << "hivewarden-cli: no command given\n";
    else
        err << "hivewarden-cli: unknown command " << args.join(' ') << "\n";
    printUsage(err);
    return 2;
}
