#include "ui/RegistryEditorViewer.h"

#include "ui/RegistryViewer.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWindow>

namespace ui {

RegistryEditorViewer::RegistryEditorViewer(RegistryViewer& viewer) : viewer_(viewer) {
    win32::SetRegistryEditorWindow(this);
}

RegistryEditorViewer::~RegistryEditorViewer() {
    win32::SetRegistryEditorWindow(nullptr);
}

void RegistryEditorViewer::onViewerThread(const std::function<void()>& act) const {
    if (QThread::currentThread() == viewer_.thread())
        act();
    else
        QMetaObject::invokeMethod(&viewer_, act, Qt::BlockingQueuedConnection);
}

bool RegistryEditorViewer::isOpen() const {
    bool open = false;
    onViewerThread([&] { open = viewer_.isVisible(); });
    return open;
}

void RegistryEditorViewer::open() {
    // A closed editor starts anew, as a new process of it would: the registry as it is now.
    onViewerThread([&] {
        viewer_.Restart();
        viewer_.showNormal();
    });
}

void RegistryEditorViewer::show() {
    onViewerThread([&] {
        if (viewer_.isMinimized())
            viewer_.showNormal();
        else
            viewer_.show();
        // On Windows the editor is a program of its own, which no window of this program
        // blocks: the modal window that opens it (the wizard) lets it answer too.
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != &viewer_ && modal->windowHandle() && viewer_.windowHandle())
            viewer_.windowHandle()->setTransientParent(modal->windowHandle());
        viewer_.raise();
        viewer_.activateWindow();
    });
}

void RegistryEditorViewer::selectKey(const std::string& keyLocation) {
    onViewerThread([&] { viewer_.SelectKeyLocation(keyLocation); });
}

void RegistryEditorViewer::selectValue(const std::string& valueName) {
    onViewerThread([&] { viewer_.SelectValue(valueName); });
}

} // namespace ui
