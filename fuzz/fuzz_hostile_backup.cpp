// Boots a machine whose SYSTEM hive carries a stored "hivelist" key made from the input
// (as a crafted installation would), lists its hives and backs them up into a new
// profile folder. Whatever the key says, nothing outside the machine folder and the
// program folder may be created, changed or removed: a decoy folder beside them, which
// the input can name through "@DECOY@", must stay exactly as it was.
//
// The input: a first byte choosing the values' type and the control set the key goes
// in, then lines "name" TAB "data" (data "@DECOY@" is replaced by the decoy's host path).

#include "MachineFiles.h"
#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "registry/OSInfo.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/HiveValues.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kTypes[] = {1 /* REG_SZ */, 2 /* REG_EXPAND_SZ */, 3 /* REG_BINARY */,
                               7 /* REG_MULTI_SZ */};

struct Scene {
    std::string root;    // the temporary folder holding the rest
    std::string machine; // root/machine
    std::string decoy;   // root/decoy, with a file in it
    std::map<std::string, hive::Bytes> hives;
};

using fuzz_support::IsHiveFile;
using fuzz_support::ReadWhole;
using fuzz_support::WriteWhole;

// Every entry below `folder` with its content (links and folders by name only).
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> out;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        std::string content;
        if (it->is_regular_file(error) && !it->is_symlink(error)) {
            const hive::Bytes bytes = ReadWhole(path.string());
            content.assign(bytes.begin(), bytes.end());
        }
        out[path.string()] = content;
    }
    return out;
}

const Scene& TheScene() {
    static const Scene scene = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_hostile_backup_XXXXXX";
        if (!::mkdtemp(root.data()))
            std::abort();
        static const std::string* const kept = new std::string(root);
        std::atexit([] { fs::remove_all(*kept); });
        Scene out;
        out.root = root;
        out.machine = root + "/machine";
        out.decoy = root + "/decoy";
        fs::create_directories(out.decoy);
        WriteWhole(out.decoy + "/x", hive::Bytes{'k', 'e', 'e', 'p', '\n'});
        win32::CreateMachine(out.machine, {});
        for (const auto& entry : fs::recursive_directory_iterator(out.machine))
            if (entry.is_regular_file() && IsHiveFile(entry.path()))
                out.hives[entry.path().string()] = ReadWhole(entry.path().string());
        if (out.hives.size() != 7)
            std::abort();
        return out;
    }();
    return scene;
}

class ImmediateUi : public UiDispatcher {
public:
    void Post(std::function<void()> task) override { task(); }
    bool IsShuttingDown() const override { return false; }
};

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end()); // bytes as Latin-1
}

// The stored key the input describes, in the SYSTEM hive file.
void StoreHiveList(const Scene& scene, const uint8_t* data, size_t size) {
    const std::string system = scene.machine + "/WINDOWS/system32/config/SYSTEM";
    hive::LoadedHive loaded = hive::LoadHiveFile(system);
    const uint8_t choice = size > 0 ? data[0] : 0;
    const uint32_t type = kTypes[choice & 3];
    const char16_t* set = (choice & 4) ? u"ControlSet002\\Control" : u"ControlSet001\\Control";
    hive::HiveKey* control = win32::FindKey(loaded.root.get(), set);
    if (!control)
        return;
    auto list = std::make_shared<hive::HiveKey>();
    list->name = (choice & 8) ? u"HIVELIST" : u"hivelist";
    list->setSecurity(hive::DefaultKeySecurity());
    std::string text(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                     size > 0 ? size - 1 : 0);
    for (size_t at = 0; (at = text.find("@DECOY@", at)) != std::string::npos;)
        text.replace(at, 7, scene.decoy), at += scene.decoy.size();
    size_t begin = 0;
    while (begin < text.size() && list->values().size() < 64) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        const size_t tab = line.find('\t');
        const std::string name = line.substr(0, tab);
        const std::string value = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        const std::u16string wide = Widen(value);
        hive::HiveValue entry;
        entry.name = Widen(name);
        entry.type = type;
        entry.data = type == 3 ? hive::Bytes(value.begin(), value.end()) : win32::StringData(wide);
        bool duplicate = false;
        for (const auto& other : list->values())
            duplicate = duplicate || hive::NamesEqual(other.name, entry.name);
        if (!duplicate)
            list->values().push_back(std::move(entry));
    }
    if (!control->findSubkey(list->name))
        control->insertSubkey(list);
    if (choice & 4) {
        // Select\Current names the set that holds the key.
        if (hive::HiveKey* select = loaded.root->findSubkey(u"Select")) {
            const int at = select->findValue(u"Current");
            if (at >= 0)
                select->values()[size_t(at)].data = hive::Bytes{2, 0, 0, 0};
        }
    }
    hive::HiveWriteOptions options;
    options.minorVersion = loaded.minorVersion;
    options.fileNameField = loaded.fileNameField;
    options.rootName = loaded.root->name;
    hive::ReplaceFileAtomically(system, hive::WriteHive(*loaded.root, options));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scene& scene = TheScene();
    for (const auto& [path, bytes] : scene.hives)
        WriteWhole(path, bytes);
    try {
        StoreHiveList(scene, data, size);
    } catch (const std::runtime_error&) {
        return 0; // a key the format cannot hold: nothing to boot
    }
    static const std::map<std::string, std::string> decoyBefore = Snapshot(scene.decoy);
    const std::string program = scene.root + "/program";
    fs::remove_all(program);
    fs::create_directories(program);

    win32::BootOptions options;
    options.lazyFlushMilliseconds = 1 << 30;
    try {
        win32::BootMachine(scene.machine, options);
    } catch (const win32::BootError&) {
        return 0; // refused, with a message: nothing was written
    }
    InitOSInfo();
    {
        ImmediateUi ui;
        THiveManager manager(ui);
        try {
            manager.ScanHives();
            manager.Folder = program + "/Registry Backup/profile";
            manager.Backup();
        } catch (const std::exception&) {
            // A hive list the program cannot use is an error it reports, not a crash.
        }
    }
    try {
        win32::ShutdownMachine();
    } catch (const std::runtime_error&) {
    }

    // Nothing outside the two folders: the decoy is as it was, and the scene's folder
    // holds nothing new.
    if (Snapshot(scene.decoy) != decoyBefore)
        std::abort();
    for (const auto& entry : fs::directory_iterator(scene.root)) {
        const std::string name = entry.path().filename().string();
        if (name != "machine" && name != "decoy" && name != "program")
            std::abort();
    }
    return 0;
}
