#pragma once
// Accounts of the booted machine and the advapi32 functions over SIDs and names.
//
// The accounts are Windows' well-known ones (SYSTEM, LOCAL SERVICE, NETWORK SERVICE,
// Everyone, Administrators, Users, ...) and the users of the machine's ProfileList, each
// named by the last folder of its ProfileImagePath, in the domain of the machine's
// ComputerName. Names cross the API in the machine's ANSI code page.

#include "win32/base/SecurityTypes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The current user's name: ERROR_INSUFFICIENT_BUFFER with *pcbBuffer set to the size
// needed, zero included, when the buffer is too small.
BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);

// Both sizes are set to the sizes needed (zero included) when either buffer is too small;
// a null domain buffer with a size of 0 asks for the name alone. ERROR_NONE_MAPPED for a
// SID no account has. Only the local system.
BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse);
// "name" or "DOMAIN\name", ignoring case.
BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse);

// The SID is allocated with LocalAlloc. ERROR_INVALID_SID for a text that is no SID.
BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);
BOOL ConvertStringSidToSidA(LPCSTR StringSid, PSID* Sid);
// The text is allocated with LocalAlloc.
BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid);

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid);
void* FreeSid(PSID pSid); // null on success
BOOL EqualSid(PSID pSid1, PSID pSid2);
BOOL IsValidSid(PSID pSid);
DWORD GetLengthSid(PSID pSid);

namespace win32 {

struct AccountName {
    std::string name, domain; // ANSI
    SID_NAME_USE use = SidTypeUnknown;
};

// The account of a SID text; nullopt when none has it.
std::optional<AccountName> AccountOfSid(const std::string& sidText);
// The SID text of an account name ("name" or "DOMAIN\name", ANSI, ignoring case).
std::optional<std::string> SidOfAccount(std::string_view name);
// The binary SID at a PSID a caller passed, checked as far as its header allows.
std::optional<std::vector<uint8_t>> SidAt(PSID sid);

} // namespace win32
