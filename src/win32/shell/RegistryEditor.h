#pragma once
// The machine's registry editor ("regedit.exe"): the layer's .reg importer, and the
// registry viewer window of the windowed program, which registers it here.
//
// Started with a file ("/S", "/C" and "/SC" switches, then the file as a Windows path on
// one of the machine's drives or an absolute host path in which "\" separates too,
// quoted or not), the editor
// imports the file on a thread of its own and the start returns at once. "/C", which on
// Windows 95 replaces the whole registry with the file, merges the file like any other
// import: nothing is ever wiped. Started without a file, it opens its window.

#include "win32/base/WinTypes.h"
#include "win32/registry/RegFileParser.h"

#include <string>
#include <vector>

namespace win32 {

// The editor's main window (class "RegEdit_RegEdit") with its key tree and value list.
// The methods are called on the thread that drives the editor.
class RegistryEditorWindow {
public:
    virtual ~RegistryEditorWindow() = default;
    // Whether the window exists (FindWindow finds it).
    virtual bool isOpen() const = 0;
    // The editor starts: creates its window and shows it.
    virtual void open() = 0;
    // Shows the window and brings it to the foreground.
    virtual void show() = 0;
    // Selects the key at a key location ("HKEY_LOCAL_MACHINE\SOFTWARE\..." in the ANSI
    // code page) in the tree, as far as the tree has it.
    virtual void selectKey(const std::string& keyLocation) = 0;
    // Selects a value of the selected key in the value list.
    virtual void selectValue(const std::string& valueName) = 0;
};

// Registers the window (null removes it). The window must outlive its registration.
void SetRegistryEditorWindow(RegistryEditorWindow* window);
// The open editor window; null when none is registered or it is not open.
RegistryEditorWindow* FindRegistryEditorWindow();

// Starts the editor with a command line's parameters, as ShellExecute does: a value
// above 32 when it started; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND for a file that
// is not there, ERROR_BAD_FORMAT for switches the editor does not take here (export,
// delete), SE_ERR_NOASSOC when it should open its window and there is none.
INT_PTR StartRegistryEditor(const std::string& parameters);

struct RegistryImportOutcome {
    std::string file; // host path
    bool imported = false;
    int applied = 0;
    std::vector<RegFileProblem> problems; // lines skipped
    std::string error;                    // why nothing was imported
};

// Waits until every import started so far has ended; their outcomes in start order.
// Each outcome is given once.
std::vector<RegistryImportOutcome> WaitForRegistryImports();
// Waits as well, keeping the outcomes for WaitForRegistryImports (the machine's shutdown
// uses it before it writes the hives).
void FinishRegistryImports();

} // namespace win32
