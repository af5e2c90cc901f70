#pragma once
// Watching folders for changes: the program's one door to inotify. A reader thread waits on the
// inotify descriptor (and a wake descriptor for stopping), reads the kernel's event records field
// by field and hands each batch to the owner's callback on that thread. The owner maps watch
// numbers back to its folders; this layer knows nothing of the library.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv {

// what a record says happened (one record can carry several bits)
enum : uint32_t {
    dwCreated = 1u << 0,        // a name appeared in the folder
    dwWritten = 1u << 1,        // a file opened for writing was closed
    dwModified = 1u << 2,       // a file's contents changed (still being written, maybe)
    dwMovedFrom = 1u << 3,      // a name left the folder by a rename
    dwMovedTo = 1u << 4,        // a name arrived by a rename
    dwDeleted = 1u << 5,        // a name in the folder was deleted
    dwFolderDeleted = 1u << 6,  // the watched folder itself was deleted
    dwFolderMoved = 1u << 7,    // the watched folder itself was renamed or moved
    dwUnmounted = 1u << 8,      // the file system holding the folder was unmounted
    dwOverflow = 1u << 9,       // the kernel dropped events: everything watched must be rescanned
    dwWatchEnded = 1u << 10,    // the watch is gone (removed, or its folder went away)
    dwIsFolder = 1u << 11,      // the name is a folder
};

struct TDirWatchEvent {
    int32_t Watch = -1;  // the watch number Add returned; -1 with dwOverflow
    uint32_t What = 0;   // dw* bits
    uint32_t Cookie = 0;  // pairs a dwMovedFrom with its dwMovedTo
    std::string Name;    // the name inside the watched folder; empty for the folder itself
};

// Reads a buffer of kernel event records (as read() from an inotify descriptor gives them).
// Every record is checked against the buffer: a header or name that does not fit ends the
// parse with false, keeping the records before it. Names end at their first NUL.
bool ParseDirWatchRecords(const uint8_t* data, size_t size, std::vector<TDirWatchEvent>& out);
// The dw* bits of a kernel mask (unknown bits ignored).
uint32_t DirWatchBitsOfMask(uint32_t mask);
// One record as the kernel writes it (the name padded with NULs to a multiple of 16), for test
// feeds and fuzz seeds; what is dw* bits.
std::vector<uint8_t> MakeDirWatchRecord(int32_t watch, uint32_t what, uint32_t cookie, const std::string& name);

// What holds a folder, as far as watching it goes. A network file system or a FUSE mount accepts
// watches but reports only the changes made through this machine's own mount of it: changes made
// on the server or by another client never arrive, so such folders need a periodic look as well.
enum class TWatchedFileSystem {
    Local,    // changes reach the watch (or it cannot be told: treated as local)
    Remote,   // NFS, SMB/CIFS, 9P, AFS, Ceph and the like
    Fuse,     // a FUSE mount (sshfs, rclone, network drives served by a user program)
};
TWatchedFileSystem WatchedFileSystemOf(const std::string& path);
// the f_type of statfs mapped as WatchedFileSystemOf does it (tests)
TWatchedFileSystem WatchedFileSystemOfType(uint64_t fsType);

enum class TDirWatchAddResult {
    Ok,
    LimitReached,  // the per-user watch limit (ENOSPC) or kernel memory (ENOMEM)
    NotFound,      // no such folder (or not a folder)
    Failed,        // anything else (no permission, not open)
};

class TDirWatcher {
public:
    // a batch of events, on the reader thread; the callback may call Add and Remove
    using TEventsProc = std::function<void(std::vector<TDirWatchEvent>& events)>;

    TDirWatcher() = default;
    ~TDirWatcher();
    TDirWatcher(const TDirWatcher&) = delete;
    TDirWatcher& operator=(const TDirWatcher&) = delete;

    // creates the inotify instance and starts the reader thread; false (errno kept) when it cannot
    bool Open(TEventsProc proc);
    // stops and joins the reader thread; no callback runs after it returned. Not from the callback.
    void Close();
    bool IsOpen() const { return FFd.load() >= 0; }

    // Watches a folder (not following a last symbolic link is not wanted: links to folders are
    // followed). watch receives the number events carry; the same folder gives the same number.
    TDirWatchAddResult Add(const std::string& path, int32_t& watch);
    void Remove(int32_t watch);
    int WatchCount() const { return FCount.load(); }

    // Tests: Add answers LimitReached once this many watches exist (0: the kernel's limit only).
    void SetWatchLimitForTests(int limit) { FTestLimit.store(limit); }
    // Tests: before Open, asks for a pipe the reader reads beside the kernel's descriptor, through
    // the same record reader (a queue overflow or a broken record can be fed in).
    void UseTestFeed() { FWantFeed = true; }
    // Writes records into that pipe in one piece (at most 4096 bytes); false without a feed.
    bool FeedForTests(const std::vector<uint8_t>& records);

private:
    void Run();
    // reads a descriptor until it has nothing more; false when it has ended (closed, failed)
    bool Drain(int fd, std::vector<TDirWatchEvent>& events);
    std::atomic<int> FFd{-1};
    int FWake = -1;
    bool FWantFeed = false;
    int FFeedRead = -1, FFeedWrite = -1;
    std::thread FThread;
    TEventsProc FProc;
    std::mutex FAddLock;  // Add and Remove keep the count in step with the kernel
    std::vector<int32_t> FWatches;
    std::atomic<int> FCount{0};
    std::atomic<int> FTestLimit{0};
    std::atomic<bool> FStop{false};
};

}  // namespace fv
