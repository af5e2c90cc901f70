#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "core/startup.h"
#include "platform/instance.h"
#include "platform/registry.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Collects the calls made through the hooks in the order they happen.
struct Recorder {
    std::vector<std::string> calls;
    std::string bootErrorClass = "-";
    TStartupHooks Hooks() {
        TStartupHooks h;
        h.InitLog = [this] { calls.push_back("InitLog"); };
        h.FinalLog = [this] { calls.push_back("FinalLog"); };
        h.LogStartParams = [this](const std::string& l) { calls.push_back("Log " + l); };
        h.InitStartParams = [this](const std::vector<std::string>& p) { calls.push_back("Params " + std::to_string(p.size())); };
        h.CheckAppInfo = [this] { calls.push_back("AppInfo"); return true; };
        h.LogOut = [this] { calls.push_back("LogOut"); };
        h.CheckNeedUpdate = [this] { calls.push_back("Update"); return false; };
        h.InitApplication = [this] { calls.push_back("App"); };
        h.ShowSplash = [this] { calls.push_back("Splash"); };
        h.InitEngine = [this] { calls.push_back("Engine"); };
        h.FinalEngine = [this] { calls.push_back("FinalEngine"); };
        h.SetWirelessRoot = [this] { calls.push_back("Wireless"); };
        h.StartLogSaver = [this](const std::string& f) {
            calls.push_back(f.size() > 4 && f.substr(f.size() - 4) == "/Log" ? "LogSaver" : "LogSaver?" + f);
        };
        h.FinishLogSaver = [this] { calls.push_back("FinishLogSaver"); };
        h.StartBackUploader = [this] { calls.push_back("BackUp"); };
        h.AbortBackUploader = [this] { calls.push_back("AbortBackUp"); };
        h.RunMainWindow = [this] { calls.push_back("Main"); };
        h.ShowBootError = [this](const Exception* e) {
            calls.push_back("BootError");
            bootErrorClass = e ? e->ClassName() : "";
        };
        return h;
    }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(StartupStages, RunInOrderAndTearDownInnermostFirst) {
    Recorder r;
    auto h = r.Hooks();
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {"a", "b"}), h), 0);
    EXPECT_EQ(r.calls, (Calls{"InitLog", "Log Initial", "Params 2", "Log CmdLine", "AppInfo", "Log AppInfo", "Update",
                              "App", "Splash", "Engine", "Wireless", "LogSaver", "BackUp", "Main", "AbortBackUp",
                              "FinishLogSaver", "FinalEngine", "LogOut", "FinalLog"}));
}

TEST(StartupStages, RefusedAppInfoShowsTheDialogAndOwesNoLogOut) {
    Recorder r;
    auto h = r.Hooks();
    h.CheckAppInfo = [&] { r.calls.push_back("AppInfo"); return false; };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 0);
    EXPECT_EQ(r.calls, (Calls{"InitLog", "Log Initial", "Params 0", "Log CmdLine", "AppInfo", "BootError", "FinalLog"}));
    EXPECT_EQ(r.bootErrorClass, "");  // the dialog without a message box
}

TEST(StartupStages, StartedUpdateEndsAfterLogOut) {
    Recorder r;
    auto h = r.Hooks();
    h.CheckNeedUpdate = [&] { r.calls.push_back("Update"); return true; };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 0);
    EXPECT_EQ(r.calls, (Calls{"InitLog", "Log Initial", "Params 0", "Log CmdLine", "AppInfo", "Log AppInfo", "Update",
                              "LogOut", "FinalLog"}));
}

TEST(StartupStages, EngineCreationFailureRunsOwedTeardownsThenTheBootErrorPath) {
    Recorder r;
    auto h = r.Hooks();
    h.InitEngine = [&] {
        r.calls.push_back("Engine");
        throw ECorvaEngineInitializeError("CorvaEngine の初期化に失敗しました。");
    };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 1);
    EXPECT_EQ(r.calls, (Calls{"InitLog", "Log Initial", "Params 0", "Log CmdLine", "AppInfo", "Log AppInfo", "Update",
                              "App", "Splash", "Engine", "LogOut", "FinalLog", "BootError"}));
    EXPECT_EQ(r.bootErrorClass, "ECorvaEngineInitializeError");
}

TEST(StartupStages, ParameterErrorsTakeTheBootErrorPathOthersAreRaisedAfterTeardown) {
    Recorder r;
    auto h = r.Hooks();
    h.InitStartParams = [](const std::vector<std::string>&) { throw EFolvaneApiParamsInitialzeError("bad"); };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 1);
    EXPECT_EQ(r.calls, (Calls{"InitLog", "Log Initial", "FinalLog", "BootError"}));

    Recorder o;
    auto g = o.Hooks();
    g.RunMainWindow = [] { throw std::runtime_error("window failed"); };
    EXPECT_THROW(RunStartupStages(BuildStartupStages(g, {}), g), std::runtime_error);
    EXPECT_EQ(o.calls.back(), "FinalLog");
    EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "BootError"), 0);
    EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "FinalEngine"), 1);
}

TEST(StartupStages, FailedLogOpeningOwesNothingAndATeardownFailureDoesNotStopTheOthers) {
    Recorder r;
    auto h = r.Hooks();
    h.InitLog = [] { throw ECorvaEngineStartLogError("x"); };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 1);
    EXPECT_EQ(r.calls, (Calls{"BootError"}));
    EXPECT_EQ(r.bootErrorClass, "ECorvaEngineStartLogError");

    Recorder t;
    auto g = t.Hooks();
    g.FinishLogSaver = [] { throw ECorvaEngineError("saver"); };
    EXPECT_THROW(RunStartupStages(BuildStartupStages(g, {}), g), ECorvaEngineError);
    EXPECT_EQ(std::vector<std::string>(t.calls.end() - 4, t.calls.end()),
              (Calls{"AbortBackUp", "FinalEngine", "LogOut", "FinalLog"}));
}

namespace {
// points XDG_DATA_HOME somewhere else for one test
struct DataHome : ::testing::Test {
    std::string saved = std::getenv("XDG_DATA_HOME");
    fs::path dir = fs::temp_directory_path() / ("fv-start-" + std::to_string(::getpid()));
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        CloseCorvaLog();
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
        fs::remove(DefaultRegistryFileName());
        fs::remove(DefaultRegistryFileName() + ".bad");
        fs::remove_all(dir);
    }
};
}  // namespace

TEST_F(DataHome, LogFolderThatCannotBeCreatedGivesTheStartLogErrorChain) {
    std::ofstream(dir / "file") << "not a folder";
    setenv("XDG_DATA_HOME", (dir / "file").c_str(), 1);
    std::string folder = (dir / "file/Kestrona/FolvaneBrowser/Log").string();
    try {
        InitCorvaEngineLog();
        FAIL();
    } catch (const ECorvaEngineStartLogError& e) {
        EXPECT_EQ(e.Message(), "ログファイルの初期化中にエラーが発生しました。\r\n\r\nECorvaEngineInitializeError\r\n"
                               "ログフォルダの作成に失敗しました。( " + folder + " )");
    }
    EXPECT_FALSE(IsCorvaLogOpen());
}

TEST_F(DataHome, EngineLogCreatesItsFolderAndWritesBothBanners) {
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    InitCorvaEngineLog();
    ASSERT_TRUE(IsCorvaLogOpen());
    std::string file = CorvaLogFileName();
    EXPECT_EQ(fs::path(file).parent_path(), dir / "Kestrona/FolvaneBrowser/Log");
    FinalCorvaEngineLog();
    std::string text = ReadAll(file);
    EXPECT_NE(text.find("\r\nSTART\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nEND\r\n"), std::string::npos);
}

TEST_F(DataHome, DamagedSettingsFailTheEngineAndAreKeptAside) {
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    fs::create_directories(fs::path(DefaultRegistryFileName()).parent_path());
    std::ofstream(DefaultRegistryFileName()) << "[SOFTWARE\\Kestrona\\FolvaneBrowser\\Config]\n\"SortUp\"=dword:zz\n";
    try {
        InitCorvaEngine();
        FAIL();
    } catch (const ECorvaEngineInitializeError& e) {
        EXPECT_TRUE(IsBootError(e));
        EXPECT_EQ(e.Message().rfind("CorvaEngine の初期化に失敗しました。\r\n\r\nECorvaEngineInitializeError\r\n"
                                    "CorvaConfigItem の初期化に失敗しました。\r\n\r\nERegistryDamagedError\r\n",
                                    0),
                  0u)
            << e.Message();
    }
    EXPECT_FALSE(CorvaEngineExists());
    EXPECT_EQ(CorvaConfig(), nullptr);
    EXPECT_TRUE(fs::exists(DefaultRegistryFileName() + ".bad"));
    EXPECT_FALSE(fs::exists(DefaultRegistryFileName()));  // not replaced by defaults
}

TEST_F(DataHome, EngineLoadsSettingsAndSavesThemAtTheEnd) {
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    {
        TFolvaneConfigItem c;
        c.SetThumbnailSize(160);
        c.SaveToRegistry();
    }
    InitCorvaEngine();
    ASSERT_NE(CorvaConfig(), nullptr);
    ASSERT_NE(CorvaThreadMaster(), nullptr);
    EXPECT_EQ(CorvaConfig()->GetThumbnailSize(), 160);
    EXPECT_TRUE(fs::is_directory(dir / "Kestrona/FolvaneBrowser/Data"));
    CorvaConfig()->SetTrayHeight(77);
    FinalCorvaEngine();
    EXPECT_EQ(CorvaConfig(), nullptr);
    TFolvaneConfigItem again;
    again.LoadFromRegistry();
    EXPECT_EQ(again.GetTrayHeight(), 77);
}

TEST(ForwardText, QuotesEachParameterAndDoublesInnerMarks) {
    EXPECT_EQ(BuildForwardText({"a=1", "b=\"x\""}), "\"a=1\",\"b=\"\"x\"\"\"");
    EXPECT_EQ(BuildForwardText({}), "");
    EXPECT_EQ(BuildForwardText({""}), "\"\"");
}

TEST(ForwardText, NobodyListeningMeansNothingHappens) {
    EXPECT_FALSE(ForwardToRunningInstance({"a=1"}));
}

TEST_F(DataHome, RefusedStartLeavesItsStepsInTheLogInOrder) {
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    TStartupHooks h = DefaultStartupHooks({"mode=1"});
    bool dialog = false;
    h.CheckAppInfo = [] {
        WriteLog("CheckAppInfoEx : service unreachable");
        return false;
    };
    h.ShowBootError = [&](const Exception* e) { dialog = e == nullptr; };
    h.InitEngine = [] { FAIL() << "the engine must not start"; };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {"mode=1"}), h), 0);
    EXPECT_TRUE(dialog);
    std::string log;
    for (auto& e : fs::directory_iterator(dir / "Kestrona/FolvaneBrowser/Log")) log += ReadAll(e.path());
    std::vector<std::string> order = {"\r\nSTART\r\n", "\r\nInitial : \"mode=1\"\r\n", "\r\nCmdLine : \"mode=1\"\r\n",
                                      "\r\nCheckAppInfoEx : service unreachable\r\n",
                                      "\r\nExit. (CheckAppInfoEx Failed.)\r\n", "\r\nEND\r\n"};
    size_t at = 0;
    for (const auto& line : order) {
        size_t p = log.find(line, at);
        ASSERT_NE(p, std::string::npos) << line << "\n" << log;
        at = p + line.size();
    }
    EXPECT_EQ(log.find("AppInfo :"), std::string::npos);
}

TEST_F(DataHome, StartedUpdateEndsTheLogWithItsExitLine) {
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    TStartupHooks h = DefaultStartupHooks({});
    bool loggedOut = false, splash = false;
    h.CheckNeedUpdate = [] { return true; };
    h.LogOut = [&] { loggedOut = true; WriteLog("LogOut"); };
    h.ShowSplash = [&] { splash = true; };
    EXPECT_EQ(RunStartupStages(BuildStartupStages(h, {}), h), 0);
    EXPECT_TRUE(loggedOut);
    EXPECT_FALSE(splash);
    std::string log;
    for (auto& e : fs::directory_iterator(dir / "Kestrona/FolvaneBrowser/Log")) log += ReadAll(e.path());
    size_t exitLine = log.find("\r\nExit. (Start Update.)\r\n");
    ASSERT_NE(exitLine, std::string::npos) << log;
    EXPECT_LT(exitLine, log.find("\r\nLogOut\r\n"));
    EXPECT_LT(log.find("\r\nLogOut\r\n"), log.find("\r\nEND\r\n"));
    EXPECT_FALSE(fs::exists(DefaultRegistryFileName()));  // the engine never ran, nothing was saved
}
