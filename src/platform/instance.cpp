#include "platform/instance.h"

#include <cerrno>
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

std::string RuntimeBase(const std::string& name, const char* ext) {
    const char* rt = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (rt && *rt == '/' && ::stat(rt, &st) == 0 && S_ISDIR(st.st_mode)) return std::string(rt) + "/" + name + ext;
    return Format("/tmp/%s-%u%s", name.c_str(), static_cast<unsigned>(::getuid()), ext);
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

}  // namespace

std::string InstanceLockPath(const std::string& name) { return RuntimeBase(name, ".lock"); }

std::string InstanceSocketPath(const std::string& name) {
    std::string p = RuntimeBase(name, ".sock");
    sockaddr_un a;
    if (!FillAddress(p, a)) p = Format("/tmp/%s-%u.sock", name.c_str(), static_cast<unsigned>(::getuid()));
    return p;
}

TSingleInstanceLock::TResult TSingleInstanceLock::Acquire() {
    if (FFd >= 0) return irCreated;
    std::string path = InstanceLockPath(FName);
    // in a shared folder (/tmp) another user may have put a link or a file of their own there first
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) return irFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return irFailed;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
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
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw EForwardError(Format("socket: %s", std::strerror(errno)));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        if (err == ENOENT || err == ECONNREFUSED) return TSendResult::NoReceiver;
        throw EForwardError(Format("connect: %s", std::strerror(err)));
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
                Serve(client);
                ::close(client);
            }
        }
    }
}

void TForwardServer::Serve(int client) {
    constexpr int kTimeout = 5000;
    unsigned char head[4];
    if (!IoAll(client, reinterpret_cast<char*>(head), 4, false, kTimeout)) return;
    TForwardMessage m;
    uint32_t kind = GetU32(head);
    if (kind != kKindActivate && kind != kKindCopyData) return;
    if (kind == kKindCopyData) {
        unsigned char fields[8];
        if (!IoAll(client, reinterpret_cast<char*>(fields), 8, false, kTimeout)) return;
        m.HasData = true;
        m.Tag = GetU32(fields);
        m.ByteCount = GetU32(fields + 4);
        if (m.ByteCount > kMaxByteCount) return;  // not ours; nothing is allocated for it
        std::vector<char> data(m.ByteCount);
        if (m.ByteCount && !IoAll(client, data.data(), data.size(), false, kTimeout)) return;
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
    IoAll(client, reply.data(), reply.size(), true, kTimeout);
}

}  // namespace fv
