#pragma once
// The small file-system calls the layers above need (facts of a path, listing a folder, making
// and removing, file times, the user and host, an append-only file), so that they never call
// the system themselves.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fv {

// Facts of a path, symbolic links followed.
struct TFileFacts {
    bool IsDirectory = false;
    bool IsFile = false;  // regular file
    int64_t Size = 0;
    int64_t MTimeSec = 0;
    int32_t MTimeNsec = 0;
    bool ReadOnly = false;  // the owner may not write
    uint64_t Device = 0;    // the file system holding it
};
// False (errno set) when the path does not exist or cannot be reached.
bool ReadFileFacts(const std::string& path, TFileFacts& out);
bool IsDirectoryPath(const std::string& path);
bool IsRegularFilePath(const std::string& path);
// The path itself is a symbolic link (to anything, or dangling).
bool IsSymbolicLinkPath(const std::string& path);

enum class TDirListResult {
    Ok,        // the whole folder was listed
    NotFound,  // the folder does not exist (or is not a folder)
    Failed,    // it exists but could not be opened or read to the end
};
// One pass over a folder: `wantName` sees each name (not "." and "..") with a hint that it may
// be a folder; for the names it accepts, the entry's facts are read relative to the open folder
// and handed to `onEntry`. An entry that vanishes between listing and reading is skipped.
TDirListResult ListDirectory(const std::string& path,
                             const std::function<bool(std::string_view name, bool maybeDir)>& wantName,
                             const std::function<void(std::string_view name, const TFileFacts& facts)>& onEntry);

// Creates one folder; true when it was made or already exists as a folder.
bool MakeDirectory(const std::string& path, unsigned mode = 0755);
// Removes a file (not a folder); false (errno set) when it fails.
bool RemoveFile(const std::string& path);

// Access of the calling user (combinations of the bits).
enum : int { kAccessRead = 4, kAccessWrite = 2, kAccessExecute = 1 };
bool HasAccess(const std::string& path, int accessBits);

// The absolute path with links and "." / ".." resolved; "" when the path does not exist.
std::string ResolvedPath(const std::string& path);

// "" when the system cannot tell.
std::string ThisHostName();
std::string ThisUserName();       // the effective user
std::string ThisUserHomeFolder();  // from the user database (callers look at $HOME first)
int ThisProcessId();

// Reading and setting a modification time. Reading needs no access to the content (read-only
// media, read-only files and folders all have one); setting opens the file for writing.
enum class TFileTimeResult { Ok, OpenFailed, Failed };
TFileTimeResult ReadModificationTime(const std::string& path, int64_t& sec, int32_t& nsec);
// Sets the modification time (the access time stays) and reads back what the file system stored.
TFileTimeResult WriteModificationTime(const std::string& path, int64_t sec, int32_t nsec, int64_t& storedSec,
                                      int32_t& storedNsec);

// A file opened for appending (created when missing): every write lands at the end, even with
// another process writing the same file.
class TAppendFile {
public:
    TAppendFile() = default;
    ~TAppendFile() { Close(); }
    TAppendFile(const TAppendFile&) = delete;
    TAppendFile& operator=(const TAppendFile&) = delete;
    TAppendFile(TAppendFile&& o) noexcept : FHandle(o.FHandle) { o.FHandle = -1; }
    TAppendFile& operator=(TAppendFile&& o) noexcept {
        if (this != &o) {
            Close();
            FHandle = o.FHandle;
            o.FHandle = -1;
        }
        return *this;
    }

    // false (errno set) when the file cannot be opened or created
    bool Open(const std::string& path, unsigned mode = 0644);
    bool IsOpen() const { return FHandle >= 0; }
    // the whole text or false (interrupted writes are resumed)
    bool Write(std::string_view text);
    void Close() noexcept;

private:
    int FHandle = -1;
};

}  // namespace fv
