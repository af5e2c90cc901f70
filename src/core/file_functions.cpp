#include "core/file_functions.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/shell.h"
#include "version_info.h"

namespace fv {
namespace {

// seconds between 1601-01-01 and 1970-01-01
constexpr int64_t kFileTimeUnixDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string HomeFolder() {
    std::string h = EnvOr("HOME", "");
    if (h.empty()) {
        if (passwd* pw = ::getpwuid(::getuid())) h = pw->pw_dir ? pw->pw_dir : "";
    }
    return ExcludeTrailingPathDelimiters(h);
}

// XDG_<key>_DIR from user-dirs.dirs, or $HOME/<fallback>
std::string UserDir(const char* key, const char* fallback) {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    std::string conf = EnvOr("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs";
    std::ifstream in(conf);
    std::string line, want = std::string("XDG_") + key + "_DIR=";
    while (std::getline(in, line)) {
        size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line[p] == '#') continue;
        if (line.compare(p, want.size(), want) != 0) continue;
        std::string v = line.substr(p + want.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
        if (!v.empty() && v[0] == '/') return ExcludeTrailingPathDelimiters(v);
    }
    return home + "/" + fallback;
}

struct VersionEntry {
    const char* Value;
};
const char* const kVersionKeys[10] = {"CompanyName",     "FileDescription",  "FileVersion", "InternalName",
                                      "LegalCopyright",  "LegalTrademarks",  "OriginalFilename",
                                      "ProductName",     "ProductVersion",   "Comments"};
const char* const kVersionValues[10] = {
    "Kestrona",           "Folvane Browser", FV_VERSION_STRING,   "folvane-browser",
    "Copyright (C) Kestrona", "",            "folvane-browser",   "Folvane Browser",
    FV_VERSION_STRING,    ""};

std::string RealPath(const std::string& p) {
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

[[noreturn]] void RaiseOpenFailed(const std::string& file) {
    throw EFileFunctionsError(Format("ファイルのオープンに失敗しました。( %s )", file.c_str()));
}

// "%s Raised in %s. ( %s )" around whatever a file-time operation raised
[[noreturn]] void RaiseWrapped(const char* operation, const std::exception& e) {
    throw EFileFunctionsError(
        Format("%s Raised in %s. ( %s )", ExceptionClassName(e).c_str(), operation, e.what()));
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

// Setting a time needs the file open for writing. Reading one needs no access to the content at
// all (O_PATH): read-only media, read-only files and folders all have a modification time.
int OpenForTimes(const std::string& file, bool writing) {
    int fd = writing ? ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)
                     : ::open(file.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) RaiseOpenFailed(file);
    return fd;
}

TDateTime StatToDateTime(const struct stat& st) {
    return FileTimeToDateTimeEx(UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
}

}  // namespace

std::string GetComputerNameStr() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "Unknown";
    return buf;
}

std::string GetUserNameStr() {
    passwd pw{};
    passwd* res = nullptr;
    char buf[4096];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &res) != 0 || !res || !res->pw_name) return "Unknown";
    return res->pw_name;
}

std::string GetSpecialFolder(int folderCode) {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    switch (folderCode) {
        case CSIDL_DESKTOP: return UserDir("DESKTOP", "Desktop");
        case CSIDL_PERSONAL: return UserDir("DOCUMENTS", "Documents");
        case CSIDL_MYPICTURES: return UserDir("PICTURES", "Pictures");
        case CSIDL_MYMUSIC: return UserDir("MUSIC", "Music");
        case CSIDL_APPDATA:
        case CSIDL_LOCAL_APPDATA: return ExcludeTrailingPathDelimiters(EnvOr("XDG_DATA_HOME", home + "/.local/share"));
        case CSIDL_PROGRAMS:
            return ExcludeTrailingPathDelimiters(EnvOr("XDG_DATA_HOME", home + "/.local/share")) + "/applications";
        default: return {};
    }
}

std::string GetMyDocumentsFolder() { return GetSpecialFolder(CSIDL_PERSONAL); }
std::string GetMyPicturesFolder() { return GetSpecialFolder(CSIDL_MYPICTURES); }
std::string GetDesktopFolder() { return GetSpecialFolder(CSIDL_DESKTOP); }
std::string GetAppDataFolder() { return GetSpecialFolder(CSIDL_APPDATA); }

std::string ExcludeLeadingPathDelimiters(const std::string& s) {
    size_t p = s.find_first_not_of(kPathDelim);
    return p == std::string::npos ? std::string() : s.substr(p);
}

std::string ExcludeTrailingPathDelimiters(const std::string& s) {
    size_t p = s.find_last_not_of(kPathDelim);
    return p == std::string::npos ? std::string() : s.substr(0, p + 1);
}

std::string IncludeLeadingPathDelimiter(const std::string& s) {
    return kPathDelim + ExcludeLeadingPathDelimiters(s);
}

std::string IncludeTrailingPathDelimiter(const std::string& s) {
    return ExcludeTrailingPathDelimiters(s) + kPathDelim;
}

std::string SlashToBackslash(const std::string& s) { return s; }

std::string ReplaceInvalidFileNameChars(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        switch (c) {
            case '"': case '*': case '?': case '\\': case '/': case ':': case '<': case '>': case '|':
                c = '-';
                break;
            default: break;
        }
    }
    return out;
}

namespace {
// Segment walk after the root: "." skipped, ".." back to the parent (never above the root),
// anything else (an empty segment included) appended after exactly one delimiter.
std::string NormalisePath(const std::string& path) {
    std::string gathered;
    size_t pos = 0;
    // a relative text's first segment starts at 0, an absolute one's after the root
    if (!path.empty() && path[0] == kPathDelim) pos = 1;
    while (true) {
        size_t next = path.find(kPathDelim, pos);
        std::string seg = path.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (seg == ".") {
        } else if (seg == "..") {
            std::string t = ExcludeTrailingPathDelimiters(gathered);
            size_t cut = t.find_last_of(kPathDelim);
            gathered = cut == std::string::npos ? std::string() : t.substr(0, cut);
        } else {
            if (gathered.empty() || gathered.back() != kPathDelim) gathered += kPathDelim;
            gathered += seg;
        }
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return IncludeLeadingPathDelimiter(gathered);
}
}  // namespace

std::string ExpandRelativePath(const std::string& baseFolder, const std::string& path) {
    std::string base = SlashToBackslash(baseFolder);
    std::string p = SlashToBackslash(path);
    if (!p.empty() && p[0] == kPathDelim) return IncludeTrailingPathDelimiter(NormalisePath(p));
    return NormalisePath(IncludeTrailingPathDelimiter(base) + ExcludeLeadingPathDelimiters(p));
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    std::string p = ExcludeTrailingPathDelimiters(path);
    if (p.empty()) return DirectoryExists("/");
    if (DirectoryExists(p)) return true;
    size_t slash = p.find_last_of(kPathDelim);
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(p.substr(0, slash))) return false;
    if (::mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) return false;
    return DirectoryExists(p);
}

std::string GetShortPath(const std::string& path) {
    if (path.empty()) return {};
    std::string r = ExcludeTrailingPathDelimiters(path);
    return r.empty() ? std::string("/") : r;
}

std::string GetLongPath(const std::string& path) { return GetShortPath(path); }

bool GetDriveInfo(const std::string& path, TDriveInfoRec& info) {
    info.DriveType = DRIVE_NO_ROOT_DIR;
    info.SerialNumber = 0xFFFFFFFFu;
    info.VolumeName = "Unknown";
    info.Drive.clear();
    try {
        TMountEntry m;
        if (!FindMountFor(ReadMountTable(), path, m)) return false;
        info.Drive = m.MountPoint == "/" ? m.MountPoint : ExcludeTrailingPathDelimiters(m.MountPoint);
        info.DriveType = DriveTypeOf(m);
        TVolumeFacts facts;
        if (!ReadVolumeFacts(m, facts)) return false;
        info.SerialNumber = facts.Serial;
        // a volume without a label is named "Unknown", like one whose facts cannot be read
        info.VolumeName = facts.Label.empty() ? std::string("Unknown") : facts.Label;
        return true;
    } catch (...) {
        info.SerialNumber = 0xFFFFFFFFu;
        info.VolumeName = "Unknown";
        return false;
    }
}

bool IsSubFolder(const std::string& parent, const std::string& child) {
    std::string p = IncludeTrailingPathDelimiter(parent);
    std::string c = IncludeTrailingPathDelimiter(child);
    if (p == c) return false;
    return c.compare(0, p.size(), p) == 0;
}

bool IsFloppyDrive(const std::string& path) {
    try {
        // a removable drive whose device is a floppy controller's (/dev/fd0 and so on)
        TMountEntry m;
        if (!FindMountFor(ReadMountTable(), path, m) || DriveTypeOf(m) != DRIVE_REMOVABLE) return false;
        return m.Source.size() > 7 && m.Source.compare(0, 7, "/dev/fd") == 0 && std::isdigit(static_cast<unsigned char>(m.Source[7]));
    } catch (...) {
        return false;
    }
}

uint32_t GetShellAttributes(const std::string& folder) {
    std::string f = ExcludeTrailingPathDelimiters(folder);
    if (f.empty()) f.push_back(kPathDelim);
    struct stat st {};
    if (::stat(f.c_str(), &st) != 0) return 0;
    uint32_t attrs = SFGAO_FILESYSTEM;
    if (S_ISDIR(st.st_mode)) attrs |= SFGAO_FOLDER;
    if (::access(f.c_str(), R_OK | (S_ISDIR(st.st_mode) ? X_OK : 0)) == 0) attrs |= SFGAO_CANCOPY;
    // moving, deleting and renaming need write access to the parent; a mount point stays put
    if (f != "/") {
        size_t slash = f.find_last_of('/');
        std::string parent = slash == std::string::npos || slash == 0 ? std::string("/") : f.substr(0, slash);
        struct stat pst {};
        bool mountRoot = ::stat(parent.c_str(), &pst) == 0 && pst.st_dev != st.st_dev;
        if (!mountRoot && ::access(parent.c_str(), W_OK | X_OK) == 0)
            attrs |= SFGAO_CANMOVE | SFGAO_CANDELETE | SFGAO_CANRENAME;
    }
    return attrs;
}

bool IsFileSystemFolder(const std::string& folder) {
    uint32_t a = GetShellAttributes(folder);
    return (a & SFGAO_FOLDER) && (a & SFGAO_FILESYSTEM);
}

static bool FolderWith(const std::string& folder, uint32_t bit) {
    uint32_t a = GetShellAttributes(folder);
    return (a & SFGAO_FOLDER) && (a & SFGAO_FILESYSTEM) && (a & bit);
}

bool CanCopyFolder(const std::string& folder) { return FolderWith(folder, SFGAO_CANCOPY); }
bool CanMoveFolder(const std::string& folder) { return FolderWith(folder, SFGAO_CANMOVE); }
bool CanDeleteFolder(const std::string& folder) { return FolderWith(folder, SFGAO_CANDELETE); }
bool CanRenameFolder(const std::string& folder) { return FolderWith(folder, SFGAO_CANRENAME); }

bool CanCopyFolderTo(const std::string& source, const std::string& target) {
    return CanCopyFolder(source) && IsFileSystemFolder(target) && !IsSubFolder(source, target);
}

bool CanMoveFolderTo(const std::string& source, const std::string& target) {
    return CanMoveFolder(source) && IsFileSystemFolder(target) && !IsSubFolder(source, target);
}

bool OpenFolderInExplorer(const std::string& folder) {
    return SpawnDetached({"xdg-open", ExcludeTrailingPathDelimiters(folder).empty() ? "/" : folder});
}

bool ShellOpenFile(const std::string& file, const std::string& parameters) {
    if (file.empty()) return false;
    try {
        // parameters only mean something to a program; documents go to their opener
        struct stat st {};
        if (!parameters.empty() && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(file.c_str(), X_OK) == 0) {
            std::vector<std::string> argv{file};
            std::istringstream ps(parameters);
            std::string a;
            while (ps >> a) argv.push_back(a);
            return SpawnDetached(argv);
        }
        return SpawnDetached({"xdg-open", file});
    } catch (...) {
        return false;
    }
}

bool ShowFileProperties(const std::string& file) {
    if (file.empty() || !ProgramInPath("dbus-send")) return false;
    std::string uri = "file://" + file;
    return RunAndWait({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.FileManager1",
                       "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItemProperties",
                       "array:string:" + uri, "string:"}) == 0;
}

bool CreateShortcut(const std::string& target, const std::string& linkFile, const std::string& description,
                    int iconIndex, const std::string& arguments, const std::string& workingFolder) {
    try {
        if (target.empty() || linkFile.empty()) return false;
        auto quote = [](const std::string& s) {
            std::string q = "\"";
            for (char c : s) {
                if (c == '"' || c == '`' || c == '$' || c == '\\') q += '\\';
                q += c;
            }
            return q + "\"";
        };
        std::string name = linkFile;
        size_t slash = name.find_last_of('/');
        if (slash != std::string::npos) name = name.substr(slash + 1);
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) name.resize(dot);
        std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + quote(target);
        if (!arguments.empty()) text += " " + arguments;
        text += "\n";
        if (!description.empty()) text += "Comment=" + description + "\n";
        if (iconIndex >= 0) text += "Icon=" + target + "\n";
        if (!workingFolder.empty()) text += "Path=" + workingFolder + "\n";
        std::string tmp = linkFile + ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            if (!out) return false;
            out << text;
            out.flush();
            if (!out) {
                ::unlink(tmp.c_str());
                return false;
            }
        }
        if (::rename(tmp.c_str(), linkFile.c_str()) != 0) {
            ::unlink(tmp.c_str());
            return false;
        }
        return ::chmod(linkFile.c_str(), 0755) == 0;
    } catch (...) {
        return false;
    }
}

TFileTime UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
    return static_cast<TFileTime>((seconds + kFileTimeUnixDelta) * kTicksPerSecond + nanoseconds / 100);
}

TDateTime FileTimeToDateTimeEx(TFileTime fileTime) {
    try {
        double unixSeconds = static_cast<double>(static_cast<int64_t>(fileTime / kTicksPerSecond) - kFileTimeUnixDelta) +
                             static_cast<double>(fileTime % kTicksPerSecond) / kTicksPerSecond;
        time_t t = static_cast<time_t>(std::floor(unixSeconds));
        struct tm tmv {};
        if (!::localtime_r(&t, &tmv)) {
            errno = EINVAL;
            RaiseLastOSError("FileTimeToLocalFileTime");
        }
        return UnixToLocalDateTime(unixSeconds);
    } catch (const std::exception& e) {
        RaiseWrapped("FileTimeToDateTimeEx", e);
    }
}

TFileTime DateTimeToFileTimeEx(TDateTime value) {
    TFileTime out = 0;
    try {
        if (!std::isfinite(value)) {
            errno = EINVAL;
            RaiseLastOSError("SystemTimeToFileTime");
        }
        double unixSeconds = LocalDateTimeToUnix(value);
        double ticks = (unixSeconds + static_cast<double>(kFileTimeUnixDelta)) * kTicksPerSecond;
        if (!(ticks >= 0) || ticks > 9.2e18) {
            errno = ERANGE;
            RaiseLastOSError("LocalFileTimeToFileTime");
        }
        out = static_cast<TFileTime>(std::llround(ticks));
        return out;
    } catch (const std::exception& e) {
        RaiseWrapped("DateTimeToFileTimeEx", e);
    }
}

TDateTime GetFileUpdateDateTime(const std::string& file) {
    try {
        TFd fd(OpenForTimes(file, false));
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) RaiseLastOSError("GetFileTime");
        return StatToDateTime(st);
    } catch (const std::exception& e) {
        RaiseWrapped("GetFileUpdateDateTime", e);
    }
}

TDateTime SetFileUpdateDateTime(const std::string& file, TDateTime value) {
    if (!(value > 0)) return 0;
    try {
        TFd fd(OpenForTimes(file, true));
        TFileTime ft = DateTimeToFileTimeEx(value);
        int64_t unixTicks = static_cast<int64_t>(ft) - kFileTimeUnixDelta * kTicksPerSecond;
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;  // access time untouched
        int64_t secs = unixTicks >= 0 ? unixTicks / kTicksPerSecond : -((-unixTicks + kTicksPerSecond - 1) / kTicksPerSecond);
        times[1].tv_sec = static_cast<time_t>(secs);
        times[1].tv_nsec = static_cast<long>((unixTicks - secs * kTicksPerSecond) * 100);
        if (::futimens(fd.Get(), times) != 0) RaiseLastOSError("SetFileTime");
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) RaiseLastOSError("GetFileTime");
        return StatToDateTime(st);
    } catch (const std::exception& e) {
        RaiseWrapped("SetFileUpdateDateTime", e);
    }
}

std::string GetModuleFileName() { return RealPath("/proc/self/exe"); }

std::string GetFileVersionString(const std::string& file, int keyIndex) {
    if (keyIndex < 0 || keyIndex > 9) return {};
    std::string self = GetModuleFileName();
    std::string real = RealPath(file);
    if (self.empty() || real != self) return {};
    return kVersionValues[keyIndex];
}

}  // namespace fv
