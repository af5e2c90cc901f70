#include "platform/dir_watch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/os_thread.h"

namespace fv {

namespace {

// the record header as the kernel writes it (host byte order): wd, mask, cookie, name length
constexpr size_t kHeaderSize = 16;
// a name is at most NAME_MAX bytes plus padding; a longer length is not a record of the kernel
constexpr uint32_t kMaxNameLength = 4096;

constexpr uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

uint32_t ReadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

// the kernel's mask bits and ours
constexpr std::pair<uint32_t, uint32_t> kBits[] = {
    {IN_CREATE, dwCreated},       {IN_CLOSE_WRITE, dwWritten}, {IN_MODIFY, dwModified},
    {IN_MOVED_FROM, dwMovedFrom}, {IN_MOVED_TO, dwMovedTo},    {IN_DELETE, dwDeleted},
    {IN_DELETE_SELF, dwFolderDeleted}, {IN_MOVE_SELF, dwFolderMoved}, {IN_UNMOUNT, dwUnmounted},
    {IN_Q_OVERFLOW, dwOverflow},  {IN_IGNORED, dwWatchEnded},  {IN_ISDIR, dwIsFolder},
};

uint32_t DirWatchBitsOfMask(uint32_t mask) {
    uint32_t what = 0;
    for (auto [kernel, ours] : kBits)
        if (mask & kernel) what |= ours;
    return what;
}

bool ParseDirWatchRecords(const uint8_t* data, size_t size, std::vector<TDirWatchEvent>& out) {
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < kHeaderSize) return false;
        const uint8_t* p = data + pos;
        int32_t wd;
        std::memcpy(&wd, p, sizeof wd);
        uint32_t mask = ReadU32(p + 4);
        uint32_t cookie = ReadU32(p + 8);
        uint32_t len = ReadU32(p + 12);
        if (len > kMaxNameLength || len > size - pos - kHeaderSize) return false;
        TDirWatchEvent e;
        e.What = DirWatchBitsOfMask(mask);
        e.Watch = (e.What & dwOverflow) ? -1 : wd;
        e.Cookie = cookie;
        const char* name = reinterpret_cast<const char*>(p + kHeaderSize);
        e.Name.assign(name, strnlen(name, len));
        out.push_back(std::move(e));
        pos += kHeaderSize + len;
    }
    return true;
}

std::vector<uint8_t> MakeDirWatchRecord(int32_t watch, uint32_t what, uint32_t cookie, const std::string& name) {
    uint32_t mask = 0;
    for (auto [kernel, ours] : kBits)
        if (what & ours) mask |= kernel;
    // the kernel pads the name with NULs (at least one) to a multiple of the record's alignment
    const uint32_t len = name.empty() ? 0 : static_cast<uint32_t>((name.size() + 1 + 15) / 16 * 16);
    std::vector<uint8_t> out(kHeaderSize + len, 0);
    std::memcpy(&out[0], &watch, 4);
    std::memcpy(&out[4], &mask, 4);
    std::memcpy(&out[8], &cookie, 4);
    std::memcpy(&out[12], &len, 4);
    if (!name.empty()) std::memcpy(&out[kHeaderSize], name.data(), name.size());
    return out;
}

TWatchedFileSystem WatchedFileSystemOfType(uint64_t fsType) {
    // the statfs magic numbers; a 32-bit f_type may carry the high ones sign-extended
    switch (static_cast<uint32_t>(fsType)) {
        case 0x65735546u: return TWatchedFileSystem::Fuse;  // FUSE
        case 0x00006969u:                                   // NFS
        case 0x0000517Bu:                                   // SMB
        case 0xFF534D42u:                                   // CIFS
        case 0xFE534D42u:                                   // SMB2
        case 0x01021997u:                                   // 9P
        case 0x5346414Fu:                                   // AFS (kernel client)
        case 0x6B414653u:                                   // AFS (kAFS)
        case 0x00C36400u:                                   // Ceph
        case 0x73757245u:                                   // Coda
        case 0x0000564Cu:                                   // NCP
        case 0x01161970u:                                   // GFS2 (other nodes write too)
        case 0x0BD00BD0u:                                   // Lustre
            return TWatchedFileSystem::Remote;
        default: return TWatchedFileSystem::Local;
    }
}

TWatchedFileSystem WatchedFileSystemOf(const std::string& path) {
    struct statfs sf {};
    if (::statfs(path.c_str(), &sf) != 0) return TWatchedFileSystem::Local;
    return WatchedFileSystemOfType(static_cast<uint64_t>(sf.f_type));
}

TDirWatcher::~TDirWatcher() { Close(); }

bool TDirWatcher::Open(TEventsProc proc) {
    if (IsOpen()) return true;
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return false;
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    if (FWantFeed) {
        int p[2];
        if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
            int err = errno;
            ::close(fd);
            ::close(wake);
            errno = err;
            return false;
        }
        FFeedRead = p[0];
        FFeedWrite = p[1];
    }
    FProc = std::move(proc);
    FWake = wake;
    FStop.store(false);
    FFd.store(fd);
    FThread = std::thread([this] { Run(); });
    return true;
}

void TDirWatcher::Close() {
    if (FThread.joinable()) {
        FStop.store(true);
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(FWake, &one, sizeof one);
        FThread.join();
    }
    std::lock_guard g(FAddLock);
    int fd = FFd.exchange(-1);
    if (fd >= 0) ::close(fd);
    if (FWake >= 0) ::close(FWake);
    FWake = -1;
    if (FFeedRead >= 0) ::close(FFeedRead);
    if (FFeedWrite >= 0) ::close(FFeedWrite);
    FFeedRead = FFeedWrite = -1;
    FWatches.clear();
    FCount.store(0);
}

TDirWatchAddResult TDirWatcher::Add(const std::string& path, int32_t& watch) {
    watch = -1;
    std::lock_guard g(FAddLock);
    int fd = FFd.load();
    if (fd < 0) return TDirWatchAddResult::Failed;
    int limit = FTestLimit.load();
    int wd = -1;
    if (limit > 0 && static_cast<int>(FWatches.size()) >= limit) {
        errno = ENOSPC;
    } else {
        wd = ::inotify_add_watch(fd, path.c_str(), kWatchMask);
    }
    if (wd < 0) {
        switch (errno) {
            case ENOSPC:
            case ENOMEM: return TDirWatchAddResult::LimitReached;
            case ENOENT:
            case ENOTDIR: return TDirWatchAddResult::NotFound;
            default: return TDirWatchAddResult::Failed;
        }
    }
    watch = wd;
    // the kernel answers an existing watch of the same folder with its number
    if (std::find(FWatches.begin(), FWatches.end(), wd) == FWatches.end()) FWatches.push_back(wd);
    FCount.store(static_cast<int>(FWatches.size()));
    return TDirWatchAddResult::Ok;
}

void TDirWatcher::Remove(int32_t watch) {
    std::lock_guard g(FAddLock);
    auto it = std::find(FWatches.begin(), FWatches.end(), watch);
    if (it == FWatches.end()) return;
    FWatches.erase(it);
    FCount.store(static_cast<int>(FWatches.size()));
    int fd = FFd.load();
    if (fd >= 0) ::inotify_rm_watch(fd, watch);
}

bool TDirWatcher::FeedForTests(const std::vector<uint8_t>& records) {
    std::lock_guard g(FAddLock);
    // one write of at most PIPE_BUF bytes reaches the reader in one piece
    if (FFeedWrite < 0 || records.size() > 4096) return false;
    return ::write(FFeedWrite, records.data(), records.size()) == static_cast<ssize_t>(records.size());
}

bool TDirWatcher::Drain(int fd, std::vector<TDirWatchEvent>& events) {
    // room for many records at once; records never straddle two reads
    alignas(8) static thread_local uint8_t buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;  // drained
        }
        if (n == 0) return false;
        if (!ParseDirWatchRecords(buffer, static_cast<size_t>(n), events)) {
            // a record we cannot read: what it said is lost, so everything is looked at again
            TDirWatchEvent overflow;
            overflow.What = dwOverflow;
            events.push_back(std::move(overflow));
        }
    }
}

void TDirWatcher::Run() {
    SetCurrentThreadName("TDirWatcher");
    const int fd = FFd.load();
    int feed = FFeedRead;
    std::vector<TDirWatchEvent> events;
    while (!FStop.load()) {
        pollfd fds[3] = {{fd, POLLIN, 0}, {FWake, POLLIN, 0}, {feed, POLLIN, 0}};
        int r = ::poll(fds, feed >= 0 ? 3 : 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents || FStop.load()) break;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL) && !(fds[0].revents & POLLIN)) break;
        events.clear();
        if (fds[0].revents & POLLIN) Drain(fd, events);
        if (feed >= 0 && fds[2].revents) {
            if (!Drain(feed, events)) feed = -1;  // the test's end closed: the kernel's still counts
        }
        // watches the kernel ended are no longer counted
        {
            std::lock_guard g(FAddLock);
            for (const TDirWatchEvent& e : events)
                if (e.What & dwWatchEnded) std::erase(FWatches, e.Watch);
            FCount.store(static_cast<int>(FWatches.size()));
        }
        if (!events.empty() && FProc) FProc(events);
    }
}

}  // namespace fv
