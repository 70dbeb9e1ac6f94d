#include "win32/security/KeySecurity.h"

#include "win32/base/HiveTree.h"
#include "win32/base/LastError.h"
#include "win32/base/LocalMemory.h"
#include "win32/base/SecurityDescriptor.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/RegistryViews.h"
#include "win32/security/Accounts.h"
#include "win32/security/Token.h"

#include <algorithm>
#include <cstring>

using namespace win32;

namespace {

struct ObjectRoot {
    const char16_t* prefix;
    HKEY root;
};
const ObjectRoot kRoots[] = {
    {u"CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {u"CURRENT_USER", HKEY_CURRENT_USER},
    {u"MACHINE", HKEY_LOCAL_MACHINE},
    {u"USERS", HKEY_USERS},
};

// The key an object name names. Callers hold the registry lock.
DWORD openObject(MachineRegistry& reg, std::u16string_view name, std::shared_ptr<HiveKey>& out) {
    const size_t slash = name.find(u'\\');
    const std::u16string_view prefix = name.substr(0, slash);
    const std::u16string_view rest =
        slash == std::u16string_view::npos ? std::u16string_view{} : name.substr(slash + 1);
    for (const ObjectRoot& r : kRoots) {
        if (!NamesEqual(prefix, r.prefix))
            continue;
        MachineRegistry::Handle* handle = reg.handle(r.root);
        if (!handle)
            return ERROR_FILE_NOT_FOUND;
        KeyView view;
        if (const LONG rc = OpenView(handle->view, rest, view); rc != ERROR_SUCCESS)
            return DWORD(rc == ERROR_BAD_PATHNAME ? ERROR_INVALID_NAME : rc);
        HiveKey* key = view.primary();
        if (!key)
            return ERROR_FILE_NOT_FOUND;
        out = key->shared_from_this();
        return ERROR_SUCCESS;
    }
    // Remote names ("\\computer\MACHINE\...") and unknown roots.
    return ERROR_INVALID_PARAMETER;
}

std::optional<SecurityDescriptor> descriptorOf(const HiveKey& key) {
    const auto bytes = key.security() ? key.security() : DefaultKeySecurity();
    return ParseSecurityDescriptor(*bytes);
}

std::vector<std::string> tokenSids() {
    const auto token = CurrentToken();
    return token ? token->sids() : std::vector<std::string>{};
}

void* allocateCopy(const std::vector<uint8_t>& bytes) {
    void* block = LocalAlloc(LMEM_FIXED, bytes.size());
    if (block)
        std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

// The ACL a caller passes; its header gives its size.
std::optional<AccessList> aclAt(const ACL* acl) {
    if (!acl)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(acl);
    const size_t size = size_t(p[2]) | size_t(p[3]) << 8;
    return ParseAccessList(p, size);
}

DWORD setSecurity(const std::u16string& name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                  PSID owner, PSID group, PACL dacl, PACL sacl) {
    if (type != SE_REGISTRY_KEY)
        return ERROR_NOT_SUPPORTED;
    constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION |
                                            GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                            SACL_SECURITY_INFORMATION;
    if (!(info & kParts))
        return ERROR_INVALID_PARAMETER;
    const auto token = CurrentToken();
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg || !token)
        return ERROR_INVALID_HANDLE;
    // Everything read from the caller is checked before anything changes.
    std::optional<SidBytes> newOwner, newGroup;
    std::optional<AccessList> newDacl, newSacl;
    if (info & OWNER_SECURITY_INFORMATION) {
        newOwner = SidAt(owner);
        if (!newOwner)
            return ERROR_INVALID_OWNER;
        const bool restore = PrivilegeEnabled("SeRestorePrivilege");
        if (!restore && !token->isMember(SidToText(*newOwner)))
            return ERROR_INVALID_OWNER;
    }
    if (info & GROUP_SECURITY_INFORMATION) {
        newGroup = SidAt(group);
        if (!newGroup)
            return ERROR_INVALID_PARAMETER;
    }
    if ((info & DACL_SECURITY_INFORMATION) && dacl) {
        newDacl = aclAt(dacl);
        if (!newDacl)
            return ERROR_INVALID_ACL;
    }
    if (info & SACL_SECURITY_INFORMATION) {
        if (!PrivilegeEnabled("SeSecurityPrivilege"))
            return ERROR_PRIVILEGE_NOT_HELD;
        if (sacl) {
            newSacl = aclAt(sacl);
            if (!newSacl)
                return ERROR_INVALID_ACL;
        }
    }
    const std::vector<std::string> sids = token->sids();

    MachineRegistry::ReadScope reading(reg);
    std::lock_guard guard(reg->lock);
    std::shared_ptr<HiveKey> key;
    if (const DWORD rc = openObject(*reg, name, key); rc != ERROR_SUCCESS)
        return rc;
    if (const LONG rc = CheckWritable(*reg, key.get()); rc != ERROR_SUCCESS)
        return DWORD(rc);
    auto sd = descriptorOf(*key);
    if (!sd)
        return ERROR_INVALID_SECURITY_DESCR;
    uint32_t needed = 0;
    if (info & DACL_SECURITY_INFORMATION)
        needed |= WRITE_DAC;
    if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION))
        needed |= WRITE_OWNER;
    // Taking ownership is what SeTakeOwnershipPrivilege is for.
    if ((needed & WRITE_OWNER) && PrivilegeEnabled("SeTakeOwnershipPrivilege"))
        needed &= ~WRITE_OWNER;
    if (needed && !AccessGranted(*sd, sids, needed))
        return ERROR_ACCESS_DENIED;

    if (newOwner)
        sd->owner = newOwner;
    if (newGroup)
        sd->group = newGroup;
    if (info & DACL_SECURITY_INFORMATION) {
        sd->daclPresent = true;
        sd->dacl = newDacl;
        if (info & PROTECTED_DACL_SECURITY_INFORMATION)
            sd->control |= SE_DACL_PROTECTED;
        else if (info & UNPROTECTED_DACL_SECURITY_INFORMATION)
            sd->control &= ~SE_DACL_PROTECTED;
        sd->control &= ~SE_DACL_DEFAULTED;
    }
    if (info & SACL_SECURITY_INFORMATION) {
        sd->saclPresent = true;
        sd->sacl = newSacl;
    }
    key->setSecurity(std::make_shared<const Bytes>(SerializeSecurityDescriptor(*sd)));
    // A new access list does not change the key's last-write time.
    const uint64_t written = key->lastWriteTime;
    reg->keyChanged(key.get());
    key->lastWriteTime = written;
    return ERROR_SUCCESS;
}

} // namespace

DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID* ppsidGroup,
                            PACL* ppDacl, PACL* ppSacl,
                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if (!pObjectName || !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    if (ObjectType != SE_REGISTRY_KEY)
        return ERROR_NOT_SUPPORTED;
    if ((SecurityInfo & SACL_SECURITY_INFORMATION) && !PrivilegeEnabled("SeSecurityPrivilege"))
        return ERROR_PRIVILEGE_NOT_HELD;
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return ERROR_INVALID_HANDLE;
    const std::vector<std::string> sids = tokenSids();
    SecurityDescriptor sd;
    {
        MachineRegistry::ReadScope reading(reg);
        std::lock_guard guard(reg->lock);
        std::shared_ptr<HiveKey> key;
        if (const DWORD rc = openObject(*reg, reg->codePage->toUnicode(pObjectName), key);
            rc != ERROR_SUCCESS)
            return rc;
        const auto stored = descriptorOf(*key);
        if (!stored)
            return ERROR_INVALID_SECURITY_DESCR;
        constexpr SECURITY_INFORMATION kNeedsReadControl =
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        if ((SecurityInfo & kNeedsReadControl) && !AccessGranted(*stored, sids, READ_CONTROL))
            return ERROR_ACCESS_DENIED;
        sd.control = stored->control & ~(SE_DACL_PRESENT | SE_SACL_PRESENT);
        if (SecurityInfo & OWNER_SECURITY_INFORMATION)
            sd.owner = stored->owner;
        if (SecurityInfo & GROUP_SECURITY_INFORMATION)
            sd.group = stored->group;
        if (SecurityInfo & DACL_SECURITY_INFORMATION) {
            sd.daclPresent = stored->daclPresent;
            sd.dacl = stored->dacl;
        }
        if (SecurityInfo & SACL_SECURITY_INFORMATION) {
            sd.saclPresent = stored->saclPresent;
            sd.sacl = stored->sacl;
        }
    }
    const std::vector<uint8_t> bytes = SerializeSecurityDescriptor(sd);
    auto* block = static_cast<uint8_t*>(allocateCopy(bytes));
    if (!block)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto at = [&](size_t field) -> void* {
        uint32_t offset = 0;
        std::memcpy(&offset, block + field, 4);
        return offset ? block + offset : nullptr;
    };
    if (ppsidOwner)
        *ppsidOwner = (SecurityInfo & OWNER_SECURITY_INFORMATION) ? at(4) : nullptr;
    if (ppsidGroup)
        *ppsidGroup = (SecurityInfo & GROUP_SECURITY_INFORMATION) ? at(8) : nullptr;
    if (ppSacl)
        *ppSacl = (SecurityInfo & SACL_SECURITY_INFORMATION) ? static_cast<PACL>(at(12)) : nullptr;
    if (ppDacl)
        *ppDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) ? static_cast<PACL>(at(16)) : nullptr;
    *ppSecurityDescriptor = block;
    return ERROR_SUCCESS;
}

DWORD SetNamedSecurityInfoW(LPWSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl) {
    if (!pObjectName)
        return ERROR_INVALID_PARAMETER;
    return setSecurity(pObjectName, ObjectType, SecurityInfo, psidOwner, psidGroup, pDacl, pSacl);
}

DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl) {
    MachineRegistry* reg = MachineRegistry::current();
    if (!pObjectName || !reg)
        return pObjectName ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
    return setSecurity(reg->codePage->toUnicode(pObjectName), ObjectType, SecurityInfo, psidOwner,
                       psidGroup, pDacl, pSacl);
}

DWORD SetEntriesInAclA(ULONG cCountOfExplicitEntries, PEXPLICIT_ACCESS_A pListOfExplicitEntries,
                       PACL OldAcl, PACL* NewAcl) {
    if (!NewAcl || (cCountOfExplicitEntries && !pListOfExplicitEntries))
        return ERROR_INVALID_PARAMETER;
    AccessList list;
    if (OldAcl) {
        const auto old = aclAt(OldAcl);
        if (!old)
            return ERROR_INVALID_ACL;
        list = *old;
    }
    auto sameTrustee = [](const Ace& ace, const SidBytes& sid) {
        return ace.hasSid() && !(ace.flags & INHERITED_ACE) && ace.sid == sid &&
               (ace.type == ACCESS_ALLOWED_ACE_TYPE || ace.type == ACCESS_DENIED_ACE_TYPE);
    };
    for (ULONG i = 0; i < cCountOfExplicitEntries; ++i) {
        const EXPLICIT_ACCESS_A& entry = pListOfExplicitEntries[i];
        if (entry.grfAccessMode == NOT_USED_ACCESS)
            continue;
        if (entry.Trustee.pMultipleTrustee || (entry.grfInheritance & ~0xFu))
            return ERROR_INVALID_PARAMETER;
        std::optional<SidBytes> sid;
        if (entry.Trustee.TrusteeForm == TRUSTEE_IS_SID) {
            sid = SidAt(entry.Trustee.ptstrName);
            if (!sid)
                return ERROR_INVALID_SID;
        } else if (entry.Trustee.TrusteeForm == TRUSTEE_IS_NAME && entry.Trustee.ptstrName) {
            const std::string name = entry.Trustee.ptstrName;
            std::optional<std::string> text;
            if (name == "CURRENT_USER") {
                if (const auto token = CurrentToken())
                    text = token->userSid;
            } else {
                text = SidOfAccount(name);
            }
            if (!text)
                return ERROR_NONE_MAPPED;
            sid = SidFromText(*text);
            if (!sid)
                return ERROR_INVALID_SID;
        } else {
            return ERROR_INVALID_PARAMETER;
        }
        const uint8_t flags = uint8_t(entry.grfInheritance);
        const uint32_t mask = entry.grfAccessPermissions;
        switch (entry.grfAccessMode) {
        case GRANT_ACCESS:
        case DENY_ACCESS: {
            const uint8_t type = entry.grfAccessMode == GRANT_ACCESS ? ACCESS_ALLOWED_ACE_TYPE
                                                                     : ACCESS_DENIED_ACE_TYPE;
            auto it = std::find_if(list.aces.begin(), list.aces.end(), [&](const Ace& a) {
                return sameTrustee(a, *sid) && a.type == type && a.flags == flags;
            });
            if (it != list.aces.end())
                it->mask |= mask;
            else
                list.aces.push_back({type, flags, mask, *sid, {}});
            break;
        }
        case SET_ACCESS:
            std::erase_if(list.aces, [&](const Ace& a) { return sameTrustee(a, *sid); });
            list.aces.push_back({ACCESS_ALLOWED_ACE_TYPE, flags, mask, *sid, {}});
            break;
        case REVOKE_ACCESS:
            std::erase_if(list.aces, [&](const Ace& a) { return sameTrustee(a, *sid); });
            break;
        default: // audit entries belong to a SACL
            return ERROR_INVALID_PARAMETER;
        }
    }
    // Canonical order: explicit denials, explicit grants and others, inherited entries.
    auto rank = [](const Ace& a) {
        if (a.flags & INHERITED_ACE)
            return 2;
        return a.type == ACCESS_DENIED_ACE_TYPE ? 0 : 1;
    };
    std::stable_sort(list.aces.begin(), list.aces.end(),
                     [&](const Ace& a, const Ace& b) { return rank(a) < rank(b); });
    const std::vector<uint8_t> bytes = SerializeAccessList(list);
    if (bytes.size() > 0xFFFF)
        return ERROR_INVALID_PARAMETER;
    *NewAcl = static_cast<PACL>(allocateCopy(bytes));
    return *NewAcl ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}
