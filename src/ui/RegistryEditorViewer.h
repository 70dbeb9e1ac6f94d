#pragma once
// The registry viewer as the machine's registry editor window: while an object of this
// class lives, starting "regedit.exe" without a file opens the viewer, and
// OpenRegeditAt shows it at a key.

#include "win32/shell/RegistryEditor.h"

#include <functional>

namespace ui {

class RegistryViewer;

class RegistryEditorViewer : public win32::RegistryEditorWindow {
public:
    // Registers the viewer as the editor's window; the viewer must outlive this object.
    explicit RegistryEditorViewer(RegistryViewer& viewer);
    // Unregisters it.
    ~RegistryEditorViewer() override;
    RegistryEditorViewer(const RegistryEditorViewer&) = delete;
    RegistryEditorViewer& operator=(const RegistryEditorViewer&) = delete;

    bool isOpen() const override;
    void open() override;
    void show() override;
    void selectKey(const std::string& keyLocation) override;
    void selectValue(const std::string& valueName) override;

private:
    // Runs `act` on the viewer's thread, waiting for it: a window is only touched there.
    void onViewerThread(const std::function<void()>& act) const;

    RegistryViewer& viewer_;
};

} // namespace ui
