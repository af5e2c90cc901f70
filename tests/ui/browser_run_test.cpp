// Real start-ups of the built browser in private XDG folders.
#include <gtest/gtest.h>

#include "run_program.h"

using namespace fvtest;

namespace {
const std::string kSlashes(60, '/');
const std::string kEndBanner = "\r\nEND\r\n" + std::string(60, '/') + "\r\n";

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

TEST(BrowserRun, SecondStartForwardsItsParametersAndEndsWithoutALog) {
    TProgramHome home;
    home.Env["FOLVANE_TEST_QUIT_AFTER_MS"] = "6000";
    pid_t first = home.Start({"first=1"});
    ASSERT_TRUE(home.WaitFor(home.SocketFile(), 15000)) << ReadFile(home.Root / "stderr");
    home.Env.erase("FOLVANE_TEST_QUIT_AFTER_MS");
    auto t0 = std::chrono::steady_clock::now();
    pid_t second = home.Start({"a=1", "b=\"x\""}, "stderr2");
    EXPECT_EQ(TProgramHome::Wait(second, 10000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));  // ends at once
    // without parameters the second start only activates the first
    EXPECT_EQ(TProgramHome::Wait(home.Start({}, "stderr3"), 10000), 0);
    EXPECT_EQ(TProgramHome::Wait(first, 20000), 0) << ReadFile(home.Root / "stderr");

    std::string log = home.LogText();
    EXPECT_EQ(Count(log, "\r\nSTART\r\n"), 1u) << log;  // the second process wrote nothing
    EXPECT_EQ(Count(log, "TFolvaneMain2.WMCopyData : "), 1u) << log;
    EXPECT_NE(log.find("\r\nTFolvaneMain2.WMCopyData : \"a=1\",\"b=\"\"x\"\"\"\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nInitial Params( Mode=dontboot : SessionID= : AppInfoUrl= : BaseUrl= : FolvaneID= : "
                       "PreviewUrl= )\r\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(EndsWith(log, kEndBanner)) << log;
    // settings are saved at the end of the run
    EXPECT_NE(ReadFile(home.RegistryFile()).find("\"ThumbnailSize\"=hex:50"), std::string::npos);
}

TEST(BrowserRun, LongForwardedTextArrivesCutAtACharacterBoundary) {
    TProgramHome home;
    home.Env["FOLVANE_TEST_QUIT_AFTER_MS"] = "5000";
    pid_t first = home.Start({});
    ASSERT_TRUE(home.WaitFor(home.SocketFile(), 15000));
    home.Env.erase("FOLVANE_TEST_QUIT_AFTER_MS");
    std::string param = "t=";
    while (param.size() < 1500) param += "写真";
    EXPECT_EQ(TProgramHome::Wait(home.Start({param}, "stderr2"), 10000), 0);
    EXPECT_EQ(TProgramHome::Wait(first, 20000), 0);
    std::string log = home.LogText();
    size_t at = log.find("TFolvaneMain2.WMCopyData : ");
    ASSERT_NE(at, std::string::npos) << log;
    at += std::string("TFolvaneMain2.WMCopyData : ").size();
    std::string got = log.substr(at, log.find("\r\n", at) - at);
    std::string sent = "\"" + param + "\"";
    EXPECT_LE(got.size(), 1023u);
    EXPECT_GE(got.size(), 1021u);
    EXPECT_EQ(got, sent.substr(0, got.size()));
    EXPECT_NE(static_cast<unsigned char>(sent[got.size()]) & 0xC0, 0x80u);  // the next byte starts a character
}

TEST(BrowserRun, SecondStartWhileTheFirstIsStillStartingHasNoEffect) {
    TProgramHome home;
    // the instance lock is held, but nobody listens yet
    pid_t holder = ::fork();
    if (holder == 0) {
        setenv("XDG_RUNTIME_DIR", home.Env["XDG_RUNTIME_DIR"].c_str(), 1);
        std::string lock = home.Env["XDG_RUNTIME_DIR"] + "/{21357E10-BDCB-4CDD-B2A3-905DD7ED653D}.lock";
        int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
        ::flock(fd, LOCK_EX);
        ::sleep(20);
        ::_exit(0);
    }
    ASSERT_TRUE(home.WaitFor(home.Root / "rt/{21357E10-BDCB-4CDD-B2A3-905DD7ED653D}.lock", 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(TProgramHome::Wait(home.Start({"a=1"}), 10000), 0);
    EXPECT_FALSE(fs::exists(home.LogFolder()));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

TEST(BrowserRun, TerminationSignalClosesTheWindowAndRunsEveryTeardown) {
    TProgramHome home;
    pid_t pid = home.Start({});
    ASSERT_TRUE(home.WaitFor(home.SocketFile(), 15000));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(TProgramHome::Wait(pid, 15000), 0);
    std::string log = home.LogText();
    EXPECT_NE(log.find("Termination signal received."), std::string::npos);
    EXPECT_TRUE(EndsWith(log, kEndBanner)) << log;
    EXPECT_FALSE(fs::exists(home.SocketFile()));
    EXPECT_TRUE(fs::exists(home.RegistryFile()));
}

TEST(BrowserRun, DamagedSettingsTakeTheBootErrorPathAndAreKeptAside) {
    TProgramHome home;
    fs::create_directories(home.RegistryFile().parent_path());
    const std::string damaged = "[SOFTWARE\\Kestrona\\FolvaneBrowser\\Config]\n\"SortUp\"=sz:\"open\n";
    std::ofstream(home.RegistryFile()) << damaged;
    EXPECT_EQ(TProgramHome::Wait(home.Start({}), 20000), 1);
    std::string err = ReadFile(home.Root / "stderr");
    EXPECT_NE(err.find("ECorvaEngineInitializeError\nCorvaEngine の初期化に失敗しました。"), std::string::npos) << err;
    EXPECT_NE(err.find("CorvaConfigItem の初期化に失敗しました。"), std::string::npos);
    EXPECT_EQ(ReadFile(home.RegistryFile().string() + ".bad"), damaged);
    EXPECT_FALSE(fs::exists(home.RegistryFile()));  // no defaults written over it
    std::string log = home.LogText();
    EXPECT_NE(log.find("CorvaConfigItem の初期化に失敗しました。"), std::string::npos);
    EXPECT_TRUE(EndsWith(log, kEndBanner));
    // the next start runs with defaults
    home.Env["FOLVANE_TEST_QUIT_AFTER_MS"] = "500";
    EXPECT_EQ(TProgramHome::Wait(home.Start({}, "stderr2"), 20000), 0);
    EXPECT_TRUE(fs::exists(home.RegistryFile()));
}

TEST(BrowserRun, LogFolderThatCannotBeCreatedReportsTheStartLogError) {
    TProgramHome home;
    std::ofstream(home.Root / "data/Kestrona") << "a file where the folder should be";
    EXPECT_EQ(TProgramHome::Wait(home.Start({}), 20000), 1);
    std::string err = ReadFile(home.Root / "stderr");
    std::string folder = (home.Root / "data/Kestrona/FolvaneBrowser/Log").string();
    // the report as the message box shows it: class name, then the message
    EXPECT_NE(err.find("ECorvaEngineStartLogError\nログファイルの初期化中にエラーが発生しました。\r\n\r\n"
                       "ECorvaEngineInitializeError\r\nログフォルダの作成に失敗しました。( " + folder + " )\n"),
              std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(home.RegistryFile()));  // nothing of the engine ran
}
