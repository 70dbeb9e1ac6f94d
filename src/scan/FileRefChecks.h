#pragma once
// The checks scanners make of the file references registry values hold. Each is true
// when the reference is valid (the scanner records a problem when it is false), and
// true for an empty text. Only drive paths ("C:\...") are judged: a reference without
// a drive marker is valid without looking at the disk.

#include <string>

// A type library's path (Part of a COM registration): a folder when it ends in "\",
// else a file, whose trailing "\" and resource number (as in "x.dll\2") are dropped.
// Environment references are expanded first.
bool FileRefValid(const std::string& text);

// A list of folders that has been through ExpandEnvText: each folder must exist.
bool DirListValid(const std::string& text);

// Any string value: the folder of each drive path in it must exist, as a folder or a
// file. A path followed by arguments that hold backslashes is judged by the path.
bool PathListValid(const std::string& text);

// A service's image path: the ".exe" or ".sys" file it names must exist; a path
// beginning with "system32" is below the system root.
bool ServiceImageValid(const std::string& text);
