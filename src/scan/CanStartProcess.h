#pragma once
// Judging a command line by whether Windows would start a process from it.

#include <string>

// True when a process can be created from the command line (no application name; the
// system's own parsing of quotes, arguments and the search for the program). The
// process is created suspended and ended at once, never run, and both its handles are
// closed. A command whose environment references must be expanded first (as Explorer
// expands a run command and an uninstaller its command) is tried expanded as well.
bool CanStartProcess(const std::string& commandLine);
