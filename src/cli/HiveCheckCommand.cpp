#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "hive/HiveFile.h"
#include "win32/machine/Machine.h"

#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

namespace cli {

namespace {

// Exit statuses, the worst hive's when several are checked.
enum Status {
    kClean = 0,
    kRecoverable = 3, // not finished by Windows; its logs bring it up to date
    kStale = 4,       // not finished by Windows; no log brings it up to date
    kDamaged = 5,     // parts cannot be read soundly
    kUnreadable = 6,  // not a hive that can be read at all
};

int CheckOne(const std::string& path, QTextStream& out) {
    const QString name = QString::fromStdString(path);
    hive::LoadedHive loaded;
    try {
        loaded = hive::LoadHiveFile(path, {.applyLogs = true, .salvage = true});
    } catch (const hive::HiveFileError& e) {
        out << name << ": unreadable: " << QString::fromStdString(e.what()) << "\n";
        return kUnreadable;
    }
    int status = kClean;
    const hive::LogRecovery& recovery = loaded.recovery;
    if (recovery.applied) {
        out << name << ": not finished by Windows; its logs bring it up to date ("
            << QString::fromStdString(recovery.summary()) << ")\n";
        status = kRecoverable;
    } else if (loaded.dirty) {
        out << name << ": not finished by Windows; no log brings it up to date"
            << (loaded.logFiles.empty() ? " (it has none)" : "") << "\n";
        status = kStale;
    }
    for (const std::string& note : recovery.notes)
        out << "  " << QString::fromStdString(note) << "\n";
    if (loaded.damageCount > 0) {
        out << name << ": damaged: " << loaded.damageCount << " part"
            << (loaded.damageCount == 1 ? "" : "s") << " cannot be read soundly\n";
        for (const std::string& damage : loaded.damage)
            out << "  " << QString::fromStdString(damage) << "\n";
        if (loaded.damageCount > loaded.damage.size())
            out << "  and " << (loaded.damageCount - loaded.damage.size()) << " more\n";
        status = kDamaged;
    }
    if (status == kClean)
        out << name << ": clean\n";
    return status;
}

class HiveCheckCommand : public Command {
public:
    QString name() const override { return "hive check"; }
    QString usage() const override { return "hive check FILE... | hive check [--machine DIR]"; }
    QString description() const override {
        return "Says whether hive files are clean, unfinished (logs to apply) or damaged.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption machineOption("machine",
                                               "Checks every hive of the machine in DIR.", "DIR");
        parser.addOption(machineOption);
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        if (!parser.parse(QStringList{name()} + args))
            throw CommandError(parser.errorText().toStdString() +
                               "\nUsage: " + usage().toStdString());
        std::vector<std::string> files;
        for (const QString& file : parser.positionalArguments())
            files.push_back(QFileInfo(file).absoluteFilePath().toStdString());
        if (parser.isSet(machineOption) && !files.empty())
            throw CommandError("Usage: " + usage().toStdString());
        QTextStream out(stdout);
        if (files.empty()) {
            GlobalOptions machine = global;
            if (parser.isSet(machineOption))
                machine.machine = parser.value(machineOption).toStdString();
            try {
                files = machineHives(machine);
            } catch (const win32::BootError& e) {
                // A hive that cannot be read at all stops the mount that lists them.
                out << QString::fromStdString(e.what()) << "\n";
                return kUnreadable;
            }
        }
        int worst = kClean;
        for (const std::string& file : files)
            worst = std::max(worst, CheckOne(file, out));
        return worst;
    }

private:
    // The machine's hive files, as a read-only mount finds them. Throws BootError.
    static std::vector<std::string> machineHives(const GlobalOptions& global) {
        win32::BootOptions options;
        options.readOnly = true;
        for (const auto& [letter, folder] : global.drives)
            options.drives.push_back({letter, folder});
        win32::BootMachine(MachineFolderFor(global), options);
        std::vector<std::string> files = win32::MountedHiveFiles();
        win32::ShutdownMachine();
        return files;
    }
};

} // namespace

std::unique_ptr<Command> MakeHiveCheckCommand() {
    return std::make_unique<HiveCheckCommand>();
}

} // namespace cli
