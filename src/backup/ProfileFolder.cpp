#include "backup/ProfileFolder.h"

#include "backup/ProfileConfig.h"
#include "hive/HostFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr char kPartialSuffix[] = ".partial";

std::string nameOf(const std::string& folder) {
    std::string trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    return fs::path(trimmed).filename().string();
}

std::string withoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// Whether `folder` may be replaced by a new profile: empty (as the wizard makes it), or
// a profile, whole or not (it holds a "config.ini").
bool isReplaceable(const std::string& folder) {
    std::error_code error;
    if (fs::is_empty(folder, error) && !error)
        return true;
    return fs::is_regular_file(ProfileFilePath(folder, kProfileConfigName), error);
}

} // namespace

std::string PartialProfileFolder(const std::string& folder) {
    const std::string trimmed = withoutTrailingSlash(folder);
    return ProfileFilePath(hive::ParentFolder(trimmed), "." + nameOf(trimmed) + kPartialSuffix);
}

bool IsPartialProfileName(const std::string& name) {
    return name.size() > sizeof kPartialSuffix && name.front() == '.' &&
           name.ends_with(kPartialSuffix);
}

void RemovePartialProfiles(const std::string& parent) {
    std::error_code error;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error))
        if (IsPartialProfileName(it->path().filename().string()))
            leftovers.push_back(it->path());
    // A link of that name goes as a link: remove_all does not follow it.
    for (const fs::path& leftover : leftovers)
        fs::remove_all(leftover, error);
}

std::string SymbolicLinkProblem(const std::string& path, const std::string& what) {
    const std::string link = withoutTrailingSlash(path);
    struct stat info {};
    if (::lstat(link.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return {};
    return what + " " + link +
           " is a symbolic link; Hivewarden neither writes nor reads "
           "through one";
}

bool IsWholeProfile(const std::string& folder) {
    struct stat info {};
    if (::lstat(withoutTrailingSlash(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    std::vector<TProfileEntry> entries;
    if (!ReadProfileConfig(folder, entries))
        return false;
    for (const TProfileEntry& entry : entries)
        if (::lstat(entry.HiveFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return false;
    return true;
}

std::string PublishProfile(const std::string& partial, const std::string& folder) {
    const std::string target = withoutTrailingSlash(folder);
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode))
            return SymbolicLinkProblem(target, "The profile folder");
        if (!S_ISDIR(info.st_mode))
            return target + " exists and is no folder";
        if (!isReplaceable(target))
            return "The folder " + target +
                   " holds files that are no profile's; they are "
                   "left as they are";
        // The old folder takes the partial one's name, and goes with it.
        std::error_code error;
        if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) ==
            0) {
            fs::remove_all(partial, error);
        } else {
            if (errno != EINVAL && errno != ENOSYS && errno != EXDEV)
                return "Cannot put the new profile in place of " + target + ": " +
                       std::strerror(errno);
            // A file system without the exchange: the old folder steps aside under a
            // hidden name the next backup clears, should this one be stopped between.
            const std::string old = PartialProfileFolder(target + ".old");
            fs::remove_all(old, error);
            if (::rename(target.c_str(), old.c_str()) != 0)
                return "Cannot put the new profile in place of " + target + ": " +
                       std::strerror(errno);
            if (::rename(partial.c_str(), target.c_str()) != 0) {
                const int why = errno;
                ::rename(old.c_str(), target.c_str());
                return "Cannot put the new profile in place of " + target + ": " +
                       std::strerror(why);
            }
            fs::remove_all(old, error);
        }
    } else if (const int error = hive::RenameNoReplace(partial, target); error != 0) {
        return "Cannot give the new profile the name " + target + ": " + std::strerror(error);
    }
    if (const int error = hive::SyncFolderOf(target); error != 0 && error != EINVAL)
        return "Cannot write the folder that holds " + target + ": " + std::strerror(error);
    return {};
}

int SyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL ? 0 : error;
}
