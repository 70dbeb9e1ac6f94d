#include "win32/machine/Machine.h"

#include "win32/base/HiveTree.h"
#include "win32/host/MachineLock.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/RegistryViews.h"
#include "win32/security/Token.h"
#include "win32/shell/RegistryEditor.h"
#include "win32/system/SystemInfo.h"
#include "win32/system/Version.h"

#include "hive/HiveSetAside.h"
#include "hive/HostFiles.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

namespace {

std::mutex g_bootLock; // serialises boot and shutdown
MachineLock g_machineLock;

constexpr char16_t kProfileList[] = u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Replaces %NAME% references the boot can know before the environment exists.
std::u16string expandBootVariables(std::u16string text, const std::u16string& systemRoot) {
    const std::pair<std::u16string, std::u16string> vars[] = {
        {u"%SYSTEMDRIVE%", u"C:"}, {u"%SYSTEMROOT%", systemRoot}, {u"%WINDIR%", systemRoot}};
    for (const auto& [name, value] : vars) {
        for (size_t pos = UpcaseName(text).find(name); pos != std::u16string::npos;
             pos = UpcaseName(text).find(name, pos + value.size()))
            text.replace(pos, name.size(), value);
    }
    return text;
}

std::shared_ptr<HiveKey> makeVirtualKey(const std::u16string& name, bool isVolatile) {
    auto key = std::make_shared<HiveKey>();
    key->name = name;
    key->isVolatile = isVolatile;
    key->setSecurity(DefaultKeySecurity());
    key->lastWriteTime = FileTimeNow();
    return key;
}

// A volatile key that opens `target` (CurrentControlSet and its kind).
void addLink(HiveKey* parent, const std::u16string& name, const std::shared_ptr<HiveKey>& target) {
    if (!parent || !target || parent->findSubkey(name))
        return;
    auto link = makeVirtualKey(name, true);
    link->hive = parent->hive;
    link->setLinkTarget(target);
    parent->insertSubkey(link);
}

class Booter {
public:
    Booter(MachineRegistry& reg, const BootOptions& options) : reg_(reg), options_(options) {}

    void boot() {
        CheckVersionSettings(reg_.ini);
        const std::u16string systemRoot = findSystemRoot();
        const std::u16string config = systemRoot + u"\\system32\\config\\";

        // Every hive is read before any is mounted: a bad one stops the boot untouched.
        Hive& system = load(config + u"SYSTEM", u"\\REGISTRY\\MACHINE\\SYSTEM", u"SYSTEM");
        Hive& software = load(config + u"SOFTWARE", u"\\REGISTRY\\MACHINE\\SOFTWARE", u"SOFTWARE");
        Hive& sam = load(config + u"SAM", u"\\REGISTRY\\MACHINE\\SAM", u"SAM");
        Hive& security = load(config + u"SECURITY", u"\\REGISTRY\\MACHINE\\SECURITY", u"SECURITY");
        Hive& defaultUser = load(config + u"DEFAULT", u"\\REGISTRY\\USER\\.DEFAULT", u".DEFAULT");
        const UserProfile profile = findProfile(*software.root, systemRoot);
        const std::u16string& sid = profile.sid;
        reg_.userSid = sid;
        Hive* user = nullptr;
        Hive* classes = nullptr;
        if (!profile.folder.empty()) {
            user = &load(profile.folder + u"\\NTUSER.DAT", u"\\REGISTRY\\USER\\" + sid, sid);
            for (const char16_t* place :
                 {u"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat",
                  u"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"}) {
                const auto host = reg_.paths->toHost(profile.folder + place);
                if (host && isFile(*host)) {
                    classes = &load(profile.folder + place,
                                    u"\\REGISTRY\\USER\\" + sid + u"_Classes", sid + u"_Classes");
                    break;
                }
            }
        }

        reg_.localMachine = makeVirtualKey(u"HKEY_LOCAL_MACHINE", false);
        reg_.users = makeVirtualKey(u"HKEY_USERS", false);
        // HARDWARE is made by Windows at each start and belongs to no hive file.
        auto hardware = makeVirtualKey(u"HARDWARE", false);
        reg_.localMachine->insertSubkey(hardware);
        for (Hive* hive : {&system, &software, &sam, &security})
            reg_.localMachine->insertSubkey(hive->root);
        for (Hive* hive : {&defaultUser, user, classes})
            if (hive)
                reg_.users->insertSubkey(hive->root);
        for (auto& hive : reg_.hives)
            hive->root->assignHive(hive.get()); // keys read later take their parent's

        reg_.currentUser = user ? user->root : nullptr;
        reg_.userClasses = classes ? classes->root : nullptr;
        if (HiveKey* machineClasses = software.root->findSubkey(u"Classes"))
            reg_.machineClasses = machineClasses->shared_from_this();
        if (user && classes)
            addLink(FindKey(user->root.get(), u"Software"), u"Classes", classes->root);

        mountControlSet(*system.root);
        makeHiveList(*system.root);
        reg_.codePage = std::make_unique<CodePage>(codePageNumber(*system.root));
        markProtectedKeys();
        reg_.token = MakeProcessToken(reg_);
        // Windows outside the NT family has no privileges to check.
        reg_.token->checksPrivileges = PlatformIdOf(reg_.ini) == VER_PLATFORM_WIN32_NT;
        reg_.readOnly = options_.readOnly;
        // Last: nothing is written unless the boot succeeds.
        if (!options_.readOnly) {
            removeUnfinishedWrites();
            writeCleanHives();
        }
        for (const HiveCondition& condition : reg_.hiveConditions)
            reg_.bootWarnings.push_back(condition.message);
    }

private:
    MachineRegistry& reg_;
    const BootOptions& options_;

    [[noreturn]] void fail(const std::string& message) { throw BootError(message); }

    // Why a drive's files cannot be written, for a message.
    static std::string readOnlyDrive(const MachineDrive& drive) {
        const std::string letter(1, drive.letter);
        return "drive " + letter + ":, which " + kMachineIniFileName + " maps to " + drive.root +
               " outside the machine folder, is read-only (give --drive " + letter +
               "=FOLDER to make it writable)";
    }

    std::u16string findSystemRoot() {
        std::vector<std::u16string> candidates;
        if (auto configured = reg_.ini.value("Machine", "SystemRoot"))
            candidates.push_back(Utf8ToUtf16(*configured));
        candidates.push_back(u"C:\\WINDOWS");
        candidates.push_back(u"C:\\WINNT");
        for (const auto& root : candidates) {
            const auto host = reg_.paths->toHost(root + u"\\system32\\config\\SYSTEM");
            if (host && isFile(*host)) {
                // The folder as it is spelled on disk.
                const auto rootHost = reg_.paths->toHost(root);
                return rootHost ? reg_.paths->toWindows(*rootHost).value_or(root) : root;
            }
        }
        fail(reg_.folder + ": not a Windows installation: no WINDOWS\\system32\\config\\SYSTEM "
                           "(nor WINNT\\system32\\config\\SYSTEM) in it");
    }

    Hive& load(const std::u16string& windowsPath, const std::u16string& registryPath,
               const std::u16string& mountName) {
        const auto host = reg_.paths->toHost(windowsPath);
        if (!host)
            fail(reg_.folder + ": the hive path " + Utf16ToUtf8(windowsPath) +
                 " leads outside the machine folder");
        // Every change would be written back to a drive the user did not make writable.
        if (const MachineDrive* drive = reg_.paths->resolve(windowsPath).drive;
            drive && !drive->writable && !options_.readOnly)
            fail(reg_.folder + ": the hive " + Utf16ToUtf8(windowsPath) + " is on " +
                 readOnlyDrive(*drive) + "; mount the machine read-only to read it");
        // Two mounts of one file would each write it back, the second undoing the first.
        struct stat file {};
        if (stat(host->c_str(), &file) == 0)
            for (const auto& other : reg_.hives) {
                struct stat mounted {};
                if (stat(other->hostPath.c_str(), &mounted) == 0 && mounted.st_dev == file.st_dev &&
                    mounted.st_ino == file.st_ino)
                    fail(reg_.folder + ": " + Utf16ToUtf8(windowsPath) + " is the same file as " +
                         other->hostPath + ", mounted already");
            }
        LoadedHive loaded;
        hive::HiveLoadOptions loadOptions;
        loadOptions.salvage = options_.readOnly || options_.repairDamagedHives;
        try {
            loaded = hive::MountHiveFile(*host, loadOptions);
        } catch (const HiveFileError& e) {
            std::string message = std::string("Cannot mount a hive: ") + e.what();
            if (!loadOptions.salvage && salvageable(*host))
                message += ". Mount the machine read-only to see what can be read of it, or "
                           "ask for the hive to be repaired (hivewarden-cli --repair-damaged); "
                           "hivewarden-cli hive check names the damage";
            fail(message);
        }
        if (loaded.dirty && !options_.readOnly)
            refuseUnappliedLog(windowsPath, *host, loaded);
        noteCondition(*host, registryPath, loaded);
        auto hive = std::make_unique<Hive>();
        hive->hostPath = *host;
        hive->registryPath = registryPath;
        const std::u16string onDisk = reg_.paths->toWindows(*host).value_or(windowsPath);
        hive->deviceFilePath = u"\\Device\\HarddiskVolume1" + onDisk.substr(2);
        hive->root = loaded.root;
        hive->storedRootName = loaded.root->name;
        hive->root->name = mountName;
        hive->minorVersion = loaded.minorVersion;
        hive->fileNameField = loaded.fileNameField;
        hive->sequence = loaded.sequence;
        if (!options_.readOnly && (loaded.recovery.applied || loaded.damageCount > 0))
            unclean_.push_back({hive.get(), loaded.logFiles, std::move(loaded.recovery.hive),
                                loaded.damageCount > 0});
        reg_.hives.push_back(std::move(hive));
        return *reg_.hives.back();
    }

    // Writing a hive whose transaction log still holds changes would lose them for good:
    // Windows applies a log only to a hive it finds unfinished.
    void refuseUnappliedLog(const std::u16string& windowsPath, const std::string& host,
                            const LoadedHive& loaded) {
        for (const char16_t* suffix : {u".LOG", u".LOG1", u".LOG2"}) {
            const auto log = reg_.paths->toHost(windowsPath + suffix);
            struct stat file {};
            if (log && stat(log->c_str(), &file) == 0 && S_ISREG(file.st_mode) &&
                file.st_size > 0) {
                std::string why;
                for (const std::string& note : loaded.recovery.notes)
                    why += (why.empty() ? " (" : "; ") + note;
                fail(host + ": Windows did not finish writing this hive, and its transaction log " +
                     *log + " cannot bring it up to date" + (why.empty() ? "" : why + ")") +
                     ". Start Windows once so that it applies the log, mount the machine "
                     "read-only, or delete the log to work on the hive as it is");
            }
        }
    }

    // Whether a hive that does not read soundly can be read in part.
    static bool salvageable(const std::string& host) {
        try {
            LoadHiveFile(host, {.applyLogs = true, .salvage = true});
            return true;
        } catch (const HiveFileError&) {
            return false;
        }
    }

    // Records what was wrong with a hive and what the mount does about it.
    void noteCondition(const std::string& host, const std::u16string& registryPath,
                       const LoadedHive& loaded) {
        const bool recovered = loaded.recovery.applied;
        const bool damaged = loaded.damageCount > 0;
        if (!recovered && !loaded.dirty && !damaged)
            return;
        HiveCondition condition;
        condition.hostPath = host;
        condition.registryPath = Utf16ToUtf8(registryPath);
        condition.state = damaged     ? HiveCondition::State::Damaged
                          : recovered ? HiveCondition::State::Recovered
                                      : HiveCondition::State::Stale;
        condition.entriesApplied = loaded.recovery.entriesApplied;
        condition.pagesApplied = loaded.recovery.pagesApplied;
        condition.logsUsed = loaded.recovery.logsUsed;
        condition.recoverySummary = recovered ? loaded.recovery.summary() : std::string();
        condition.notes = loaded.recovery.notes;
        condition.damage = loaded.damage;
        condition.damageCount = loaded.damageCount;

        std::string& m = condition.message;
        if (recovered || loaded.dirty)
            m = "The hive " + host + " was not finished by Windows: ";
        if (recovered)
            m += loaded.recovery.summary() + ".";
        else if (loaded.dirty)
            m += "no transaction log brings it up to date, so it is shown as last written.";
        for (const std::string& note : loaded.recovery.notes)
            m += " " + note + ".";
        if (damaged) {
            m += (m.empty() ? "" : " ") + std::string("The hive ") + host +
                 " is damaged: " + std::to_string(loaded.damageCount) + " part" +
                 (loaded.damageCount == 1 ? " was" : "s were") +
                 " left out, what could be read soundly is shown (";
            m += loaded.damage.front();
            if (loaded.damageCount > 1)
                m += "; hivewarden-cli hive check lists them all";
            m += ").";
        }
        if (options_.readOnly)
            m += " The mount is read-only: the files are left as they are.";
        reg_.hiveConditions.push_back(std::move(condition));
    }

    // Writes each recovered or repaired hive as a clean file, keeping the original and
    // its logs beside it. Only once every hive is mounted: a failed boot writes nothing.
    void writeCleanHives() {
        for (Unclean& unclean : unclean_) {
            Hive& hive = *unclean.hive;
            Bytes clean;
            if (unclean.repaired) {
                HiveWriteOptions write;
                write.minorVersion = hive.minorVersion;
                write.fileNameField = hive.fileNameField;
                write.rootName = hive.storedRootName;
                write.sequence = hive.sequence + 1;
                clean = WriteHive(*hive.root, write);
                hive.sequence = write.sequence;
            } else {
                clean = std::move(unclean.recovered);
            }
            std::vector<std::string> kept;
            try {
                kept = hive::SetAsideAndReplace(hive.hostPath, unclean.logs, clean);
            } catch (const std::exception& e) {
                fail(std::string("Cannot write the ") +
                     (unclean.repaired ? "repaired" : "recovered") + " hive: " + e.what());
            }
            for (HiveCondition& condition : reg_.hiveConditions) {
                if (condition.hostPath != hive.hostPath)
                    continue;
                condition.keptFiles = kept;
                std::string names;
                for (const std::string& name : kept)
                    names += (names.empty() ? "" : ", ") + name;
                condition.message += std::string(" The ") +
                                     (unclean.repaired ? "repaired" : "recovered") +
                                     " hive was written in its place as a clean file; the "
                                     "original" +
                                     (unclean.logs.empty() ? " is" : " and its logs are") +
                                     " kept as " + names + ".";
            }
        }
        unclean_.clear();
    }

    // A hive a writable mount must write afresh before anything else.
    struct Unclean {
        Hive* hive;
        std::vector<std::string> logs;
        Bytes recovered; // the recovered file; empty for a repaired one
        bool repaired;
    };
    std::vector<Unclean> unclean_;

    struct UserProfile {
        std::u16string sid;    // empty when no user is known
        std::u16string folder; // empty when the user's hives are not mounted
    };

    // Whether `folder` holds a NTUSER.DAT this boot may mount; else sets `why`.
    bool mountable(const std::u16string& folder, const std::u16string& sid, std::string& why) {
        const std::string named = "the profile folder " + Utf16ToUtf8(folder) +
                                  (sid.empty() ? "" : " of " + Utf16ToUtf8(sid));
        const MachinePaths::Resolved where = reg_.paths->resolve(folder + u"\\NTUSER.DAT");
        if (where.status == MachinePaths::Status::NoDrive ||
            where.status == MachinePaths::Status::Outside)
            why = named + " leads outside the machine's drives";
        else if (where.status != MachinePaths::Status::Found || !isFile(where.host))
            why = named + " has no NTUSER.DAT";
        else if (!where.drive->writable && !options_.readOnly)
            why = named + " is on " + readOnlyDrive(*where.drive);
        else
            return true;
        return false;
    }

    // The current user: the ini's [Machine] Sid and User, else the first user profile
    // (S-1-5-21-...) whose NTUSER.DAT exists. A user whose profile cannot be mounted is
    // the user all the same, without hives; the boot goes on and says why.
    UserProfile findProfile(HiveKey& software, const std::u16string& systemRoot) {
        const auto wantedUser = reg_.ini.value("Machine", "User");
        const auto wantedSid = reg_.ini.value("Machine", "Sid");
        const bool named = wantedUser || wantedSid;
        HiveKey* list = FindKey(&software, kProfileList);
        UserProfile user;
        std::string why;
        for (size_t i = 0; list && i < list->subkeyCount(); ++i) {
            HiveKey* entry = list->subkeyAt(i);
            const std::u16string& sid = entry->name;
            if (wantedSid ? !NamesEqual(sid, Utf8ToUtf16(*wantedSid))
                          : UpcaseName(sid).rfind(u"S-1-5-21-", 0) != 0)
                continue;
            const auto image = StringValue(*entry, u"ProfileImagePath");
            if (!image)
                continue;
            const std::u16string profile = expandBootVariables(*image, systemRoot);
            const auto slash = profile.rfind(u'\\');
            if (wantedUser && !NamesEqual(profile.substr(slash + 1), Utf8ToUtf16(*wantedUser)))
                continue;
            if (user.sid.empty())
                user.sid = sid;
            std::string problem;
            if (mountable(profile, sid, problem))
                return {sid, profile};
            if (why.empty())
                why = problem;
            if (named)
                break; // the profile the ini names, or none
        }
        if (user.sid.empty() && wantedSid && wantedUser) {
            // No entry for it: the folder of that name where Windows keeps profiles.
            std::vector<std::u16string> places;
            if (const auto directory =
                    list ? StringValue(*list, u"ProfilesDirectory") : std::nullopt)
                places.push_back(expandBootVariables(*directory, systemRoot));
            places.push_back(u"C:\\Documents and Settings");
            places.push_back(u"C:\\Users");
            const std::u16string sid = Utf8ToUtf16(*wantedSid);
            for (const auto& place : places) {
                const std::u16string profile = place + u"\\" + Utf8ToUtf16(*wantedUser);
                std::string ignored;
                if (mountable(profile, sid, ignored))
                    return {sid, profile};
            }
        }
        if (user.sid.empty() && wantedSid)
            user.sid = Utf8ToUtf16(*wantedSid);
        if (why.empty()) {
            why = list ? "ProfileList has no user profile" : "the SOFTWARE hive has no ProfileList";
            if (list && wantedSid)
                why += " with the SID " + *wantedSid;
            if (list && wantedUser)
                why += " in a folder named " + *wantedUser;
            if (wantedSid && wantedUser)
                why +=
                    ", and no folder " + *wantedUser + " where profiles are kept has a NTUSER.DAT";
        }
        reg_.bootWarnings.push_back(
            "No user profile is mounted: " + why +
            ". HKEY_CURRENT_USER is absent until it is found; [Machine] Sid= and User= in " +
            kMachineIniFileName + " name the profile to mount.");
        return user;
    }

    // CurrentControlSet by Select\Current, HKEY_CURRENT_CONFIG by the current hardware profile.
    void mountControlSet(HiveKey& system) {
        HiveKey* select = system.findSubkey(u"Select");
        uint32_t current = select ? DwordValue(*select, u"Current").value_or(1) : 1;
        std::u16string setName = u"ControlSet";
        const std::string digits = std::to_string(1000 + current % 1000).substr(1);
        setName += std::u16string(digits.begin(), digits.end());
        HiveKey* set = system.findSubkey(setName);
        if (!set)
            return;
        addLink(&system, u"CurrentControlSet", set->shared_from_this());
        HiveKey* profiles = set->findSubkey(u"Hardware Profiles");
        if (!profiles)
            return;
        HiveKey* idConfig = FindKey(set, u"Control\\IDConfigDB");
        const uint32_t config = idConfig ? DwordValue(*idConfig, u"CurrentConfig").value_or(1) : 1;
        const std::string number = std::to_string(10000 + config % 10000).substr(1);
        HiveKey* profile = profiles->findSubkey(std::u16string(number.begin(), number.end()));
        if (!profile)
            return;
        addLink(profiles, u"Current", profile->shared_from_this());
        reg_.currentConfig = profile->shared_from_this();
    }

    void makeHiveList(HiveKey& system) {
        HiveKey* control = FindKey(&system, u"CurrentControlSet\\Control");
        if (!control)
            return;
        auto list = makeVirtualKey(u"hivelist", true);
        list->hive = control->hive;
        list->setSecurity(control->security());
        list->values().push_back({u"\\REGISTRY\\MACHINE\\HARDWARE", REG_SZ, StringData(u"")});
        for (const auto& hive : reg_.hives)
            list->values().push_back(
                {hive->registryPath, REG_SZ, StringData(hive->deviceFilePath)});
        // A stored key of that name (a damaged or hostile hive) keeps its place in the file,
        // since replacing it would drop it at the next flush, but it lists what this boot
        // mounted, as Windows writes the list into it at each start: values of the file
        // would name any file at all, and the program saves and replaces the files listed.
        if (HiveKey* stored = control->findSubkey(u"hivelist"))
            stored->values() = std::move(list->values());
        else
            control->insertSubkey(list);
    }

    unsigned codePageNumber(HiveKey& system) {
        HiveKey* key = FindKey(&system, u"CurrentControlSet\\Control\\Nls\\CodePage");
        const auto acp = key ? DwordValue(*key, u"ACP") : std::nullopt;
        unsigned number = acp.value_or(1252);
        try {
            CodePage probe(number);
        } catch (const std::exception&) {
            fail(reg_.folder + ": the machine's ANSI code page " + std::to_string(number) +
                 " is not supported on this system");
        }
        return number;
    }

    // A process killed while it wrote a hive leaves the new file beside it, and one killed
    // while it kept a recovered hive's originals (hive/HiveSetAside.h) leaves the copies of
    // the hive and its logs that it was writing: the hive's name, something, ".hwnew".
    // Nothing else writes files of such names, and holding the lock, no process of ours is
    // writing now.
    void removeUnfinishedWrites() {
        const std::string suffix = hive::ReplacementFileOf("");
        for (const auto& hive : reg_.hives) {
            const std::string folder = hive::ParentFolder(hive->hostPath);
            const std::string name = hive->hostPath.substr(hive->hostPath.rfind('/') + 1);
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                const std::string candidate = entry.path().filename().string();
                if (candidate.size() < name.size() + suffix.size() ||
                    !NamesEqual(Utf8ToUtf16(candidate.substr(0, name.size() + 1)),
                                Utf8ToUtf16(name + ".")) ||
                    candidate.compare(candidate.size() - suffix.size(), suffix.size(), suffix) != 0)
                    continue;
                struct stat file {};
                if (::lstat(entry.path().c_str(), &file) == 0 && S_ISREG(file.st_mode))
                    ::unlink(entry.path().c_str());
            }
        }
    }

    void markProtectedKeys() {
        markKeys("ProtectedKeys", "protected", [](HiveKey* key) { key->protectedKey = true; });
        markKeys("UnreadableKeys", "unreadable", [](HiveKey* key) { key->readDenied = true; });
    }

    void markKeys(const char* section, const char* what, void (*mark)(HiveKey*)) {
        for (const auto& [name, path] : reg_.ini.entries(section)) {
            HKEY root = nullptr;
            std::u16string_view sub;
            const std::u16string full = Utf8ToUtf16(path);
            if (!SplitFullKeyPath(full, root, sub))
                fail(reg_.folder + "/" + kMachineIniFileName + ": " + what + " key " + name +
                     " does not begin with a root key name: " + path);
            MachineRegistry::Handle* handle = reg_.handle(root);
            KeyView view;
            if (handle && OpenView(handle->view, sub, view) == ERROR_SUCCESS)
                for (HiveKey* key : {view.key.get(), view.userClass.get()})
                    if (key)
                        mark(key);
        }
    }
};

} // namespace

void BootMachine(const std::string& folder, const BootOptions& options) {
    std::lock_guard guard(g_bootLock);
    if (MachineRegistry::current())
        throw BootError("A machine is already booted: " + MachineRegistry::current()->folder);
    std::error_code error;
    const auto canonical = std::filesystem::canonical(folder, error);
    if (error || !std::filesystem::is_directory(canonical))
        throw BootError(folder + ": no such machine folder");

    auto reg = std::make_unique<MachineRegistry>();
    reg->folder = canonical.string();
    MachineLock lock;
    try {
        reg->ini = MachineIni::load(reg->folder + "/" + kMachineIniFileName);
        reg->paths = std::make_unique<MachinePaths>(reg->folder, reg->ini, options.drives);
        // Shared by read-only mounts; a mount that changes the machine has it alone.
        lock = options.readOnly ? MachineLock::acquireShared(reg->folder)
                                : MachineLock::acquire(reg->folder);
        if (!options.readOnly) {
            // A process stopped while it replaced hives: its change is completed before a
            // hive is read, so no mount sees a mix of before and after.
            if (const std::string why = CompleteUnfinishedReplacements(reg->folder, *reg->paths);
                !why.empty())
                throw BootError(reg->folder + ": " + why);
        } else if (HasUnfinishedReplacements(reg->folder)) {
            throw BootError(reg->folder +
                            ": a program was stopped while it replaced the machine's hives, "
                            "so they may be a mix of before and after. A command that changes "
                            "the machine completes the replacement first (hivewarden-cli "
                            "restart); then it can be read again.");
        }
        Booter(*reg, options).boot();
    } catch (const BootError&) {
        throw;
    } catch (const std::exception& e) {
        throw BootError(e.what());
    }
    reg->startFlusher(options.lazyFlushMilliseconds);
    g_machineLock = std::move(lock);
    MachineRegistry* mounted = reg.get();
    setCurrentRegistry(std::move(reg));
    // The registry's views follow the architecture and version, which the mounted
    // registry and files tell.
    if (MachineIs64Bit()) {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        const bool known = GetVersionExA(&version);
        std::lock_guard registryGuard(mounted->lock);
        mounted->wow64 = true;
        mounted->wow64SharedClasses = !known || version.dwMajorVersion > 6 ||
                                      (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
    }
    // Nothing changes a read-only mount's tree from here on: keys read later may be let go
    // of once nobody uses them. What the boot read and set stays.
    if (options.readOnly)
        mounted->releaseUnusedKeys();
}

namespace {

ReplacementRun g_lastRelease; // under g_bootLock
std::atomic<bool> g_registryLeftToProcessEnd{false};

// The registry released, its files written and its handles gone, kept as it is: the
// memory of a tree of millions of keys returns to the system whole when the process
// ends, many times faster than the tree is taken apart key by key. Reachable from here,
// so no leak checker takes it for lost.
void LeaveToProcessEnd(std::unique_ptr<MachineRegistry> reg) {
    static auto* const left = new std::vector<MachineRegistry*>;
    left->push_back(reg.release());
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines)
        out += (out.empty() ? "" : "; ") + line;
    return out;
}

} // namespace

void ShutdownMachine() {
    // The registry editor's imports write to the machine: they end before it goes.
    FinishRegistryImports();
    std::lock_guard guard(g_bootLock);
    std::unique_ptr<MachineRegistry> reg = takeCurrentRegistry();
    if (!reg)
        return;
    reg->stopFlusher();
    std::string failure;
    std::vector<std::string> stale;
    {
        std::lock_guard registryGuard(reg->lock);
        if (!reg->readOnly) {
            stale = RefreshDenseCopies(*reg);
            try {
                reg->flushDirty(true);
            } catch (const std::exception& e) {
                failure = e.what();
            }
        }
    }
    const std::string folder = reg->folder;
    const std::vector<GrantedDrive> granted = reg->paths->granted();
    const bool readOnly = reg->readOnly;
    if (g_registryLeftToProcessEnd)
        LeaveToProcessEnd(std::move(reg));
    reg.reset();

    // The machine's next start: what waits for it is made now, under the lock still held,
    // so no other process mounts the hives between. A hive that could not be written is
    // left as it is on disk, with every replacement still waiting: the user sees the
    // error and can try again.
    g_lastRelease = {};
    if (!readOnly &&
        (!PendingReplacementsOf(folder).empty() || HasUnfinishedReplacements(folder))) {
        if (!failure.empty())
            g_lastRelease.refused = "The hives could not be written, so no hive was replaced";
        else if (!stale.empty())
            g_lastRelease.refused = joined(stale) + "; no hive was replaced";
        else
            g_lastRelease = PerformReplacements(folder, &g_machineLock, granted);
    }
    g_machineLock.release();
    if (!failure.empty())
        throw std::runtime_error(failure);
}

void LeaveReleasedRegistryToProcessEnd() {
    g_registryLeftToProcessEnd = true;
}

ReplacementRun LastReleaseReplacements() {
    std::lock_guard guard(g_bootLock);
    return g_lastRelease;
}

std::vector<std::string> BootWarnings() {
    const MachineRegistry* reg = MachineRegistry::current();
    return reg ? reg->bootWarnings : std::vector<std::string>();
}

std::vector<HiveCondition> HiveConditions() {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return {};
    std::vector<HiveCondition> conditions = reg->hiveConditions;
    // Hives read as they are used may prove damaged after the boot.
    for (const auto& hive : reg->hives) {
        const hive::HiveSource* source = hive->root ? hive->root->source() : nullptr;
        const size_t count = source ? source->damageCount() : 0;
        if (count == 0)
            continue;
        auto it = std::find_if(conditions.begin(), conditions.end(), [&](const HiveCondition& c) {
            return c.hostPath == hive->hostPath;
        });
        if (it == conditions.end()) {
            it = conditions.insert(conditions.end(), HiveCondition());
            it->hostPath = hive->hostPath;
            it->registryPath = Utf16ToUtf8(hive->registryPath);
        }
        const std::vector<std::string> damage = source->damage();
        it->state = HiveCondition::State::Damaged;
        it->damage.insert(it->damage.end(), damage.begin(), damage.end());
        it->damageCount += count;
        std::string& m = it->message;
        m += (m.empty() ? "" : " ") + std::string("The hive ") + hive->hostPath +
             " is damaged: " + std::to_string(count) + " part" + (count == 1 ? " was" : "s were") +
             " left out, what could be read soundly is shown (" + damage.front() +
             (count > 1 ? "; hivewarden-cli hive check lists them all" : "") + ").";
        if (reg->readOnly)
            m += " The mount is read-only: the files are left as they are.";
        else if (!source->salvaging())
            m += " Changes to it are not written back: mount the machine again asking for "
                 "the hive to be repaired (hivewarden-cli --repair-damaged).";
    }
    return conditions;
}

std::vector<std::string> MountedHiveFiles() {
    std::vector<std::string> files;
    if (const MachineRegistry* reg = MachineRegistry::current())
        for (const auto& hive : reg->hives)
            files.push_back(hive->hostPath);
    return files;
}

bool IsMachineBooted() {
    return MachineRegistry::current() != nullptr;
}

std::string MachineFolder() {
    const MachineRegistry* reg = MachineRegistry::current();
    return reg ? reg->folder : std::string();
}

void FlushMachine() {
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg || reg->readOnly)
        return;
    std::lock_guard guard(reg->lock);
    reg->flushDirty(true);
}

} // namespace win32
