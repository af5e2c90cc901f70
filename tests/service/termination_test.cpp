// SIGTERM in the middle of a call that a service trickles: the process ends the call, closes
// its log (END) and exits in good time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "../platform/loopback_peer.h"
#include "../temp_dir.h"
#include "core/log.h"
#include "platform/http.h"
#include "platform/signals.h"

namespace fv {
namespace {

struct Termination : test::TTempDirTest {};

TEST_F(Termination, SigtermEndsATrickledCallAndTheLogSaysEnd) {
    TLoopbackPeer peer({{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", std::string(400, 'x'), 500}});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OpenCorvaLog(dir.string());
        InstallTerminationPipe();
        int rc = 3;
        try {
            THttpClient c;
            c.SetDeadline(0);  // no deadline: only the signal can end it
            TMemoryStream out;
            c.Get(peer.Url(), out);
            rc = 1;
        } catch (const EHttpCancelled&) {
            rc = DrainTerminationPipe() ? 0 : 2;
        } catch (...) {
        }
        WriteLog("Termination signal received.");
        CloseCorvaLog();
        _exit(rc);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(child, SIGTERM), 0);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() - sent < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the process did not end within 5 s of SIGTERM";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);  // the call ended as cancelled, by the signal
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(dir)) log += test::ReadFileText(e.path());
    EXPECT_NE(log.find("START"), std::string::npos);
    EXPECT_NE(log.find("END"), std::string::npos);
}

}  // namespace
}  // namespace fv
