#include "store/ProgramFolder.h"

#include "store/InstallationIdentity.h"
#include "store/SettingsNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace {

std::mutex overrideLock;
std::string overrideFolder;

std::string withTrailingSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

QString executableFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? QDir::currentPath() : QString::fromStdString(self.parent_path().string());
}

} // namespace

std::string BaseProgramFolder() {
    {
        std::lock_guard lock(overrideLock);
        if (!overrideFolder.empty())
            return overrideFolder;
    }
    if (const char* env = std::getenv("HIVEWARDEN_PROGRAM_FOLDER"); env && *env) {
        // A relative folder is taken from the current one, as --program-folder is: the
        // hive files are later opened by paths built on it, which must not be relative.
        const QString folder = QFileInfo(QString::fromLocal8Bit(env)).absoluteFilePath();
        QDir().mkpath(folder);
        return withTrailingSeparator(folder.toStdString());
    }
    const QString folder = executableFolder();
    if (QFileInfo(folder).isWritable())
        return withTrailingSeparator(folder.toStdString());
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return withTrailingSeparator(data.toStdString());
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(overrideLock);
    overrideFolder = folder.empty() ? std::string() : withTrailingSeparator(folder);
}

std::string ProgramFolder() {
    const std::string base = BaseProgramFolder();
    const std::string installation = InstallationFolderName();
    if (installation.empty())
        return base;
    const std::string folder = base + installation + "/";
    QDir().mkpath(QString::fromStdString(folder));
    return folder;
}

std::string RegistryBackupFolder() {
    return ProgramFolder() + "Registry Backup/";
}

std::string StoreFilePath() {
    return ProgramFolder() + kStoreFileName;
}
