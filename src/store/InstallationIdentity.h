#pragma once
// What tells one Windows installation from another, wherever its partition is mounted:
// the name of the folder that keeps the program's files for it.

#include <string>

// For the booted machine, "Installation " and: its MachineGuid; else its computer name and install
// date; else the account domain of its user profiles ("S-1-5-21-a-b-c"); else "unidentified".
// Characters a folder name cannot hold become "_". Empty when no machine
// is booted.
std::string InstallationFolderName();
