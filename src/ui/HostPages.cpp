#include "ui/HostPages.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace ui {

namespace {

std::function<bool(const QUrl&)>& hostOpener() {
    static std::function<bool(const QUrl&)> opener;
    return opener;
}

} // namespace

QString ManualFolder() {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& folder : {here + "/manual", here + "/../share/hivewarden/manual"})
        if (QFileInfo::exists(folder + "/index.html"))
            return QDir(folder).canonicalPath();
    return {};
}

QUrl ManualPage(const QString& page) {
    const QString folder = ManualFolder();
    if (folder.isEmpty() || !QFileInfo::exists(folder + "/" + page))
        return {};
    return QUrl::fromLocalFile(folder + "/" + page);
}

bool OpenOnHost(const QUrl& url) {
    if (hostOpener())
        return hostOpener()(url);
    return QDesktopServices::openUrl(url);
}

void SetHostOpener(std::function<bool(const QUrl&)> opener) {
    hostOpener() = std::move(opener);
}

} // namespace ui
