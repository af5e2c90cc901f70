#pragma once
// One running instance per user: an exclusive flock on "<runtime dir>/<name>.lock", and the
// channel a second start uses to reach the first one: a Unix domain socket next to the lock
// carrying the fixed 1024-byte NUL-terminated command buffer and the receiver's 32-bit answer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(EForwardError, Exception);

constexpr size_t kCopyDataSize = 1024;

// $XDG_RUNTIME_DIR/<name>.lock and the socket beside it. Without XDG_RUNTIME_DIR both live in
// the private folder "$TMPDIR/folvane-<uid>" (TMPDIR defaults to /tmp).
std::string InstanceLockPath(const std::string& name);
std::string InstanceSocketPath(const std::string& name);
// Makes the private folder when it is used and missing (0700) and checks it with lstat: a real
// folder, ours, closed to others. Empty when it can be used, else the message that says why not.
std::string CheckInstanceFolder();

class TSingleInstanceLock {
public:
    enum TResult { irCreated, irAlreadyExists, irFailed };
    explicit TSingleInstanceLock(std::string name) : FName(std::move(name)) {}
    ~TSingleInstanceLock() { Release(); }
    TSingleInstanceLock(const TSingleInstanceLock&) = delete;
    TSingleInstanceLock& operator=(const TSingleInstanceLock&) = delete;
    // irAlreadyExists when another process holds the lock
    TResult Acquire();
    void Release();
    bool Held() const { return FFd >= 0; }
    // after irFailed: what went wrong, for the user
    const std::string& Error() const { return FError; }

private:
    std::string FName;
    std::string FError;
    int FFd = -1;
};

// The forwarded text: each parameter in double quotation marks (inner marks doubled), joined by ",".
std::string BuildForwardText(const std::vector<std::string>& params);
// At most maxBytes bytes, cut so that no UTF-8 character is split.
std::string CutAtCharBoundary(const std::string& text, size_t maxBytes);
// The 1024-byte buffer: text cut to 1023 bytes and NUL-terminated.
std::vector<char> MakeCopyDataBuffer(const std::string& text);

// A message arriving at the running instance.
struct TForwardMessage {
    bool Activate = true;   // restore and raise the main window
    bool HasData = false;   // a copy-data buffer came with it
    uint32_t Tag = 0;
    uint32_t ByteCount = 0;
    std::string Text;       // the buffer read up to its NUL, never past its end
};

enum class TSendResult { NoReceiver, Sent };
// Connects to the running instance: NoReceiver when nobody listens (still starting). A socket held
// by another user's process is never sent anything (EForwardError). With
// sendData the buffer goes along; answer receives the 32-bit reply. Transport failures raise EForwardError.
TSendResult SendToRunningInstance(const std::string& socketPath, bool sendData, const std::vector<char>& buffer,
                                  uint32_t& answer, int timeoutMs = 10000);

// The listening side: a thread accepting one message per connection, from processes of our own
// user only. Each message has one overall deadline. The handler's result is the answer sent back;
// a handler exception answers 0.
class TForwardServer {
public:
    using THandler = std::function<uint32_t(const TForwardMessage&)>;
    TForwardServer() = default;
    ~TForwardServer() { Stop(); }
    TForwardServer(const TForwardServer&) = delete;
    TForwardServer& operator=(const TForwardServer&) = delete;
    // Raises EForwardError when the socket cannot be set up.
    void Start(const std::string& socketPath, THandler handler);
    void Stop();
    bool Running() const { return FThread.joinable(); }
    // the time one message (request and answer) may take in all; set before Start
    void SetMessageDeadlineMs(int ms) { FDeadlineMs = ms; }

private:
    void Run();
    void Serve(int client);
    std::string FPath;
    THandler FHandler;
    int FDeadlineMs = 3000;
    int FListen = -1;
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

}  // namespace fv
