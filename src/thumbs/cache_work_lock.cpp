#include "thumbs/cache_work_lock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/exception.h"
#include "platform/fnv_hash.h"
#include "platform/instance.h"

namespace fv {

namespace {

struct TWorkTable {
    std::mutex Lock;
    std::condition_variable Released;
    std::set<std::string> Held;
};

TWorkTable& Table() {
    static TWorkTable table;
    return table;
}

// Files share 256 lock files (a lock file per photo would litter the runtime folder); two
// files of one stripe are simply not worked on at the same moment.
std::string StripeLockBase(const std::string& name) {
    const uint32_t h = Fnv1a32(name.data(), name.size());
    std::string path = InstanceLockPath(Format("FolvaneCacheMaker-%02x", (h ^ (h >> 8) ^ (h >> 16) ^ (h >> 24)) & 0xffu));
    const std::string suffix = ".lock";
    if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        path.resize(path.size() - suffix.size());
    return path;
}

}  // namespace

std::string CacheWorkLockName(const std::string& path) {
    std::string name = "CacheMaker-" + path;
    for (size_t i = 11; i < name.size(); ++i)
        if (name[i] == '/' || name[i] == '\\') name[i] = '-';
    return name;
}

TCacheWorkLock::TCacheWorkLock(const std::string& path, bool crossProcess)
    : FName(CacheWorkLockName(path)), FCrossProcess(crossProcess) {}

TCacheWorkLock::~TCacheWorkLock() { Release(); }

bool TCacheWorkLock::Acquire(const std::function<bool()>& canWork) {
    if (FOwned) return true;
    auto& t = Table();
    {
        std::unique_lock g(t.Lock);
        while (t.Held.count(FName) != 0) {
            if (!canWork()) return false;
            t.Released.wait_for(g, std::chrono::milliseconds(50));
        }
        t.Held.insert(FName);
        FInTable = true;
    }
    // the private runtime folder may not exist yet (fvb run before any browser start): make and
    // check it, so that the stripe locks are shared between processes and never made
    // through a link or in another user's folder
    const bool folderUsable = FCrossProcess && CheckInstanceFolder().empty();
    if (folderUsable) {
        FFileLock = std::make_unique<TResourceLock>(StripeLockBase(FName));
        while (true) {
            const auto start = std::chrono::steady_clock::now();
            if (FFileLock->BeginWrite(50)) break;
            if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(40)) {
                // the lock file cannot be made (no runtime folder): this process's lock must do
                FFileLock.reset();
                break;
            }
            if (!canWork()) {
                Release();
                return false;
            }
        }
    }
    FOwned = true;
    return true;
}

void TCacheWorkLock::Release() {
    if (FFileLock) {
        FFileLock->EndWrite();
        FFileLock.reset();
    }
    if (FInTable) {
        auto& t = Table();
        {
            std::lock_guard g(t.Lock);
            t.Held.erase(FName);
        }
        t.Released.notify_all();
        FInTable = false;
    }
    FOwned = false;
}

}  // namespace fv
