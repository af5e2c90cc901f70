#include "platform/resource_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace fv {

TResourceLock::TResourceLock(std::string resourcePath) : FLockFile(std::move(resourcePath) + ".lock") {}

TResourceLock::~TResourceLock() {
    Release();
    if (FFd >= 0) ::close(FFd);
}

bool TResourceLock::Take(int operation, int timeoutMs) {
    if (FHeld) Release();
    if (FFd < 0) {
        FFd = ::open(FLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FFd < 0) return false;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (true) {
        if (::flock(FFd, operation | (timeoutMs < 0 ? 0 : LOCK_NB)) == 0) {
            FHeld = true;
            return true;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool TResourceLock::BeginRead(int timeoutMs) { return Take(LOCK_SH, timeoutMs); }
bool TResourceLock::BeginWrite(int timeoutMs) { return Take(LOCK_EX, timeoutMs); }

void TResourceLock::Release() {
    if (!FHeld) return;
    ::flock(FFd, LOCK_UN);
    FHeld = false;
}

}  // namespace fv
