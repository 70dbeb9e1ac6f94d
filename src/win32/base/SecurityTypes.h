#pragma once
// The types and constants of the Windows security functions (winnt.h, accctrl.h).

#include "win32/base/WinTypes.h"

using PSID = void*;
using PSECURITY_DESCRIPTOR = void*;
using SECURITY_INFORMATION = DWORD;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

// The binary SID: revision, count, the 48-bit authority (big-endian), the sub-authorities.
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
};

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
#define SECURITY_NULL_SID_AUTHORITY                                                                \
    {                                                                                              \
        { 0, 0, 0, 0, 0, 0 }                                                                       \
    }
#define SECURITY_WORLD_SID_AUTHORITY                                                               \
    {                                                                                              \
        { 0, 0, 0, 0, 0, 1 }                                                                       \
    }
#define SECURITY_LOCAL_SID_AUTHORITY                                                               \
    {                                                                                              \
        { 0, 0, 0, 0, 0, 2 }                                                                       \
    }
#define SECURITY_CREATOR_SID_AUTHORITY                                                             \
    {                                                                                              \
        { 0, 0, 0, 0, 0, 3 }                                                                       \
    }
#define SECURITY_NT_AUTHORITY                                                                      \
    {                                                                                              \
        { 0, 0, 0, 0, 0, 5 }                                                                       \
    }
constexpr DWORD SECURITY_LOCAL_SYSTEM_RID = 18;
constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
constexpr DWORD DOMAIN_ALIAS_RID_ADMINS = 544;
constexpr DWORD DOMAIN_ALIAS_RID_USERS = 545;

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;
constexpr BYTE ACL_REVISION = 2;

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
};
constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
constexpr BYTE ACCESS_DENIED_ACE_TYPE = 1;
constexpr BYTE SYSTEM_AUDIT_ACE_TYPE = 2;
// ACE flags
constexpr BYTE OBJECT_INHERIT_ACE = 0x01;
constexpr BYTE CONTAINER_INHERIT_ACE = 0x02;
constexpr BYTE NO_PROPAGATE_INHERIT_ACE = 0x04;
constexpr BYTE INHERIT_ONLY_ACE = 0x08;
constexpr BYTE INHERITED_ACE = 0x10;

// Security descriptor control bits
constexpr WORD SE_OWNER_DEFAULTED = 0x0001;
constexpr WORD SE_GROUP_DEFAULTED = 0x0002;
constexpr WORD SE_DACL_PRESENT = 0x0004;
constexpr WORD SE_DACL_DEFAULTED = 0x0008;
constexpr WORD SE_SACL_PRESENT = 0x0010;
constexpr WORD SE_DACL_PROTECTED = 0x1000;
constexpr WORD SE_SELF_RELATIVE = 0x8000;

constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x00000001;
constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x00000002;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;
constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x00000008;
constexpr SECURITY_INFORMATION UNPROTECTED_SACL_SECURITY_INFORMATION = 0x10000000;
constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;
constexpr SECURITY_INFORMATION PROTECTED_SACL_SECURITY_INFORMATION = 0x40000000;
constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;

// Generic rights
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD ACCESS_SYSTEM_SECURITY = 0x01000000;

// Tokens
struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};
using PTOKEN_GROUPS = TOKEN_GROUPS*;

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
using PTOKEN_USER = TOKEN_USER*;

enum TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups = 2,
    TokenPrivileges = 3,
    TokenOwner = 4,
};

constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;

constexpr DWORD SE_GROUP_MANDATORY = 0x00000001;
constexpr DWORD SE_GROUP_ENABLED_BY_DEFAULT = 0x00000002;
constexpr DWORD SE_GROUP_ENABLED = 0x00000004;
constexpr DWORD SE_GROUP_OWNER = 0x00000008;

enum SID_NAME_USE {
    SidTypeUser = 1,
    SidTypeGroup,
    SidTypeDomain,
    SidTypeAlias,
    SidTypeWellKnownGroup,
    SidTypeDeletedAccount,
    SidTypeInvalid,
    SidTypeUnknown,
    SidTypeComputer,
};
using PSID_NAME_USE = SID_NAME_USE*;

// Named objects and access lists (accctrl.h)
enum SE_OBJECT_TYPE {
    SE_UNKNOWN_OBJECT_TYPE = 0,
    SE_FILE_OBJECT,
    SE_SERVICE,
    SE_PRINTER,
    SE_REGISTRY_KEY,
};

enum ACCESS_MODE {
    NOT_USED_ACCESS = 0,
    GRANT_ACCESS,
    SET_ACCESS,
    DENY_ACCESS,
    REVOKE_ACCESS,
    SET_AUDIT_SUCCESS,
    SET_AUDIT_FAILURE,
};

enum MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE, TRUSTEE_IS_IMPERSONATE };

enum TRUSTEE_FORM {
    TRUSTEE_IS_SID = 0,
    TRUSTEE_IS_NAME,
    TRUSTEE_BAD_FORM,
};

enum TRUSTEE_TYPE {
    TRUSTEE_IS_UNKNOWN = 0,
    TRUSTEE_IS_USER,
    TRUSTEE_IS_GROUP,
    TRUSTEE_IS_DOMAIN,
    TRUSTEE_IS_ALIAS,
    TRUSTEE_IS_WELL_KNOWN_GROUP,
};

struct TRUSTEE_A {
    TRUSTEE_A* pMultipleTrustee;
    MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
    TRUSTEE_FORM TrusteeForm;
    TRUSTEE_TYPE TrusteeType;
    LPSTR ptstrName; // the name, or the PSID for TRUSTEE_IS_SID
};

struct EXPLICIT_ACCESS_A {
    DWORD grfAccessPermissions;
    ACCESS_MODE grfAccessMode;
    DWORD grfInheritance;
    TRUSTEE_A Trustee;
};
using PEXPLICIT_ACCESS_A = EXPLICIT_ACCESS_A*;

// grfInheritance: the ACE flags
constexpr DWORD NO_INHERITANCE = 0x0;
constexpr DWORD SUB_OBJECTS_ONLY_INHERIT = 0x1;
constexpr DWORD SUB_CONTAINERS_ONLY_INHERIT = 0x2;
constexpr DWORD SUB_CONTAINERS_AND_OBJECTS_INHERIT = 0x3;
constexpr DWORD INHERIT_NO_PROPAGATE = 0x4;
constexpr DWORD INHERIT_ONLY = 0x8;
