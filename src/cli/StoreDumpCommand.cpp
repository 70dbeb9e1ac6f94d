#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/StoreText.h"
#include "store/StoreError.h"
#include "store/fxRegistryFile.h"

#include <QTextStream>
#include <unordered_set>

namespace cli {

namespace {

class StoreDumpCommand : public Command {
public:
    QString name() const override { return "store dump"; }
    QString usage() const override { return "store dump FILE"; }
    QString description() const override {
        return "Prints a settings file (system.dat): every key and its values.";
    }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 1, usage());
        const std::string file = parser.positionalArguments().at(0).toStdString();
        QTextStream out(stdout);
        try {
            TfxRegFile store(file, TfxRegFile::Access::ReadOnly);
            dump(store, out);
        } catch (const StoreError& e) {
            throw CommandError(file + ": " + e.what());
        }
        return 0;
    }

private:
    // Keys in pre-order, each line its full path, its values indented below it.
    static void dump(TfxRegFile& store, QTextStream& out) {
        std::vector<std::string> pending{"\\"};
        std::unordered_set<int32_t> seen;
        while (!pending.empty()) {
            const std::string path = pending.back();
            pending.pop_back();
            if (!store.OpenKey(path, false))
                continue;
            // A key that lies below itself would be printed without end.
            if (!seen.insert(store.CurrentKey().id).second)
                throw StoreError(kCorruptedFileMessage);
            out << FromAnsi(path) << "\n";
            std::vector<std::string> names;
            store.GetValueNames(names);
            for (const std::string& value : names)
                out << "    " << QuotedText(value) << " = " << ValueText(store, value) << "\n";
            store.GetKeyNames(names);
            const std::string prefix = path == "\\" ? path : path + "\\";
            for (auto it = names.rbegin(); it != names.rend(); ++it)
                pending.push_back(prefix + *it);
        }
    }
};

} // namespace

std::unique_ptr<Command> MakeStoreDumpCommand() {
    return std::make_unique<StoreDumpCommand>();
}

} // namespace cli
