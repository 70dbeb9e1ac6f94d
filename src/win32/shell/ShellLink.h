#pragma once
// Shortcut (.lnk) files: the binary format Microsoft documents as MS-SHLLINK, and the
// shell-link object that loads, resolves and answers for one, as plain functions (the
// object's IShellLinkA and IPersistFile methods on Windows).

#include "win32/shell/Com.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace win32 {

class CodePage;

// A file that is not a shell link, or whose structures do not check out.
class ShellLinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a link file says about its target; texts in the ANSI code page, empty when the
// file does not hold them.
struct ShellLinkData {
    uint32_t flags = 0;
    std::string localPath;         // LinkInfo: local base path + common path suffix
    std::string networkPath;       // LinkInfo: share name + "\" + common path suffix
    std::string environmentTarget; // the target with %VARIABLES%, as stored
    std::string idListPath;        // the target's ID list, read as far as it names a path
    std::string name, relativePath, workingDirectory, arguments, iconLocation;
};

// Throws ShellLinkError for a damaged file; no offset or size is followed unchecked.
ShellLinkData ParseShellLink(const std::vector<uint8_t>& bytes, const CodePage& ansi);

// The bytes of a link file to a file on a local fixed drive, as the shell saves one
// (IShellLink::SetPath, SetWorkingDirectory, SetArguments, then IPersistFile::Save):
// the target in the link information, the texts in UTF-16. Texts come in the ANSI code
// page. Throws ShellLinkError for a target that is not a full local path.
std::vector<uint8_t> BuildShellLink(const std::string& target, const std::string& workingDirectory,
                                    const std::string& arguments, const CodePage& ansi);

} // namespace win32

struct ShellLinkObject;
using HSHELLLINK = ShellLinkObject*;

constexpr DWORD SLR_NO_UI = 0x0001;
constexpr DWORD SLR_ANY_MATCH = 0x0002;
constexpr DWORD SLR_UPDATE = 0x0004;
constexpr DWORD SLR_NOUPDATE = 0x0008;

constexpr DWORD SLGP_SHORTPATH = 0x0001;
constexpr DWORD SLGP_UNCPRIORITY = 0x0002;
constexpr DWORD SLGP_RAWPATH = 0x0004;

constexpr DWORD STGM_READ = 0x00000000;

// CoCreateInstance(CLSID_ShellLink): CO_E_NOTINITIALIZED on a thread that has not
// called CoInitialize.
HRESULT ShellLinkCreate(HSHELLLINK* link);
// IPersistFile::Load of a link file (a Windows path on one of the machine's drives).
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) or ERROR_PATH_NOT_FOUND for a missing file,
// HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) for a damaged one, ERROR_ACCESS_DENIED for a
// folder, named pipe or device: only a regular file is read.
HRESULT ShellLinkLoad(HSHELLLINK link, LPCWSTR fileName, DWORD mode);
// IShellLink::Resolve: S_OK when the target exists, at its path or at the link's
// relative path. No search is made and no window is shown; a target that is not there
// fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND). The link file is never updated.
HRESULT ShellLinkResolve(HSHELLLINK link, HWND window, DWORD flags);
// IShellLink::GetPath: S_OK with the path, S_FALSE with an empty text when the link
// names no file path, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the path does
// not fit (a cut path could name another file). findData must be null.
HRESULT ShellLinkGetPath(HSHELLLINK link, LPSTR file, int cch, LPVOID findData, DWORD flags);
// Releases the object; returns the references left.
ULONG ShellLinkRelease(HSHELLLINK link);
