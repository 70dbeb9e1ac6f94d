#include "registry/RegeditDriver.h"

#include "win32/shell/RegistryEditor.h"
#include "win32/shell/Shell.h"

// On Windows the editor is driven by key presses into its tree and list, with waits for
// it to start (750 ms) and to fill its list (1500 ms). The editor here is the program's
// own registry viewer: it is ready when the calls return, so the waits are not needed,
// and the key and value are handed over whole instead of typed.
bool OpenRegeditAt(const std::string& keyLocation, const std::string& valueName) {
    win32::RegistryEditorWindow* editor = win32::FindRegistryEditorWindow();
    if (!editor) {
        ShellExecuteA(nullptr, "open", "regedit.exe", nullptr, nullptr, SW_SHOWNORMAL);
        editor = win32::FindRegistryEditorWindow();
        if (!editor)
            return false;
    }
    editor->show();
    editor->selectKey(keyLocation);
    if (!valueName.empty())
        editor->selectValue(valueName);
    editor->show();
    return true;
}
