#pragma once
// The Windows types, constants and error codes that the program's code uses.

#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using BOOL = int;
using UINT = unsigned int;
using CHAR = char;
using WCHAR = char16_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PLONG = LONG*;
using LPVOID = void*;
using LPCVOID = const void*;
using ULONG_PTR = uintptr_t;
using REGSAM = DWORD;
using LSTATUS = LONG;
using ACCESS_MASK = DWORD;
using HANDLE = void*;
using PHANDLE = HANDLE*;
struct HWND__;
using HWND = HWND__*;
using SIZE_T = ULONG_PTR;
using INT = int;
using INT_PTR = intptr_t;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Predefined keys, sign-extended as the Windows headers make them.
#define HW_PREDEFINED_KEY(v) reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(v)))
#define HKEY_CLASSES_ROOT HW_PREDEFINED_KEY(0x80000000)
#define HKEY_CURRENT_USER HW_PREDEFINED_KEY(0x80000001)
#define HKEY_LOCAL_MACHINE HW_PREDEFINED_KEY(0x80000002)
#define HKEY_USERS HW_PREDEFINED_KEY(0x80000003)
#define HKEY_PERFORMANCE_DATA HW_PREDEFINED_KEY(0x80000004)
#define HKEY_CURRENT_CONFIG HW_PREDEFINED_KEY(0x80000005)
#define HKEY_DYN_DATA HW_PREDEFINED_KEY(0x80000006)

// Error codes
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_NOT_SUPPORTED = 50;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_NOACCESS = 998;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LONG ERROR_NOT_REGISTRY_FILE = 1017;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;
constexpr LONG ERROR_PRIVILEGE_NOT_HELD = 1314;
// Files, environment and processes
constexpr LONG ERROR_NO_MORE_FILES = 18;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_NOT_READY = 21;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
constexpr LONG ERROR_ENVVAR_NOT_FOUND = 203;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_DIRECTORY = 267;
// Security, modules and the shell
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_NOT_ALL_ASSIGNED = 1300;
constexpr LONG ERROR_INVALID_OWNER = 1307;
constexpr LONG ERROR_NO_SUCH_PRIVILEGE = 1313;
constexpr LONG ERROR_NONE_MAPPED = 1332;
constexpr LONG ERROR_INVALID_ACL = 1336;
constexpr LONG ERROR_INVALID_SID = 1337;
constexpr LONG ERROR_INVALID_SECURITY_DESCR = 1338;

// Value types
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr DWORD REG_QWORD = 11;

// Access rights
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM WRITE_DAC = 0x00040000;
constexpr REGSAM WRITE_OWNER = 0x00080000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_ALL = 0x001F0000;
constexpr REGSAM SYNCHRONIZE = 0x00100000;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
constexpr REGSAM KEY_READ =
    (STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_WRITE =
    (STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS =
    (STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
     KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) &
    ~SYNCHRONIZE;

// RegCreateKeyEx options and dispositions
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_OPTION_VOLATILE = 0x1;
constexpr DWORD REG_OPTION_CREATE_LINK = 0x2;
constexpr DWORD REG_OPTION_BACKUP_RESTORE = 0x4;
constexpr DWORD REG_CREATED_NEW_KEY = 0x1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 0x2;

// Kernel handles and paths
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
constexpr DWORD MAX_PATH = 260;

// ShowWindow states (STARTUPINFO, ShellExecute)
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;
