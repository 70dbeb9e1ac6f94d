#pragma once
// The access lists of registry keys: GetNamedSecurityInfoA, SetNamedSecurityInfoW and
// SetEntriesInAclA. A key's descriptor is the one its hive stores; a change is written
// back with the hive.
//
// Object names are "MACHINE\...", "CURRENT_USER\...", "CLASSES_ROOT\..." and "USERS\..."
// (the root alone names the root). Only registry keys (SE_REGISTRY_KEY) are supported.
// Access is checked against the key's descriptor and the process's token: reading needs
// READ_CONTROL, the DACL WRITE_DAC, owner and group WRITE_OWNER (the owner of a key has
// READ_CONTROL and WRITE_DAC always); the SACL needs SeSecurityPrivilege enabled.
// A new DACL applies to the key alone: it is not passed on to existing subkeys.

#include "win32/base/SecurityTypes.h"

// The requested parts in one self-relative descriptor allocated with LocalAlloc, and
// pointers into it. Returns a Windows error code.
DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID* ppsidGroup,
                            PACL* ppDacl, PACL* ppSacl, PSECURITY_DESCRIPTOR* ppSecurityDescriptor);

// Replaces the requested parts of the key's descriptor. A null pDacl with
// DACL_SECURITY_INFORMATION sets a null DACL: full access for everyone.
DWORD SetNamedSecurityInfoW(LPWSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl);
DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl);

// A new ACL (LocalAlloc) from OldAcl (may be null) and the entries: GRANT_ACCESS adds to
// what the trustee has, SET_ACCESS replaces it, DENY_ACCESS denies, REVOKE_ACCESS drops
// the trustee's explicit entries. Explicit denials come first, then explicit grants,
// then the inherited entries. Trustees by SID or by account name ("CURRENT_USER" is the
// token's user); ERROR_NONE_MAPPED for a name no account has.
DWORD SetEntriesInAclA(ULONG cCountOfExplicitEntries, PEXPLICIT_ACCESS_A pListOfExplicitEntries,
                       PACL OldAcl, PACL* NewAcl);
