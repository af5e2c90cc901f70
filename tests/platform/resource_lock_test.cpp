#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/resource_lock.h"

using namespace fv;
namespace fs = std::filesystem;

TEST(ResourceLock, ReadersShareWritersExclude) {
    fs::path dir = fs::temp_directory_path() / ("fv-rl-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string res = (dir / "upload-0001.jpg").string();
    TResourceLock a(res), b(res), w(res);
    ASSERT_TRUE(a.BeginRead(0));
    EXPECT_TRUE(b.BeginRead(0));
    EXPECT_FALSE(w.BeginWrite(30));  // readers hold it
    a.EndRead();
    b.EndRead();
    ASSERT_TRUE(w.BeginWrite(0));
    EXPECT_FALSE(a.BeginRead(20));
    // another process sees the writer too
    pid_t child = fork();
    if (child == 0) {
        TResourceLock other(res);
        _exit(other.BeginRead(50) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    w.EndWrite();
    EXPECT_TRUE(a.BeginRead(0));
    EXPECT_EQ(a.LockFileName(), res + ".lock");
    TResourceLock nowhere((dir / "missing-folder/x").string());
    EXPECT_FALSE(nowhere.BeginWrite(0));
    fs::remove_all(dir);
}
