#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/QtUiDispatcher.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "win32/system/Nls.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <unistd.h>

namespace cli {

namespace {

constexpr char kUsage[] = "scan [--section N ...] [--exclude LINE ...] [--json]";

// Text of the machine's ANSI code page, and back.
QString fromAnsi(const std::string& text) {
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::u16string wide(size_t(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
    return FromU16(wide);
}

std::string toAnsi(const QString& text) {
    if (text.isEmpty())
        return {};
    const std::u16string wide = ToU16(text);
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), out.data(), length, nullptr,
                        nullptr);
    return out;
}

// A JSON string literal, quotes included.
QString jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

TRepairItems parseSections(const QStringList& values) {
    if (values.isEmpty())
        return TRepairItems::All();
    TRepairItems items;
    for (const QString& value : values) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 0 || n >= kRepairItemCount)
            throw CommandError("Invalid section \"" + value.toStdString() +
                               "\": give a number from 0 to 11\nUsage: " + kUsage);
        items.Include(TRepairItem(n));
    }
    return items;
}

// What the worker reports, for the progress line and the error message.
struct ScanState {
    std::atomic<int> section{-1};
    std::atomic<int> percent{0};
    std::mutex lock;
    std::string lastKey; // under lock
};

class ScanCommand : public Command {
public:
    QString name() const override { return "scan"; }
    QString description() const override {
        return "Scans the registry for entries that point at things that no longer exist.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption section("section", "Scan this section (0 to 11); repeatable.",
                                         "N");
        const QCommandLineOption exclude("exclude", "Exclude a key, as a line of ExclusionsKEY.",
                                         "LINE");
        const QCommandLineOption json("json", "One JSON object per problem and line.");
        parser.addOption(section);
        parser.addOption(exclude);
        parser.addOption(json);
        ParseArguments(parser, name(), args, 0, kUsage);
        const TRepairItems items = parseSections(parser.values(section));
        json_ = parser.isSet(json);

        BootedMachine machine(global, true);
        InitOSInfo();
        QtUiDispatcher ui;
        TFixRegistry engine(ui);
        engine.ScanItems = items;
        for (const QString& line : parser.values(exclude))
            engine.ExcludeKEYList.push_back(toAnsi(line));

        progress_ = isatty(STDERR_FILENO) == 1;
        ScanState state;
        engine.OnStatus = [&](TFixRegistry*, TRepairItem item, const std::string&) {
            state.percent = 0;
            state.section = item;
        };
        engine.OnProgressing = [&](TFixRegistry*, int percent) { state.percent = percent; };
        engine.OnKeyChange = [&](TFixRegistry*, const std::string& key) {
            std::lock_guard guard(state.lock);
            state.lastKey = key;
        };
        // The record is in the list by the time this task runs: it was appended before
        // OnFound was raised, through the same queue.
        engine.OnFound = [&](TFixRegistry*, TRepairItem) { ui.Post([&] { printNew(engine); }); };
        QEventLoop loop;
        engine.OnFinished = [&](TFixRegistry*) { loop.quit(); };
        QTimer ticker;
        if (progress_) {
            QObject::connect(&ticker, &QTimer::timeout, [&] { showProgress(state); });
            ticker.start(100);
        }
        engine.Start();
        loop.exec();
        ticker.stop();
        printNew(engine);
        clearProgress();

        if (!engine.LastScanError().empty()) {
            std::lock_guard guard(state.lock);
            QString where;
            if (state.section >= 0)
                where = QString(" in \"%1\"")
                            .arg(RepairItemDisplayName(TRepairItem(int(state.section))));
            if (!state.lastKey.empty())
                where += " at " + fromAnsi(state.lastKey);
            throw CommandError("The scan ended with an error" + where.toStdString() + ": " +
                               fromAnsi(engine.LastScanError()).toStdString());
        }
        if (!json_) {
            const size_t count = engine.InvalidDataList().size();
            QTextStream out(stdout);
            if (count == 0)
                out << "No problems found.\n";
            else
                out << count << (count == 1 ? " problem" : " problems") << " found.\n";
        }
        return 0;
    }

private:
    // Prints the records found since the last call, in the order found.
    void printNew(const TFixRegistry& engine) {
        const auto& list = engine.InvalidDataList();
        if (printed_ >= list.size())
            return;
        clearProgress();
        QTextStream out(stdout);
        for (; printed_ < list.size(); ++printed_) {
            const TInvalidRegData& record = list[printed_];
            if (json_) {
                out << "{\"category\":" << int(record.Category)
                    << ",\"key\":" << jsonString(fromAnsi(record.KeyLocation))
                    << ",\"value\":" << jsonString(fromAnsi(record.ValueName))
                    << ",\"data\":" << jsonString(fromAnsi(record.ValueData))
                    << ",\"diagnosis\":" << jsonString(fromAnsi(record.Diagnosis)) << "}\n";
            } else {
                out << RepairItemDisplayName(record.Category) << "\n"
                    << "    Key:       " << fromAnsi(record.KeyLocation) << "\n"
                    << "    Value:     " << fromAnsi(record.ValueName) << "\n"
                    << "    Data:      " << fromAnsi(record.ValueData) << "\n"
                    << "    Diagnosis: " << fromAnsi(record.Diagnosis) << "\n\n";
            }
        }
        out.flush();
    }

    void showProgress(const ScanState& state) {
        const int section = state.section;
        if (section < 0)
            return;
        QTextStream err(stderr);
        err << "\r\x1b[K" << RepairItemDisplayName(TRepairItem(section)) << "  " << state.percent
            << "%";
        err.flush();
        shown_ = true;
    }

    void clearProgress() {
        if (!shown_)
            return;
        QTextStream err(stderr);
        err << "\r\x1b[K";
        err.flush();
        shown_ = false;
    }

    bool json_ = false;
    bool progress_ = false;
    bool shown_ = false;
    size_t printed_ = 0;
};

} // namespace

std::unique_ptr<Command> MakeScanCommand() {
    return std::make_unique<ScanCommand>();
}

} // namespace cli
