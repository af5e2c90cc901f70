#pragma once
// Reader/writer locks across processes for one resource file (an upload cache picture, say):
// flock on "<resource>.lock". Each TResourceLock has its own open file, so two objects exclude
// each other also inside one process.
#include <string>

namespace fv {

class TResourceLock {
public:
    explicit TResourceLock(std::string resourcePath);
    ~TResourceLock();
    TResourceLock(const TResourceLock&) = delete;
    TResourceLock& operator=(const TResourceLock&) = delete;

    // true when the lock was taken within the time (ms; negative waits without end)
    bool BeginRead(int timeoutMs = -1);
    bool BeginWrite(int timeoutMs = -1);
    void EndRead() { Release(); }
    void EndWrite() { Release(); }
    bool Held() const { return FHeld; }
    const std::string& LockFileName() const { return FLockFile; }

private:
    bool Take(int operation, int timeoutMs);
    void Release();
    std::string FLockFile;
    int FFd = -1;
    bool FHeld = false;
};

}  // namespace fv
