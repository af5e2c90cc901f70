#include "library/dir_scan.h"

namespace fv {

TDirScanResult ScanDirectory(const std::string& path, const std::function<bool(std::string_view, bool)>& wantName,
                             const std::function<void(std::string_view, const TDirEntryFacts&)>& onEntry) {
    return ListDirectory(path, wantName, onEntry);
}

bool StatPath(const std::string& path, TDirEntryFacts& facts) { return ReadFileFacts(path, facts); }

}  // namespace fv
