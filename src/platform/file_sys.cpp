#include "platform/file_sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace fv {

namespace {

void FillFacts(const struct stat& st, TFileFacts& f) {
    f.IsDirectory = S_ISDIR(st.st_mode);
    f.IsFile = S_ISREG(st.st_mode);
    f.Size = static_cast<int64_t>(st.st_size);
    f.MTimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    f.MTimeNsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    f.ReadOnly = (st.st_mode & S_IWUSR) == 0;
    f.Device = static_cast<uint64_t>(st.st_dev);
}

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

}  // namespace

bool ReadFileFacts(const std::string& path, TFileFacts& out) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    FillFacts(st, out);
    return true;
}

bool IsDirectoryPath(const std::string& path) {
    TFileFacts f;
    return ReadFileFacts(path, f) && f.IsDirectory;
}

bool IsRegularFilePath(const std::string& path) {
    TFileFacts f;
    return ReadFileFacts(path, f) && f.IsFile;
}

bool IsSymbolicLinkPath(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TDirListResult ListDirectory(const std::string& path,
                             const std::function<bool(std::string_view, bool)>& wantName,
                             const std::function<void(std::string_view, const TFileFacts&)>& onEntry) {
    int fd = ::open(path.empty() ? "/" : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? TDirListResult::NotFound : TDirListResult::Failed;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return TDirListResult::Failed;
    }
    TDirListResult result = TDirListResult::Ok;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0) result = TDirListResult::Failed;
            break;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        std::string_view name(n);
        bool maybeDir = e->d_type == DT_DIR || e->d_type == DT_UNKNOWN || e->d_type == DT_LNK;
        if (!wantName(name, maybeDir)) continue;
        struct stat st;
        if (::fstatat(fd, n, &st, 0) != 0) continue;  // vanished or a dangling link
        TFileFacts facts;
        FillFacts(st, facts);
        onEntry(name, facts);
    }
    ::closedir(dir);
    return result;
}

bool MakeDirectory(const std::string& path, unsigned mode) {
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) return true;
    return errno == EEXIST && IsDirectoryPath(path);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool HasAccess(const std::string& path, int accessBits) {
    int mode = ((accessBits & kAccessRead) ? R_OK : 0) | ((accessBits & kAccessWrite) ? W_OK : 0) |
               ((accessBits & kAccessExecute) ? X_OK : 0);
    return ::access(path.c_str(), mode == 0 ? F_OK : mode) == 0;
}

std::string ResolvedPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string ThisHostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

namespace {
// one field of a user's entry in the user database, "" when there is none
std::string UserField(uid_t uid, char* passwd::*field) {
    passwd pw{};
    passwd* res = nullptr;
    char buf[4096];
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &res) != 0 || !res || !(res->*field)) return {};
    return res->*field;
}
}  // namespace

std::string ThisUserName() { return UserField(::geteuid(), &passwd::pw_name); }

std::string ThisUserHomeFolder() { return UserField(::getuid(), &passwd::pw_dir); }

int ThisProcessId() { return static_cast<int>(::getpid()); }

TFileTimeResult ReadModificationTime(const std::string& path, int64_t& sec, int32_t& nsec) {
    TFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (fd.Get() < 0) return TFileTimeResult::OpenFailed;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) return TFileTimeResult::Failed;
    sec = static_cast<int64_t>(st.st_mtim.tv_sec);
    nsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return TFileTimeResult::Ok;
}

TFileTimeResult WriteModificationTime(const std::string& path, int64_t sec, int32_t nsec, int64_t& storedSec,
                                      int32_t& storedNsec) {
    TFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) return TFileTimeResult::OpenFailed;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time untouched
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = static_cast<long>(nsec);
    if (::futimens(fd.Get(), times) != 0) return TFileTimeResult::Failed;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) return TFileTimeResult::Failed;
    storedSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    storedNsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return TFileTimeResult::Ok;
}

bool TAppendFile::Open(const std::string& path, unsigned mode) {
    Close();
    FHandle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, static_cast<mode_t>(mode));
    return FHandle >= 0;
}

bool TAppendFile::Write(std::string_view text) {
    if (FHandle < 0) {
        errno = EBADF;
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(FHandle, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void TAppendFile::Close() noexcept {
    if (FHandle < 0) return;
    ::close(FHandle);
    FHandle = -1;
}

}  // namespace fv
