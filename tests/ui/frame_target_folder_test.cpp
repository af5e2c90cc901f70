// The album trees of the left column (tags, sibling storage) with the running library engine: their
// commands, questions and refusals, and how the accordion places and selects them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <memory>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "core/engine.h"
#include "core/log.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "ui/targets/calendar_grid.h"
#include "ui/targets/frame_target_calendar.h"
#include "ui/targets/frame_target_commands.h"
#include "ui/targets/frame_target_directory.h"
#include "ui/targets/frame_target_events.h"
#include "ui/targets/frame_target_folder.h"
#include "ui/targets/frame_targets.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

// a running library engine in a private data folder, and dialogs that answer as told
class TargetTreeTest : public ::testing::Test {
protected:
    fs::path Dir;
    std::string SavedData, SavedConfig;
    TFolderDialogs SavedDialogs;
    QStringList Asked, Errors;
    bool AnswerYes = false;
    QString InputAnswer;
    bool InputOk = true;

    void SetUp() override {
        test::App();
        InstallQtUiDispatcher();
        Dir = fs::temp_directory_path() / ("fv-trees-" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        if (const char* v = std::getenv("XDG_DATA_HOME")) SavedData = v;
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) SavedConfig = v;
        setenv("XDG_DATA_HOME", (Dir / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Dir / "config").c_str(), 1);
        OpenCorvaLog(Dir.string());
        InstallLibraryEngine();
        InitCorvaEngine();
        SavedDialogs = FolderDialogs();
        FolderDialogs().Ask = [this](const QString& text) {
            Asked << text;
            return AnswerYes;
        };
        FolderDialogs().Error = [this](const QString& text) { Errors << text; };
        FolderDialogs().Input = [this](const QString&, const QString&, QString& value) {
            if (InputOk) value = InputAnswer;
            return InputOk;
        };
    }
    void TearDown() override {
        FolderDialogs() = SavedDialogs;
        if (CorvaEngineExists()) FinalCorvaEngine();
        SetCorvaEngineBody(nullptr);
        CloseCorvaLog();
        setenv("XDG_DATA_HOME", SavedData.c_str(), 1);
        setenv("XDG_CONFIG_HOME", SavedConfig.c_str(), 1);
        fs::remove_all(Dir);
    }
    static QStringList Children(QTreeWidgetItem* n) {
        QStringList out;
        for (int i = 0; i < n->childCount(); ++i) out << n->child(i)->text(0);
        return out;
    }
};

}  // namespace

TEST_F(TargetTreeTest, TagsAreCreatedWithFreeNamesRenamedAndDeletedOnlyAfterYes) {
    TFrameTargetFolder frame;
    frame.resize(240, 300);
    frame.SetRoot(CorvaAlbums(), atTags);
    EXPECT_EQ(frame.Title(), QStringLiteral("タグ"));
    EXPECT_EQ(frame.Action("AcFolderCreateNew")->text(), QStringLiteral("新しいタグの作成"));
    EXPECT_EQ(frame.Action("AcFolderTrash")->text(), QStringLiteral("タグの削除"));
    QTreeWidgetItem* root = frame.Tree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("タグ"));

    // twice under the same parent: the default name, then the default name with (2)
    TCustomFolder* first = frame.CreateNew(root, false);
    TCustomFolder* second = frame.CreateNew(frame.Tree()->topLevelItem(0), false);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->GetCaption(), "新しいタグ");
    EXPECT_EQ(second->GetCaption(), "新しいタグ(2)");
    EXPECT_EQ(frame.CurrentFolder(), second);  // the new tag is chosen
    InputAnswer = QStringLiteral("  旅行 ");
    TCustomFolder* trip = frame.CreateNewRoot();
    ASSERT_NE(trip, nullptr);
    EXPECT_EQ(trip->GetCaption(), "旅行");
    InputOk = false;
    EXPECT_EQ(frame.CreateNewRoot(), nullptr);  // cancelled: nothing made
    root = frame.Tree()->topLevelItem(0);
    EXPECT_EQ(Children(root), (QStringList{"新しいタグ", "新しいタグ(2)", "旅行"}));
    EXPECT_TRUE(Errors.isEmpty());

    // renaming in place gives the model the new name; the root cannot be renamed
    EXPECT_TRUE(frame.CommitRename(frame.NodeOf(first), QStringLiteral("家族")));
    EXPECT_EQ(first->GetCaption(), "家族");
    EXPECT_EQ(frame.NodeOf(first)->text(0), QStringLiteral("家族"));
    EXPECT_FALSE(frame.CommitRename(frame.NodeOf(second), QString()));  // an empty name is refused
    EXPECT_EQ(second->GetCaption(), "新しいタグ(2)");
    EXPECT_EQ(frame.NodeOf(second)->text(0), QStringLiteral("新しいタグ(2)"));
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors[0].startsWith(QStringLiteral("フォルダ名の変更に失敗しました。")));
    EXPECT_TRUE(Errors[0].contains(QStringLiteral("空白のフォルダ名は無効です。")));
    Errors.clear();

    // nothing is deleted without Yes; the question names the tag
    AnswerYes = false;
    EXPECT_FALSE(frame.DeleteNode(frame.NodeOf(trip)));
    ASSERT_EQ(Asked.size(), 1);
    EXPECT_EQ(Asked[0], QStringLiteral("タグを削除します。\r\n\r\n削除対象\t：旅行\r\n\r\n実行してよろしいですか？"));
    EXPECT_NE(frame.NodeOf(trip), nullptr);
    AnswerYes = true;
    frame.Tree()->setCurrentItem(frame.NodeOf(trip));
    QSignalSpy chosen(&frame, &TFrameTargetFolder::folderChosen);
    EXPECT_TRUE(frame.DeleteNode(frame.NodeOf(trip)));
    EXPECT_EQ(frame.NodeOf(trip), nullptr);
    EXPECT_EQ(frame.CurrentFolder(), CorvaAlbums()->GetRootAlbum(atTags));  // the parent takes its place
    EXPECT_EQ(Children(frame.Tree()->topLevelItem(0)), (QStringList{"家族", "新しいタグ(2)"}));

    // the root: refused before any question, in the engine's words
    Asked.clear();
    EXPECT_FALSE(frame.DeleteNode(frame.Tree()->topLevelItem(0)));
    EXPECT_TRUE(Asked.isEmpty());
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors[0].endsWith(QStringLiteral("を削除することはできません。"))) << Errors[0].toStdString();
    frame.PrepareMenu(frame.Tree()->topLevelItem(0));
    EXPECT_FALSE(frame.Action("AcFolderRename")->isEnabled());
    EXPECT_FALSE(frame.Action("AcFolderTrash")->isEnabled());
    EXPECT_TRUE(frame.Action("AcFolderCreateNewRoot")->isVisible());
    EXPECT_FALSE(frame.Action("AcAlbumAddCalendar")->isVisible());
    frame.SetRoot(nullptr, atTags);
}

TEST_F(TargetTreeTest, TagsMadeElsewhereAppearAfterTheAlbumEvents) {
    TFrameTargetFolder frame;
    frame.SetRoot(CorvaAlbums(), atTags);
    TLibraryEvents::Install();
    TAlbum* root = CorvaAlbums()->GetRootAlbum(atTags);
    CorvaAlbums()->CreateAlbum(root, atAlbum, "", "外から");
    ASSERT_TRUE(test::WaitUntil([&] { return frame.Tree()->topLevelItem(0)->childCount() == 1; }, 5000));
    EXPECT_EQ(frame.Tree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("外から"));
    frame.SetRoot(nullptr, atTags);
    TLibraryEvents::Uninstall();
}

TEST_F(TargetTreeTest, AccordionPlacesTheTagFrameAndTheSiblingStorage) {
    TFrameTargetsEx targets;
    targets.resize(240, 700);
    targets.Setup();
    targets.show();
    TFrameTargetFolder* tags = targets.TagFrame();
    TFrameTargetCalendar* calendar = targets.CalendarFrame();
    // start: calendar active, tags open at the bottom under the splitter, the month grid hidden
    EXPECT_TRUE(tags->Expanded());
    EXPECT_EQ(tags->geometry().bottom(), 699);
    EXPECT_EQ(tags->height(), targets.TagHeight());
    EXPECT_TRUE(targets.Splitter()->isVisible());
    EXPECT_EQ(targets.Splitter()->geometry().bottom() + 1, tags->y());
    EXPECT_FALSE(calendar->GridVisible());
    EXPECT_FALSE(targets.MirabeloFrame()->isVisible());

    // collapsing the tag frame shows the month grid; expanding it hides the grid again
    QTest::mouseClick(tags, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_FALSE(tags->Expanded());
    EXPECT_TRUE(calendar->GridVisible());
    EXPECT_FALSE(targets.Splitter()->isVisible());
    EXPECT_EQ(tags->geometry(), QRect(0, 676, 240, 24));
    QTest::mouseClick(tags, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_TRUE(tags->Expanded());
    EXPECT_FALSE(calendar->GridVisible());

    // the splitter gives the tag frame room, never below 50 px nor squeezing the active frame away
    targets.SetTagHeight(20);
    EXPECT_EQ(tags->height(), 50);
    targets.SetTagHeight(5000);
    EXPECT_GE(calendar->height(), calendar->TitleHeight() + 60);

    // a tag shown from outside opens the tag frame and is chosen there, silently
    TAlbum* tag = CorvaAlbums()->CreateAlbum(CorvaAlbums()->GetRootAlbum(atTags), atAlbum, "", "海");
    QSignalSpy chosen(&targets, &TFrameTargetsEx::folderChosen);
    QTest::mouseClick(tags, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));  // closed
    targets.SelectFolder(tag);
    EXPECT_TRUE(tags->Expanded());
    EXPECT_EQ(tags->CurrentFolder(), tag);
    EXPECT_EQ(targets.CurrentFolder(), tag);
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);

    // sibling storage: its frame shows once the storage exists, under the calendar when active
    TAlbum* imported = CorvaAlbums()->CreateAlbum(CorvaAlbums()->GetRootAlbum(atMirabelo), atMirabelo, "", "2019");
    imported->SetTitle("2019年の写真");
    targets.ShowFrame(TFrameTargetsEx::tkMirabelo);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);  // not yet
    targets.SetMirabeloExists(true);
    TFrameTargetFolder* mirabelo = targets.MirabeloFrame();
    EXPECT_TRUE(mirabelo->isVisible());
    targets.ShowFrame(TFrameTargetsEx::tkMirabelo);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkMirabelo);
    EXPECT_EQ(calendar->geometry(), QRect(0, 0, 240, 24));
    EXPECT_EQ(targets.DirectoryFrame()->geometry(), QRect(0, 24, 240, 24));
    EXPECT_EQ(mirabelo->y(), 48);
    // the new album reaches the tree through the album events
    ASSERT_TRUE(test::WaitUntil([&] { return mirabelo->NodeOf(imported) != nullptr; }, 5000));
    mirabelo->Tree()->topLevelItem(0)->setExpanded(true);
    EXPECT_EQ(Children(mirabelo->Tree()->topLevelItem(0)), (QStringList{"2019年の写真"}));  // by title
    mirabelo->PrepareMenu(mirabelo->NodeOf(imported));
    EXPECT_TRUE(mirabelo->Action("AcAlbumAddCalendar")->isVisible());
    EXPECT_FALSE(mirabelo->Action("AcFolderCreateNewRoot")->isVisible());
    targets.ShowFrame(TFrameTargetsEx::tkCalendar);
    targets.SelectFolder(imported);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkMirabelo);
    EXPECT_EQ(mirabelo->CurrentFolder(), imported);
    targets.Finish();
}

TEST_F(TargetTreeTest, PhotosDroppedOnATagJoinItAndOnAFolderAreCopiedAfterYes) {
    const fs::path src = Dir / "src", dst = Dir / "dst";
    fs::create_directories(dst);
    fs::create_directories(src);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(test::TestPhotoDir())) {
        if (e.path().extension() != ".jpg" && e.path().extension() != ".JPG") continue;
        fs::copy_file(e.path(), src / e.path().filename());
        names.push_back(e.path().filename().string());
        if (names.size() == 2) break;
    }
    ASSERT_EQ(names.size(), 2u);
    TFolder* folder = GetFolderFromPath(src.string());
    folder->SearchFiles(nullptr);
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& n : names) urls << QUrl::fromLocalFile(QString::fromStdString((src / n).string()));
    urls << QUrl::fromLocalFile(QString::fromStdString((src / "unknown.jpg").string()))  // not in the library
         << QUrl(QStringLiteral("https://example.com/a.jpg"));
    mime->setUrls(urls);
    ASSERT_TRUE(IsPhotoDrop(mime));
    EXPECT_EQ(DroppedItems(mime).size(), 2u);

    // a drop on a tag node adds the photos to it
    TFrameTargetFolder tags;
    tags.resize(240, 300);
    tags.SetRoot(CorvaAlbums(), atTags);
    TCustomFolder* tag = tags.CreateNew(nullptr, false);
    ASSERT_NE(tag, nullptr);
    tags.show();
    EXPECT_TRUE(DropItemsOnAlbum(DroppedItems(mime), static_cast<TAlbum*>(tag)));
    EXPECT_EQ(tag->GetItemCount(), 2);

    // a drop on a folder asks first; No copies nothing, Yes copies the files
    TFolder* target = GetFolderFromPath(dst.string());
    AnswerYes = false;
    EXPECT_FALSE(DropItemsOnFolder(DroppedItems(mime), target, true));
    ASSERT_EQ(Asked.size(), 1);
    EXPECT_EQ(Asked[0], QStringLiteral("2 個のファイルを\r\n\r\n %1へコピーします\r\n\r\nよろしいですか？").arg(QString::fromStdString(target->GetFullName())));
    EXPECT_FALSE(fs::exists(dst / names[0]));
    AnswerYes = true;
    EXPECT_TRUE(DropItemsOnFolder(DroppedItems(mime), target, true));
    EXPECT_TRUE(fs::exists(dst / names[0]));
    EXPECT_TRUE(fs::exists(dst / names[1]));
    EXPECT_TRUE(fs::exists(src / names[0]));  // copied, not moved
    EXPECT_TRUE(Errors.isEmpty());
    tags.SetRoot(nullptr, atTags);
    delete mime;
}

TEST_F(TargetTreeTest, ScreenshotsOfTheCalendarTheDirectoryTreeAndANewTag) {
    // photos on a few days of December 2026 in the library's own calendar
    std::vector<std::unique_ptr<TCatalogItem>> photos;
    const int days[][2] = {{3, 24}, {8, 3}, {10, 140}, {19, 60}, {24, 12}};
    for (const auto& [day, count] : days) {
        for (int i = 0; i < count; ++i) {
            auto it = std::make_unique<TCatalogItem>();
            it->SetKind(1);
            const TDateTime when = EncodeDateTime(2026, 12, day, 9, i % 60);
            it->SetMarked(day == 10);
            CorvaCalendars()->FindOrCreateNode(true, when)->AddItem(it.get(), when);
            photos.push_back(std::move(it));
        }
    }
    const fs::path tree = Dir / "写真";
    for (const char* sub : {"2025/夏休み", "2025/旅行", "2026/運動会", "2026/誕生日", "スキャン"}) fs::create_directories(tree / sub);

    TFrameTargetsEx targets;
    targets.resize(240, 640);
    targets.Setup();
    targets.show();
    TFrameTargetCalendar* calendar = targets.CalendarFrame();
    calendar->Refresh();
    calendar->SelectFolder(CorvaCalendars()->GetChild(2026)->GetChild(12)->GetChild(10));
    QTest::mouseClick(targets.TagFrame(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));  // tags closed: the grid shows
    ASSERT_TRUE(calendar->GridVisible());
    const QImage shot1 = targets.grab().toImage();
    test::SaveScreenshot(shot1, "targets_calendar");
    // the grid paints the photo days on their light ground
    const QRect cell = calendar->Grid()->CellRect(4, 2);  // Thursday the 10th
    const QPoint inGrid = calendar->Grid()->mapTo(&targets, cell.topLeft() + QPoint(3, 3));
    const qreal dpr = shot1.devicePixelRatio();
    EXPECT_NE(shot1.pixelColor(qRound(inGrid.x() * dpr), qRound(inGrid.y() * dpr)), calendar->palette().color(QPalette::Base));

    targets.DirectoryFrame()->SetTops({{"ホーム", Dir.string()}, {"/", "/"}});
    targets.ShowFrame(TFrameTargetsEx::tkDirectory);
    ASSERT_TRUE(targets.DirectoryFrame()->SelectPath((tree / "2026/運動会").string()));
    targets.DirectoryFrame()->RegisterInCalendar(targets.DirectoryFrame()->NodeOfPath((tree / "2025").string()), true);
    test::SaveScreenshot(targets.grab().toImage(), "targets_directory");

    targets.ShowFrame(TFrameTargetsEx::tkCalendar);
    QTest::mouseClick(targets.TagFrame(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));  // tags open again
    TFrameTargetFolder* tags = targets.TagFrame();
    InputAnswer = QStringLiteral("家族");
    ASSERT_NE(tags->CreateNewRoot(), nullptr);
    TCustomFolder* fresh = tags->CreateNew(tags->Tree()->topLevelItem(0), false);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->GetCaption(), "新しいタグ");
    test::SaveScreenshot(targets.grab().toImage(), "targets_tag_new");
    targets.Finish();
    for (auto& p : photos) CorvaCalendars()->FindOrCreateNode(false, p->GetShootingDate())->RemoveItem(p.get());
}

TEST_F(TargetTreeTest, NewDiskFoldersGetFreeNamesAndAppearInTheTree) {
    const fs::path top = Dir / "disk";
    fs::create_directories(top);
    TFrameTargetDirectory frame;
    frame.SetFolderList(CorvaFolders());
    frame.SetTops({{"disk", top.string()}});
    QTreeWidgetItem* node = frame.Tree()->topLevelItem(0);
    TCustomFolder* a = frame.CreateFolderUnder(node);
    TCustomFolder* b = frame.CreateFolderUnder(frame.Tree()->topLevelItem(0));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(fs::is_directory(top / "新しいフォルダ"));
    EXPECT_TRUE(fs::is_directory(top / "新しいフォルダ(2)"));
    EXPECT_EQ(frame.CurrentPath(), (top / "新しいフォルダ(2)").string());
    EXPECT_EQ(frame.Tree()->topLevelItem(0)->childCount(), 2);
    EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(TargetTreeTest, TreeKeysOpenThePopupRenameDeleteAndOpenTheCurrentNodeBeforeTheWindowsShortcuts) {
    // a window with its own shortcuts on the same keys, as the main window has them for the photos
    QWidget window;
    int windowKeys = 0;
    for (QKeySequence k : {QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_F2), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* a = new QAction(&window);
        a->setShortcut(k);
        window.addAction(a);
        QObject::connect(a, &QAction::triggered, [&] { ++windowKeys; });
    }
    auto* frame = new TFrameTargetFolder(&window);
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    other->setGeometry(0, 410, 100, 20);
    frame->SetRoot(CorvaAlbums(), atTags);
    frame->setGeometry(0, 0, 240, 400);
    window.resize(240, 440);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TCustomFolder* tag = frame->CreateNew(frame->Tree()->topLevelItem(0), false);
    ASSERT_NE(tag, nullptr);
    QTreeWidget* tree = frame->Tree();
    tree->setCurrentItem(frame->NodeOf(tag));
    tree->setFocus();
    QApplication::setActiveWindow(&window);

    // Shift+F10 and the menu key: the popup at the current node
    auto* menu = frame->findChild<QMenu*>("FolderPopupMenu");
    ASSERT_NE(menu, nullptr);
    for (auto [key, mods] : {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
        bool shown = false;
        QRect at;
        QTimer::singleShot(150, menu, [&] {
            shown = menu->isVisible();
            at = menu->geometry();
            menu->close();
        });
        QTest::keyClick(tree, key, mods);
        EXPECT_TRUE(shown) << key;
        EXPECT_EQ(at.topLeft(), tree->viewport()->mapToGlobal(tree->visualItemRect(frame->NodeOf(tag)).center())) << key;
    }
    // Del: the question about this tag (answered No)
    QTest::keyClick(tree, Qt::Key_Delete);
    ASSERT_EQ(Asked.size(), 1);
    EXPECT_TRUE(Asked.front().contains(QStringLiteral("新しいタグ"))) << Asked.front().toStdString();
    // F2: the name is edited in place; Esc leaves it as it was
    QTest::keyClick(tree, Qt::Key_F2);
    auto editing = [&] {
        QWidget* f = QApplication::focusWidget();
        return f && qobject_cast<QLineEdit*>(f) && tree->isAncestorOf(f);
    };
    EXPECT_TRUE(editing());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(windowKeys, 0);

    // the root can be neither renamed nor deleted; Enter closes and opens it
    QTreeWidgetItem* root = tree->topLevelItem(0);
    tree->setCurrentItem(root);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Delete);
    QTest::keyClick(tree, Qt::Key_F2);
    EXPECT_EQ(Asked.size(), 1);
    EXPECT_FALSE(editing());
    const bool open = root->isExpanded();
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(root->isExpanded(), !open);
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(root->isExpanded(), open);

    // elsewhere in the window the keys are the window's
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Delete);
    EXPECT_EQ(windowKeys, 1);
    frame->SetRoot(nullptr, atTags);
}
