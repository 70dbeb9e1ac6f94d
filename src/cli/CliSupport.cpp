#include "cli/CliSupport.h"

#include "registry/OSInfo.h"
#include "registry/Privileges.h"
#include "sandbox/MachineChoice.h"
#include "win32/base/ErrorText.h"
#include "win32/registry/RegistryViews.h"

#include <QTextStream>

namespace cli {

std::string MachineFolderFor(const GlobalOptions& global) {
    TMachineChoice choice;
    try {
        choice = ChooseMachine(global.machine);
    } catch (const std::exception& e) {
        throw CommandError(std::string("Cannot make the sandbox machine: ") + e.what());
    }
    static bool told = false;
    if (choice.sandbox && !told) {
        told = true;
        QTextStream(stderr) << "hivewarden-cli: " << QString::fromStdString(SandboxNotice(choice))
                            << "\n";
    }
    return choice.folder;
}

BootedMachine::BootedMachine(const GlobalOptions& global, bool readOnly) {
    win32::BootOptions options;
    options.readOnly = readOnly;
    options.repairDamagedHives = global.repairDamaged;
    for (const auto& [letter, folder] : global.drives)
        options.drives.push_back({letter, folder});
    const std::string folder = MachineFolderFor(global);
    try {
        machine_.emplace(folder, options);
    } catch (const app::MachineError& e) {
        throw CommandError(e.what());
    }
    QTextStream err(stderr);
    for (const std::string& warning : machine_->warnings())
        err << "hivewarden-cli: warning: " << QString::fromStdString(warning) << "\n";
}

void EnableRequiredPrivilege(const char* name) {
    InitOSInfo();
    bool wasEnabled = false;
    if (const DWORD rc = EnablePrivilege(name, true, wasEnabled); rc != ERROR_SUCCESS)
        throw CommandError(std::string("Cannot enable ") + name + ": " +
                           win32::SystemErrorText(LONG(rc)));
}

bool BootedMachine::finish() {
    if (!machine_)
        return true;
    bool released = false;
    try {
        released = machine_->finish();
    } catch (const app::MachineError& e) {
        throw CommandError(e.what());
    }
    return !released || ReportReplacements(win32::LastReleaseReplacements());
}

BootedMachine::~BootedMachine() {
    try {
        finish();
    } catch (const std::exception& e) {
        QTextStream(stderr) << "hivewarden-cli: " << QString::fromUtf8(e.what()) << "\n";
    }
}

bool ReportReplacements(const win32::ReplacementRun& run) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    int left = 0;
    for (const win32::ReplacementOutcome& o : run.outcomes) {
        const auto& r = o.replacement;
        if (o.error.empty()) {
            out << "Replaced " << QString::fromStdString(r.hive) << " with "
                << QString::fromStdString(r.newFile) << "; the old hive is "
                << QString::fromStdString(r.oldFile) << "\n";
        } else {
            ++left;
            err << "Failed: " << QString::fromStdString(r.hive) << " from "
                << QString::fromStdString(r.newFile) << ": " << QString::fromStdString(o.error)
                << "\n";
        }
    }
    if (!run.refused.empty())
        err << "Failed: " << QString::fromStdString(run.refused) << "\n";
    if (!run.listError.empty())
        err << "Failed: " << QString::fromStdString(run.listError) << "\n";
    if (left > 0)
        err << left << (left == 1 ? " replacement waits" : " replacements wait")
            << " for the next time Hivewarden releases the machine (hivewarden-cli restart).\n";
    return run.problems().empty();
}

std::u16string ToU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

QString FromU16(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}

std::u16string KeyArgument::fullName() const {
    return subkey.empty() ? rootName : rootName + u"\\" + subkey;
}

KeyArgument ParseKeyArgument(const QString& text) {
    static const char16_t* longNames[] = {
        u"HKEY_CLASSES_ROOT",     u"HKEY_CURRENT_USER",   u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
        u"HKEY_PERFORMANCE_DATA", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA"};
    KeyArgument key;
    std::u16string_view sub;
    const std::u16string full = ToU16(text);
    if (!win32::SplitFullKeyPath(full, key.root, sub))
        throw CommandError("Invalid key name \"" + text.toStdString() +
                           "\": it must begin with a root key such as HKLM or HKEY_LOCAL_MACHINE");
    key.rootName = longNames[reinterpret_cast<uintptr_t>(key.root) & 0xF];
    key.subkey = std::u16string(sub);
    while (!key.subkey.empty() && key.subkey.back() == u'\\')
        key.subkey.pop_back();
    return key;
}

void ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int positional, const QString& usage) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{command} + args))
        throw CommandError(parser.errorText().toStdString() + "\nUsage: " + usage.toStdString());
    if (parser.positionalArguments().size() != positional)
        throw CommandError("Usage: " + usage.toStdString());
}

void CheckRegistryCall(LONG rc, const std::string& what) {
    if (rc != ERROR_SUCCESS)
        throw CommandError(what + ": " + win32::SystemErrorText(rc));
}

} // namespace cli
