#pragma once
// The store's failures: an exception carrying the text the user sees.

#include <stdexcept>
#include <string>

// The fixed texts the store raises; callers and tests compare against them.
inline constexpr char kInvalidFormatMessage[] =
    "Registry file format is invalid or file is corrupt";
inline constexpr char kFileWriteErrorMessage[] = "File write error";
inline constexpr char kFileReadErrorMessage[] = "File read error";
inline constexpr char kIndexCorruptMessage[] = "Index file corrupt error";
inline constexpr char kCorruptedFileMessage[] = "Corrupted registry file found";
inline constexpr char kWrongDataTypeMessage[] = "Value is not assigned with current data type";

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
