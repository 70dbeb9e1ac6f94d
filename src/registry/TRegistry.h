#pragma once
// The registry object: one root, at most one open current key, and typed access to
// the values of that key. Each task makes its own; one object is never shared
// between threads. Text is in the machine's ANSI code page.

#include "win32/base/WinTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A read of a value of the wrong type, or a read that failed.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegKeyInfo {
    DWORD NumSubKeys = 0;
    DWORD MaxSubKeyLen = 0;
    DWORD NumValues = 0;
    DWORD MaxValueLen = 0;
    DWORD MaxDataLen = 0;
    FILETIME FileTime{};
};

// One value of a key with its text, for reading a whole key's strings in one pass.
struct TRegTextValue {
    std::string Name;
    bool IsText = false; // a string or an expandable string
    std::string Text;    // as ReadString reads it; empty for other types
};

// One value of a key as an enumeration reads it: its type and data in one call, strings
// in the code page.
struct TRegValue {
    std::string Name;
    DWORD Type = 0;
    std::string Data;
    // Whether a read by Name finds this very value, so that ReadFrom may answer it: every
    // name of the list is plain ASCII (nothing the code page changed) and no two are equal
    // but for case.
    bool ReadsBack = false;
};

class TRegistry {
public:
    // Root HKEY_CURRENT_USER; keys are opened with `access` (full access by default).
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    // Closes the current key.
    void SetRootKey(HKEY root);
    // The open current key, null when none is open.
    HKEY CurrentKey() const { return current_; }

    // A path beginning with "\" starts at the root; any other path starts at the
    // current key when one is open, else at the root. On success the opened key
    // becomes current. False when the key is missing or cannot be opened with the
    // object's access (or created, with canCreate).
    bool OpenKey(const std::string& key, bool canCreate);
    // As OpenKey, with read access only.
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();

    // Paths as for OpenKey; the current key stays. A key that exists but may not be
    // read counts as existing.
    bool KeyExists(const std::string& key);
    bool ValueExists(const std::string& name);

    // The list is cleared, then filled in the registry's enumeration order; empty
    // when no key is open. The strings the list held are reused, so a walk that passes
    // the same list again allocates only for longer names.
    void GetKeyNames(std::vector<std::string>& list);
    void GetValueNames(std::vector<std::string>& list);
    // The name of the open key's subkey at `index` of the enumeration order, into `name`
    // (its room reused); false past the last one, or when no key is open.
    bool GetKeyNameAt(DWORD index, std::string& name);
    // False (and info zeroed) when no key is open or it cannot be queried.
    bool GetKeyInfo(TRegKeyInfo& info);
    // The values of the open key in the registry's enumeration order, each with its text
    // when it is a string; empty when no key is open. Reuses the list's strings as
    // GetKeyNames does.
    void GetTextValues(std::vector<TRegTextValue>& list);
    // The values of the open key in the registry's enumeration order, each read once with
    // its type and data; empty when no key is open. Reuses the list's strings as
    // GetKeyNames does.
    void GetValues(std::vector<TRegValue>& list);
    // Until cleared with null, or until the current key changes, the reads of `value`'s
    // name (type, size, data) answer from it rather than from the key, when it reads back
    // (a value of the open key that GetValues read). For a walk that judges the values it
    // listed: each is read once.
    void ReadFrom(const TRegValue* value);

    // rdUnknown for any other type, and for a value that does not exist.
    TRegDataType GetDataType(const std::string& name);
    // Size of the data in bytes; -1 when the value does not exist.
    int GetDataSize(const std::string& name);

    // The reads throw ERegistryException: "Invalid data type for '<name>'" for a value of
    // another type, "Failed to get data for '<name>'" when the value cannot be read.
    // String or expandable string, unexpanded, up to its first zero; empty for a value
    // that does not exist.
    std::string ReadString(const std::string& name);
    // REG_DWORD only.
    int32_t ReadInteger(const std::string& name);
    // The raw bytes of a binary value (or one of a type not listed in TRegDataType) into
    // `buffer`; returns the number of bytes read. Data larger than `size` fails.
    int ReadBinaryData(const std::string& name, void* buffer, int size);

    // Stores REG_SZ; throws ERegistryException "Failed to set data for '<name>'".
    void WriteString(const std::string& name, const std::string& value);
    bool DeleteValue(const std::string& name);
    // Paths as for OpenKey. Removes the key with everything below it. Nothing is
    // removed when any key of the tree refuses deletion, and symbolic links inside the
    // tree are removed as links, never followed into the keys they point at.
    bool DeleteKey(const std::string& key);

private:
    void enumerateNames(std::vector<std::string>& list, bool values);
    // The key a path starts from, and the path without its leading "\" (pointing into
    // `path`).
    HKEY baseKeyFor(const std::string& path, const char*& relative) const;
    bool open(const std::string& key, REGSAM access, bool canCreate);
    // Type and size of a value of the current key; false when it cannot be queried.
    // `result`, when given, receives the query's error code.
    bool queryInfo(const std::string& name, DWORD& type, DWORD& size, LONG* result = nullptr) const;
    void readData(const std::string& name, void* buffer, DWORD& size) const;
    // RegQueryValueExA of the current key, answered from `held_` for its name.
    LONG queryValue(const std::string& name, DWORD* type, BYTE* data, DWORD* size) const;

    REGSAM access_;
    HKEY root_ = HKEY_CURRENT_USER;
    HKEY current_ = nullptr;
    const TRegValue* held_ = nullptr;
};
