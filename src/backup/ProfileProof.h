#pragma once
// The proof a profile made by this program carries that its files are the ones the
// backup wrote: "hivewarden-profile.sha256" beside "config.ini", one line for each hive
// file and one for "config.ini" itself,
//
//     SIZE SHA256 NAME
//
// the file's size in bytes, its SHA-256 in lower-case hex and its name in the profile,
// separated by single blanks, lines ended by LF. "config.ini" stays exactly as older
// profiles have it; a profile without this file is checked by its hives' content alone.

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr char kProfileProofName[] = "hivewarden-profile.sha256";

struct TProfileFileProof {
    std::string Name;
    uint64_t Size = 0;
    QByteArray Sha256; // raw bytes
};

// The size and SHA-256 of the file at `path`, read through a small buffer; a symbolic
// link is not followed. Throws std::runtime_error naming the file.
TProfileFileProof ProveProfileFile(const std::string& path, const std::string& name);

// Writes the proof of the named files of `folder` and syncs it. Throws
// std::runtime_error naming the file.
void WriteProfileProof(const std::string& folder, const std::vector<std::string>& names);

// The proof `folder` holds; nullopt when it holds none. Throws std::runtime_error for
// a proof file that cannot be read or is malformed.
std::optional<std::vector<TProfileFileProof>> ReadProfileProof(const std::string& folder);

// The proof line for `name`, null when the proof has none.
const TProfileFileProof* FindProof(const std::vector<TProfileFileProof>& proof,
                                   const std::string& name);

// Checks the file at `path` against `proof`: its size first (a file grown or cut is
// refused without reading it through), then its SHA-256. Returns why it does not match,
// empty when it does.
std::string CheckProfileFile(const std::string& path, const TProfileFileProof& proof);
