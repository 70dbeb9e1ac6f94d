#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "win32/machine/MachineCreator.h"

#include <QTextStream>

namespace cli {

namespace {

class MachineCreateCommand : public Command {
public:
    QString name() const override { return "machine create"; }
    QString usage() const override {
        return "machine create DIR [--version 5.1.2600] [--service-pack TEXT] [--user NAME]";
    }
    QString description() const override {
        return "Creates a new, empty Windows installation in a folder.";
    }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption version("version", "Windows version (major.minor.build).",
                                         "version", "5.1.2600");
        const QCommandLineOption servicePack("service-pack", "Service pack text.", "text",
                                             "Service Pack 2");
        const QCommandLineOption user("user", "The user's name.", "name", "Administrator");
        parser.addOptions({version, servicePack, user});
        ParseArguments(parser, name(), args, 1, usage());
        win32::NewMachine options;
        options.version = parser.value(version).toStdString();
        options.servicePack = parser.value(servicePack).toStdString();
        options.user = parser.value(user).toStdString();
        const std::string folder = parser.positionalArguments().at(0).toStdString();
        std::string sid;
        try {
            sid = win32::CreateMachine(folder, options);
        } catch (const std::exception& e) {
            throw CommandError(e.what());
        }
        QTextStream(stdout) << "Created a Windows " << parser.value(version) << " machine in "
                            << QString::fromStdString(folder) << " for user " << parser.value(user)
                            << " (" << QString::fromStdString(sid) << ")\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeMachineCreateCommand() {
    return std::make_unique<MachineCreateCommand>();
}

} // namespace cli
