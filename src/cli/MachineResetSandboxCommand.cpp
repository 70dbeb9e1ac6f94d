#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "sandbox/SandboxMachine.h"

#include <QTextStream>

namespace cli {

namespace {

class MachineResetSandboxCommand : public Command {
public:
    QString name() const override { return "machine reset-sandbox"; }
    QString usage() const override { return "machine reset-sandbox"; }
    QString description() const override {
        return "Replaces the sandbox machine with a new one, as the program first made it.";
    }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        try {
            ResetSandbox();
        } catch (const std::exception& e) {
            throw CommandError(std::string("Cannot reset the sandbox: ") + e.what());
        }
        QTextStream(stdout) << "Made a new sandbox machine at "
                            << QString::fromStdString(SandboxFolder()) << "\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeMachineResetSandboxCommand() {
    return std::make_unique<MachineResetSandboxCommand>();
}

} // namespace cli
