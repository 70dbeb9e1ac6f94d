#pragma once
// shell32 over the booted machine: special folders, deleting files (to the desktop's
// trash when undo is allowed), and starting programs with ShellExecuteA.
//
// Special folders come from the machine's User Shell Folders keys (expanded in the
// user's environment), then its Shell Folders keys, under
// Software\Microsoft\Windows\CurrentVersion\Explorer of HKEY_CURRENT_USER (the user's
// folders) and HKEY_LOCAL_MACHINE (the common ones), and else from Windows' defaults
// for the machine's version (the Windows XP profile layout, or Vista's from 6.0 on).

#include "win32/shell/Com.h"
#include "win32/system/Modules.h"

#include <functional>
#include <string>

// Folder ids
constexpr int CSIDL_DESKTOP = 0x0000;
constexpr int CSIDL_PROGRAMS = 0x0002;
constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_STARTMENU = 0x000B;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
constexpr int CSIDL_FONTS = 0x0014;
constexpr int CSIDL_COMMON_STARTMENU = 0x0016;
constexpr int CSIDL_COMMON_PROGRAMS = 0x0017;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x0019;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_WINDOWS = 0x0024;
constexpr int CSIDL_SYSTEM = 0x0025;
constexpr int CSIDL_PROGRAM_FILES = 0x0026;
constexpr int CSIDL_FLAG_MASK = 0xFF00;

struct SHITEMID {
    WORD cb;
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

// The id list of a folder, freed with ILFree or CoTaskMemFree. E_INVALIDARG for an id
// this layer does not know.
HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST* ppidl);
// The file system path of an id list into a MAX_PATH buffer; FALSE when it names none
// or the path does not fit.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
void ILFree(LPITEMIDLIST pidl);

// SHFileOperation
constexpr UINT FO_MOVE = 0x0001;
constexpr UINT FO_COPY = 0x0002;
constexpr UINT FO_DELETE = 0x0003;
constexpr UINT FO_RENAME = 0x0004;

using FILEOP_FLAGS = WORD;
constexpr FILEOP_FLAGS FOF_MULTIDESTFILES = 0x0001;
constexpr FILEOP_FLAGS FOF_SILENT = 0x0004;
constexpr FILEOP_FLAGS FOF_NOCONFIRMATION = 0x0010;
constexpr FILEOP_FLAGS FOF_ALLOWUNDO = 0x0040;
constexpr FILEOP_FLAGS FOF_FILESONLY = 0x0080;
constexpr FILEOP_FLAGS FOF_SIMPLEPROGRESS = 0x0100;
constexpr FILEOP_FLAGS FOF_NOERRORUI = 0x0400;

struct SHFILEOPSTRUCTA {
    HWND hwnd;
    UINT wFunc;
    LPCSTR pFrom; // paths, each ending in a zero, the list in one more
    LPCSTR pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    LPVOID hNameMappings;
    LPCSTR lpszProgressTitle;
};
using LPSHFILEOPSTRUCTA = SHFILEOPSTRUCTA*;

// FO_DELETE only (others: ERROR_NOT_SUPPORTED). Each path is a full Windows path on
// one of the machine's drives ("\" and "/" separate), or an absolute host path ("/...",
// in which "\" separates too: the program's own folder lies outside the machine); a "*"
// or "?" in its last component matches names without regard to case (FOF_FILESONLY:
// files only). A symbolic link named is deleted itself, never what it leads to. With FOF_ALLOWUNDO
// the files and folders go to the desktop's trash and are deleted only if the trash takes them;
// without it they are deleted. There is no window to confirm in: the operation goes on
// as with FOF_NOCONFIRMATION. Returns 0, or ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED (a drive's root, the trash or disk refused, a machine mounted
// read-only), ERROR_WRITE_PROTECT (a drive the user did not make writable, see
// files/Files.h), ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER.
int SHFileOperationA(LPSHFILEOPSTRUCTA lpFileOp);

// ShellExecute's errors (values of 32 and below)
constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_PNF = 3;
constexpr INT_PTR SE_ERR_ACCESSDENIED = 5;
constexpr INT_PTR SE_ERR_NOASSOC = 31;

// The registry editor ("regedit.exe", "REGEDIT", a path ending in either; verb "open" or
// none) is started as win32/shell/RegistryEditor.h describes. Any other program or document
// goes to the handler the program registered; without one it fails with SE_ERR_NOASSOC.
// The result is a value above 32 when the program started.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, INT nShowCmd);

namespace win32 {

// Opens what ShellExecuteA passes on (a web address, a help file, a text file in an
// editor); returns ShellExecute's result. Empty to remove.
using ShellOpenHandler = std::function<INT_PTR(const std::string& verb, const std::string& file,
                                               const std::string& parameters, int showCommand)>;
void SetShellOpenHandler(ShellOpenHandler handler);

// The path of a special folder (the folder ids above, flags ignored); empty for an id
// this layer does not know.
std::string SpecialFolder(int csidl);

} // namespace win32
