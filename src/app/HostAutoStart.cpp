#include "app/HostAutoStart.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace app {

namespace {

// One argument of an Exec key: quoted, with the characters the freedesktop Desktop Entry
// format reserves inside quotes escaped by a backslash.
QString quotedArgument(const QString& argument) {
    QString quoted = "\"";
    for (const QChar c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// A value of the string type: backslashes, line breaks and tabs escaped; a percent sign
// of an Exec key doubled, as field codes start with one.
QString escapedValue(const QString& value, bool exec) {
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '%':
            escaped += exec ? "%%" : "%";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

QString AutoStartFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/autostart";
}

QString AutoStartEntryPath(const QString& machineFolder) {
    const QByteArray digest =
        QCryptographicHash::hash(machineFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return AutoStartFolder() + "/hivewarden-" + QString::fromLatin1(digest.left(16)) + ".desktop";
}

bool SetHostAutoStart(const QString& machineFolder, const QString& program, bool enable,
                      QString& error) {
    const QString path = AutoStartEntryPath(machineFolder);
    if (!enable) {
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            return true;
        QFile entry(path);
        if (entry.remove())
            return true;
        error = "The autostart entry " + path + " cannot be removed: " + entry.errorString();
        return false;
    }
    if (!QDir().mkpath(AutoStartFolder())) {
        error = "The folder " + AutoStartFolder() + " cannot be made";
        return false;
    }
    const QString exec = quotedArgument(program) + " --machine " + quotedArgument(machineFolder);
    const QString text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Hivewarden\n"
        "Comment=" +
        escapedValue("Registry maintenance of the Windows installation in " + machineFolder,
                     false) +
        "\n"
        "Exec=" +
        escapedValue(exec, true) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    // Written whole or not at all.
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(text.toUtf8()) < 0 || !entry.commit()) {
        error = "The autostart entry " + path + " cannot be written: " + entry.errorString();
        return false;
    }
    return true;
}

} // namespace app
