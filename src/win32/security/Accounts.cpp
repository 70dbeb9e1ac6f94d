#include "win32/security/Accounts.h"

#include "win32/base/LastError.h"
#include "win32/base/LocalMemory.h"
#include "win32/base/SecurityDescriptor.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/MachineRegistry.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace win32 {

namespace {

struct WellKnown {
    const char* sid;
    const char* name;
    const char* domain;
    SID_NAME_USE use;
};
constexpr WellKnown kWellKnown[] = {
    {"S-1-0-0", "NULL SID", "", SidTypeWellKnownGroup},
    {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
    {"S-1-2-0", "LOCAL", "", SidTypeWellKnownGroup},
    {"S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
    {"S-1-3-1", "CREATOR GROUP", "", SidTypeWellKnownGroup},
    {"S-1-5-2", "NETWORK", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-4", "INTERACTIVE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-6", "SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-7", "ANONYMOUS LOGON", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-11", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-32", "BUILTIN", "BUILTIN", SidTypeDomain},
    {"S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-546", "Guests", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-547", "Power Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-551", "Backup Operators", "BUILTIN", SidTypeAlias},
};

constexpr char16_t kProfileList[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char16_t kComputerName[] =
    u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(uint8_t(x)) == std::toupper(uint8_t(y));
           });
}

struct Account {
    std::string sid;
    AccountName name;
};

// The machine's own accounts: the users of its ProfileList.
std::vector<Account> machineAccounts() {
    std::vector<Account> out;
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return out;
    MachineRegistry::ReadScope reading(reg);
    std::lock_guard guard(reg->lock);
    std::string domain;
    if (HiveKey* key = FindKey(reg->localMachine.get(), kComputerName))
        domain = reg->codePage->fromUnicode(StringValue(*key, u"ComputerName").value_or(u""));
    HiveKey* list = FindKey(reg->localMachine.get(), kProfileList);
    if (!list)
        return out;
    for (size_t i = 0; i < list->subkeyCount(); ++i) {
        HiveKey* entry = list->subkeyAt(i);
        const std::string sid = Utf16ToUtf8(entry->name);
        if (!equalsIgnoringCase(sid.substr(0, 9), "S-1-5-21-"))
            continue;
        const auto image = StringValue(*entry, u"ProfileImagePath");
        if (!image)
            continue;
        std::u16string folder = *image;
        while (!folder.empty() && folder.back() == u'\\')
            folder.pop_back();
        const std::u16string name = folder.substr(folder.rfind(u'\\') + 1);
        if (name.empty())
            continue;
        out.push_back({sid, {reg->codePage->fromUnicode(name), domain, SidTypeUser}});
    }
    return out;
}

// The size a caller's buffer needs for `text`, zero included; copies when it fits.
bool fill(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || size <= text.size())
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

PSID allocateSid(const std::vector<uint8_t>& sid) {
    void* block = LocalAlloc(LMEM_FIXED, sid.size());
    if (block)
        std::memcpy(block, sid.data(), sid.size());
    return block;
}

} // namespace

std::optional<AccountName> AccountOfSid(const std::string& sidText) {
    for (const auto& w : kWellKnown)
        if (equalsIgnoringCase(sidText, w.sid))
            return AccountName{w.name, w.domain, w.use};
    for (const Account& a : machineAccounts())
        if (equalsIgnoringCase(a.sid, sidText))
            return a.name;
    return std::nullopt;
}

std::optional<std::string> SidOfAccount(std::string_view name) {
    std::string_view domain;
    bool qualified = false;
    if (const size_t slash = name.find('\\'); slash != std::string_view::npos) {
        domain = name.substr(0, slash);
        name = name.substr(slash + 1);
        qualified = true;
    }
    auto matches = [&](const AccountName& account) {
        return equalsIgnoringCase(account.name, name) &&
               (!qualified || equalsIgnoringCase(account.domain, domain));
    };
    for (const auto& w : kWellKnown)
        if (matches({w.name, w.domain, w.use}))
            return std::string(w.sid);
    for (const Account& a : machineAccounts())
        if (matches(a.name))
            return a.sid;
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> SidAt(PSID sid) {
    if (!sid)
        return std::nullopt;
    const auto* p = static_cast<const uint8_t*>(sid);
    // The header says how long the SID is; nothing beyond it is read.
    if (p[0] != SID_REVISION || p[1] > SID_MAX_SUB_AUTHORITIES)
        return std::nullopt;
    return std::vector<uint8_t>(p, p + 8 + 4 * size_t(p[1]));
}

} // namespace win32

using namespace win32;

BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer) {
    if (!pcbBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    std::string name;
    if (const auto account = AccountOfSid(Utf16ToUtf8(reg->userSid)))
        name = account->name;
    else if (const auto user = reg->ini.value("Machine", "User"))
        name = reg->codePage->fromUnicode(Utf8ToUtf16(*user));
    if (name.empty()) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    if (!fill(name, lpBuffer, *pcbBuffer)) {
        *pcbBuffer = DWORD(name.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *pcbBuffer = DWORD(name.size() + 1);
    return TRUE;
}

BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse) {
    if ((lpSystemName && *lpSystemName) || !cchName || !cchReferencedDomainName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto sid = SidAt(Sid);
    if (!sid) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    const auto account = AccountOfSid(SidToText(*sid));
    if (!account) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const bool wantsDomain = ReferencedDomainName || *cchReferencedDomainName != 0;
    const bool nameFits = Name && *cchName > account->name.size();
    const bool domainFits =
        !wantsDomain || (ReferencedDomainName && *cchReferencedDomainName > account->domain.size());
    if (!nameFits || !domainFits) {
        *cchName = DWORD(account->name.size() + 1);
        *cchReferencedDomainName = DWORD(account->domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    fill(account->name, Name, *cchName);
    *cchName = DWORD(account->name.size());
    if (wantsDomain) {
        fill(account->domain, ReferencedDomainName, *cchReferencedDomainName);
        *cchReferencedDomainName = DWORD(account->domain.size());
    } else {
        *cchReferencedDomainName = DWORD(account->domain.size() + 1);
    }
    if (peUse)
        *peUse = account->use;
    return TRUE;
}

BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse) {
    if ((lpSystemName && *lpSystemName) || !lpAccountName || !cbSid || !cchReferencedDomainName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto text = SidOfAccount(lpAccountName);
    if (!text) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const auto sid = *SidFromText(*text);
    const auto account = AccountOfSid(*text);
    const std::string domain = account ? account->domain : std::string();
    if (!Sid || *cbSid < sid.size() || !ReferencedDomainName ||
        *cchReferencedDomainName <= domain.size()) {
        *cbSid = DWORD(sid.size());
        *cchReferencedDomainName = DWORD(domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(Sid, sid.data(), sid.size());
    *cbSid = DWORD(sid.size());
    fill(domain, ReferencedDomainName, *cchReferencedDomainName);
    *cchReferencedDomainName = DWORD(domain.size());
    if (peUse)
        *peUse = account ? account->use : SidTypeUnknown;
    return TRUE;
}

namespace {

// The SDDL abbreviations ConvertStringSidToSid takes besides "S-1-...".
std::optional<std::string> abbreviatedSid(std::string_view text) {
    static const std::pair<const char*, const char*> names[] = {
        {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},
        {"NU", "S-1-5-2"},      {"IU", "S-1-5-4"},      {"SU", "S-1-5-6"},
        {"AN", "S-1-5-7"},      {"AU", "S-1-5-11"},     {"SY", "S-1-5-18"},
        {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"BA", "S-1-5-32-544"},
        {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"},
        {"BO", "S-1-5-32-551"}};
    for (const auto& [abbreviation, sid] : names)
        if (text == abbreviation)
            return std::string(sid);
    return std::nullopt;
}

BOOL convertStringSid(const std::string& text, PSID* Sid) {
    if (!Sid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto sid = SidFromText(abbreviatedSid(text).value_or(text));
    if (!sid) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    *Sid = allocateSid(*sid);
    return *Sid != nullptr;
}

} // namespace

BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
    if (!StringSid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text;
    for (const char16_t* p = StringSid; *p; ++p) {
        if (*p > 0x7F) { // a SID is ASCII
            SetLastError(ERROR_INVALID_SID);
            return FALSE;
        }
        text += char(*p);
    }
    return convertStringSid(text, Sid);
}

BOOL ConvertStringSidToSidA(LPCSTR StringSid, PSID* Sid) {
    if (!StringSid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return convertStringSid(StringSid, Sid);
}

BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    const auto sid = SidAt(Sid);
    if (!sid || !StringSid) {
        SetLastError(sid ? ERROR_INVALID_PARAMETER : ERROR_INVALID_SID);
        return FALSE;
    }
    const std::string text = SidToText(*sid);
    auto* out = static_cast<char*>(LocalAlloc(LMEM_FIXED, text.size() + 1));
    if (!out)
        return FALSE;
    std::memcpy(out, text.c_str(), text.size() + 1);
    *StringSid = out;
    return TRUE;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid) {
    if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > 8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD subs[] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                          nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    std::vector<uint8_t> sid(8 + 4 * size_t(nSubAuthorityCount), 0);
    sid[0] = SID_REVISION;
    sid[1] = nSubAuthorityCount;
    std::memcpy(&sid[2], pIdentifierAuthority->Value, 6);
    for (BYTE i = 0; i < nSubAuthorityCount; ++i)
        for (int b = 0; b < 4; ++b)
            sid[8 + 4 * i + b] = uint8_t(subs[i] >> (8 * b));
    *pSid = allocateSid(sid);
    return *pSid != nullptr;
}

void* FreeSid(PSID pSid) {
    return LocalFree(pSid);
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
    const auto a = SidAt(pSid1);
    const auto b = SidAt(pSid2);
    SetLastError(ERROR_SUCCESS);
    return a && b && *a == *b;
}

BOOL IsValidSid(PSID pSid) {
    return SidAt(pSid).has_value();
}

DWORD GetLengthSid(PSID pSid) {
    const auto sid = SidAt(pSid);
    return sid ? DWORD(sid->size()) : 0;
}
