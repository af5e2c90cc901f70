#include "core/file_functions.h"

#include <cstdlib>

#include "platform/file_sys.h"
#include "platform/fs.h"
#include "version_info.h"

namespace fv {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string HomeFolder() {
    std::string h = EnvOr("HOME", "");
    if (h.empty()) h = ThisUserHomeFolder();
    return ExcludeTrailingPathDelimiters(h);
}

const char* const kVersionValues[10] = {
    "Kestrona",           "Folvane Browser", FV_VERSION_STRING,   "folvane-browser",
    "Copyright (C) Kestrona", "",            "folvane-browser",   "Folvane Browser",
    FV_VERSION_STRING,    ""};

}  // namespace

std::string GetComputerNameStr() {
    std::string name = ThisHostName();
    return name.empty() ? std::string("Unknown") : name;
}

std::string GetUserNameStr() {
    std::string name = ThisUserName();
    return name.empty() ? std::string("Unknown") : name;
}

std::string GetAppDataFolder() {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return ExcludeTrailingPathDelimiters(EnvOr("XDG_DATA_HOME", home + "/.local/share"));
}

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
    if (!path.empty() && path[0] == kPathDelim) return IncludeTrailingPathDelimiter(NormalisePath(path));
    return NormalisePath(IncludeTrailingPathDelimiter(baseFolder) + ExcludeLeadingPathDelimiters(path));
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

namespace {

// what may be done with a path
enum : uint32_t {
    kCanCopy = 0x00000001u,
    kCanMove = 0x00000002u,
    kCanRename = 0x00000010u,
    kCanDelete = 0x00000020u,
    kIsFolder = 0x20000000u,
    kInFileSystem = 0x40000000u,
};

uint32_t GetShellAttributes(const std::string& folder) {
    std::string f = ExcludeTrailingPathDelimiters(folder);
    if (f.empty()) f.push_back(kPathDelim);
    TFileFacts st;
    if (!ReadFileFacts(f, st)) return 0;
    uint32_t attrs = kInFileSystem;
    if (st.IsDirectory) attrs |= kIsFolder;
    if (HasAccess(f, kAccessRead | (st.IsDirectory ? kAccessExecute : 0))) attrs |= kCanCopy;
    // moving, deleting and renaming need write access to the parent; a mount point stays put
    if (f != "/") {
        size_t slash = f.find_last_of('/');
        std::string parent = slash == std::string::npos || slash == 0 ? std::string("/") : f.substr(0, slash);
        TFileFacts pst;
        bool mountRoot = ReadFileFacts(parent, pst) && pst.Device != st.Device;
        if (!mountRoot && HasAccess(parent, kAccessWrite | kAccessExecute))
            attrs |= kCanMove | kCanDelete | kCanRename;
    }
    return attrs;
}

bool IsFileSystemFolder(const std::string& folder) {
    uint32_t a = GetShellAttributes(folder);
    return (a & kIsFolder) && (a & kInFileSystem);
}

bool FolderWith(const std::string& folder, uint32_t bit) {
    uint32_t a = GetShellAttributes(folder);
    return (a & kIsFolder) && (a & kInFileSystem) && (a & bit);
}

bool CanCopyFolder(const std::string& folder) { return FolderWith(folder, kCanCopy); }
bool CanMoveFolder(const std::string& folder) { return FolderWith(folder, kCanMove); }

}  // namespace

bool CanDeleteFolder(const std::string& folder) { return FolderWith(folder, kCanDelete); }
bool CanRenameFolder(const std::string& folder) { return FolderWith(folder, kCanRename); }

bool CanCopyFolderTo(const std::string& source, const std::string& target) {
    return CanCopyFolder(source) && IsFileSystemFolder(target) && !IsSubFolder(source, target);
}

bool CanMoveFolderTo(const std::string& source, const std::string& target) {
    return CanMoveFolder(source) && IsFileSystemFolder(target) && !IsSubFolder(source, target);
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
