#include <gtest/gtest.h>

#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "core/log.h"
#include "platform/stall_activity.h"
#include "ui/main/stall_watch.h"
#include "ui_test_app.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

void RunLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void BlockUi(QObject* receiver, int ms, const char* activity) {
    QMetaObject::invokeMethod(receiver, [ms, activity] {
        TStallActivity mark(activity);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }, Qt::QueuedConnection);
}

struct StallWatch : ::testing::Test {
    void SetUp() override { test::App(); }
    void TearDown() override {
        StopStallWatch();
        unsetenv("FOLVANE_STALL_LOG_MS");
    }
};

}  // namespace

TEST_F(StallWatch, ADeliberateStallIsReportedOnceWithItsActivityAndEventAndShortOnesAreNot) {
    // a loaded machine may stall the thread on its own: only the records of our marks count
    std::vector<TStallRecord> seen;
    auto of = [&](const char* activity) {
        std::vector<TStallRecord> out;
        for (const auto& r : seen)
            if (r.Activity && std::string(r.Activity) == activity) out.push_back(r);
        return out;
    };
    StartStallWatch(80, [&](const TStallRecord& r) { seen.push_back(r); });
    QWidget owner;
    auto* label = new QLabel(&owner);
    RunLoop(50);
    // short pieces of work, apart from each other
    for (int i = 0; i < 4; ++i)
        QTimer::singleShot(40 * i, label, [label] { BlockUi(label, 15, "ShortWork"); });
    RunLoop(250);
    EXPECT_TRUE(of("ShortWork").empty()) << StallLogText(of("ShortWork").front());

    BlockUi(label, 300, "DeliberateStall");
    RunLoop(350);
    ASSERT_EQ(of("DeliberateStall").size(), 1u);
    const TStallRecord r = of("DeliberateStall").front();
    EXPECT_GE(r.Ms, 200);
    EXPECT_LT(r.Ms, 5000);
    ASSERT_TRUE(r.Sampled);
    EXPECT_EQ(r.EventType, static_cast<int>(QEvent::MetaCall));
    EXPECT_STREQ(r.Receiver, "QLabel");
    EXPECT_STREQ(r.Owner, "QWidget");
    const std::string text = StallLogText(r);
    EXPECT_NE(text.find("activity DeliberateStall, event MetaCall to QLabel of QWidget"), std::string::npos) << text;
    // the activity ended with its scope
    EXPECT_EQ(CurrentStallActivity(), nullptr);
}

TEST_F(StallWatch, AMemberTimerIsNamedByItsObjectName) {
    std::vector<TStallRecord> seen;
    StartStallWatch(80, [&](const TStallRecord& r) { seen.push_back(r); });
    QTimer named;  // a member timer: no parent
    named.setObjectName("SlowRefreshTimer");
    named.setSingleShot(true);
    QObject::connect(&named, &QTimer::timeout, [] {
        TStallActivity mark("NamedTimerWork");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    RunLoop(50);
    named.start(0);
    RunLoop(400);
    const TStallRecord* r = nullptr;
    for (const auto& s : seen)
        if (s.Activity && std::string(s.Activity) == "NamedTimerWork") r = &s;
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->Sampled);
    EXPECT_STREQ(r->Receiver, "QTimer");
    EXPECT_EQ(r->Owner, nullptr);
    EXPECT_STREQ(r->Name, "SlowRefreshTimer");
    EXPECT_NE(StallLogText(*r).find("to QTimer SlowRefreshTimer"), std::string::npos) << StallLogText(*r);
    // a name changed later is a new text; the one noted stays readable
    named.setObjectName("Renamed");
    EXPECT_STREQ(r->Name, "SlowRefreshTimer");
}

TEST_F(StallWatch, MarksCountOnlyOnTheWatchedThreadAndOnlyWhileWatching) {
    {
        TStallActivity idle("NotWatched");
        EXPECT_EQ(CurrentStallActivity(), nullptr);
    }
    StartStallWatch(50, [](const TStallRecord&) {});
    TStallActivity outer("Outer");
    {
        TStallActivity inner("Inner");
        EXPECT_STREQ(CurrentStallActivity(), "Inner");
        std::thread other([] { TStallActivity worker("Worker"); });
        other.join();
        EXPECT_STREQ(CurrentStallActivity(), "Inner");
    }
    EXPECT_STREQ(CurrentStallActivity(), "Outer");
    StopStallWatch();
    EXPECT_FALSE(StallWatchRunning());
}

TEST_F(StallWatch, TheVariableStartsTheWatchAndStallsGoToTheLog) {
    fs::path dir = fs::temp_directory_path() / ("fv-stall-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    OpenCorvaLog(dir.string());
    unsetenv("FOLVANE_STALL_LOG_MS");
    EXPECT_EQ(StartStallWatchFromEnvironment(), 0);
    EXPECT_FALSE(StallWatchRunning());
    for (const char* bad : {"abc", "-5", "0", "12ms", "999999"}) {
        setenv("FOLVANE_STALL_LOG_MS", bad, 1);
        EXPECT_EQ(StartStallWatchFromEnvironment(), 0) << bad;
        EXPECT_FALSE(StallWatchRunning()) << bad;
    }
    setenv("FOLVANE_STALL_LOG_MS", "80", 1);
    EXPECT_EQ(StartStallWatchFromEnvironment(), 80);
    ASSERT_TRUE(StallWatchRunning());
    QWidget owner;
    RunLoop(50);
    BlockUi(&owner, 200, "LoggedStall");
    RunLoop(250);
    StopStallWatch();
    std::string logFile = CorvaLogFileName();
    CloseCorvaLog();
    std::ifstream in(logFile, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string log = ss.str();
    EXPECT_NE(log.find("FOLVANE_STALL_LOG_MS ignored ( abc )"), std::string::npos);
    EXPECT_NE(log.find("Logging UI-thread stalls over 80 ms"), std::string::npos);
    EXPECT_NE(log.find("activity LoggedStall, event MetaCall to QWidget"), std::string::npos) << log;
    EXPECT_EQ(log.find("LoggedStall", log.find("LoggedStall") + 1), std::string::npos);  // once
    fs::remove_all(dir);
}
