#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "sandbox/SandboxMachine.h"

#include <QTextStream>

namespace cli {

namespace {

class MachineResetSandboxCommand : public Command {
public:
    QString name() const override { return "machine reset-sandbox"; }
    QString usage() const override { return "machine reset-sandbox [--windows xp|10]"; }
    QString description() const override {
        return "Replaces the sandbox machine with a new one, as the program first made it.";
    }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        parser.addOption({"windows",
                          "The sandbox's Windows: xp (the default), or 10 (on 64 bits, with "
                          "32-bit programs).",
                          "VERSION", "xp"});
        ParseArguments(parser, name(), args, 0, usage());
        const QString windows = parser.value("windows").toLower();
        if (windows != "xp" && windows != "10")
            throw CommandError("Unknown sandbox Windows \"" + windows.toStdString() +
                               "\": expected xp or 10.");
        try {
            ResetSandbox(windows == "10" ? TSandboxWindows::Windows10 : TSandboxWindows::XP);
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
