#include "core/file_functions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/file_replace.h"
#include "platform/file_sys.h"
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
    if (h.empty()) h = ThisUserHomeFolder();
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

[[noreturn]] void RaiseOpenFailed(const std::string& file) {
    throw EFileFunctionsError(Format("ファイルのオープンに失敗しました。( %s )", file.c_str()));
}

// "%s Raised in %s. ( %s )" around whatever a file-time operation raised
[[noreturn]] void RaiseWrapped(const char* operation, const std::exception& e) {
    throw EFileFunctionsError(
        Format("%s Raised in %s. ( %s )", ExceptionClassName(e).c_str(), operation, e.what()));
}

// what a file-time call of the platform answered: an open failure has its own message
void CheckTimeResult(TFileTimeResult r, const std::string& file, const char* operation) {
    if (r == TFileTimeResult::OpenFailed) RaiseOpenFailed(file);
    if (r == TFileTimeResult::Failed) RaiseLastOSError(operation);
}

}  // namespace

std::string GetComputerNameStr() {
    std::string name = ThisHostName();
    return name.empty() ? std::string("Unknown") : name;
}

std::string GetUserNameStr() {
    std::string name = ThisUserName();
    return name.empty() ? std::string("Unknown") : name;
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

bool DirectoryExists(const std::string& path) { return IsDirectoryPath(path); }

bool FileExists(const std::string& path) { return IsRegularFilePath(path); }

bool ForceDirectories(const std::string& path) {
    std::string p = ExcludeTrailingPathDelimiters(path);
    if (p.empty()) return DirectoryExists("/");
    if (DirectoryExists(p)) return true;
    size_t slash = p.find_last_of(kPathDelim);
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(p.substr(0, slash))) return false;
    return MakeDirectory(p, 0755);
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
    TFileFacts st;
    if (!ReadFileFacts(f, st)) return 0;
    uint32_t attrs = SFGAO_FILESYSTEM;
    if (st.IsDirectory) attrs |= SFGAO_FOLDER;
    if (HasAccess(f, kAccessRead | (st.IsDirectory ? kAccessExecute : 0))) attrs |= SFGAO_CANCOPY;
    // moving, deleting and renaming need write access to the parent; a mount point stays put
    if (f != "/") {
        size_t slash = f.find_last_of('/');
        std::string parent = slash == std::string::npos || slash == 0 ? std::string("/") : f.substr(0, slash);
        TFileFacts pst;
        bool mountRoot = ReadFileFacts(parent, pst) && pst.Device != st.Device;
        if (!mountRoot && HasAccess(parent, kAccessWrite | kAccessExecute))
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
        if (!parameters.empty() && IsRegularFilePath(file) && HasAccess(file, kAccessExecute)) {
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
                RemoveFile(tmp);
                return false;
            }
        }
        if (!RenameReplacing(tmp, linkFile)) {
            RemoveFile(tmp);
            return false;
        }
        return SetFileMode(linkFile, 0755);
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
        int64_t sec = 0;
        int32_t nsec = 0;
        CheckTimeResult(ReadModificationTime(file, sec, nsec), file, "GetFileTime");
        return FileTimeToDateTimeEx(UnixToFileTime(sec, nsec));
    } catch (const std::exception& e) {
        RaiseWrapped("GetFileUpdateDateTime", e);
    }
}

TDateTime SetFileUpdateDateTime(const std::string& file, TDateTime value) {
    if (!(value > 0)) return 0;
    try {
        TFileTime ft = DateTimeToFileTimeEx(value);
        int64_t unixTicks = static_cast<int64_t>(ft) - kFileTimeUnixDelta * kTicksPerSecond;
        int64_t secs = unixTicks >= 0 ? unixTicks / kTicksPerSecond : -((-unixTicks + kTicksPerSecond - 1) / kTicksPerSecond);
        int32_t nsecs = static_cast<int32_t>((unixTicks - secs * kTicksPerSecond) * 100);
        int64_t storedSec = 0;
        int32_t storedNsec = 0;
        CheckTimeResult(WriteModificationTime(file, secs, nsecs, storedSec, storedNsec), file, "SetFileTime");
        return FileTimeToDateTimeEx(UnixToFileTime(storedSec, storedNsec));
    } catch (const std::exception& e) {
        RaiseWrapped("SetFileUpdateDateTime", e);
    }
}

std::string GetModuleFileName() { return ResolvedPath("/proc/self/exe"); }

std::string GetFileVersionString(const std::string& file, int keyIndex) {
    if (keyIndex < 0 || keyIndex > 9) return {};
    std::string self = GetModuleFileName();
    std::string real = ResolvedPath(file);
    if (self.empty() || real != self) return {};
    return kVersionValues[keyIndex];
}

}  // namespace fv
