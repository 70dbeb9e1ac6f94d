#pragma once
// The program's own pages, opened on the host: the manual installed beside the program,
// shown in the desktop's browser.

#include <QString>
#include <QUrl>
#include <functional>

namespace ui {

// The manual's folder: "manual" beside the executable, else the installed share folder.
// Empty when neither holds the manual.
QString ManualFolder();

// A page of the manual ("index.html", the program's home page until it has a web address,
// or "manual.html"); an empty URL when the manual is not installed.
QUrl ManualPage(const QString& page);

// Opens `url` with the desktop's handler. True when the desktop took it.
bool OpenOnHost(const QUrl& url);

// Tests record what would be opened instead; an empty function restores the desktop.
void SetHostOpener(std::function<bool(const QUrl&)> opener);

} // namespace ui
