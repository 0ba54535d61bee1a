#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The session manager's list of renames and deletions for the next restart (PendingFileRenameOperations),
// read and written here only.
//
// The one matching rule: an operation concerns a path when its source or its target is the path or lies below
// it. Entries are read as the session manager writes them ("\??\C:\..." or plain, a replacing rename's target
// marked with a leading "!"), and whole components are compared without regard to case (IsInFolder). Targets
// count because a rename into a folder brings a file back there at the restart.
namespace PendingRenames {

// True when an operation concerns the path; false for an empty or relative path.
bool Concerns(const std::wstring& path);

// Removes every operation that concerns the path and returns how many went; nothing when the list cannot be
// read, is not made of source and target pairs, or cannot be written back, or when the path is empty.
std::optional<size_t> RemoveConcerning(const std::wstring& path);

} // namespace PendingRenames
