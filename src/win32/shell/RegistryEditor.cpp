#include "win32/shell/RegistryEditor.h"

#include "win32/files/Drives.h"
#include "win32/registry/RegImport.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace win32 {

namespace {

constexpr INT_PTR kStarted = 42; // any value above 32
constexpr INT_PTR kNoAssociation = 31;

std::mutex g_windowLock;
RegistryEditorWindow* g_window = nullptr;

struct Imports {
    std::mutex lock;
    std::vector<std::thread> running;
    std::map<uint64_t, RegistryImportOutcome> done; // by start order
    uint64_t started = 0;
    // A program that ends without shutting the machine down still lets imports finish.
    ~Imports() {
        for (std::thread& t : running)
            if (t.joinable())
                t.join();
    }
};

Imports& imports() {
    static Imports i;
    return i;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(uint8_t(x)) == std::toupper(uint8_t(y));
           });
}

// The host path of the file argument: a Windows path on one of the machine's drives,
// or an absolute host path (the program's own folder lies outside the machine).
std::optional<std::string> hostPathOf(const std::string& file) {
    if (!file.empty() && file[0] == '/') {
        std::string host = file;
        std::replace(host.begin(), host.end(), '\\', '/');
        return host;
    }
    return HostPathOf(file);
}

void runImport(uint64_t number, std::string hostPath) {
    RegistryImportOutcome outcome;
    outcome.file = hostPath;
    try {
        RegImportResult result = RegImportFile(hostPath);
        outcome.imported = true;
        outcome.applied = result.applied;
        outcome.problems = std::move(result.problems);
    } catch (const std::exception& e) {
        outcome.error = e.what();
    }
    Imports& i = imports();
    std::lock_guard guard(i.lock);
    i.done[number] = std::move(outcome);
}

} // namespace

void SetRegistryEditorWindow(RegistryEditorWindow* window) {
    std::lock_guard guard(g_windowLock);
    g_window = window;
}

RegistryEditorWindow* FindRegistryEditorWindow() {
    RegistryEditorWindow* window = nullptr;
    {
        std::lock_guard guard(g_windowLock);
        window = g_window;
    }
    return window && window->isOpen() ? window : nullptr;
}

namespace {

// "/S", "-sc": a switch. A host path begins with "/" too, but holds another one.
bool isSwitch(std::string_view token) {
    return token.size() >= 2 && (token[0] == '/' || token[0] == '-') &&
           std::all_of(token.begin() + 1, token.end(),
                       [](char c) { return std::isalpha(uint8_t(c)); });
}

} // namespace

INT_PTR StartRegistryEditor(const std::string& parameters) {
    std::string_view rest = parameters;
    auto skipSpaces = [&] {
        while (!rest.empty() && isSpace(rest.front()))
            rest.remove_prefix(1);
    };
    // Switches first, then the file: the rest of the line, so that an unquoted path with
    // spaces is one file.
    for (skipSpaces(); !rest.empty(); skipSpaces()) {
        size_t end = 0;
        while (end < rest.size() && !isSpace(rest[end]))
            ++end;
        const std::string_view token = rest.substr(0, end);
        if (!isSwitch(token))
            break;
        const std::string_view name = token.substr(1);
        if (!equalsIgnoringCase(name, "S") && !equalsIgnoringCase(name, "SC") &&
            !equalsIgnoringCase(name, "C"))
            return ERROR_BAD_FORMAT;
        rest.remove_prefix(end);
    }
    std::string file = trimmed(rest);
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
        file = file.substr(1, file.size() - 2);

    if (file.empty()) {
        if (parameters.find_first_not_of(" \t") != std::string::npos)
            return ERROR_FILE_NOT_FOUND; // switches without a file to import
        RegistryEditorWindow* window = nullptr;
        {
            std::lock_guard guard(g_windowLock);
            window = g_window;
        }
        if (!window)
            return kNoAssociation;
        if (!window->isOpen())
            window->open();
        return kStarted;
    }

    const auto host = hostPathOf(file);
    if (!host)
        return ERROR_PATH_NOT_FOUND;
    struct stat st {};
    if (::stat(host->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const auto parent = std::filesystem::path(*host).parent_path();
        struct stat folder {};
        return ::stat(parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)
                   ? ERROR_FILE_NOT_FOUND
                   : ERROR_PATH_NOT_FOUND;
    }
    Imports& i = imports();
    std::lock_guard guard(i.lock);
    i.running.emplace_back(runImport, i.started++, *host);
    return kStarted;
}

void FinishRegistryImports() {
    Imports& i = imports();
    while (true) {
        std::vector<std::thread> running;
        {
            std::lock_guard guard(i.lock);
            running.swap(i.running);
        }
        if (running.empty())
            return;
        for (std::thread& t : running)
            t.join();
    }
}

std::vector<RegistryImportOutcome> WaitForRegistryImports() {
    FinishRegistryImports();
    Imports& i = imports();
    std::lock_guard guard(i.lock);
    std::vector<RegistryImportOutcome> out;
    for (auto& [number, outcome] : i.done)
        out.push_back(std::move(outcome));
    i.done.clear();
    return out;
}

} // namespace win32
