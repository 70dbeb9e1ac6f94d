#include "cli/ScanRun.h"

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/StoreText.h"
#include "scan/TRepairItem.h"
#include "win32/system/Nls.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <unistd.h>

namespace cli {

namespace {

// A JSON string literal, quotes included.
QString jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

// Records are written in one piece once this much text has gathered (or at the end, or
// every tick on a terminal, where the user watches them come).
constexpr qsizetype kOutputBatch = 32 * 1024;

// What the worker reports, for the progress line and the error message.
struct ScanState {
    std::atomic<int> section{-1};
    std::atomic<int> percent{0};
    // Written by the worker only, read once it has ended (the end of the scan orders them).
    std::string lastKey;
};

ScanRun::ScanRun(bool json)
    : json_(json), progress_(isatty(STDERR_FILENO) == 1), interactive_(isatty(STDOUT_FILENO) == 1) {
}

std::string ToMachineText(const QString& text) {
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

QString SectionListText() {
    QString text = "Sections, for --section N:\n";
    for (int item = 0; item < kRepairItemCount; ++item)
        text += QString("  %1  %2\n").arg(item, 2).arg(RepairItemDisplayName(TRepairItem(item)));
    return text;
}

ScanOptions::ScanOptions(QCommandLineParser& parser) {
    parser.addOption(section);
    parser.addOption(exclude);
}

TRepairItems ScanOptions::Sections(const QCommandLineParser& parser, const char* usage) const {
    const QStringList values = parser.values(section);
    if (values.isEmpty())
        return TRepairItems::All();
    TRepairItems items;
    for (const QString& value : values) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 0 || n >= kRepairItemCount)
            throw CommandError("Invalid section \"" + value.toStdString() +
                               "\": give a number from 0 to 11\nUsage: " + usage);
        items.Include(TRepairItem(n));
    }
    return items;
}

std::vector<std::string> ScanOptions::Exclusions(const QCommandLineParser& parser) const {
    std::vector<std::string> lines;
    for (const QString& line : parser.values(exclude))
        lines.push_back(ToMachineText(line));
    return lines;
}

void ScanRun::Run(TFixRegistry& engine, app::QtUiDispatcher& ui) {
    ScanState state;
    engine.OnStatus = [&](TFixRegistry*, TRepairItem item, const std::string&) {
        state.percent = 0;
        state.section = item;
    };
    engine.OnProgressing = [&](TFixRegistry*, int percent) { state.percent = percent; };
    engine.OnKeyChange = [&](TFixRegistry*, const std::string& key) { state.lastKey = key; };
    // The record is in the list by the time this task runs: it was appended before
    // OnFound was raised, through the same queue. One print waits at a time: it prints
    // every record the list holds by then.
    std::atomic<bool> printQueued{false};
    engine.OnFound = [&](TFixRegistry*, TRepairItem) {
        if (!printQueued.exchange(true))
            ui.Post([&] {
                printQueued = false;
                printNew(engine);
            });
    };
    QEventLoop loop;
    engine.OnFinished = [&](TFixRegistry*) { loop.quit(); };
    QTimer ticker;
    if (progress_ || interactive_) {
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (interactive_)
                flushOutput();
            showScanProgress(state);
        });
        ticker.start(100);
    }
    engine.Start();
    loop.exec();
    ticker.stop();
    // The events hold this frame's state; the engine outlives it.
    engine.OnStatus = nullptr;
    engine.OnProgressing = nullptr;
    engine.OnKeyChange = nullptr;
    engine.OnFound = nullptr;
    engine.OnFinished = nullptr;
    printNew(engine);
    flushOutput();
    ClearProgress();

    if (!engine.LastScanError().empty()) {
        QString where;
        if (state.section >= 0)
            where =
                QString(" in \"%1\"").arg(RepairItemDisplayName(TRepairItem(int(state.section))));
        if (!state.lastKey.empty())
            where += " at " + FromAnsi(state.lastKey);
        throw CommandError("The scan ended with an error" + where.toStdString() + ": " +
                           FromAnsi(engine.LastScanError()).toStdString());
    }
    if (!json_) {
        const size_t count = engine.InvalidDataList().size();
        QTextStream out(stdout);
        if (count == 0)
            out << "No problems found.\n";
        else
            out << count << (count == 1 ? " problem" : " problems") << " found.\n";
    }
}

// Prints the records found since the last call, in the order found.
void ScanRun::printNew(const TFixRegistry& engine) {
    const auto& list = engine.InvalidDataList();
    if (printed_ >= list.size())
        return;
    QTextStream out(&pending_);
    for (; printed_ < list.size(); ++printed_) {
        const TInvalidRegData& record = list[printed_];
        if (json_) {
            out << "{\"category\":" << int(record.Category)
                << ",\"key\":" << jsonString(FromAnsi(record.KeyLocation))
                << ",\"value\":" << jsonString(FromAnsi(record.ValueName))
                << ",\"data\":" << jsonString(FromAnsi(record.ValueData))
                << ",\"diagnosis\":" << jsonString(FromAnsi(record.Diagnosis)) << "}\n";
        } else {
            out << RepairItemDisplayName(record.Category) << "\n"
                << "    Key:       " << FromAnsi(record.KeyLocation) << "\n"
                << "    Value:     " << FromAnsi(record.ValueName) << "\n"
                << "    Data:      " << FromAnsi(record.ValueData) << "\n"
                << "    Diagnosis: " << FromAnsi(record.Diagnosis) << "\n\n";
        }
    }
    out.flush();
    if (pending_.size() >= kOutputBatch)
        flushOutput();
}

void ScanRun::flushOutput() {
    if (pending_.isEmpty())
        return;
    ClearProgress();
    QTextStream out(stdout);
    out << pending_;
    out.flush();
    pending_.clear();
}

void ScanRun::showScanProgress(const ScanState& state) {
    const int section = state.section;
    if (section >= 0)
        ShowProgress(RepairItemDisplayName(TRepairItem(section)), state.percent);
}

void ScanRun::ShowProgress(const QString& what, int percent) {
    if (!progress_)
        return;
    QTextStream err(stderr);
    err << "\r\x1b[K" << what << "  " << percent << "%";
    err.flush();
    shown_ = true;
}

void ScanRun::ClearProgress() {
    if (!shown_)
        return;
    QTextStream err(stderr);
    err << "\r\x1b[K";
    err.flush();
    shown_ = false;
}

} // namespace cli
