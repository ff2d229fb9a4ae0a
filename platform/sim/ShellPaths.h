// Path editing as shlwapi does it, in portable code over MAX_PATH buffers.
#pragma once

namespace platform::sim {

/// PathRemoveFileSpecW: cuts the path at its last backslash (keeping a root's backslash);
/// true when something was removed.
bool RemoveFileSpec(char16_t* path);

/// PathAddBackslashW: appends a backslash unless the path is empty or already ends in one.
/// Returns the terminator's address, or null when the path has no room (MAX_PATH buffer).
char16_t* AddBackslash(char16_t* path);

/// PathAppendW: leading backslashes of more are skipped (unless it is a UNC path), the two are
/// joined with one backslash and the result canonicalised. A result that would not fit in
/// MAX_PATH units empties path and gives false.
bool Append(char16_t* path, const char16_t* more);

}  // namespace platform::sim
