#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/StoreText.h"
#include "registry/OSInfo.h"
#include "registry/Privileges.h"
#include "win32/files/Drives.h"

#include <QTextStream>

namespace cli {

namespace {

class InfoCommand : public Command {
public:
    QString name() const override { return "info"; }
    QString usage() const override { return "info"; }
    QString description() const override {
        return "Shows the machine's Windows version, user and drives.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        BootedMachine machine(global, true);
        InitOSInfo();
        QTextStream out(stdout);
        const TOSInfo& info = OSInfo();
        std::string product = OSProductName();
        if (!product.empty() && IsWin64())
            product += " 64-bit";
        out << "Windows:       "
            << (product.empty() ? QString("(a version without a name here)") : FromAnsi(product))
            << " " << info.MajorVersion << "." << info.MinorVersion << "." << info.BuildNumber
            << "\n";
        const std::string pack = OSServicePack();
        out << "Service pack:  " << (pack.empty() ? QString("none") : FromAnsi(pack)) << "\n";
        out << "User:          " << FromAnsi(CurrentUserName()) << "\n";
        out << "Administrator: " << (IsAdmin() ? "yes" : "no") << "\n";
        out << "Drives:\n";
        const DWORD drives = GetLogicalDrives();
        for (int bit = 0; bit < 26; ++bit) {
            if (!(drives & (1u << bit)))
                continue;
            const std::string drive = std::string(1, char('A' + bit)) + ":";
            char device[1024] = {};
            const bool known = QueryDosDeviceA(drive.c_str(), device, sizeof device) != 0;
            out << "  " << QString::fromStdString(drive) << "  "
                << (known ? FromAnsi(device) : QString("(no device)")) << "\n";
        }
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeInfoCommand() {
    return std::make_unique<InfoCommand>();
}

} // namespace cli
