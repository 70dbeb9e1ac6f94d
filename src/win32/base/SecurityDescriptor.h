#pragma once
// Binary SIDs, access lists and self-relative security descriptors as the hives store
// them, and the access check over them. Every reader checks sizes and offsets before it
// follows them: descriptors come from hive files nobody vouches for.

#include "win32/base/SecurityTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win32 {

using SidBytes = std::vector<uint8_t>;

// The length of the binary SID at `data` (at most `available` bytes readable); 0 when
// it is not a valid SID.
size_t SidLength(const uint8_t* data, size_t available);
// "S-1-5-21-..." of a valid binary SID.
std::string SidToText(const SidBytes& sid);
// The binary SID of "S-1-..." (decimal or 0x-hex authority as Windows accepts it);
// nullopt for anything else.
std::optional<SidBytes> SidFromText(std::string_view text);
SidBytes MakeSid(uint64_t authority, std::initializer_list<uint32_t> subAuthorities);

struct Ace {
    uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
    uint8_t flags = 0;
    uint32_t mask = 0;
    SidBytes sid;             // of the allowed, denied and audit ACE types
    std::vector<uint8_t> raw; // the whole ACE, for the types kept as they are
    bool hasSid() const { return raw.empty(); }
};

struct AccessList {
    uint8_t revision = ACL_REVISION;
    std::vector<Ace> aces;
};

// Reads an ACL at `data`; nullopt when it does not check out.
std::optional<AccessList> ParseAccessList(const uint8_t* data, size_t available);
std::vector<uint8_t> SerializeAccessList(const AccessList& list);

struct SecurityDescriptor {
    uint16_t control = SE_SELF_RELATIVE;
    std::optional<SidBytes> owner, group;
    std::optional<AccessList> dacl, sacl; // present but null: flag set, no list
    bool daclPresent = false, saclPresent = false;
};

// Reads a self-relative descriptor; nullopt when it does not check out.
std::optional<SecurityDescriptor> ParseSecurityDescriptor(const std::vector<uint8_t>& bytes);
// Writes a self-relative descriptor: header, owner, group, SACL, DACL, each 4-aligned.
std::vector<uint8_t> SerializeSecurityDescriptor(const SecurityDescriptor& descriptor);

// Maps the generic rights of `mask` to a registry key's specific rights.
uint32_t MapGenericKeyRights(uint32_t mask);

// The rights of `desired` (generic rights mapped) that the descriptor grants to a
// holder of `sids` (SID texts): denied ACEs before allowed ones in list order, ACEs
// that only pass to subkeys skipped, owner's READ_CONTROL and WRITE_DAC implied.
// A descriptor without a DACL, or with a null one, grants everything.
bool AccessGranted(const SecurityDescriptor& descriptor, const std::vector<std::string>& sids,
                   uint32_t desired);

} // namespace win32
