#include "win32/system/MemoryStatus.h"

#include <QFile>
#include <sys/resource.h>
#include <sys/sysinfo.h>

namespace {

// A "Name: value kB" line of /proc files, in bytes; -1 when absent.
long long procValue(const char* file, const QByteArray& name) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith(name + ":"))
            continue;
        const QList<QByteArray> fields = line.mid(name.size() + 1).simplified().split(' ');
        bool ok = false;
        const long long value = fields.value(0).toLongLong(&ok);
        if (!ok)
            return -1;
        return fields.value(1) == "kB" ? value * 1024 : value;
    }
    return -1;
}

} // namespace

void GlobalMemoryStatus(LPMEMORYSTATUS lpBuffer) {
    if (!lpBuffer)
        return;
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        const SIZE_T unit = info.mem_unit ? info.mem_unit : 1;
        status.dwTotalPhys = SIZE_T(info.totalram) * unit;
        // MemAvailable counts the caches the kernel gives back, as Windows counts them.
        const long long available = procValue("/proc/meminfo", "MemAvailable");
        status.dwAvailPhys = available >= 0 ? SIZE_T(available) : SIZE_T(info.freeram) * unit;
        status.dwTotalPageFile = status.dwTotalPhys + SIZE_T(info.totalswap) * unit;
        status.dwAvailPageFile = status.dwAvailPhys + SIZE_T(info.freeswap) * unit;
        if (status.dwTotalPhys)
            status.dwMemoryLoad = DWORD(100 - (status.dwAvailPhys * 100 + status.dwTotalPhys / 2) /
                                                  status.dwTotalPhys);
    }
    // The user part of a 64-bit Linux process's address space, unless a limit narrows it.
    SIZE_T total = SIZE_T(0x7FFFFFFFF000);
    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        SIZE_T(limit.rlim_cur) < total)
        total = SIZE_T(limit.rlim_cur);
    const long long used = procValue("/proc/self/status", "VmSize");
    status.dwTotalVirtual = total;
    status.dwAvailVirtual = used >= 0 && SIZE_T(used) < total ? total - SIZE_T(used) : 0;
    *lpBuffer = status;
}
