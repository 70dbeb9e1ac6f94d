#include "win32/registry/RegImport.h"

#include "win32/base/CodePage.h"
#include "win32/base/ErrorText.h"
#include "win32/host/RegularFile.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/registry/RegistryViews.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace win32 {

namespace {

// Keeps the key of the last section open for the values that follow it.
class Importer {
public:
    RegImportResult result;

    ~Importer() { closeCurrent(); }

    void apply(const RegFileOperation& op) {
        HKEY root = nullptr;
        std::u16string_view sub;
        if (!SplitFullKeyPath(op.key, root, sub)) {
            problem(op, "unknown root key in \"" + Utf16ToUtf8(op.key) + "\"");
            return;
        }
        const std::u16string subKey(sub);
        LONG rc = ERROR_SUCCESS;
        switch (op.kind) {
        case RegFileOperation::Kind::CreateKey:
            rc = open(root, subKey, true);
            break;
        case RegFileOperation::Kind::DeleteKey:
            closeCurrent();
            rc = RegDeleteTreeW(root, subKey.c_str());
            if (rc == ERROR_FILE_NOT_FOUND)
                rc = ERROR_SUCCESS; // nothing to delete
            break;
        case RegFileOperation::Kind::SetValue:
            rc = open(root, subKey, true);
            if (rc == ERROR_SUCCESS)
                rc = RegSetValueExW(current_, op.name.c_str(), 0, op.type, op.data.data(),
                                    DWORD(op.data.size()));
            break;
        case RegFileOperation::Kind::DeleteValue:
            rc = open(root, subKey, false);
            if (rc == ERROR_SUCCESS)
                rc = RegDeleteValueW(current_, op.name.c_str());
            if (rc == ERROR_FILE_NOT_FOUND)
                rc = ERROR_SUCCESS;
            break;
        }
        if (rc == ERROR_SUCCESS)
            ++result.applied;
        else
            problem(op, SystemErrorText(rc));
    }

private:
    HKEY current_ = nullptr;
    HKEY currentRoot_ = nullptr;
    std::u16string currentPath_;

    void problem(const RegFileOperation& op, const std::string& message) {
        ++result.skipped;
        // As the parser does: a hostile file must not grow the list without bound.
        if (refusalsListed_ < kListedRefusals) {
            result.problems.push_back({op.line, message});
            ++refusalsListed_;
        }
    }

    static constexpr size_t kListedRefusals = 1000;
    size_t refusalsListed_ = 0;

    void closeCurrent() {
        if (current_)
            RegCloseKey(current_);
        current_ = nullptr;
    }

    LONG open(HKEY root, const std::u16string& path, bool create) {
        if (current_ && root == currentRoot_ && NamesEqual(path, currentPath_))
            return ERROR_SUCCESS;
        closeCurrent();
        const LONG rc =
            create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &current_, nullptr)
                   : RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &current_);
        if (rc != ERROR_SUCCESS) {
            current_ = nullptr;
            return rc;
        }
        currentRoot_ = root;
        currentPath_ = path;
        return ERROR_SUCCESS;
    }
};

} // namespace

RegImportResult RegImportData(const Bytes& fileBytes) {
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        throw std::runtime_error("No machine is booted");
    const ParsedRegFile parsed = ParseRegFile(fileBytes, *reg->codePage);
    Importer importer;
    importer.result.problems = parsed.problems;
    importer.result.skipped = parsed.skippedLines;
    for (const auto& op : parsed.operations)
        importer.apply(op);
    std::stable_sort(
        importer.result.problems.begin(), importer.result.problems.end(),
        [](const RegFileProblem& a, const RegFileProblem& b) { return a.line < b.line; });
    return importer.result;
}

RegImportResult RegImportFile(const std::string& hostPath) {
    RegularFile file(hostPath);
    if (file.notRegular())
        throw std::runtime_error(hostPath + ": not a regular file");
    std::string data;
    if (!file.readAll(data, std::numeric_limits<size_t>::max()))
        throw std::runtime_error(hostPath + ": " + std::strerror(errno));
    try {
        return RegImportData(Bytes(data.begin(), data.end()));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(hostPath + ": " + e.what());
    }
}

} // namespace win32
