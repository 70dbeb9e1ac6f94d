#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "win32/machine/Machine.h"
#include "win32/registry/Registry.h"

#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

class RegSaveCommand : public Command {
public:
    QString name() const override { return "reg save"; }
    QString usage() const override { return "reg save KEY FILE"; }
    QString description() const override {
        return "Saves a key and its subtree as a new hive file.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 2, usage());
        const KeyArgument key = ParseKeyArgument(parser.positionalArguments().at(0));
        const QString file = QFileInfo(parser.positionalArguments().at(1)).absoluteFilePath();
        BootedMachine machine(global, true);
        EnableRequiredPrivilege("SeBackupPrivilege");
        HKEY handle = nullptr;
        const std::string keyName = FromU16(key.fullName()).toStdString();
        CheckRegistryCall(RegOpenKeyExW(key.root, key.subkey.c_str(), 0, KEY_READ, &handle),
                          keyName);
        const LONG rc = win32::SaveKeyToHostFile(handle, file.toStdString());
        RegCloseKey(handle);
        CheckRegistryCall(rc, "Cannot save " + keyName + " to " + file.toStdString());
        QTextStream(stdout) << "Saved " << FromU16(key.fullName()) << " to " << file << "\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeRegSaveCommand() {
    return std::make_unique<RegSaveCommand>();
}

} // namespace cli
