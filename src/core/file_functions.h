#pragma once
// File, path, shell and time utilities used all over the program. "/" is the only path
// delimiter here; the functions named after backslashes keep their names and work on "/".
#include <cstdint>
#include <string>

#include "platform/datetime.h"
#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(EFileFunctionsError, Exception);

constexpr char kPathDelim = '/';

// Drive facts of a path: type code, volume serial (all bits set when unknown), volume name
// ("Unknown" when unavailable) and the drive, i.e. the mount point holding the path.
struct TDriveInfoRec {
    int32_t DriveType = 0;
    uint32_t SerialNumber = 0xFFFFFFFFu;
    std::string VolumeName = "Unknown";
    std::string Drive;
};

// "Unknown" when the system cannot tell.
std::string GetComputerNameStr();
std::string GetUserNameStr();

// special-folder codes: the numbering callers use to name the user's standard folders
enum : int {
    CSIDL_DESKTOP = 0x0000,
    CSIDL_PROGRAMS = 0x0002,
    CSIDL_PERSONAL = 0x0005,
    CSIDL_MYMUSIC = 0x000d,
    CSIDL_APPDATA = 0x001a,
    CSIDL_LOCAL_APPDATA = 0x001c,
    CSIDL_MYPICTURES = 0x0027,
};
// Path without trailing delimiter; empty for an unknown code or without a home folder.
std::string GetSpecialFolder(int folderCode);
std::string GetMyDocumentsFolder();
std::string GetMyPicturesFolder();
std::string GetDesktopFolder();
std::string GetAppDataFolder();

std::string ExcludeLeadingPathDelimiters(const std::string& s);
std::string ExcludeTrailingPathDelimiters(const std::string& s);
// all leading / trailing delimiters removed, then exactly one added
std::string IncludeLeadingPathDelimiter(const std::string& s);
std::string IncludeTrailingPathDelimiter(const std::string& s);
// normalises to the native delimiter; "/" already is, so the text stays as it is
std::string SlashToBackslash(const std::string& s);
// each of " * ? \ / : < > | becomes "-"
std::string ReplaceInvalidFileNameChars(const std::string& s);

// An absolute path (the root "/" stands for the drive part) is normalised and gets exactly one
// trailing delimiter; a relative one is resolved against the base folder ("." skipped, ".."
// climbs, doubled delimiters collapse, no delimiter added at the end).
std::string ExpandRelativePath(const std::string& baseFolder, const std::string& path);

bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);
// creates the folder with every missing parent; true when it exists afterwards
bool ForceDirectories(const std::string& path);

// short and long forms are the path itself here, without trailing delimiter
std::string GetShortPath(const std::string& path);
std::string GetLongPath(const std::string& path);

// Never throws; false (serial all bits set, name "Unknown") when the volume could not be read.
bool GetDriveInfo(const std::string& path, TDriveInfoRec& info);
// true when child lies below parent; names compare exactly (case-sensitive file systems)
bool IsSubFolder(const std::string& parent, const std::string& child);
// true for a removable drive on a floppy device (/dev/fdN)
bool IsFloppyDrive(const std::string& path);

// shell attribute bits (what may be done with a path), with the numbering callers use
enum : uint32_t {
    SFGAO_CANCOPY = 0x00000001u,
    SFGAO_CANMOVE = 0x00000002u,
    SFGAO_CANRENAME = 0x00000010u,
    SFGAO_CANDELETE = 0x00000020u,
    SFGAO_FOLDER = 0x20000000u,
    SFGAO_FILESYSTEM = 0x40000000u,
};
uint32_t GetShellAttributes(const std::string& folder);
bool IsFileSystemFolder(const std::string& folder);
bool CanCopyFolder(const std::string& folder);
bool CanMoveFolder(const std::string& folder);
bool CanDeleteFolder(const std::string& folder);
bool CanRenameFolder(const std::string& folder);
bool CanCopyFolderTo(const std::string& source, const std::string& target);
bool CanMoveFolderTo(const std::string& source, const std::string& target);

// shell verbs through the desktop's opener (xdg-open); true when the opener was started
bool OpenFolderInExplorer(const std::string& folder);
bool ShellOpenFile(const std::string& file, const std::string& parameters);
// the file manager's properties window over D-Bus; false when none answers
bool ShowFileProperties(const std::string& file);
// Writes a freedesktop.org ".desktop" launcher; true only when every step succeeded.
bool CreateShortcut(const std::string& target, const std::string& linkFile, const std::string& description,
                    int iconIndex, const std::string& arguments, const std::string& workingFolder);

// File times as stored in the data files: 100 ns ticks since 1601-01-01 UTC.
using TFileTime = uint64_t;
TDateTime FileTimeToDateTimeEx(TFileTime fileTime);
TFileTime DateTimeToFileTimeEx(TDateTime value);
TFileTime UnixToFileTime(int64_t seconds, int64_t nanoseconds);
TDateTime GetFileUpdateDateTime(const std::string& file);
// only for value > 0; returns the stored time read back (0 and nothing done otherwise)
TDateTime SetFileUpdateDateTime(const std::string& file, TDateTime value);

// version block keys by index
enum TFileVersionKey : int {
    fvCompanyName = 0,
    fvFileDescription,
    fvFileVersion,
    fvInternalName,
    fvLegalCopyright,
    fvLegalTrademarks,
    fvOriginalFilename,
    fvProductName,
    fvProductVersion,
    fvComments,
};
// The program's own version block for its own file; empty for any other file or key.
std::string GetFileVersionString(const std::string& file, int keyIndex);
// the running program's file
std::string GetModuleFileName();

}  // namespace fv
