#include "platform/instance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/byte_order.h"
#include "platform/os_thread.h"

namespace fv {
namespace {

// wire format, little-endian: u32 kind (1 activate only, 2 activate and copy data);
// for kind 2: u32 tag, u32 byte count, then that many bytes. Reply: u32 answer.
constexpr uint32_t kKindActivate = 1;
constexpr uint32_t kKindCopyData = 2;
constexpr uint32_t kMaxByteCount = 65536;

// Without a runtime folder of the session, the lock and the socket live in a folder of our own
// under the shared temporary folder; another user's folder, a link or a wider mode there is refused.
std::string FallbackFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return Format("%s/folvane-%u", base.c_str(), static_cast<unsigned>(::geteuid()));
}

bool UseSessionRuntimeDir(std::string& dir) {
    const char* rt = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (rt && *rt == '/' && ::stat(rt, &st) == 0 && S_ISDIR(st.st_mode)) {
        dir = rt;
        return true;
    }
    dir = FallbackFolder();
    return false;
}

std::string RuntimeBase(const std::string& name, const char* ext) {
    std::string dir;
    UseSessionRuntimeDir(dir);
    return dir + "/" + name + ext;
}
// appends a little-endian field to a message
void AppendU32(std::vector<char>& out, uint32_t v) {
    uint8_t b[4];
    PutU32(b, v);
    out.insert(out.end(), b, b + 4);
}

// full transfers with a deadline; false on error, end of stream or time-out
bool IoAll(int fd, char* buf, size_t len, bool writing, int timeoutMs) {
    size_t done = 0;
    while (done < len) {
        pollfd p{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = ETIMEDOUT;
            return false;
        }
        ssize_t n = writing ? ::send(fd, buf + done, len - done, MSG_NOSIGNAL) : ::recv(fd, buf + done, len - done, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            if (n == 0) errno = ECONNRESET;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    return true;
}

// with its own limit, so that a peer sending a byte now and then cannot hold the line for long
bool IoAllBy(int fd, char* buf, size_t len, bool writing, std::chrono::steady_clock::time_point deadline) {
    size_t done = 0;
    while (done < len) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd p{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) continue;  // the deadline is checked at the top
        ssize_t n = writing ? ::send(fd, buf + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                            : ::recv(fd, buf + done, len - done, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) {
            if (n == 0) errno = ECONNRESET;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// the user id of the process at the other end of a connected Unix socket
bool PeerIsUs(int fd) {
    ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
    return cred.uid == ::geteuid();
}

}  // namespace

std::string CheckInstanceFolder() {
    std::string dir;
    if (UseSessionRuntimeDir(dir)) return std::string();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return Format("Cannot make the private folder \"%s\": %s", dir.c_str(), std::strerror(errno));
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return Format("Cannot check the private folder \"%s\": %s", dir.c_str(), std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return Format("\"%s\" is not a folder of our own (a link or a file is in its place); remove it and start again",
                      dir.c_str());
    if (st.st_uid != ::geteuid())
        return Format("The folder \"%s\" belongs to another user (uid %u); remove it and start again", dir.c_str(),
                      static_cast<unsigned>(st.st_uid));
    if ((st.st_mode & 077) != 0)
        return Format("The folder \"%s\" is open to other users (mode %03o); it must be 0700", dir.c_str(),
                      static_cast<unsigned>(st.st_mode & 0777));
    return std::string();
}

std::string InstanceLockPath(const std::string& name) { return RuntimeBase(name, ".lock"); }

std::string InstanceSocketPath(const std::string& name) {
    std::string p = RuntimeBase(name, ".sock");
    sockaddr_un a;
    if (!FillAddress(p, a)) p = FallbackFolder() + "/" + name + ".sock";
    return p;
}

TSingleInstanceLock::TResult TSingleInstanceLock::Acquire() {
    if (FFd >= 0) return irCreated;
    FError = CheckInstanceFolder();
    if (!FError.empty()) return irFailed;
    std::string path = InstanceLockPath(FName);
    // in a shared folder (/tmp) another user may have put a link or a file of their own there first
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        FError = Format("Cannot open the lock \"%s\": %s", path.c_str(), std::strerror(errno));
        return irFailed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        FError = Format("The lock \"%s\" is not a file of our own", path.c_str());
        return irFailed;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK) FError = Format("Cannot lock \"%s\": %s", path.c_str(), std::strerror(err));
        return err == EWOULDBLOCK ? irAlreadyExists : irFailed;
    }
    FFd = fd;
    return irCreated;
}

void TSingleInstanceLock::Release() {
    if (FFd < 0) return;
    ::flock(FFd, LOCK_UN);
    ::close(FFd);
    FFd = -1;
}

std::string BuildForwardText(const std::vector<std::string>& params) {
    std::string out;
    for (size_t i = 0; i < params.size(); ++i) {
        if (i) out += ',';
        out += '"';
        for (char c : params[i]) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::string CutAtCharBoundary(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t cut = maxBytes;
    // step back over continuation bytes so that the character that does not fit goes whole
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

std::vector<char> MakeCopyDataBuffer(const std::string& text) {
    std::vector<char> buf(kCopyDataSize, '\0');
    std::string cut = CutAtCharBoundary(text, kCopyDataSize - 1);
    std::memcpy(buf.data(), cut.data(), cut.size());
    return buf;
}

TSendResult SendToRunningInstance(const std::string& socketPath, bool sendData, const std::vector<char>& buffer,
                                  uint32_t& answer, int timeoutMs) {
    answer = 0;
    sockaddr_un addr;
    if (!FillAddress(socketPath, addr)) throw EForwardError(Format("socket path too long: %s", socketPath.c_str()));
    std::string folderError = CheckInstanceFolder();
    if (!folderError.empty()) throw EForwardError(folderError);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw EForwardError(Format("socket: %s", std::strerror(errno)));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        if (err == ENOENT || err == ECONNREFUSED) return TSendResult::NoReceiver;
        throw EForwardError(Format("connect: %s", std::strerror(err)));
    }
    // the parameters go only to a process of our own user
    if (!PeerIsUs(fd)) {
        ::close(fd);
        throw EForwardError(Format("\"%s\" is held by another user's process; nothing was sent", socketPath.c_str()));
    }
    std::vector<char> msg;
    AppendU32(msg, sendData ? kKindCopyData : kKindActivate);
    if (sendData) {
        AppendU32(msg, 0);
        AppendU32(msg, static_cast<uint32_t>(buffer.size()));
        msg.insert(msg.end(), buffer.begin(), buffer.end());
    }
    char reply[4];
    if (!IoAll(fd, msg.data(), msg.size(), true, timeoutMs) || !IoAll(fd, reply, 4, false, timeoutMs)) {
        int err = errno;
        ::close(fd);
        throw EForwardError(Format("%s", std::strerror(err)));
    }
    ::close(fd);
    answer = GetU32(reinterpret_cast<const uint8_t*>(reply));
    return TSendResult::Sent;
}

void TForwardServer::Start(const std::string& socketPath, THandler handler) {
    Stop();
    std::string folderError = CheckInstanceFolder();
    if (!folderError.empty()) throw EForwardError(folderError);
    sockaddr_un addr;
    if (!FillAddress(socketPath, addr)) throw EForwardError(Format("socket path too long: %s", socketPath.c_str()));
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw EForwardError(Format("socket: %s", std::strerror(errno)));
    ::unlink(socketPath.c_str());  // a socket left by an instance that died; we hold the lock now
    // the socket is created owner-only: no moment where others may connect, no chmod of a path
    // that could have been replaced meanwhile
    int bound;
    {
        static std::mutex umaskLock;  // the mask is per process: one bind at a time sets it
        std::lock_guard g(umaskLock);
        mode_t old = ::umask(0177);
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        int err = errno;
        ::umask(old);
        errno = err;
    }
    if (bound != 0 || ::listen(fd, 8) != 0) {
        int err = errno;
        ::close(fd);
        throw EForwardError(Format("bind %s: %s", socketPath.c_str(), std::strerror(err)));
    }
    if (::pipe2(FWake, O_CLOEXEC) != 0) {
        ::close(fd);
        throw EForwardError(Format("pipe: %s", std::strerror(errno)));
    }
    FListen = fd;
    FPath = socketPath;
    FHandler = std::move(handler);
    FThread = std::thread([this] { Run(); });
}

void TForwardServer::Stop() {
    if (FThread.joinable()) {
        char c = 1;
        if (::write(FWake[1], &c, 1) < 0) {
        }
        FThread.join();
    }
    if (FListen >= 0) {
        ::close(FListen);
        ::unlink(FPath.c_str());
        FListen = -1;
    }
    for (int& w : FWake) {
        if (w >= 0) ::close(w);
        w = -1;
    }
}

void TForwardServer::Run() {
    SetCurrentThreadName("ForwardServer");
    while (true) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p[1].revents & POLLIN)) return;
        if (p[0].revents & POLLIN) {
            int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                if (PeerIsUs(client)) Serve(client);
                ::close(client);
            }
        }
    }
}

void TForwardServer::Serve(int client) {
    // one deadline for the whole message: the next start waits behind this one at most that long
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FDeadlineMs);
    auto read = [&](void* buf, size_t len) { return IoAllBy(client, static_cast<char*>(buf), len, false, deadline); };
    unsigned char head[4];
    if (!read(head, 4)) return;
    TForwardMessage m;
    uint32_t kind = GetU32(head);
    if (kind != kKindActivate && kind != kKindCopyData) return;
    if (kind == kKindCopyData) {
        unsigned char fields[8];
        if (!read(fields, 8)) return;
        m.HasData = true;
        m.Tag = GetU32(fields);
        m.ByteCount = GetU32(fields + 4);
        if (m.ByteCount > kMaxByteCount) return;  // not ours; nothing is allocated for it
        std::vector<char> data(m.ByteCount);
        if (m.ByteCount && !read(data.data(), data.size())) return;
        // NUL-terminated, but never read past the bytes that came
        if (!data.empty()) m.Text.assign(data.data(), ::strnlen(data.data(), data.size()));
    }
    uint32_t answer = 0;
    try {
        answer = FHandler ? FHandler(m) : 0;
    } catch (...) {
        answer = 0;
    }
    std::vector<char> reply;
    AppendU32(reply, answer);
    IoAllBy(client, reply.data(), reply.size(), true, std::chrono::steady_clock::now() + std::chrono::milliseconds(FDeadlineMs));
}

}  // namespace fv
