#pragma once
// A new, empty Windows installation: the five config hives and one user's two hives
// at the places Windows XP keeps them, with the keys Windows needs to mount them.

#include <string>

namespace win32 {

struct NewMachine {
    std::string version = "5.1.2600"; // major.minor.build
    std::string servicePack = "Service Pack 2";
    std::string user = "Administrator";
    // Vista's layout: the profiles in C:\Users (the user's classes in AppData\Local),
    // the common profile in C:\ProgramData; else that of XP, in C:\Documents and Settings.
    bool usersFolder = false;
};

// Creates the installation in `folder` (created when missing; it must be empty).
// Throws std::runtime_error naming the folder or file that could not be made.
// Returns the user's SID.
std::string CreateMachine(const std::string& folder, const NewMachine& options);

} // namespace win32
