#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "win32/registry/Registry.h"

#include <QTextStream>

namespace cli {

namespace {

class RegDeleteCommand : public Command {
public:
    QString name() const override { return "reg delete"; }
    QString usage() const override { return "reg delete KEY [--value NAME]"; }
    QString description() const override {
        return "Deletes a key with its subtree, or one value of it.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption value("value", "Delete this value (\"\" for the default).",
                                       "name");
        parser.addOption(value);
        ParseArguments(parser, name(), args, 1, usage());
        const KeyArgument key = ParseKeyArgument(parser.positionalArguments().at(0));
        const std::string keyName = FromU16(key.fullName()).toStdString();
        BootedMachine machine(global, false);
        if (parser.isSet(value)) {
            HKEY handle = nullptr;
            CheckRegistryCall(
                RegOpenKeyExW(key.root, key.subkey.c_str(), 0, KEY_SET_VALUE, &handle), keyName);
            const LONG rc = RegDeleteValueW(handle, ToU16(parser.value(value)).c_str());
            RegCloseKey(handle);
            CheckRegistryCall(rc, keyName + " value \"" + parser.value(value).toStdString() + "\"");
        } else {
            if (key.subkey.empty())
                throw CommandError("Cannot delete a root key: " + keyName);
            CheckRegistryCall(RegDeleteTreeW(key.root, key.subkey.c_str()), keyName);
        }
        machine.finish();
        QTextStream(stdout) << "The operation completed successfully.\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeRegDeleteCommand() {
    return std::make_unique<RegDeleteCommand>();
}

} // namespace cli
