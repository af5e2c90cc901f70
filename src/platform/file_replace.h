#pragma once
// Files that are written whole and must never be seen half-written or by other users:
// the content goes to a temporary file beside the target, which then replaces the target.
#include <cstddef>
#include <string>

namespace fv {

// Writes the bytes to a new temporary file in the target's folder with the given permission bits
// (from creation on, not after), flushes it to disk and renames it over the target. Raises
// EFCreateError when the temporary file cannot be made and EWriteError when writing or the rename
// fails; the temporary file never stays behind.
void ReplaceFileContents(const std::string& path, const void* data, size_t size, unsigned mode);

// Permission bits of an existing file (for example 0700 to make it executable by its owner only).
bool SetFileMode(const std::string& path, unsigned mode);
// Renames over an existing target in one step; false (errno kept) when it fails.
bool RenameReplacing(const std::string& from, const std::string& to);
// Size of a regular file, -1 when it does not exist or is no regular file.
long long RegularFileSize(const std::string& path);

}  // namespace fv
