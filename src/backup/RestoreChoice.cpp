#include "backup/RestoreChoice.h"

#include "registry/SplitFns.h"
#include "win32/files/Files.h"
#include "win32/shell/Shell.h"

#include <QByteArray>

#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool IsUndoFileName(const std::string& name) {
    return FindTextFrom(name, ".reg") != 0;
}

bool ImportRegFile(const std::string& file) {
    // The program's own folder lies outside the machine, where there are no short
    // names: such a path goes as it is (the editor takes the rest of its command line
    // as the file, spaces and all).
    std::string path = file;
    std::vector<char> shortPath(file.size() + 1);
    DWORD length = GetShortPathNameA(file.c_str(), shortPath.data(), DWORD(shortPath.size()));
    if (length >= shortPath.size()) {
        shortPath.resize(length);
        length = GetShortPathNameA(file.c_str(), shortPath.data(), DWORD(shortPath.size()));
    }
    if (length > 0 && length < shortPath.size())
        path.assign(shortPath.data(), length);
    const HINSTANCE started =
        ShellExecuteA(nullptr, nullptr, "REGEDIT", ("/SC /C " + path).c_str(), nullptr, SW_HIDE);
    return reinterpret_cast<INT_PTR>(started) > 32;
}

bool HasUndoFileHeader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info {};
    char head[128];
    ssize_t got = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got <= 0)
        return false;
    QByteArray text(head, got);
    if (text.startsWith("\xFF\xFE")) {
        // UTF-16LE: the header is plain ASCII, one byte in each unit.
        QByteArray narrow;
        for (qsizetype i = 2; i + 1 < text.size() && text[i + 1] == '\0'; i += 2)
            narrow.append(text[i]);
        text = narrow;
    } else if (text.startsWith("\xEF\xBB\xBF")) {
        text.remove(0, 3);
    }
    for (const std::string_view header : {"REGEDIT4", "Windows Registry Editor Version 5.00"}) {
        const QByteArray expected(header.data(), qsizetype(header.size()));
        if (text.startsWith(expected) &&
            (text.size() == expected.size() || text[expected.size()] == '\r' ||
             text[expected.size()] == '\n'))
            return true;
    }
    return false;
}
