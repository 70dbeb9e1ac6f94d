#include "ScanBenchMachine.h"

#include "hive/HiveFile.h"
#include "support/ShortcutBytes.h"
#include "win32/base/WinTypes.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/HiveValues.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace bench {

namespace {

using hive::HiveKey;

// The counts of the full-size machine; a smaller one scales each of them down.
struct Counts {
    int classes = 20000, interfaces = 20000, typeLibs = 5000, extensions = 5000, appIds = 10000;
    int services = 5000, uninstallers = 2000, appPaths = 3000, runCommands = 400;
    int fonts = 2000, helpFiles = 1000, sharedDlls = 5000, vendors = 500, menuFolders = 200;

    explicit Counts(double scale) {
        for (int* count :
             {&classes, &interfaces, &typeLibs, &extensions, &appIds, &services, &uninstallers,
              &appPaths, &runCommands, &fonts, &helpFiles, &sharedDlls, &vendors, &menuFolders})
            *count = std::max(2, int(*count * scale + 0.5));
    }
};

std::u16string widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string number(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// One in a hundred references is stale.
bool stale(int n) {
    return n % 100 == 57;
}

class Generator {
public:
    Generator(ScanBenchMachine& machine, double scale) : m_(machine), c_(scale) {}

    void run() {
        win32::CreateMachine(m_.folder, {});
        const std::string config = m_.folder + "/WINDOWS/system32/config/";
        const std::string software = config + "SOFTWARE", system = config + "SYSTEM";
        const std::string user = m_.folder + "/Documents and Settings/Administrator/NTUSER.DAT";
        m_.hiveFiles = {software, system, user};

        hive::LoadedHive soft = hive::LoadHiveFile(software);
        like_ = soft.root.get();
        HiveKey& classes = keyAt(*soft.root, "Classes");
        addClasses(classes);
        m_.classKeyCount = countKeys(classes) - 1;
        addMachineSoftware(*soft.root);
        write(soft, software);

        hive::LoadedHive sys = hive::LoadHiveFile(system);
        addServices(keyAt(*sys.root, "ControlSet001\\Services"));
        write(sys, system);

        hive::LoadedHive usr = hive::LoadHiveFile(user);
        addUserSoftware(*usr.root);
        write(usr, user);
        m_.keyCount = countKeys(*soft.root) + countKeys(*sys.root) + countKeys(*usr.root);
    }

private:
    HiveKey& keyAt(HiveKey& from, std::string_view path) {
        HiveKey* key = &from;
        while (!path.empty()) {
            const size_t cut = path.find('\\');
            const std::u16string name = widen(path.substr(0, cut));
            HiveKey* child = key->findSubkey(name);
            if (!child) {
                auto made = std::make_shared<HiveKey>();
                made->name = name;
                made->setSecurity(like_->security());
                made->lastWriteTime = like_->lastWriteTime;
                child = key->insertSubkey(std::move(made));
            }
            key = child;
            path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        }
        return *key;
    }

    static void set(HiveKey& key, const std::string& name, const std::string& text,
                    uint32_t type = REG_SZ) {
        key.values().push_back({widen(name), type, win32::StringData(widen(text))});
    }
    static void setDword(HiveKey& key, const std::string& name, uint32_t value) {
        key.values().push_back(
            {widen(name),
             REG_DWORD,
             {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}});
    }

    // A file of the machine, by its Windows path below C:\; made unless stale.
    std::string file(const std::string& windowsPath, bool present, const std::string& content) {
        std::string host = m_.folder + "/";
        for (size_t i = 3; i < windowsPath.size(); ++i)
            host += windowsPath[i] == '\\' ? '/' : windowsPath[i];
        m_.checkedPaths.push_back(host);
        if (present) {
            std::filesystem::create_directories(std::filesystem::path(host).parent_path());
            std::ofstream(host, std::ios::binary) << content;
        }
        return windowsPath;
    }
    std::string image(const std::string& windowsPath, bool present) {
        return file(windowsPath, present, std::string("MZ") + std::string(62, '\0'));
    }

    static std::string guid(int kind, int n) {
        char text[48];
        std::snprintf(text, sizeof text, "{%08X-%04X-11D0-8000-00AA006D2EA4}", n, kind);
        return text;
    }

    void addClasses(HiveKey& classes) {
        image("C:\\WINDOWS\\system32\\ole32.dll", true);
        for (int n = 0; n < c_.classes; ++n) {
            HiveKey& clsid = keyAt(classes, "CLSID\\" + guid(1, n));
            set(clsid, "", number("Component %d", n));
            const std::string server = stale(n)
                                           ? number("C:\\Program Files\\Removed%d\\server.dll", n)
                                           : number("C:\\WINDOWS\\system32\\com%05d.dll", n);
            HiveKey& inproc = keyAt(clsid, "InprocServer32");
            set(inproc, "", server);
            set(inproc, "ThreadingModel", "Apartment");
            set(keyAt(clsid, "ProgID"), "", number("Vendor.Object%d.1", n));
            set(keyAt(clsid, "TypeLib"), "", guid(3, n % c_.typeLibs));
            keyAt(clsid, "Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}");
            HiveKey& progId = keyAt(classes, number("Vendor.Object%d", n));
            set(progId, "", number("Component %d", n));
            set(keyAt(progId, "CLSID"), "", guid(1, n));
            set(keyAt(progId, "CurVer"), "", number("Vendor.Object%d.1", n));
        }
        for (int n = 0; n < c_.interfaces; ++n) {
            HiveKey& face = keyAt(classes, "Interface\\" + guid(2, n));
            set(face, "", number("IVendor%d", n));
            set(keyAt(face, "ProxyStubClsid32"), "", stale(n) ? guid(9, n) : guid(1, n / 2));
            HiveKey& lib = keyAt(face, "TypeLib");
            set(lib, "", guid(3, n % c_.typeLibs));
            set(lib, "Version", "1.0");
        }
        for (int n = 0; n < c_.typeLibs; ++n) {
            HiveKey& version = keyAt(classes, "TypeLib\\" + guid(3, n) + "\\1.0");
            set(version, "", number("Vendor Library %d", n));
            const std::string tlb = number("C:\\WINDOWS\\system32\\lib%05d.tlb", n);
            set(keyAt(version, "0\\win32"), "", file(tlb, !stale(n), "typelib"));
            set(keyAt(version, "FLAGS"), "", "0");
            set(keyAt(version, "HELPDIR"), "", "C:\\WINDOWS\\system32");
        }
        for (int n = 0; n < c_.extensions; ++n) {
            const std::string fileClass = number("ext%dfile", n);
            HiveKey& ext = keyAt(classes, number(".ext%d", n));
            set(ext, "", stale(n) ? number("gone%dfile", n) : fileClass);
            set(ext, "Content Type", "application/octet-stream");
            HiveKey& type = keyAt(classes, fileClass);
            set(type, "", number("Document %d", n));
            const std::string app = number("C:\\Program Files\\App%d\\app.exe", n % c_.appPaths);
            set(keyAt(type, "shell\\open\\command"), "", "\"" + app + "\" \"%1\"");
            set(keyAt(type, "DefaultIcon"), "", app + ",0");
        }
        for (int n = 0; n < c_.appIds; ++n)
            set(keyAt(classes, "AppID\\" + guid(4, n)), "", number("Application %d", n));
    }

    void addMachineSoftware(HiveKey& software) {
        const std::string windows = "Microsoft\\Windows\\CurrentVersion\\";
        for (int n = 0; n < c_.appPaths; ++n) {
            const std::string folder = number("C:\\Program Files\\App%d", n);
            HiveKey& key = keyAt(software, windows + number("App Paths\\app%d.exe", n));
            set(key, "", image(folder + "\\app.exe", !stale(n)));
            set(key, "Path", folder);
        }
        HiveKey& run = keyAt(software, windows + "Run");
        for (int n = 0; n < c_.runCommands / 2; ++n)
            set(run, number("Tray%d", n),
                number("C:\\Program Files\\App%d\\app.exe", n) + " /tray");
        HiveKey& fonts = keyAt(software, "Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        for (int n = 0; n < c_.fonts; ++n)
            set(fonts, number("Font %d (TrueType)", n),
                file(number("C:\\WINDOWS\\Fonts\\font%d.ttf", n), !stale(n), "font").substr(17));
        HiveKey& help = keyAt(software, "Microsoft\\Windows\\Help");
        for (int n = 0; n < c_.helpFiles; ++n) {
            file(number("C:\\Program Files\\App%d\\app.hlp", n), !stale(n), "help");
            set(help, number("app%d.hlp", n), number("C:\\Program Files\\App%d", n));
        }
        HiveKey& shared = keyAt(software, windows + "SharedDlls");
        for (int n = 0; n < c_.sharedDlls; ++n)
            setDword(
                shared,
                image(number("C:\\Program Files\\Common Files\\Shared\\lib%d.dll", n), !stale(n)),
                1);
        for (int n = 0; n < c_.uninstallers; ++n) {
            HiveKey& entry = keyAt(software, windows + number("Uninstall\\Product%d", n));
            set(entry, "DisplayName", number("Product %d", n));
            set(entry, "UninstallString",
                "\"" + image(number("C:\\Program Files\\App%d\\uninst.exe", n), !stale(n)) +
                    "\" /S");
        }
        for (int n = 0; n < c_.vendors; ++n) {
            HiveKey& product = keyAt(software, number("Vendor%d\\Product\\1.0\\Settings", n));
            if (!stale(n))
                set(product, "InstallDir", number("C:\\Program Files\\App%d", n));
        }
    }

    void addServices(HiveKey& services) {
        for (int n = 0; n < c_.services; ++n) {
            HiveKey& service = keyAt(services, number("Service%d", n));
            const std::string driver = number("system32\\drivers\\svc%d.sys", n);
            file("C:\\WINDOWS\\" + driver, !stale(n), "driver");
            set(service, "ImagePath", driver, REG_EXPAND_SZ);
            setDword(service, "Start", 3);
            setDword(service, "Type", 1);
            keyAt(service, "Enum");
        }
    }

    void addUserSoftware(HiveKey& root) {
        const std::string windows = "Software\\Microsoft\\Windows\\CurrentVersion\\";
        HiveKey& run = keyAt(root, windows + "Run");
        for (int n = 0; n < c_.runCommands / 2; ++n)
            set(run, number("Helper%d", n),
                "\"" + number("C:\\Program Files\\App%d\\app.exe", n + 500) + "\" /min");
        const std::string common = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\";
        for (int n = 0; n < c_.menuFolders; ++n) {
            const std::string folder = number("Program %d", n);
            setDword(keyAt(root, windows + "Explorer\\MenuOrder\\Start Menu2\\Programs\\" + folder),
                     "Order", 8);
            const std::string target = number("C:\\Program Files\\App%d\\app.exe", n);
            if (!stale(n))
                file(common + folder + "\\" + folder + ".lnk", true,
                     testing_support::text(testing_support::localLink(target)));
        }
        for (int n = 0; n < c_.vendors; ++n)
            set(keyAt(root, number("Software\\Vendor%d\\Settings", n)), "Window", "0,0,640,480");
    }

    static size_t countKeys(const HiveKey& root) {
        size_t count = 1;
        for (size_t i = 0; i < root.subkeyCount(); ++i)
            count += countKeys(*root.subkeyAt(i));
        return count;
    }

    static void write(const hive::LoadedHive& hive, const std::string& path) {
        hive::HiveWriteOptions options;
        options.minorVersion = hive.minorVersion;
        options.fileNameField = hive.fileNameField;
        hive::ReplaceFileAtomically(path, hive::WriteHive(*hive.root, options));
    }

    ScanBenchMachine& m_;
    const Counts c_;
    const HiveKey* like_ = nullptr;
};

class MachineFolder {
public:
    MachineFolder() {
        const auto started = std::chrono::steady_clock::now();
        // A folder named here is kept, for profiling the program itself on it.
        const char* kept = std::getenv("HIVEWARDEN_SCAN_BENCH_FOLDER");
        keep_ = kept && *kept;
        if (keep_) {
            machine_.folder = kept;
            if (!std::filesystem::create_directory(machine_.folder))
                throw std::runtime_error(machine_.folder + " exists; name a new folder");
        } else {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern =
                std::string(tmp && *tmp ? tmp : "/tmp") + "/hivewarden-scan-XXXXXX";
            if (!::mkdtemp(pattern.data()))
                throw std::runtime_error("cannot create a temporary folder from " + pattern);
            machine_.folder = pattern;
        }
        try {
            GenerateScanBenchMachine(machine_, 1.0);
        } catch (...) {
            std::error_code ignored;
            std::filesystem::remove_all(machine_.folder, ignored);
            throw;
        }
        std::fprintf(
            stderr, "Generated %s: %zu class keys, %zu checked paths, in %.1f s\n",
            machine_.folder.c_str(), machine_.classKeyCount, machine_.checkedPaths.size(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    ~MachineFolder() {
        std::error_code ignored;
        if (!keep_)
            std::filesystem::remove_all(machine_.folder, ignored);
    }
    MachineFolder(const MachineFolder&) = delete;
    MachineFolder& operator=(const MachineFolder&) = delete;

    const ScanBenchMachine& machine() const { return machine_; }

private:
    ScanBenchMachine machine_;
    bool keep_ = false;
};

} // namespace

void GenerateScanBenchMachine(ScanBenchMachine& machine, double scale) {
    Generator(machine, scale).run();
}

const ScanBenchMachine& TheScanBenchMachine() {
    static MachineFolder folder;
    return folder.machine();
}

} // namespace bench
