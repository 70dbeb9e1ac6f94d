#pragma once
// Where tests make settings files that they change thousands of times. Every change is
// synced to disk, which takes milliseconds on a disk and nothing in a folder kept in
// memory (/dev/shm, where the machine has one); the files behave the same otherwise.

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace testing_support {

// A template for QTemporaryDir.
inline QString ScratchDirTemplate() {
    const QFileInfo memory("/dev/shm");
    const QString base =
        memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return base + "/hivewarden-XXXXXX";
}

} // namespace testing_support
