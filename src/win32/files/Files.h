#pragma once
// kernel32's file functions on the booted machine's drives (see Drives.h), with their
// documented results and last errors.
//
// Every component of a path is matched without regard to case, as Windows matches it,
// and a component may be given by its short name (see host/ShortNames.h).
// ".." stops at the drive's root, and a symbolic link is followed only while it stays
// inside its drive's folder; a path that a link leads out of fails with
// ERROR_ACCESS_DENIED. A relative path is taken from the current folder, which is the
// machine's %SystemRoot%\system32: the program's own folder lies outside the machine.
// Paths in a machine mounted read-only cannot be changed (ERROR_ACCESS_DENIED), nor
// paths on a drive that the machine's ini maps outside the machine folder and the user
// did not map (ERROR_WRITE_PROTECT, see host/MachinePaths.h).

#include "win32/base/WinTypes.h"

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// The attributes the host can tell: DIRECTORY; READONLY for a file nobody may write;
// on an ntfs-3g mount the attributes Windows stored. A file with none is NORMAL.
// INVALID_FILE_ATTRIBUTES and ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_INVALID_NAME (wildcards, a file followed by a separator) on failure.
DWORD GetFileAttributesA(LPCSTR lpFileName);

// The entries of a folder whose names match the last component of lpFileName, with
// the wildcards "*" and "?" as Windows matches them (DOS rules: "*.*" is everything,
// "?" at the end of a name also matches nothing, "*." names without extension), long
// or short name, without regard to case. A folder other than a drive's root lists "."
// and ".." as well. The entries are taken when the search starts, in the order NTFS
// lists them (by upper-case name). INVALID_HANDLE_VALUE and ERROR_FILE_NOT_FOUND (no
// match) or ERROR_PATH_NOT_FOUND (no such folder) on failure.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
// FALSE and ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// Copies a file with its permissions and times. The new file replaces an existing one
// atomically (a reader sees the old file or the new one), keeping its name's case;
// ERROR_FILE_EXISTS when bFailIfExists and it exists, ERROR_ACCESS_DENIED for a folder
// or a read-only file in the way.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
// Deletes a file (a symbolic link itself, not what it points at). ERROR_ACCESS_DENIED
// for a folder or a read-only file.
BOOL DeleteFileA(LPCSTR lpFileName);
// ERROR_ALREADY_EXISTS when a file or folder of that name exists; ERROR_PATH_NOT_FOUND
// when the folder it goes in does not. The security attributes are ignored.
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// ERROR_DIR_NOT_EMPTY for a folder with entries, ERROR_DIRECTORY for a file.
BOOL RemoveDirectoryA(LPCSTR lpPathName);

// The path with each component that is not an 8.3 name replaced by its short name
// (see host/ShortNames.h); others stay as given. The length without the zero when it fits
// into cchBuffer, else the size needed including the zero. lpszShortPath may be
// lpszLongPath. 0 and the last error when a component does not exist.
DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer);

// The current folder: the machine's %SystemRoot%\system32. The length without the
// zero when it fits, else the size needed including the zero.
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);

// The absolute form of a path, made from the text alone (nothing need exist): taken
// from the current folder when relative, "." and ".." applied (never above the root),
// trailing dots and spaces of names dropped; a trailing separator is kept as "\". UNC
// and device paths come back as given. The length without the zero when it fits into
// nBufferLength, else the size needed including the zero; *lpFilePart (when asked for)
// points at the last component in lpBuffer, or is null when the path ends in "\".
// 0 and ERROR_INVALID_NAME for an empty path.
DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
