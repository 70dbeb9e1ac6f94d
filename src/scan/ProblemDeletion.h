#pragma once
// Deleting what a problem record names, after saving it to the undo file.

#include <string>

// Deletes the key named by the root and the first `depth` components of `keyLocation`
// after it (all of them when `depth` is negative), with its whole tree. With an undo
// file named, the key is appended to it first, even when it is gone already. True when
// the key is gone afterwards; false when the location has fewer components than asked
// for, or the deletion failed even after the user was granted access to the key.
// Export errors (EExportError) reach the caller, and nothing is deleted then.
bool DeleteKeyAtDepth(const std::string& keyLocation, int depth, const std::string& undoFile);
inline constexpr int kFullDepth = -1;
// The location (root name, "\\", path) of the key DeleteKeyAtDepth deletes for these
// arguments; empty when it deletes none.
std::string KeyLocationAtDepth(const std::string& keyLocation, int depth);

// Deletes one value of the key `keyLocation`, after appending it to the undo file when one
// is named. False when the key or the value does not exist, or the deletion failed even
// after the user was granted access to the key. Export errors reach the caller.
bool DeleteProblemValue(const std::string& keyLocation, const std::string& valueName,
                        const std::string& undoFile);

// Repairs a stale file association: the extension key with its tree when it holds nothing
// but its default value, else the default value alone, so that the key's content type,
// perceived type and handlers stay. The undo file then receives the whole key, which
// brings the value back beside them. False as for the two functions above.
bool DeleteAssociation(const std::string& keyLocation, const std::string& undoFile);
