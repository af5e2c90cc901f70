#pragma once
// Volumes and mount points of this machine: what the program calls "the drive of a path".
// A drive is the mount point of the file system holding the path (no drive letters here).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace fv {

// A failing system call (the errno text in the message).
FV_DECLARE_EXCEPTION(EOSError, Exception);
[[noreturn]] void RaiseLastOSError(const std::string& what);

// drive-type codes (GetDriveTypeOf): the numbering stored files and callers already use
enum : int32_t {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

struct TMountEntry {
    std::string MountPoint;  // unescaped, e.g. "/media/user/CARD"
    std::string FsType;      // "ext4", "vfat", ...
    std::string Source;      // "/dev/sdb1", "server:/share", "tmpfs"
    uint32_t DevMajor = 0, DevMinor = 0;
};

// Parses the text of /proc/self/mountinfo; malformed lines are skipped.
std::vector<TMountEntry> ParseMountInfo(const std::string& text);
std::vector<TMountEntry> ReadMountTable();

// The mount entry whose mount point is the longest prefix of the absolute path
// (lexically, after resolving what exists of the path). False for a relative or empty path.
bool FindMountFor(const std::vector<TMountEntry>& mounts, const std::string& path, TMountEntry& out);

// Drive type of a mount entry (removable device or below /media, /run/media; remote, optical, RAM).
int32_t DriveTypeOf(const TMountEntry& m);

struct TVolumeFacts {
    uint32_t Serial = 0xFFFFFFFFu;
    std::string Label;  // empty when the file system has none
};
// Serial (FAT serial from /dev/disk/by-uuid where there is one, else statvfs f_fsid folded
// to 32 bits) and label (from /dev/disk/by-label). False when statvfs fails.
bool ReadVolumeFacts(const TMountEntry& m, TVolumeFacts& out);

// Decodes the "\040" octal escapes of mountinfo and the "\x20" escapes of /dev/disk/by-*.
std::string UnescapeOctal(const std::string& s);
std::string UnescapeHex(const std::string& s);

}  // namespace fv
