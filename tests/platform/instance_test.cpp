#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
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
