#pragma once
// Directory listing for folder scans: one pass of readdir with a stat per entry that the
// caller wants, relative to the open directory (no path building per file).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_sys.h"

namespace fv {

// Ok: the whole directory was listed; NotFound: it does not exist (or is not a directory);
// Failed: it exists but could not be opened or read to the end
using TDirScanResult = TDirListResult;
// IsFile: regular file (symbolic links are followed); ReadOnly: the owner may not write
using TDirEntryFacts = TFileFacts;

// Calls `wantName` with each name (not "." and ".."); for names it answers true, the
// entry is stat'ed and `onEntry` receives its facts. An entry that vanishes between
// listing and stat is skipped. Names are handed over byte for byte.
TDirScanResult ScanDirectory(const std::string& path, const std::function<bool(std::string_view name, bool maybeDir)>& wantName,
                             const std::function<void(std::string_view name, const TDirEntryFacts& facts)>& onEntry);

// Facts of one path (following links); false when it does not exist.
bool StatPath(const std::string& path, TDirEntryFacts& facts);

}  // namespace fv
