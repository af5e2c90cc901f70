// The start-up windows in a real (offscreen) Qt event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "core/config.h"
#include "core/log.h"
#include "platform/instance.h"
#include "ui/main/boot_error_form.h"
#include "ui/main/main_window.h"
#include "ui/main/splash_form.h"
#include "ui/skin/system_icons.h"
#include "ui_test_app.h"

using namespace fv;
namespace fs = std::filesystem;

using fv::test::App;

TEST(BootErrorFormLayout, HasItsCaptionSizeTextsAndButtons) {
    App();
    TBootErrorForm f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Folvane Browser 起動エラー"));
    EXPECT_EQ(f.size(), QSize(394, 130));
    EXPECT_EQ(f.BtnOpen->text(), QStringLiteral("ページを開く"));
    EXPECT_EQ(f.BtnCancel->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(f.BtnOpen->isDefault());
    EXPECT_EQ(f.LabelUrl->text(), QStringLiteral("【起動エラーについて】"));
    EXPECT_TRUE(f.LabelUrl->font().underline());
    EXPECT_EQ(f.LabelUrl->cursor().shape(), Qt::PointingHandCursor);
    QStringList texts;
    for (auto* l : f.findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Folvaneブラウザを起動することができませんでした。")));
    EXPECT_TRUE(texts.contains(QStringLiteral("ご迷惑をお掛けして申し訳ございません。")));
    EXPECT_TRUE(texts.contains(QStringLiteral("詳細は、")));
    EXPECT_TRUE(texts.contains(QStringLiteral("ページを参照してください。")));
    EXPECT_TRUE(BootErrorHelpUrl().endsWith("/ja/fvb/error/"));
}

TEST(BootErrorFormLayout, LinkTurnsRedWhilePointedAtAndClickingItAccepts) {
    App();
    TBootErrorForm f;
    f.show();
    EXPECT_EQ(f.LabelUrl->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(f.LabelUrl, &enter);
    EXPECT_EQ(f.LabelUrl->palette().color(QPalette::WindowText), QColor(Qt::red));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(f.LabelUrl, &leave);
    EXPECT_EQ(f.LabelUrl->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QTest::mouseClick(f.LabelUrl, Qt::LeftButton);
    EXPECT_EQ(f.result(), QDialog::Accepted);

    TBootErrorForm g;
    g.show();
    QTest::mouseClick(g.BtnCancel, Qt::LeftButton);
    EXPECT_EQ(g.result(), QDialog::Rejected);
}

TEST(SplashWindow, SizedToItsPictureWithTheVersionAndItsDisplayTime) {
    App();
    auto* s = new TSplashForm(3000);
    QPixmap pic = DrawSplashPicture();
    EXPECT_EQ(s->size(), pic.size());
    EXPECT_EQ(s->LabelVersion->text(), QString::fromStdString("Ver " + RunningFileVersion()));
    EXPECT_FALSE(RunningFileVersion().empty());
    EXPECT_TRUE(s->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(s->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(s->SplashTimer->interval(), 3000);
    EXPECT_GT(s->LabelVersion->x(), s->width() / 2);  // bottom right
    EXPECT_GT(s->LabelVersion->y(), s->height() / 2);
    // a click does not close a timed splash
    QPointer<TSplashForm> p(s);
    s->show();
    QTest::mouseClick(s, Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_TRUE(p && p->isVisible());
    s->SplashTimer->setInterval(30);
    s->SplashTimer->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.isNull(); }, 3000));  // frees itself

    auto* untimed = new TSplashForm(0);
    QPointer<TSplashForm> q(untimed);
    untimed->show();
    QTest::mouseClick(untimed, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return q.isNull(); }, 3000));
}

TEST(MainWindowQueue, ForwardedTextsAreQueuedLoggedAndHandedToTheProcessor) {
    App();
    fs::path dir = fs::temp_directory_path() / ("fv-ui-log-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    OpenCorvaLog(dir.string());
    std::string logFile = CorvaLogFileName();
    {
        TFolvaneMain2 w;
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Folvane Browser"));
        EXPECT_EQ(w.objectName(), QStringLiteral("TFolvaneMain2"));
        w.ReceiveForwarded("", true);      // empty: nothing queued
        w.ReceiveForwarded("x", false);    // activation only
        w.ReceiveForwarded("\"a=1\"", true);
        w.ReceiveForwarded("\"b=2\"", true);
        auto q = w.PendingCommands();
        ASSERT_EQ(q.size(), 2u);
        EXPECT_EQ(q[0], "\"a=1\"");
        std::vector<std::string> handled;
        w.SetCommandProcessor([&](const std::string& c) { handled.push_back(c); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return handled.size() == 2; }, 2000));
        EXPECT_TRUE(w.PendingCommands().empty());

        // over the real channel
        std::string sock = (dir / "main.sock").string();
        w.StartListening(sock);
        uint32_t answer = 0;
        ASSERT_EQ(SendToRunningInstance(sock, true, MakeCopyDataBuffer("\"c=3\""), answer), TSendResult::Sent);
        EXPECT_EQ(answer, 1u);
        EXPECT_TRUE(QTest::qWaitFor([&] { return handled.size() == 3; }, 2000));
        EXPECT_EQ(handled.back(), "\"c=3\"");
        w.showMinimized();
        ASSERT_EQ(SendToRunningInstance(sock, false, {}, answer), TSendResult::Sent);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isMinimized(); }, 2000));  // restored
    }
    CloseCorvaLog();
    std::ifstream in(logFile);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("TFolvaneMain2.WMCopyData : \"a=1\"\r\n"), std::string::npos);
    EXPECT_NE(log.find("TFolvaneMain2.WMCopyData : \"c=3\"\r\n"), std::string::npos);
    EXPECT_EQ(log.find("WMCopyData : x"), std::string::npos);
    fs::remove_all(dir);
}

TEST(SystemIcons, FilesOfOneTypeShareAnIconAndMissingFilesHaveNone) {
    App();
    fs::path dir = fs::temp_directory_path() / ("fv-icons-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::copy_file(FV_TESTDATA_DIR "/photos/Canon_40D.jpg", dir / "a.jpg", fs::copy_options::overwrite_existing);
    fs::copy_file(FV_TESTDATA_DIR "/photos/Nikon_D70.jpg", dir / "b.jpg", fs::copy_options::overwrite_existing);
    std::ofstream(dir / "notes.txt") << "text";

    int a = GetSystemIconIndex((dir / "a.jpg").string(), false);
    int b = GetSystemIconIndex((dir / "b.jpg").string(), false);
    int folder = GetSystemIconIndex(dir.string(), false);
    ASSERT_GE(a, 0);
    EXPECT_EQ(a, b);
    ASSERT_GE(folder, 0);
    EXPECT_NE(folder, a);
    EXPECT_EQ(GetSystemIconIndex(dir.string(), false), folder);
    EXPECT_FALSE(SystemIcon(a).isNull());
    EXPECT_EQ(GetSystemIconIndex((dir / "absent.jpg").string(), false), -1);
    EXPECT_TRUE(SystemIcon(-1).isNull());
    EXPECT_TRUE(SystemIcon(100000).isNull());
    fs::remove_all(dir);
}
