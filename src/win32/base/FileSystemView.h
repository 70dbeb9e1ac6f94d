#pragma once
// Which program's eyes a thread looks at a 64-bit installation's files with. The program
// is a 64-bit program of the machine; a reference a 32-bit program stored (in the 32-bit
// view of the registry) means what that program sees: %SystemRoot%\System32 is SysWOW64
// there, and %ProgramFiles% the "Program Files (x86)" folder. While a thread holds the
// 32-bit view, the file, process and environment functions resolve its paths as a 32-bit
// process's; on a 32-bit installation the view changes nothing.

namespace win32 {

enum class FileSystemView { Native, Wow64 };

// The calling thread's view; Native unless a ScopedFileSystemView is alive on it.
FileSystemView ThreadFileSystemView();

// Sets the calling thread's view for its lifetime, then restores the one before.
class ScopedFileSystemView {
public:
    explicit ScopedFileSystemView(FileSystemView view);
    ~ScopedFileSystemView();
    ScopedFileSystemView(const ScopedFileSystemView&) = delete;
    ScopedFileSystemView& operator=(const ScopedFileSystemView&) = delete;

private:
    FileSystemView previous_;
};

} // namespace win32
