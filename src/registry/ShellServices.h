#pragma once
// The shell's services the scanners and the wizard use: special folders, shortcuts,
// environment variables and the recycle bin.

#include <stdexcept>
#include <string>

// The shell-link object could not be made.
class EShellLinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The path of a shell folder (2 the user's start-menu programs, 20 fonts, 23 the common
// start-menu programs, ...); empty when there is none.
std::string SpecialFolderPath(int folderId);
// The target path of a shortcut file, or "unable to resolve link" when it cannot be
// loaded, resolved or asked for its path. Throws EShellLinkError when the shell-link
// object cannot be made.
std::string ResolveShortcut(const std::string& linkFile);
// The value of %NAME% (the name upper-cased); an unset variable comes back as
// "%NAME%", unexpanded.
std::string ExpandEnvVar(const std::string& name);
// Moves a file or folder to the recycle bin (a link goes itself, not what it leads to);
// false when that failed, or for a full path longer than 255 characters (nothing is
// deleted then). A relative Windows path is taken from the current folder.
bool DeleteToRecycleBin(const std::string& path);
