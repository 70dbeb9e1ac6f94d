#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/StoreText.h"
#include "store/StoreError.h"
#include "store/fxRegistryFile.h"

#include <QTextStream>
#include <cmath>

namespace cli {

namespace {

const char kOperations[] =
    "Applies operations read from standard input, one a line, to the settings file FILE\n"
    "(created when missing), and prints one result line for each:\n"
    "\n"
    "  openkey PATH [create]   true or false; PATH starts at the root with \"\\\"\n"
    "  closekey                ok; the root becomes the current key\n"
    "  writestring NAME TEXT   ok\n"
    "  writeinteger NAME N     ok; N a signed 32-bit number\n"
    "  writebool NAME 0|1      ok\n"
    "  writedatetime NAME DAYS ok; DAYS since 30 December 1899, time as the fraction\n"
    "  deletevalue NAME        ok\n"
    "  deletekey PATH          ok, or \"not found\"\n"
    "  read NAME               the value: a quoted string, a number, true or false\n"
    "  keys                    the current key's subkeys, separated by tabs\n"
    "  values                  the current key's value names, separated by tabs\n"
    "\n"
    "Words are separated by spaces. A word with spaces goes in double quotes; inside\n"
    "them \\\" is a quote, \\\\ a backslash, \\r \\n \\t are CR, LF and tab, and \\xHH a\n"
    "control character. Any other backslash is kept, so \"\\Restores\\2024\" needs no\n"
    "escaping, but write \\\\ before r, n, t or x. Outside quotes a backslash is\n"
    "ordinary. Empty lines and lines starting with # are passed over.\n"
    "\n"
    "The first failing line is reported on standard error and ends the run with exit\n"
    "status 1; the lines before it stay applied.\n";

class StoreRunCommand : public Command {
public:
    QString name() const override { return "store run"; }
    QString usage() const override { return "store run FILE < OPERATIONS"; }
    QString description() const override {
        return "Applies settings-file operations read from standard input (store run --help).";
    }
    QString details() const override { return kOperations; }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 1, usage());
        const std::string file = parser.positionalArguments().at(0).toStdString();
        QTextStream in(stdin);
        QTextStream out(stdout);
        int lineNumber = 0;
        try {
            TfxRegFile store(file);
            QString line;
            while (in.readLineInto(&line)) {
                ++lineNumber;
                const QStringList words = SplitOperationLine(line);
                if (words.isEmpty() || words.first().startsWith('#'))
                    continue;
                out << apply(store, words) << "\n";
                out.flush();
            }
        } catch (const std::exception& e) {
            throw CommandError(lineNumber ? "line " + std::to_string(lineNumber) + ": " + e.what()
                                          : file + ": " + e.what());
        }
        return 0;
    }

private:
    static void expectWords(const QStringList& words, qsizetype count, const char* usage) {
        if (words.size() != count)
            throw CommandError(std::string("usage: ") + usage);
    }

    static int32_t integerArgument(const QString& text) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok)
            throw CommandError("not a 32-bit number: " + text.toStdString());
        return value;
    }

    static double daysArgument(const QString& text) {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            throw CommandError("not a number of days: " + text.toStdString());
        return value;
    }

    static QString names(TfxRegFile& store, bool keys) {
        std::vector<std::string> list;
        keys ? store.GetKeyNames(list) : store.GetValueNames(list);
        QStringList texts;
        for (const std::string& name : list)
            texts << FromAnsi(name);
        return texts.join('\t');
    }

    static QString apply(TfxRegFile& store, const QStringList& words) {
        const QString& op = words.first();
        const auto arg = [&](int i) { return ToAnsi(words.at(i)); };
        if (op == "openkey") {
            if (words.size() == 3 && words.at(2) != "create")
                throw CommandError("usage: openkey PATH [create]");
            if (words.size() != 2 && words.size() != 3)
                throw CommandError("usage: openkey PATH [create]");
            return store.OpenKey(arg(1), words.size() == 3) ? "true" : "false";
        }
        if (op == "closekey") {
            expectWords(words, 1, "closekey");
            store.CloseKey();
        } else if (op == "writestring") {
            expectWords(words, 3, "writestring NAME TEXT");
            store.WriteString(arg(1), arg(2));
        } else if (op == "writeinteger") {
            expectWords(words, 3, "writeinteger NAME N");
            store.WriteInteger(arg(1), integerArgument(words.at(2)));
        } else if (op == "writebool") {
            expectWords(words, 3, "writebool NAME 0|1");
            if (words.at(2) != "0" && words.at(2) != "1")
                throw CommandError("usage: writebool NAME 0|1");
            store.WriteBool(arg(1), words.at(2) == "1");
        } else if (op == "writedatetime") {
            expectWords(words, 3, "writedatetime NAME DAYS");
            store.WriteDateTime(arg(1), daysArgument(words.at(2)));
        } else if (op == "deletevalue") {
            expectWords(words, 2, "deletevalue NAME");
            store.DeleteValue(arg(1));
        } else if (op == "deletekey") {
            expectWords(words, 2, "deletekey PATH");
            if (!store.DeleteKey(arg(1)))
                return "not found";
        } else if (op == "read") {
            expectWords(words, 2, "read NAME");
            const std::string name = arg(1);
            if (store.ValueDataType(name) < 0)
                throw CommandError("no value " + QuotedText(name).toStdString() +
                                   " in the current key");
            return ValueData(store, name);
        } else if (op == "keys" || op == "values") {
            expectWords(words, 1, op == "keys" ? "keys" : "values");
            return names(store, op == "keys");
        } else {
            throw CommandError("unknown operation " + op.toStdString() + " (store run --help)");
        }
        return "ok";
    }
};

} // namespace

std::unique_ptr<Command> MakeStoreRunCommand() {
    return std::make_unique<StoreRunCommand>();
}

} // namespace cli
