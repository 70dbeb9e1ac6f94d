#include "win32/base/ErrorText.h"

namespace win32 {

std::string SystemErrorText(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough storage is available to process this command.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_BAD_PATHNAME:
        return "The specified path is invalid.";
    case ERROR_ALREADY_EXISTS:
        return "Cannot create a file when that file already exists.";
    case ERROR_MORE_DATA:
        return "More data is available.";
    case ERROR_NO_MORE_ITEMS:
        return "No more data is available.";
    case ERROR_NOACCESS:
        return "Invalid access to memory location.";
    case ERROR_BADDB:
        return "The configuration registry database is corrupt.";
    case ERROR_BADKEY:
        return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN:
        return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD:
        return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE:
        return "The configuration registry key could not be written.";
    case ERROR_REGISTRY_IO_FAILED:
        return "An I/O operation initiated by the registry failed unrecoverably. The registry "
               "could not read in, or write out, or flush, one of the files that contain the "
               "system's image of the registry.";
    case ERROR_NOT_REGISTRY_FILE:
        return "The system has attempted to load or restore a file into the registry, but the "
               "specified file is not in a registry file format.";
    case ERROR_KEY_DELETED:
        return "Illegal operation attempted on a registry key that has been "
               "marked for deletion.";
    case ERROR_CHILD_MUST_BE_VOLATILE:
        return "Cannot create a stable subkey under a volatile parent key.";
    case ERROR_PRIVILEGE_NOT_HELD:
        return "A required privilege is not held by the client.";
    case ERROR_NO_MORE_FILES:
        return "There are no more files.";
    case ERROR_WRITE_PROTECT:
        return "The media is write protected.";
    case ERROR_NOT_READY:
        return "The device is not ready.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS:
        return "The file exists.";
    case ERROR_DISK_FULL:
        return "There is not enough space on the disk.";
    case ERROR_INSUFFICIENT_BUFFER:
        return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_MOD_NOT_FOUND:
        return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND:
        return "The specified procedure could not be found.";
    case ERROR_DIR_NOT_EMPTY:
        return "The directory is not empty.";
    case ERROR_BAD_EXE_FORMAT:
        return "The specified program is not a valid application.";
    case ERROR_ENVVAR_NOT_FOUND:
        return "The system could not find the environment option that was entered.";
    case ERROR_FILENAME_EXCED_RANGE:
        return "The filename or extension is too long.";
    case ERROR_DIRECTORY:
        return "The directory name is invalid.";
    case ERROR_NOT_ALL_ASSIGNED:
        return "Not all privileges or groups referenced are assigned to the caller.";
    case ERROR_NO_SUCH_PRIVILEGE:
        return "A specified privilege does not exist.";
    case ERROR_NONE_MAPPED:
        return "No mapping between account names and security IDs was done.";
    case ERROR_INVALID_ACL:
        return "The access control list (ACL) structure is invalid.";
    case ERROR_INVALID_SID:
        return "The security ID structure is invalid.";
    case ERROR_INVALID_SECURITY_DESCR:
        return "The security descriptor structure is invalid.";
    default:
        return "Error " + std::to_string(code) + ".";
    }
}

} // namespace win32
