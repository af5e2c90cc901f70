#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/instance.h"
#include "platform/sync.h"
#include "platform/ui_dispatch.h"

using namespace fv;
using namespace std::chrono_literals;

TEST(SingleInstance, SecondHolderIsToldThatTheLockExists) {
    TSingleInstanceLock first("fv-test-lock");
    ASSERT_EQ(first.Acquire(), TSingleInstanceLock::irCreated);
    // a flock belongs to the open file: another process sees it held
    pid_t child = fork();
    if (child == 0) {
        TSingleInstanceLock second("fv-test-lock");
        _exit(second.Acquire() == TSingleInstanceLock::irAlreadyExists ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    first.Release();
    TSingleInstanceLock again("fv-test-lock");
    EXPECT_EQ(again.Acquire(), TSingleInstanceLock::irCreated);
}

TEST(CopyDataBuffer, CutsLongTextsAtACharacterBoundary) {
    std::vector<char> b = MakeCopyDataBuffer("abc");
    ASSERT_EQ(b.size(), 1024u);
    EXPECT_STREQ(b.data(), "abc");
    std::string jp;
    while (jp.size() < 1100) jp += "写";  // three bytes each; 1023 is a multiple of 3
    jp = "x" + jp;                         // so that the cut falls inside a character
    b = MakeCopyDataBuffer(jp);
    EXPECT_EQ(b[1023], '\0');
    std::string got(b.data());
    EXPECT_EQ(got.size(), 1021u);
    EXPECT_EQ(got, jp.substr(0, 1021));
    EXPECT_EQ(CutAtCharBoundary("ab", 5), "ab");
    EXPECT_EQ(CutAtCharBoundary("写", 2), "");
}

struct Channel : ::testing::Test {
    std::string path = InstanceSocketPath("fv-test-channel");
    TForwardServer server;
    std::mutex lock;
    std::vector<TForwardMessage> got;
    void SetUp() override {
        server.Start(path, [this](const TForwardMessage& m) {
            std::lock_guard g(lock);
            got.push_back(m);
            return m.Text == "fail" ? throw std::runtime_error("x") : 1u;
        });
    }
};

TEST_F(Channel, DeliversTheBufferAndTheAnswer) {
    uint32_t answer = 0;
    ASSERT_EQ(SendToRunningInstance(path, true, MakeCopyDataBuffer("\"a=1\",\"b=\"\"x\"\"\""), answer), TSendResult::Sent);
    EXPECT_EQ(answer, 1u);
    ASSERT_EQ(SendToRunningInstance(path, false, {}, answer), TSendResult::Sent);
    ASSERT_EQ(SendToRunningInstance(path, true, MakeCopyDataBuffer("fail"), answer), TSendResult::Sent);
    EXPECT_EQ(answer, 0u);  // a failing handler answers 0
    std::lock_guard g(lock);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0].HasData);
    EXPECT_EQ(got[0].ByteCount, 1024u);
    EXPECT_EQ(got[0].Text, "\"a=1\",\"b=\"\"x\"\"\"");
    EXPECT_FALSE(got[1].HasData);
    EXPECT_TRUE(got[1].Activate);
}

TEST_F(Channel, NeverReadsPastAnUnterminatedBufferAndRefusesHugeCounts) {
    uint32_t answer = 7;
    std::vector<char> noNul(16, 'z');
    ASSERT_EQ(SendToRunningInstance(path, true, noNul, answer), TSendResult::Sent);
    {
        std::lock_guard g(lock);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].Text, std::string(16, 'z'));
    }
    // a raw client announcing 4 GB: dropped without an answer and without allocating
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    unsigned char msg[12] = {2, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
    ASSERT_EQ(send(fd, msg, sizeof msg, 0), 12);
    char reply[4];
    EXPECT_EQ(recv(fd, reply, 4, 0), 0);  // closed
    close(fd);
    std::lock_guard g(lock);
    EXPECT_EQ(got.size(), 1u);
}

TEST(ChannelWithoutServer, NoReceiverWhenNobodyListens) {
    uint32_t answer = 5;
    EXPECT_EQ(SendToRunningInstance(InstanceSocketPath("fv-test-nobody"), true, MakeCopyDataBuffer("x"), answer),
              TSendResult::NoReceiver);
    EXPECT_EQ(answer, 0u);
}

TEST(NamedEvents, SameNameSameEventManualReset) {
    TEventHandle a = CreateNamedEvent("fv-ev", false);
    TEventHandle b = CreateNamedEvent("fv-ev", true);  // opens the existing one: state unchanged
    EXPECT_EQ(a, b);
    EXPECT_FALSE(b->IsSignalled());
    a->SetEvent();
    EXPECT_TRUE(b->WaitFor(0));
    EXPECT_TRUE(b->WaitFor(0));  // manual reset: stays signalled
    b->ResetEvent();
    EXPECT_FALSE(a->WaitFor(20));
    EXPECT_NE(CreateNamedEvent("", false), CreateNamedEvent("", false));
    a.reset();
    b.reset();
    EXPECT_EQ(OpenNamedEvent("fv-ev"), nullptr);  // gone with its last holder
    TEventHandle autoReset = CreateUnnamedEvent(false, true);
    EXPECT_TRUE(autoReset->WaitFor(0));
    EXPECT_FALSE(autoReset->WaitFor(0));
}

TEST(QueueDispatcher, WorkerCallsRunOnTheUiThreadAndErrorsComeBack) {
    TQueueDispatcher d;
    std::atomic<bool> ran{false};
    std::atomic<bool> onUi{false};
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        d.RunOnUiThread([&] {
            onUi = d.IsUiThread();
            ran = true;
        }, true);
        try {
            d.RunOnUiThread([] { throw std::runtime_error("boom"); }, true);
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    while (!caught) d.WaitAndProcess(10);
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onUi);
    int direct = 0;
    d.RunOnUiThread([&] { ++direct; }, false);  // on the UI thread: at once
    EXPECT_EQ(direct, 1);
}

namespace {
// points XDG_RUNTIME_DIR at a fresh folder for the test's lifetime
struct RuntimeDir : ::testing::Test {
    std::string dir, saved;
    bool had = false;
    void SetUp() override {
        char tmpl[] = "/tmp/fv-rt-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        if (const char* v = std::getenv("XDG_RUNTIME_DIR")) {
            had = true;
            saved = v;
        }
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        if (had)
            ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
};
}  // namespace

TEST_F(RuntimeDir, LockRefusesALinkOrAnotherUsersFile) {
    std::string lockPath = InstanceLockPath("fv-test-guarded");
    ASSERT_EQ(lockPath, dir + "/fv-test-guarded.lock");
    std::string target = dir + "/planted";
    ASSERT_EQ(::symlink(target.c_str(), lockPath.c_str()), 0);
    TSingleInstanceLock viaLink("fv-test-guarded");
    EXPECT_EQ(viaLink.Acquire(), TSingleInstanceLock::irFailed);
    struct stat st {};
    EXPECT_NE(::lstat(target.c_str(), &st), 0) << "the link was followed and its target created";
    ::unlink(lockPath.c_str());

    if (::geteuid() == 0) {  // only root can plant a file of another owner here
        int fd = ::open(lockPath.c_str(), O_CREAT | O_WRONLY, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
        ::close(fd);
        TSingleInstanceLock planted("fv-test-guarded");
        EXPECT_EQ(planted.Acquire(), TSingleInstanceLock::irFailed);
        ::unlink(lockPath.c_str());
    }
    TSingleInstanceLock mine("fv-test-guarded");
    EXPECT_EQ(mine.Acquire(), TSingleInstanceLock::irCreated);
}

TEST_F(RuntimeDir, SocketIsBornOwnerOnly) {
    // even with an open umask the socket never exists with a wider mode, and nothing changes
    // its mode after it was made (a chmod would show as an attribute change)
    std::string path = InstanceSocketPath("fv-test-mode");
    int in = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_GE(::inotify_add_watch(in, dir.c_str(), IN_CREATE | IN_ATTRIB), 0);
    mode_t old = ::umask(0);
    TForwardServer server;
    server.Start(path, [](const TForwardMessage&) { return 1u; });
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    alignas(inotify_event) char buf[4096];
    bool created = false, changed = false;
    ssize_t n = ::read(in, buf, sizeof buf);
    for (ssize_t off = 0; n > 0 && off < n;) {
        auto* e = reinterpret_cast<inotify_event*>(buf + off);
        if (e->len && std::string(e->name) == "fv-test-mode.sock") {
            if (e->mask & IN_CREATE) created = true;
            if (e->mask & IN_ATTRIB) changed = true;
        }
        off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
    ::close(in);
    EXPECT_TRUE(created);
    EXPECT_FALSE(changed);
    server.Stop();
}

namespace {
// no XDG_RUNTIME_DIR, and a temporary folder of the test's own as TMPDIR (world-writable, like /tmp)
struct NoRuntimeDir : ::testing::Test {
    std::string tmp, privateDir;
    std::string savedRt, savedTmp;
    bool hadRt = false, hadTmp = false;
    void SetUp() override {
        char tmpl[] = "/tmp/fv-nort-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        tmp = tmpl;
        ::chmod(tmp.c_str(), 01777);
        if (const char* v = std::getenv("XDG_RUNTIME_DIR")) hadRt = true, savedRt = v;
        if (const char* v = std::getenv("TMPDIR")) hadTmp = true, savedTmp = v;
        ::unsetenv("XDG_RUNTIME_DIR");
        ::setenv("TMPDIR", tmp.c_str(), 1);
        privateDir = tmp + "/folvane-" + std::to_string(::geteuid());
    }
    void TearDown() override {
        if (hadRt) ::setenv("XDG_RUNTIME_DIR", savedRt.c_str(), 1);
        if (hadTmp)
            ::setenv("TMPDIR", savedTmp.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::string cmd = "rm -rf '" + tmp + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    // a raw connection to a socket path
    static int Connect(const std::string& path) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
};
}  // namespace

TEST_F(NoRuntimeDir, LockAndSocketLiveInAPrivateFolderAndAHostileOneIsRefused) {
    EXPECT_EQ(InstanceLockPath("fv-test-priv"), privateDir + "/fv-test-priv.lock");
    EXPECT_EQ(InstanceSocketPath("fv-test-priv"), privateDir + "/fv-test-priv.sock");

    // planted as a link to a folder the other user controls
    std::string other = tmp + "/elsewhere";
    ASSERT_EQ(::mkdir(other.c_str(), 0777), 0);
    ASSERT_EQ(::symlink(other.c_str(), privateDir.c_str()), 0);
    {
        TSingleInstanceLock lock("fv-test-priv");
        EXPECT_EQ(lock.Acquire(), TSingleInstanceLock::irFailed);
        EXPECT_NE(lock.Error().find("link"), std::string::npos) << lock.Error();
        struct stat st {};
        EXPECT_NE(::lstat((other + "/fv-test-priv.lock").c_str(), &st), 0) << "the lock went through the link";
        TForwardServer server;
        EXPECT_THROW(server.Start(InstanceSocketPath("fv-test-priv"), [](const TForwardMessage&) { return 1u; }),
                     EForwardError);
        uint32_t answer = 0;
        EXPECT_THROW(SendToRunningInstance(InstanceSocketPath("fv-test-priv"), false, {}, answer), EForwardError);
    }
    ::unlink(privateDir.c_str());

    // a folder open to others, even when it is ours
    ASSERT_EQ(::mkdir(privateDir.c_str(), 0700), 0);
    ::chmod(privateDir.c_str(), 0777);
    {
        TSingleInstanceLock lock("fv-test-priv");
        EXPECT_EQ(lock.Acquire(), TSingleInstanceLock::irFailed);
        EXPECT_NE(lock.Error().find("0700"), std::string::npos) << lock.Error();
    }
    if (::geteuid() == 0) {  // another user's folder; only root can make one here
        ::chmod(privateDir.c_str(), 0700);
        ASSERT_EQ(::chown(privateDir.c_str(), 65534, 65534), 0);
        TSingleInstanceLock lock("fv-test-priv");
        EXPECT_EQ(lock.Acquire(), TSingleInstanceLock::irFailed);
        EXPECT_NE(lock.Error().find("another user"), std::string::npos) << lock.Error();
    }
    ::rmdir(privateDir.c_str());

    // missing: made owner-only, and then used
    TSingleInstanceLock lock("fv-test-priv");
    EXPECT_EQ(lock.Acquire(), TSingleInstanceLock::irCreated) << lock.Error();
    struct stat st {};
    ASSERT_EQ(::lstat(privateDir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    TSingleInstanceLock second("fv-test-priv");
    EXPECT_EQ(second.Acquire(), TSingleInstanceLock::irAlreadyExists);
}

TEST_F(NoRuntimeDir, AClientTricklingItsMessageCannotHoldUpTheNextStart) {
    std::string path = InstanceSocketPath("fv-test-slow");
    std::atomic<int> served{0};
    TForwardServer server;
    server.SetMessageDeadlineMs(400);
    server.Start(path, [&](const TForwardMessage&) { return static_cast<uint32_t>(++served); });
    // a byte every 50 ms: under the old per-byte time-out this held the server for a minute
    int slow = Connect(path);
    ASSERT_GE(slow, 0);
    std::atomic<bool> stop{false};
    std::atomic<bool> cut{false};
    std::thread trickle([&] {
        unsigned char msg[12 + 1024] = {2, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0};
        for (size_t i = 0; i < sizeof msg && !stop; ++i) {
            if (send(slow, msg + i, 1, MSG_NOSIGNAL) != 1) {
                cut = true;
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    });
    std::this_thread::sleep_for(100ms);  // the trickle has begun and holds the server's turn
    auto begin = std::chrono::steady_clock::now();
    uint32_t answer = 0;
    EXPECT_EQ(SendToRunningInstance(path, true, MakeCopyDataBuffer("next"), answer, 3000), TSendResult::Sent);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(answer, 1u);
    EXPECT_LT(took, 2000ms);
    // the trickling client was dropped: its next bytes find the connection closed
    for (int i = 0; i < 40 && !cut; ++i) std::this_thread::sleep_for(50ms);
    stop = true;
    trickle.join();
    close(slow);
    EXPECT_TRUE(cut);
    EXPECT_EQ(served, 1);
}

TEST_F(NoRuntimeDir, NeitherEndTalksToAnotherUsersProcess) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user id (runs as root)";
    std::string shared = tmp + "/shared";
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ::chmod(shared.c_str(), 0777);

    // another user listens first: our start sends it nothing
    std::string theirs = shared + "/theirs.sock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        int l = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, theirs.c_str(), sizeof a.sun_path - 1);
        if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 1) != 0) ::_exit(4);
        char c = 1;
        if (::write(ready[1], &c, 1) != 1) ::_exit(5);
        pollfd p{l, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) ::_exit(0);
        int c2 = accept(l, nullptr, nullptr);
        pollfd q{c2, POLLIN, 0};
        char buf[64];
        ::_exit(::poll(&q, 1, 1000) > 0 && recv(c2, buf, sizeof buf, 0) > 0 ? 1 : 0);  // 1: it got our bytes
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    uint32_t answer = 0;
    EXPECT_THROW(SendToRunningInstance(theirs, true, MakeCopyDataBuffer("SessionId=secret"), answer, 1000),
                 EForwardError);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another user's listener received the parameters";

    // another user connects to ours: the handler never sees the message
    std::string ours = shared + "/ours.sock";
    std::atomic<int> served{0};
    TForwardServer server;
    server.Start(ours, [&](const TForwardMessage&) { return static_cast<uint32_t>(++served); });
    ::chmod(ours.c_str(), 0666);  // as if the mode did not keep them out
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        int fd = Connect(ours);
        if (fd < 0) ::_exit(4);
        unsigned char msg[4] = {1, 0, 0, 0};
        send(fd, msg, 4, MSG_NOSIGNAL);
        pollfd q{fd, POLLIN, 0};
        char reply[4];
        ::_exit(::poll(&q, 1, 2000) > 0 && recv(fd, reply, 4, 0) == 4 ? 1 : 0);  // 1: it was answered
    }
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(served, 0);
    uint32_t mine = 0;
    EXPECT_EQ(SendToRunningInstance(ours, false, {}, mine), TSendResult::Sent);
    EXPECT_EQ(mine, 1u);
}
