#include "win32/machine/MachineCreator.h"

#include "win32/base/CodePage.h"
#include "win32/base/HiveTree.h"
#include "win32/base/WinTypes.h"
#include "win32/registry/HiveValues.h"

#include <QCryptographicHash>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace win32 {

namespace {

// A hive's tree under construction.
class TreeBuilder {
public:
    explicit TreeBuilder(const std::u16string& rootName) : root_(std::make_shared<HiveKey>()) {
        root_->name = rootName;
        root_->setSecurity(DefaultKeySecurity());
        root_->lastWriteTime = FileTimeNow();
        root_->flags = HiveKey::kFlagHiveEntry | HiveKey::kFlagNoDelete;
    }

    HiveKey* key(std::u16string_view path) {
        HiveKey* key = root_.get();
        size_t start = 0;
        while (start < path.size()) {
            size_t end = path.find(u'\\', start);
            if (end == std::u16string_view::npos)
                end = path.size();
            const auto part = path.substr(start, end - start);
            HiveKey* child = key->findSubkey(part);
            if (!child) {
                auto made = std::make_shared<HiveKey>();
                made->name = std::u16string(part);
                made->setSecurity(key->security());
                made->lastWriteTime = root_->lastWriteTime;
                child = key->insertSubkey(made);
            }
            key = child;
            start = end + 1;
        }
        return key;
    }

    TreeBuilder& set(std::u16string_view path, std::u16string_view name, uint32_t type,
                     Bytes data) {
        key(path)->values().push_back({std::u16string(name), type, std::move(data)});
        return *this;
    }
    TreeBuilder& text(std::u16string_view path, std::u16string_view name, std::u16string_view v) {
        return set(path, name, REG_SZ, StringData(v));
    }
    TreeBuilder& expand(std::u16string_view path, std::u16string_view name, std::u16string_view v) {
        return set(path, name, REG_EXPAND_SZ, StringData(v));
    }
    TreeBuilder& dword(std::u16string_view path, std::u16string_view name, uint32_t v) {
        return set(path, name, REG_DWORD, DwordData(v));
    }

    void write(const fs::path& file, uint32_t minorVersion) const {
        HiveWriteOptions options;
        options.minorVersion = minorVersion;
        ReplaceFileAtomically(file.string(), WriteHive(*root_, options));
    }

private:
    std::shared_ptr<HiveKey> root_;
};

// A machine SID that stays the same for the same folder and user.
std::u16string makeUserSid(const std::string& folder, const std::string& user) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromStdString(folder + "\n" + user), QCryptographicHash::Sha256);
    std::string sid = "S-1-5-21";
    for (int i = 0; i < 3; ++i) {
        uint32_t part = 0;
        for (int b = 0; b < 4; ++b)
            part = (part << 8) | uint8_t(digest[i * 4 + b]);
        sid += "-" + std::to_string(part);
    }
    sid += "-1003";
    return Utf8ToUtf16(sid);
}

struct Version {
    unsigned major = 5, minor = 1, build = 2600;
};

Version parseVersion(const std::string& text) {
    Version v;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u%c", &v.major, &v.minor, &v.build, &extra) != 3)
        throw std::runtime_error("Invalid version \"" + text + "\": expected major.minor.build");
    return v;
}

void makeFolder(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error)
        throw std::runtime_error("Cannot create " + path.string() + ": " + error.message());
}

} // namespace

std::string CreateMachine(const std::string& folder, const NewMachine& options) {
    const Version version = parseVersion(options.version);
    if (options.user.empty() || options.user.find_first_of("\\/:*?\"<>|") != std::string::npos)
        throw std::runtime_error("Invalid user name \"" + options.user + "\"");
    const fs::path root(folder);
    std::error_code error;
    if (fs::exists(root, error) && !fs::is_empty(root, error))
        throw std::runtime_error(folder + ": the folder is not empty");
    makeFolder(root);

    const std::u16string user = Utf8ToUtf16(options.user);
    const std::u16string sid = makeUserSid(fs::absolute(root).string(), options.user);
    const std::u16string versionText =
        Utf8ToUtf16(std::to_string(version.major) + "." + std::to_string(version.minor));
    const std::u16string build = Utf8ToUtf16(std::to_string(version.build));
    // Windows 2000 and older read only format 1.3.
    const uint32_t minor =
        (version.major > 5 || (version.major == 5 && version.minor >= 1)) ? 5 : 3;

    const fs::path config = root / "WINDOWS" / "system32" / "config";
    const std::u16string profiles = options.usersFolder ? u"Users" : u"Documents and Settings";
    const fs::path profile = root / Utf16ToUtf8(profiles) / options.user;
    const std::u16string temp = options.usersFolder ? u"%USERPROFILE%\\AppData\\Local\\Temp"
                                                    : u"%USERPROFILE%\\Local Settings\\Temp";
    const fs::path classesFolder =
        options.usersFolder
            ? profile / "AppData" / "Local" / "Microsoft" / "Windows"
            : profile / "Local Settings" / "Application Data" / "Microsoft" / "Windows";
    makeFolder(config);
    makeFolder(classesFolder);
    makeFolder(root / "Program Files");

    TreeBuilder system(u"$$$PROTO.HIV");
    system.dword(u"Select", u"Current", 1)
        .dword(u"Select", u"Default", 1)
        .dword(u"Select", u"Failed", 0)
        .dword(u"Select", u"LastKnownGood", 2)
        .text(u"ControlSet001\\Control\\Nls\\CodePage", u"ACP", u"1252")
        .text(u"ControlSet001\\Control\\Nls\\CodePage", u"OEMCP", u"437")
        .dword(u"ControlSet001\\Control\\IDConfigDB", u"CurrentConfig", 1)
        .expand(u"ControlSet001\\Control\\Session Manager\\Environment", u"ComSpec",
                u"%SystemRoot%\\system32\\cmd.exe")
        .expand(u"ControlSet001\\Control\\Session Manager\\Environment", u"Path",
                u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem")
        .text(u"ControlSet001\\Control\\Session Manager\\Environment", u"OS", u"Windows_NT");
    system.key(u"ControlSet001\\Hardware Profiles\\0001");
    system.key(u"ControlSet001\\Services");
    system.key(u"ControlSet002\\Control");
    system.key(u"MountedDevices");

    const std::u16string currentVersion = u"Microsoft\\Windows NT\\CurrentVersion";
    TreeBuilder software(u"$$$PROTO.HIV");
    software.text(currentVersion, u"CurrentVersion", versionText)
        .text(currentVersion, u"CurrentBuildNumber", build)
        .text(currentVersion, u"CurrentBuild", build)
        .text(currentVersion, u"CSDVersion", Utf8ToUtf16(options.servicePack))
        .text(currentVersion, u"SystemRoot", u"C:\\WINDOWS")
        .text(currentVersion, u"RegisteredOwner", user)
        .expand(currentVersion + u"\\ProfileList", u"ProfilesDirectory",
                u"%SystemDrive%\\" + profiles)
        .expand(currentVersion + u"\\ProfileList\\" + sid, u"ProfileImagePath",
                u"%SystemDrive%\\" + profiles + u"\\" + user)
        .text(u"Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir", u"C:\\Program Files")
        .text(u"Microsoft\\Windows\\CurrentVersion", u"CommonFilesDir",
              u"C:\\Program Files\\Common Files");
    if (options.usersFolder)
        software
            .expand(currentVersion + u"\\ProfileList", u"ProgramData",
                    u"%SystemDrive%\\ProgramData")
            .expand(currentVersion + u"\\ProfileList", u"Public", u"%SystemDrive%\\Users\\Public")
            .expand(currentVersion + u"\\ProfileList", u"Default",
                    u"%SystemDrive%\\Users\\Default");
    software.key(u"Classes");
    software.key(u"Microsoft\\Windows\\CurrentVersion\\Run");
    software.key(u"Microsoft\\Windows\\CurrentVersion\\Uninstall");

    TreeBuilder sam(u"$$$PROTO.HIV");
    sam.key(u"SAM\\Domains\\Account\\Users\\Names\\" + user);
    TreeBuilder security(u"$$$PROTO.HIV");
    security.key(u"Policy");
    TreeBuilder defaultUser(u"$$$PROTO.HIV");
    defaultUser.key(u"Software\\Microsoft");
    TreeBuilder ntuser(u"$$$PROTO.HIV");
    ntuser.key(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    ntuser.expand(u"Environment", u"TEMP", temp).expand(u"Environment", u"TMP", temp);
    TreeBuilder classes(sid + u"_Classes");

    system.write(config / "SYSTEM", minor);
    software.write(config / "SOFTWARE", minor);
    sam.write(config / "SAM", minor);
    security.write(config / "SECURITY", minor);
    defaultUser.write(config / "DEFAULT", minor);
    ntuser.write(profile / "NTUSER.DAT", minor);
    classes.write(classesFolder / "UsrClass.dat", minor);
    return Utf16ToUtf8(sid);
}

} // namespace win32
