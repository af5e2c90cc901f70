#pragma once
// The per-file work lock of the thumbnail workers: while one worker makes a file's picture,
// no other worker of this process (a process-wide table of names) and no worker of another
// process (a file lock in the user's runtime folder) works on the same file.
#include <functional>
#include <memory>
#include <string>

#include "platform/resource_lock.h"

namespace fv {

// "CacheMaker-" and the path with every delimiter replaced by "-"
std::string CacheWorkLockName(const std::string& path);

class TCacheWorkLock {
public:
    // crossProcess: also lock against other processes
    TCacheWorkLock(const std::string& path, bool crossProcess);
    ~TCacheWorkLock();
    TCacheWorkLock(const TCacheWorkLock&) = delete;
    TCacheWorkLock& operator=(const TCacheWorkLock&) = delete;

    // Waits in 50 ms steps while canWork() holds; true once the file is ours.
    bool Acquire(const std::function<bool()>& canWork);
    bool Owned() const { return FOwned; }

private:
    void Release();
    std::string FName;
    bool FCrossProcess;
    bool FOwned = false;
    bool FInTable = false;
    std::unique_ptr<TResourceLock> FFileLock;
};

}  // namespace fv
