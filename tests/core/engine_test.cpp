#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config.h"
#include "core/data_file.h"
#include "core/engine.h"
#include "core/log.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

// The steps in their order, as a body sees them; any of them can be told to fail.
struct TRecordingBody : TCorvaEngineBody {
    std::vector<std::string>& Calls;
    std::string FailIn;
    explicit TRecordingBody(std::vector<std::string>& calls, std::string failIn = {}) : Calls(calls), FailIn(std::move(failIn)) {}
    void Do(const char* name) {
        Calls.push_back(name);
        if (FailIn == name) throw Exception(std::string(name) + " broke");
    }
    void Create(TFolvaneConfigItem&) override { Do("Create"); }
    void Load(TFolvaneConfigItem&) override {
        Do("Load");
    }
    void StartBeforeThreads() override { Do("StartBefore"); }
    void StartAfterThreads() override {
        Calls.push_back(CorvaThreadMaster() ? "StartAfter+threads" : "StartAfter-threads");
        if (FailIn == "StartAfter") throw Exception("StartAfter broke");
    }
    void StopBeforeThreads() override { Do("StopBefore"); }
    void StopAfterThreads() override { Calls.push_back(CorvaThreadMaster() ? "StopAfter+threads" : "StopAfter-threads"); }
    void Save(TFolvaneConfigItem&) override { Do("Save"); }
    void Free() override { Do("Free"); }
};

struct Engine : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("fv-engine-" + std::to_string(::getpid()));
    std::vector<std::string> calls;
    std::string savedData, savedConfig;
    void SetUp() override {
        if (const char* v = std::getenv("XDG_DATA_HOME")) savedData = v;
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) savedConfig = v;
        fs::remove_all(dir);
        fs::create_directories(dir);
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        OpenCorvaLog(dir.string());
    }
    void TearDown() override {
        if (CorvaEngineExists()) FinalCorvaEngine();
        SetCorvaEngineBody(nullptr);
        CloseCorvaLog();
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
        fs::remove_all(dir);
    }
    std::string Log() {
        std::ifstream in(CorvaLogFileName(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

}  // namespace

TEST_F(Engine, BodyJoinsTheSixStepsInOrder) {
    SetCorvaEngineBody(std::make_unique<TRecordingBody>(calls));
    InitCorvaEngine();
    EXPECT_EQ(CorvaDataFolder(), (dir / "data/Kestrona/FolvaneBrowser/Data").string());
    EXPECT_THROW(SetCorvaEngineBody(nullptr), ECorvaEngineError);  // not while it runs
    FinalCorvaEngine();
    EXPECT_EQ(calls, (std::vector<std::string>{"Create", "Load", "StartBefore", "StartAfter+threads", "StopBefore",
                                               "StopAfter-threads", "Save", "Free"}));
    EXPECT_FALSE(CorvaEngineExists());
    EXPECT_TRUE(CorvaDataFolder().empty());
}

TEST_F(Engine, LoadAndStartFailuresAreLoggedAndSwallowedButStopStillSaves) {
    SetCorvaEngineBody(std::make_unique<TRecordingBody>(calls, "Load"));
    InitCorvaEngine();  // a library that cannot be read never stops the start
    EXPECT_TRUE(CorvaEngineExists());
    FinalCorvaEngine();
    EXPECT_NE(Log().find("CorvaEngine のデータの読込に失敗しました。\r\n\r\nException\r\nLoad broke"), std::string::npos);
    EXPECT_EQ(calls.back(), "Free");

    calls.clear();
    SetCorvaEngineBody(std::make_unique<TRecordingBody>(calls, "StopBefore"));
    InitCorvaEngine();
    EXPECT_THROW(FinalCorvaEngine(), ECorvaEngineError);
    // the thread master still ends, the data is still saved, everything is still freed
    EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
              (std::vector<std::string>{"StopBefore", "StopAfter-threads", "Save", "Free"}));
    EXPECT_FALSE(CorvaEngineExists());
}

TEST_F(Engine, ACreateFailureFreesWhatWasMadeAndPropagates) {
    SetCorvaEngineBody(std::make_unique<TRecordingBody>(calls, "Create"));
    try {
        InitCorvaEngine();
        FAIL();
    } catch (const ECorvaEngineInitializeError& e) {
        EXPECT_EQ(e.Message(), "CorvaEngine の初期化に失敗しました。\r\n\r\nException\r\nCreate broke\r\n");
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"Create", "Free"}));
    EXPECT_FALSE(CorvaEngineExists());
}

TEST_F(Engine, ASecondProcessOnTheSameLibraryRefusesCleanly) {
    InitCorvaEngine();
    std::string folder = CorvaDataFolder();
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipefd[0]);
        std::string text = "started";
        try {
            InitCorvaEngine();
        } catch (const ECorvaEngineInitializeError& e) {
            text = e.Message();
        }
        (void)!::write(pipefd[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(pipefd[1]);
    std::string got;
    char buf[512];
    for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    ::close(pipefd[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(got, "CorvaEngine の初期化に失敗しました。\r\n\r\nECorvaEngineInitializeError\r\n"
                   "CorvaDataFolder の初期化に失敗しました。\r\n\r\nECorvaEngineError\r\n" +
                       DataFolderInUseText(folder) + "\r\n\r\n");
    FinalCorvaEngine();
    TDataFolderLock after(folder);
    EXPECT_TRUE(after.TryAcquire());  // the end of the engine gives the folder back
}

TEST_F(Engine, ObjectsAreReadSafelyWhileTheEngineComesAndGoes) {
    // other threads ask for the engine's objects while it starts and ends (ThreadSanitizer checks the race)
    std::atomic<bool> stop{false};
    std::atomic<int> seen{0};
    std::thread reader([&] {
        while (!stop) seen += (CorvaConfig() != nullptr) + (CorvaThreadMaster() != nullptr);
    });
    for (int i = 0; i < 5; ++i) {
        InitCorvaEngine();
        EXPECT_NE(CorvaConfig(), nullptr);
        EXPECT_NE(CorvaThreadMaster(), nullptr);
        FinalCorvaEngine();
        EXPECT_EQ(CorvaConfig(), nullptr);
        EXPECT_EQ(CorvaThreadMaster(), nullptr);
    }
    stop = true;
    reader.join();
}
