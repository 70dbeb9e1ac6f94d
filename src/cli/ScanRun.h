#pragma once
// A scan of the booted machine for the commands: sections and exclusions from the command
// line, each problem printed as it is found, progress on a terminal.

#include "app/QtUiDispatcher.h"
#include "scan/TFixRegistry.h"

#include <QCommandLineParser>
#include <QString>
#include <string>

namespace cli {

// Adds --section and --exclude to a command's parser.
struct ScanOptions {
    QCommandLineOption section{"section", "Scan this section (0 to 11); repeatable.", "N"};
    QCommandLineOption exclude{"exclude", "Exclude a key, as a line of ExclusionsKEY.", "LINE"};
    explicit ScanOptions(QCommandLineParser& parser);
    // The sections named, all twelve when none is. Throws CommandError with `usage`.
    TRepairItems Sections(const QCommandLineParser& parser, const char* usage) const;
    // The exclusion lines in the machine's code page (the machine must be booted).
    std::vector<std::string> Exclusions(const QCommandLineParser& parser) const;
};

// The sections --section names, one line each ("  2  Startup programs"), for the
// commands' help.
QString SectionListText();

// Text in the machine's ANSI code page; a character it cannot hold becomes "?" (the text
// of the machine back to the terminal is FromAnsi of StoreText.h).
std::string ToMachineText(const QString& text);

struct ScanState;

class ScanRun {
public:
    explicit ScanRun(bool json);
    // Runs the engine's scan to its end, printing each problem as it is found. Throws
    // CommandError, after what was found, when the scan ends with an error.
    void Run(TFixRegistry& engine, app::QtUiDispatcher& ui);

    // For the repairs that follow a scan: a progress line on stderr when it is a terminal.
    void ShowProgress(const QString& what, int percent);
    void ClearProgress();

private:
    void printNew(const TFixRegistry& engine);
    // Writes what printNew gathered, in one write.
    void flushOutput();
    void showScanProgress(const ScanState& state);

    bool json_ = false;
    bool progress_ = false;
    bool interactive_ = false; // standard output is a terminal
    bool shown_ = false;
    size_t printed_ = 0;
    QString pending_; // printed records not yet written
};

} // namespace cli
