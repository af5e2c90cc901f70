#include "platform/dir_watch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

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

uint32_t DirWatchBitsOfMask(uint32_t mask) {
    uint32_t what = 0;
    if (mask & IN_CREATE) what |= dwCreated;
    if (mask & IN_CLOSE_WRITE) what |= dwWritten;
    if (mask & IN_MODIFY) what |= dwModified;
    if (mask & IN_MOVED_FROM) what |= dwMovedFrom;
    if (mask & IN_MOVED_TO) what |= dwMovedTo;
    if (mask & IN_DELETE) what |= dwDeleted;
    if (mask & IN_DELETE_SELF) what |= dwFolderDeleted;
    if (mask & IN_MOVE_SELF) what |= dwFolderMoved;
    if (mask & IN_UNMOUNT) what |= dwUnmounted;
    if (mask & IN_Q_OVERFLOW) what |= dwOverflow;
    if (mask & IN_IGNORED) what |= dwWatchEnded;
    if (mask & IN_ISDIR) what |= dwIsFolder;
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

void TDirWatcher::Run() {
    SetCurrentThreadName("TDirWatcher");
    // room for many records at once; records never straddle two reads
    alignas(8) static thread_local uint8_t buffer[64 * 1024];
    const int fd = FFd.load();
    std::vector<TDirWatchEvent> events;
    while (!FStop.load()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {FWake, POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents || FStop.load()) break;
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
            continue;
        }
        events.clear();
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;  // EAGAIN: drained
            }
            if (n == 0) break;
            if (!ParseDirWatchRecords(buffer, static_cast<size_t>(n), events)) {
                // a record we cannot read: what it said is lost, so everything is looked at again
                TDirWatchEvent overflow;
                overflow.What = dwOverflow;
                events.push_back(std::move(overflow));
            }
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
