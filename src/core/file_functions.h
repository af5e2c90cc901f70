#pragma once
// File, path and folder utilities used all over the program. "/" is the only path delimiter.
#include <cstdint>
#include <string>

namespace fv {

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

// $XDG_DATA_HOME, else $HOME/.local/share, without trailing delimiter; empty without a home folder.
std::string GetAppDataFolder();

std::string ExcludeLeadingPathDelimiters(const std::string& s);
std::string ExcludeTrailingPathDelimiters(const std::string& s);
// all leading / trailing delimiters removed, then exactly one added
std::string IncludeLeadingPathDelimiter(const std::string& s);
std::string IncludeTrailingPathDelimiter(const std::string& s);
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

// Never throws; false (serial all bits set, name "Unknown") when the volume could not be read.
bool GetDriveInfo(const std::string& path, TDriveInfoRec& info);
// true when child lies below parent; names compare exactly (case-sensitive file systems)
bool IsSubFolder(const std::string& parent, const std::string& child);

// What may be done with a folder: it is a folder of the file system, readable for a copy, and its
// parent is writable (and it is no mount point) for a move, a delete and a rename. A copy or a
// move also wants a target folder that does not lie below the source.
bool CanDeleteFolder(const std::string& folder);
bool CanRenameFolder(const std::string& folder);
bool CanCopyFolderTo(const std::string& source, const std::string& target);
bool CanMoveFolderTo(const std::string& source, const std::string& target);

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
