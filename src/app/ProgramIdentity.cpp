#include "app/ProgramIdentity.h"

#include <QCoreApplication>

namespace app {

QString ProgramVersion() {
    return QStringLiteral(HW_PROGRAM_VERSION);
}

void NameProgram() {
    QCoreApplication::setApplicationName(kApplicationName);
    QCoreApplication::setApplicationVersion(ProgramVersion());
}

} // namespace app
