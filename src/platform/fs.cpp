#include "platform/fs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fv {

void RaiseLastOSError(const std::string& what) {
    int err = errno;
    throw EOSError(Format("System Error.  Code: %d.\r\n%s (%s)", err, std::strerror(err), what.c_str()));
}

std::string UnescapeOctal(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

static int HexVal(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UnescapeHex(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            int h = HexVal(s[i + 2]), l = HexVal(s[i + 3]);
            if (h >= 0 && l >= 0) {
                out += static_cast<char>(h * 16 + l);
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<TMountEntry> ParseMountInfo(const std::string& text) {
    std::vector<TMountEntry> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        std::istringstream ls(line);
        std::vector<std::string> f;
        std::string w;
        while (ls >> w) f.push_back(w);
        if (f.size() < 7) continue;
        size_t sep = 6;
        while (sep < f.size() && f[sep] != "-") ++sep;
        if (sep + 1 >= f.size()) continue;
        TMountEntry m;
        unsigned maj = 0, mnr = 0;
        if (std::sscanf(f[2].c_str(), "%u:%u", &maj, &mnr) != 2) continue;
        m.DevMajor = maj;
        m.DevMinor = mnr;
        m.MountPoint = UnescapeOctal(f[4]);
        if (m.MountPoint.empty() || m.MountPoint[0] != '/') continue;
        m.FsType = f[sep + 1];
        m.Source = sep + 2 < f.size() ? UnescapeOctal(f[sep + 2]) : std::string();
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<TMountEntry> ReadMountTable() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream ss;
    ss << in.rdbuf();
    return ParseMountInfo(ss.str());
}

static bool IsPrefixFolder(const std::string& mount, const std::string& path) {
    if (mount == "/") return true;
    if (path.compare(0, mount.size(), mount) != 0) return false;
    return path.size() == mount.size() || path[mount.size()] == '/';
}

bool FindMountFor(const std::vector<TMountEntry>& mounts, const std::string& path, TMountEntry& out) {
    if (path.empty() || path[0] != '/') return false;
    // resolve symbolic links in the part of the path that exists
    std::string probe = path;
    std::string rest;
    char buf[PATH_MAX];
    std::string resolved;
    while (true) {
        if (::realpath(probe.c_str(), buf)) {
            resolved = buf;
            if (!rest.empty()) resolved += (resolved == "/" ? "" : "/") + rest;
            break;
        }
        size_t slash = probe.find_last_of('/');
        if (slash == std::string::npos || probe == "/") {
            resolved = path;
            break;
        }
        std::string leaf = probe.substr(slash + 1);
        rest = rest.empty() ? leaf : leaf + "/" + rest;
        probe = slash == 0 ? "/" : probe.substr(0, slash);
    }
    const TMountEntry* best = nullptr;
    for (const auto& m : mounts) {
        if (!IsPrefixFolder(m.MountPoint, resolved)) continue;
        // later entries of the same mount point cover earlier ones
        if (!best || m.MountPoint.size() >= best->MountPoint.size()) best = &m;
    }
    if (!best) return false;
    out = *best;
    return true;
}

static bool BlockDeviceRemovable(uint32_t major, uint32_t minor) {
    if (major == 0) return false;
    std::string sys = Format("/sys/dev/block/%u:%u", major, minor);
    char buf[PATH_MAX];
    if (!::realpath(sys.c_str(), buf)) return false;
    std::string dev = buf;
    for (int up = 0; up < 2; ++up) {  // the partition, then its disk
        std::ifstream in(dev + "/removable");
        int v = 0;
        if (in >> v) return v == 1;
        size_t slash = dev.find_last_of('/');
        if (slash == std::string::npos || slash == 0) break;
        dev.resize(slash);
    }
    return false;
}

int32_t DriveTypeOf(const TMountEntry& m) {
    const std::string& t = m.FsType;
    if (t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "smbfs" || t == "fuse.sshfs" ||
        t == "sshfs" || t == "9p" || t == "afs")
        return DRIVE_REMOTE;
    if (t == "iso9660" || t == "udf") return DRIVE_CDROM;
    if (t == "tmpfs" || t == "ramfs") return DRIVE_RAMDISK;
    if (IsPrefixFolder("/media", m.MountPoint) || IsPrefixFolder("/run/media", m.MountPoint)) return DRIVE_REMOVABLE;
    if (BlockDeviceRemovable(m.DevMajor, m.DevMinor)) return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

// the by-uuid or by-label name whose link points at the mounted device
static bool LinkNameFor(const std::string& folder, const TMountEntry& m, std::string& name) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string link = folder + "/" + e->d_name;
        struct stat st {};
        if (::stat(link.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
        if (major(st.st_rdev) == m.DevMajor && minor(st.st_rdev) == m.DevMinor) {
            name = e->d_name;
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool ReadVolumeFacts(const TMountEntry& m, TVolumeFacts& out) {
    struct statvfs sv {};
    if (::statvfs(m.MountPoint.c_str(), &sv) != 0) return false;
    uint64_t fsid = static_cast<uint64_t>(sv.f_fsid);
    out.Serial = static_cast<uint32_t>(fsid ^ (fsid >> 32));
    std::string uuid;
    if ((m.FsType == "vfat" || m.FsType == "exfat" || m.FsType == "msdos") &&
        LinkNameFor("/dev/disk/by-uuid", m, uuid) && uuid.size() == 9 && uuid[4] == '-') {
        // FAT and exFAT volume serials appear as "ABCD-1234"
        uint32_t v = 0;
        bool ok = true;
        for (char c : uuid) {
            if (c == '-') continue;
            int h = HexVal(c);
            if (h < 0) ok = false;
            v = v * 16 + static_cast<uint32_t>(h < 0 ? 0 : h);
        }
        if (ok) out.Serial = v;
    }
    std::string label;
    if (LinkNameFor("/dev/disk/by-label", m, label)) out.Label = UnescapeHex(label);
    return true;
}

}  // namespace fv
