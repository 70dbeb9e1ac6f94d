#pragma once
// The windowed program from its command line to its end: mounts the machine, shows the
// home window and runs the event loop.

#include <QStringList>

class QCommandLineParser;

namespace ui {

// The windowed program's options (--machine DIR, --help, --version).
void DescribeOptions(QCommandLineParser& parser);

// Whether the command line asks only for the usage or the version, which are answered
// without a display.
bool AsksForHelpOrVersion(const QStringList& arguments);

// `arguments` is the command line, the program's name first. The program's exit status:
// 0 after the home window closed, 1 when the machine could not be mounted or its hives
// not written at the end (each said in a message box).
int RunHivewarden(const QStringList& arguments);

} // namespace ui
