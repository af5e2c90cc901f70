#include "library/dir_scan.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fv {

namespace {

void FillFacts(const struct stat& st, TDirEntryFacts& f) {
    f.IsDirectory = S_ISDIR(st.st_mode);
    f.IsFile = S_ISREG(st.st_mode);
    f.Size = static_cast<int64_t>(st.st_size);
    f.MTimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    f.MTimeNsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    f.ReadOnly = (st.st_mode & S_IWUSR) == 0;
}

}  // namespace

TDirScanResult ScanDirectory(const std::string& path, const std::function<bool(std::string_view, bool)>& wantName,
                             const std::function<void(std::string_view, const TDirEntryFacts&)>& onEntry) {
    int fd = ::open(path.empty() ? "/" : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? TDirScanResult::NotFound : TDirScanResult::Failed;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return TDirScanResult::Failed;
    }
    TDirScanResult result = TDirScanResult::Ok;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0) result = TDirScanResult::Failed;
            break;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        std::string_view name(n);
        bool maybeDir = e->d_type == DT_DIR || e->d_type == DT_UNKNOWN || e->d_type == DT_LNK;
        if (!wantName(name, maybeDir)) continue;
        struct stat st;
        if (::fstatat(fd, n, &st, 0) != 0) continue;  // vanished or a dangling link
        TDirEntryFacts facts;
        FillFacts(st, facts);
        onEntry(name, facts);
    }
    ::closedir(dir);
    return result;
}

bool StatPath(const std::string& path, TDirEntryFacts& facts) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    FillFacts(st, facts);
    return true;
}

}  // namespace fv
