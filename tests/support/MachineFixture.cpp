#include "support/MachineFixture.h"

#include "win32/base/CodePage.h"
#include "win32/base/Handles.h"
#include "win32/base/LastError.h"
#include "win32/host/MachinePaths.h"
#include "win32/registry/RegImport.h"
#include "win32/security/Token.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <stdexcept>

namespace testing_support {

std::string MzImage() {
    std::string image(64, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    return image;
}

TestMachine::TestMachine(const std::string& regText, const std::vector<FixtureFile>& files,
                         const win32::NewMachine& options) {
    if (!dir_.isValid())
        throw std::runtime_error("Cannot make a temporary folder");
    folder_ = dir_.path().toStdString() + "/machine";
    sid_ = win32::CreateMachine(folder_, options);
    const win32::MachinePaths paths(folder_);
    for (const auto& file : files) {
        const auto host = paths.toHost(win32::Utf8ToUtf16(file.windowsPath));
        if (!host)
            throw std::runtime_error("Not a path in the machine: " + file.windowsPath);
        QDir().mkpath(QFileInfo(QString::fromStdString(*host)).path());
        QFile out(QString::fromStdString(*host));
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(file.content.data(), qint64(file.content.size())) !=
                qint64(file.content.size()))
            throw std::runtime_error("Cannot write " + *host);
    }
    boot();
    if (!regText.empty()) {
        std::string text = regText;
        if (text.rfind("REGEDIT4", 0) != 0 && text.rfind("Windows Registry Editor", 0) != 0)
            text = "REGEDIT4\r\n\r\n" + text;
        const auto result = win32::RegImportData(hive::Bytes(text.begin(), text.end()));
        for (const auto& problem : result.problems)
            ADD_FAILURE() << "fixture .reg line " << problem.line << ": " << problem.message;
    }
}

TestMachine::~TestMachine() {
    try {
        shutdown();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "shutdown: " << e.what();
    }
}

void TestMachine::boot(const win32::BootOptions& options) {
    win32::BootMachine(folder_, options);
}

void TestMachine::shutdown() {
    if (win32::IsMachineBooted())
        win32::ShutdownMachine();
}

void TestMachine::writeIni(const std::string& text) const {
    QFile file(QString::fromStdString(hostPath(win32::kMachineIniFileName)));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size()))
        throw std::runtime_error("cannot write the machine's ini in " + folder_);
}

void TestMachine::rebootWithIni(const std::string& text) {
    shutdown();
    writeIni(text);
    boot();
}

bool EnablePrivileges(std::initializer_list<const char*> names) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return false;
    bool all = true;
    for (const char* name : names) {
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        all = all && LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return all;
}

std::optional<std::string> SharedHive(const std::string& name, const std::string& folder) {
    const std::string target = folder + "/" + name;
    if (!SharedHiveAs(name, target))
        return std::nullopt;
    return target;
}

bool SharedHiveAs(const std::string& relative, const std::string& target) {
    const std::string source = std::string(HW_SHARED_HIVES) + "/" + relative + ".xz";
    if (!QFileInfo::exists(QString::fromStdString(source)))
        return false;
    QProcess xz;
    xz.setStandardOutputFile(QString::fromStdString(target));
    xz.start("xz", {"-dc", QString::fromStdString(source)});
    if (!xz.waitForFinished(120000) || xz.exitCode() != 0)
        throw std::runtime_error("Cannot decompress " + source);
    return true;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env) {
    QProcess process;
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : env)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(program), list);
    ProcessResult result;
    if (!process.waitForFinished(600000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

} // namespace testing_support
