// The main window driven offscreen: the enabling rules on idle, key routing, the stored layout,
// history, the first idle, the cache dialog, and one whole run on a library made by fvb scan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "image/exif_test_jpeg.h"
#include "image/jpeg_codec.h"
#include "thumbs/engine_image_cache.h"
#include "thumbs/image_facts_provider.h"
#include "library/image_facts.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "platform/datetime.h"
#include "ui/dialogs/cache_size_form.h"
#include "ui/common_images.h"
#include "ui/targets/calendar_grid.h"
#include "ui/grid/catalog_view.h"
#include "ui/targets/frame_target_calendar.h"
#include "ui/targets/frame_target_commands.h"
#include "ui/targets/frame_target_folder.h"
#include "ui/targets/frame_target_directory.h"
#include "ui/targets/frame_targets.h"
#include "ui/viewer/frame_view.h"
#include "ui/grid/live_view.h"
#include "ui/main/main_window.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui_test_app.h"
#include "ui_test_engine.h"
#include "ui_test_items.h"

using namespace fv;
using fv::test::App;
using fv::test::WaitUntil;
namespace fs = std::filesystem;

namespace {

bool Enabled(TFolvaneMain2& w, const char* n) { return w.Action(QString::fromLatin1(n))->isEnabled(); }
bool Visible(TFolvaneMain2& w, const char* n) { return w.Action(QString::fromLatin1(n))->isVisible(); }
bool Checked(TFolvaneMain2& w, const char* n) { return w.Action(QString::fromLatin1(n))->isChecked(); }

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// a window with items in its catalog and no engine
struct LooseWindow {
    bool app = (App(), true);
    fv::test::TTestFolder dir{"mainwin-loose"};
    TFolvaneMain2 w;
    std::vector<TCatalogItem*> items;
    LooseWindow() {
        App();
        w.CatalogView()->SetDialogs({});
        w.show();
        for (int i = 0; i < 4; ++i)
            items.push_back(dir.Add("p" + std::to_string(i) + ".jpg", 640, 480, EncodeDateTime(2024, 5, 1 + i, 10, 0, 0)));
        w.CatalogView()->SetItems(items);
        QTest::qWait(20);
    }
};

}  // namespace

TEST(MainWindowActions, EnablingFollowsTheItemTheViewerAndTheTab) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    EXPECT_TRUE(w.Ready());
    EXPECT_EQ(w.ActiveTab(), 1);
    EXPECT_FALSE(w.NetTabEnabled());
    EXPECT_FALSE(w.BgmTabEnabled());

    // nothing focused
    w.CatalogView()->SetItems({});
    w.SetupActions();
    EXPECT_FALSE(Enabled(w, "AcEditCopy"));
    EXPECT_FALSE(Enabled(w, "AcFileTrash"));
    EXPECT_FALSE(Enabled(w, "AcShowViewer"));
    EXPECT_TRUE(Visible(w, "AcShowViewer"));
    EXPECT_FALSE(Visible(w, "AcEditRotateL"));
    EXPECT_FALSE(Visible(w, "AcShowMain"));
    EXPECT_FALSE(Enabled(w, "AcShowMarkOnly"));
    EXPECT_FALSE(Enabled(w, "AcJumpHistoryPrev"));  // no library, no history
    EXPECT_FALSE(w.BackEnabled());
    EXPECT_TRUE(w.RefreshEnabled());

    // a focused photo
    w.CatalogView()->SetItems(lw.items);
    w.CatalogView()->SetFocusedItem(lw.items[1]);
    w.SetupActions();
    for (const char* n : {"AcEditCopy", "AcEditMove", "AcFileProperty", "AcEditMark", "AcJumpFolder", "AcImageNext",
                          "AcFileTrash", "AcFileDelete", "AcShowViewer", "AcShowMarkOnly", "AcEditMarkChange"})
        EXPECT_TRUE(Enabled(w, n)) << n;
    EXPECT_TRUE(Visible(w, "AcEditRotateL"));
    EXPECT_TRUE(Visible(w, "AcEditRotateRMark"));
    EXPECT_FALSE(Visible(w, "AcImageZoomIn"));  // viewer actions only with the viewer
    EXPECT_FALSE(Visible(w, "AcImageFitWindow"));
    // never enabled, and the actions whose dialogs are not in this program stay hidden
    for (const char* n : {"AcFileCreateNew", "AcToolOption", "AcImageComment", "AcShowLocalSearch", "AcDebugCacheTest"})
        EXPECT_FALSE(Enabled(w, n)) << n;
    for (const char* n : {"AcFileRename", "AcToolExifInfo", "AcToolPrint", "AcTrayIn", "AcDebugCacheTest"})
        EXPECT_FALSE(Visible(w, n)) << n;
    EXPECT_EQ(w.Action("AcFileTrash")->iconText(), QStringLiteral("ゴミ箱へ"));
    EXPECT_EQ(w.Action("AcFileDelete")->iconText(), QStringLiteral("削除"));
    // the checked size follows the catalog
    w.CatalogView()->SetThumbSize(160);
    w.SetupActions();
    EXPECT_TRUE(Checked(w, "AcCsMiddle"));
    EXPECT_FALSE(Checked(w, "AcCsSmall2"));
    w.Action("AcCsLarge2")->trigger();
    EXPECT_EQ(w.CatalogView()->ThumbSize(), 240);

    // the viewer: its actions show, the grid's favourite button goes, F6 moves to the way back
    w.Action("AcShowViewer")->trigger();
    ASSERT_TRUE(w.IsViewerShown());
    EXPECT_TRUE(Visible(w, "AcShowMain") && Enabled(w, "AcShowMain"));
    EXPECT_FALSE(Visible(w, "AcShowViewer"));
    EXPECT_TRUE(Visible(w, "AcImageZoomIn"));
    EXPECT_TRUE(Visible(w, "AcImageMarkChange"));
    EXPECT_FALSE(Visible(w, "AcEditMarkChange"));
    EXPECT_FALSE(Visible(w, "AcShowMarkOnly"));
    EXPECT_TRUE(w.Action("AcShowMain")->shortcuts().contains(QKeySequence(Qt::Key_F6)));
    EXPECT_TRUE(w.Action("AcShowViewer")->shortcuts().isEmpty());
    QAction* viewerButton = w.ToolBarMain()->findChild<QAction*>("BtnShowViewer");
    ASSERT_NE(viewerButton, nullptr);
    EXPECT_EQ(viewerButton->text(), QStringLiteral("写真一覧に戻る"));
    // a viewer opened by the grid itself (hover button, double click) is followed on the next pass
    w.Action("AcShowMain")->trigger();
    EXPECT_FALSE(w.IsViewerShown());
    w.CatalogView()->OpenViewer();
    w.SetupActions();
    EXPECT_TRUE(Visible(w, "AcShowMain"));
    EXPECT_EQ(viewerButton->text(), QStringLiteral("写真一覧に戻る"));
    w.ShowViewer(false);
    EXPECT_EQ(viewerButton->text(), QStringLiteral("写真の拡大表示"));
    EXPECT_EQ(w.Action("AcShowViewer")->shortcuts(), QList<QKeySequence>{QKeySequence(Qt::Key_F6)});

    // the music tab is not the library: rotation and the viewer go, the date change is off
    w.SetActiveTab(2);
    w.SetupActions();
    EXPECT_FALSE(Visible(w, "AcEditRotateL"));
    EXPECT_FALSE(Visible(w, "AcShowViewer"));
    EXPECT_FALSE(Enabled(w, "AcFileChangeExifDate"));
    EXPECT_TRUE(Enabled(w, "AcEditCopy"));
    w.SetActiveTab(1);

    // favourites only: the filter hides the unmarked photos and comes off again
    lw.items[2]->SetMarked(true);
    w.Action("AcShowMarkOnly")->trigger();
    EXPECT_TRUE(w.CatalogView()->Filter().MarkedOnly);
    EXPECT_EQ(w.CatalogView()->Sorted().size(), 1u);
    w.Action("AcShowMarkOnly")->trigger();
    EXPECT_EQ(w.CatalogView()->Sorted().size(), 4u);
}

TEST(MainWindowActions, TheMenuBarIsMadeWhenFirstShownAndTheIconsWhenFirstDrawn) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    // the actions carry their menu captions from the start (the popup shows them), the bar waits
    EXPECT_EQ(w.MainMenu(), nullptr);
    EXPECT_EQ(w.Action("AcFileDelete")->text(), QStringLiteral("削除(&X)"));
    EXPECT_EQ(w.Action("AcShowUpdate")->text(), QStringLiteral("更新(&P)"));
    EXPECT_FALSE(Visible(w, "AcShowLocalSearch"));

    // a tag folder renames the trash commands; making the bar afterwards keeps those names
    TAlbumList albums;
    TAlbum* tag = albums.CreateAlbum(albums.GetRootAlbum(atTags), atTags, "", "旅行");
    w.CatalogView()->SetFolder(tag);
    ASSERT_TRUE(WaitUntil([&] { return !w.CatalogView()->IsListing(); }));
    w.CatalogView()->SetItems(lw.items);
    w.CatalogView()->SetFocusedItem(lw.items[0]);
    w.SetupActions();
    w.ShowViewer(true);
    w.SetupActions();
    w.Action("AcDebugShowMainMenu")->trigger();
    ASSERT_NE(w.MainMenu(), nullptr);
    EXPECT_TRUE(w.MainMenu()->isVisible());
    EXPECT_EQ(w.Action("AcFileDelete")->text(), QStringLiteral("ゴミ箱へ"));
    EXPECT_TRUE(Visible(w, "AcShowMain"));  // the viewer's way back stays, though the menus hide it at the start
    const QList<QAction*> menus = w.MainMenu()->actions();
    ASSERT_EQ(menus.size(), 7);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("ファイル(&F)"));
    const QList<QAction*> file = menus[0]->menu()->actions();
    EXPECT_TRUE(file.contains(w.Action("AcFileTrash")));
    EXPECT_TRUE(file.contains(w.Action("AcFileDelete")));
    // the bar sits above the targets and the grid
    EXPECT_LT(w.MainMenu()->geometry().bottom(), w.CatalogView()->mapTo(w.MainMenu()->parentWidget(), QPoint(0, 0)).y());
    w.Action("AcDebugShowMainMenu")->trigger();
    EXPECT_FALSE(w.MainMenu()->isVisible());
    EXPECT_EQ(w.MainMenu()->actions().size(), 7);  // made once
    w.ShowViewer(false);
    w.CatalogView()->SetFolder(nullptr);

    // an icon drawn is the picture of its command at the size and ratio asked for
    const QIcon rotate = w.Action("AcEditRotateL")->icon();
    ASSERT_FALSE(rotate.isNull());
    auto argb = [](const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_ARGB32); };
    EXPECT_EQ(argb(rotate.pixmap(QSize(16, 16), 1.0)), argb(CommonImage(ciRotateLeft, 16, 1.0)));
    const QPixmap sharp = rotate.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp.toImage().convertToFormat(QImage::Format_ARGB32).copy(), argb(CommonImage(ciRotateLeft, 16, 2.0)).copy());
    const QIcon reload = w.Action("AcShowUpdate")->icon();
    EXPECT_EQ(reload.pixmap(QSize(16, 16)).toImage(), QApplication::style()->standardIcon(QStyle::SP_BrowserReload).pixmap(QSize(16, 16)).toImage());
    EXPECT_TRUE(w.Action("AcFileClose")->icon().isNull());  // no picture, no icon
}

TEST(MainWindowActions, ATagFolderTurnsTrashIntoTagRemovalAndSiblingStorageIsReadOnly) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    TAlbumList albums;
    TAlbum* tag = albums.CreateAlbum(albums.GetRootAlbum(atTags), atTags, "", "旅行");
    TAlbum* sibling = albums.CreateAlbum(albums.GetRootAlbum(atMirabelo), atMirabelo, "", "book");
    ASSERT_TRUE(tag && sibling);

    w.CatalogView()->SetFolder(tag);
    ASSERT_TRUE(WaitUntil([&] { return !w.CatalogView()->IsListing(); }));
    w.CatalogView()->SetItems(lw.items);
    w.CatalogView()->SetFocusedItem(lw.items[0]);
    w.SetupActions();
    EXPECT_EQ(w.Action("AcFileTrash")->iconText(), QStringLiteral("タグを外す"));
    EXPECT_EQ(w.Action("AcFileTrash")->property("imageIndex").toInt(), 194);
    EXPECT_EQ(w.Action("AcFileDelete")->iconText(), QStringLiteral("ゴミ箱へ"));
    EXPECT_EQ(w.Action("AcFileDelete")->property("imageIndex").toInt(), 16);
    EXPECT_TRUE(Enabled(w, "AcEditMove"));

    w.CatalogView()->SetFolder(sibling);
    ASSERT_TRUE(WaitUntil([&] { return !w.CatalogView()->IsListing(); }));
    w.CatalogView()->SetItems(lw.items);
    w.CatalogView()->SetFocusedItem(lw.items[0]);
    w.SetupActions();
    EXPECT_EQ(w.Action("AcFileTrash")->iconText(), QStringLiteral("ゴミ箱へ"));
    for (const char* n : {"AcEditMove", "AcEditMoveMark", "AcFileTrash", "AcFileDelete", "AcSortName", "AcSortExifDate"})
        EXPECT_FALSE(Enabled(w, n)) << n;
    EXPECT_TRUE(Enabled(w, "AcEditCopy"));
    EXPECT_TRUE(Enabled(w, "AcSortUp"));
    w.CatalogView()->SetFolder(nullptr);
}

TEST(MainWindowKeys, RoutingFollowsFocusTabAndPrintMode) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    QWidget* grid = w.CatalogView();
    QWidget* viewer = w.CatalogView()->Viewer();
    QPlainTextEdit memo(&w);

    EXPECT_TRUE(w.KeyMayBeShortcut(Qt::Key_F5, {}, grid));
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_F5, {}, &memo));  // a multi-line box keeps every key
    // arrows move the grid's cursor; they step photos only from the viewer
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_Left, {}, grid));
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_Down, {}, grid));
    EXPECT_TRUE(w.KeyMayBeShortcut(Qt::Key_Left, {}, viewer));
    EXPECT_TRUE(w.KeyMayBeShortcut(Qt::Key_Up, {}, viewer->findChild<QWidget*>() ? viewer->findChild<QWidget*>() : viewer));

    // print mode: Esc, the arrows (from the viewer) and F6 only
    w.SetToolMode(tmPrint);
    EXPECT_EQ(w.ToolMode(), tmPrint);
    EXPECT_FALSE(w.ToolBarMain()->isVisible());
    EXPECT_FALSE(w.TargetPanel()->isVisible());
    for (int k : {Qt::Key_Delete, Qt::Key_F2, Qt::Key_C, Qt::Key_F5, Qt::Key_F11})
        EXPECT_FALSE(w.KeyMayBeShortcut(k, {}, viewer)) << k;
    for (int k : {Qt::Key_Escape, Qt::Key_Right, Qt::Key_F6}) EXPECT_TRUE(w.KeyMayBeShortcut(k, {}, viewer)) << k;
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_Right, {}, grid));
    w.Action("AcShowMain")->trigger();  // leaves print mode
    EXPECT_EQ(w.ToolMode(), tmNone);
    EXPECT_TRUE(w.ToolBarMain()->isVisible());
    EXPECT_TRUE(w.TargetPanel()->isVisible());

    // the home tab: Home and F5 only
    w.SetActiveTab(0);
    EXPECT_TRUE(w.KeyMayBeShortcut(Qt::Key_Home, {}, grid));
    EXPECT_TRUE(w.KeyMayBeShortcut(Qt::Key_F5, {}, grid));
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_F11, {}, grid));
    EXPECT_FALSE(w.KeyMayBeShortcut(Qt::Key_Delete, {}, grid));
    w.SetActiveTab(1);

    // real key presses: F11 marks the focused photo; in print mode the same key does nothing
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.CatalogView()->SetFocusedItem(lw.items[0]);
    grid->setFocus();
    QTest::qWait(20);
    QTest::keyClick(grid, Qt::Key_F11);
    EXPECT_TRUE(lw.items[0]->IsMarked());
    QTest::keyClick(grid, Qt::Key_F12);
    EXPECT_FALSE(lw.items[0]->IsMarked());
    // the arrow moves the grid's focus instead of stepping the viewer
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(w.CatalogView()->FocusedItem(), lw.items[1]);
    w.SetToolMode(tmPrint);
    w.CatalogView()->Viewer()->setFocus();
    QTest::qWait(20);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : viewer, Qt::Key_F11);
    EXPECT_FALSE(lw.items[1]->IsMarked());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : viewer, Qt::Key_Escape);
    EXPECT_EQ(w.ToolMode(), tmNone);
}

namespace {

// the focus after each of count presses of Tab (or Shift+Tab) from where it is
std::vector<QWidget*> WalkTab(int count, bool back) {
    std::vector<QWidget*> seen;
    for (int i = 0; i < count; ++i) {
        QWidget* from = QApplication::focusWidget();
        if (!from) break;
        if (back)
            QTest::keyClick(from, Qt::Key_Backtab, Qt::ShiftModifier);
        else
            QTest::keyClick(from, Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    return seen;
}

bool Contains(const std::vector<QWidget*>& v, const QWidget* w) { return std::find(v.begin(), v.end(), w) != v.end(); }

// every shortcut held by two actions of the window at once, as "key: first, second"
std::vector<std::string> SharedShortcuts(TFolvaneMain2& w, bool enabledOnly) {
    std::map<QString, QString> holder;
    std::vector<std::string> shared;
    for (QAction* a : w.findChildren<QAction*>()) {
        if (enabledOnly && !a->isEnabled()) continue;
        for (const QKeySequence& k : a->shortcuts()) {
            const QString key = k.toString();
            auto [it, fresh] = holder.emplace(key, a->objectName());
            if (!fresh) shared.push_back((key + ": " + it->second + ", " + a->objectName()).toStdString());
        }
    }
    return shared;
}

// presses the key on the widget and answers whether the menu opened (a menu that blocks is closed)
bool KeyOpensMenu(QWidget* target, QMenu* menu, Qt::Key key, Qt::KeyboardModifiers mods) {
    bool seen = false;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (menu->isVisible()) {
            seen = true;
            menu->close();
        }
    });
    probe.start();
    QTest::keyClick(target, key, mods);
    QTest::qWait(40);
    seen = seen || menu->isVisible();
    menu->close();
    return seen;
}

}  // namespace

TEST(MainWindowKeys, TabVisitsEachShownViewOnceInOrderAndShiftTabGoesBack) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    TFrameTargetsEx* targets = w.TargetsFrame();
    QWidget* calendarTree = targets->CalendarFrame()->Tree();
    QWidget* directoryTree = targets->DirectoryFrame()->Tree();
    QWidget* tagTree = targets->TagFrame()->Tree();

    std::vector<QWidget*> stops;
    auto check = [&](const char* state) {
        SCOPED_TRACE(state);
        stops = w.TabStops();
        ASSERT_GE(stops.size(), 3u);
        for (QWidget* s : stops) EXPECT_TRUE(s->isVisible() && s->isEnabled()) << s->objectName().toStdString();
        stops.front()->setFocus(Qt::OtherFocusReason);
        const std::vector<QWidget*> forward = WalkTab(static_cast<int>(stops.size()), false);
        ASSERT_EQ(forward.size(), stops.size());
        for (size_t i = 0; i < stops.size(); ++i)
            EXPECT_EQ(forward[i], stops[(i + 1) % stops.size()]) << "Tab " << i + 1 << " went to "
                                                                 << (forward[i] ? forward[i]->objectName().toStdString() : "nothing");
        const std::vector<QWidget*> backward = WalkTab(static_cast<int>(stops.size()), true);
        for (size_t i = 0; i < stops.size(); ++i)
            EXPECT_EQ(backward[i], stops[(stops.size() * 2 - 1 - i) % stops.size()]) << "Shift+Tab " << i + 1;
    };

    // the calendar active, the tags open: calendar tree, the tag title and tree, the grid; the folder
    // frame shows only its title
    check("calendar");
    EXPECT_TRUE(Contains(stops, calendarTree));
    EXPECT_TRUE(Contains(stops, tagTree));
    EXPECT_TRUE(Contains(stops, targets->DirectoryFrame()));
    EXPECT_FALSE(Contains(stops, directoryTree));
    EXPECT_FALSE(Contains(stops, w.PanelAbort()->findChild<QPushButton*>()));
    EXPECT_TRUE(Contains(stops, w.CatalogView()));
    EXPECT_FALSE(Contains(stops, w.CatalogView()->Viewer()));
    // top to bottom: the trees come before the grid, the calendar before the tags
    auto at = [&](QWidget* x) { return std::find(stops.begin(), stops.end(), x) - stops.begin(); };
    EXPECT_LT(at(calendarTree), at(tagTree));
    EXPECT_LT(at(tagTree), at(w.CatalogView()));

    // the folder frame active, the tags closed, the abort panel up: the calendar is a title only
    w.Action("AcShowFolder")->trigger();
    targets->TagFrame()->SetExpanded(false);
    w.PanelAbort()->show();
    QTest::qWait(20);
    check("folders");
    EXPECT_TRUE(Contains(stops, directoryTree));
    EXPECT_FALSE(Contains(stops, calendarTree));
    EXPECT_FALSE(Contains(stops, tagTree));
    EXPECT_TRUE(Contains(stops, targets->TagFrame()));
    EXPECT_TRUE(Contains(stops, w.PanelAbort()->findChild<QPushButton*>()));
    w.PanelAbort()->hide();

    // the viewer takes the grid's place
    w.CatalogView()->SetFocusedItem(lw.items[0]);
    w.ShowViewer(true);
    QTest::qWait(20);
    check("viewer");
    EXPECT_TRUE(Contains(stops, w.CatalogView()->Viewer()));
    EXPECT_FALSE(Contains(stops, w.CatalogView()));
    w.ShowViewer(false);
}

TEST(MainWindowKeys, TheFocusedTreeNodeHasAFrameThatIsNotTheSelection) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTreeWidget* tree = w.TargetsFrame()->TagFrame()->Tree();
    tree->clear();
    for (int i = 0; i < 40; ++i) tree->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("tag %1").arg(i)}));
    QTreeWidgetItem* node = tree->topLevelItem(30);
    tree->setCurrentItem(node);  // current and selected
    tree->scrollToTop();
    w.CatalogView()->setFocus();
    QTest::qWait(20);

    // focused from the keyboard, the current node comes into view
    w.CatalogView()->setFocus();
    tree->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    const QRect r = tree->visualItemRect(node);
    ASSERT_TRUE(tree->viewport()->rect().contains(r)) << "the focused node is out of sight";
    EXPECT_TRUE(TreeShowsFocusMark(tree, tree->currentIndex()));
    const QColor text = tree->palette().color(QPalette::Text), base = tree->palette().color(QPalette::Base);
    QImage focused = tree->viewport()->grab().toImage();
    const qreal dpr = focused.devicePixelRatio();
    auto px = [&](const QImage& img, int x, int y) { return img.pixelColor(qRound(x * dpr), qRound(y * dpr)); };
    // two points of text colour at the edge, one of base colour inside, then the selection's fill
    const int mid = r.center().y();
    EXPECT_EQ(px(focused, r.left(), mid), text);
    EXPECT_EQ(px(focused, r.left() + 1, mid), text);
    EXPECT_EQ(px(focused, r.left() + 2, mid), base);
    EXPECT_EQ(px(focused, r.center().x(), r.top()), text);
    EXPECT_NE(px(focused, r.left() + 4, mid), text);
    // the frame and its inner line (three points a side) leave the node's glyphs whole
    const QRect glyphs = tree->fontMetrics().tightBoundingRect(node->text(0));
    EXPECT_GE(r.height() - 6, glyphs.height()) << "row " << r.height() << ", glyphs " << glyphs.height();
    fv::test::SaveScreenshot(w.grab().toImage(), "main_tree_focused");

    // without the focus the node keeps its selection but loses the frame
    w.CatalogView()->setFocus();
    QTest::qWait(20);
    EXPECT_FALSE(TreeShowsFocusMark(tree, tree->currentIndex()));
    QImage unfocused = tree->viewport()->grab().toImage();
    EXPECT_NE(px(unfocused, r.left(), mid), text);
    EXPECT_TRUE(node->isSelected());
    w.CatalogView()->SetFocusedItem(lw.items[1]);
    QTest::qWait(20);
    fv::test::SaveScreenshot(w.grab().toImage(), "main_grid_focused");
}

TEST(MainWindowKeys, NoTwoActionsShareAShortcutAndEveryViewOpensItsPopupFromTheKeyboard) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    // in every state of the window: nothing focused, a photo, the viewer, the folder frame
    auto noShared = [&](const char* state) {
        w.SetupActions();
        EXPECT_EQ(SharedShortcuts(w, true), std::vector<std::string>{}) << state;
        EXPECT_EQ(SharedShortcuts(w, false), std::vector<std::string>{}) << state;
    };
    w.CatalogView()->SetItems({});
    noShared("empty");
    w.CatalogView()->SetItems(lw.items);
    w.CatalogView()->SetFocusedItem(lw.items[1]);
    noShared("photo");
    w.ShowViewer(true);
    noShared("viewer");
    w.ShowViewer(false);
    w.Action("AcShowFolder")->trigger();
    noShared("folders");
    w.Action("AcShowCalendar")->trigger();
    // the photo information has its key; the menu bar keeps one too, off Shift+F10
    EXPECT_EQ(w.Action("AcToolExifInfo")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    EXPECT_FALSE(w.Action("AcDebugShowMainMenu")->shortcut().isEmpty());
    EXPECT_NE(w.Action("AcDebugShowMainMenu")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F10));
    QTest::keyClick(w.CatalogView(), Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w.MainMenu()->isVisible());
    QTest::keyClick(w.CatalogView(), Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(w.MainMenu()->isVisible());

    // the grid and the viewer open the catalog's popup, a side tree its own
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_F10, Qt::ShiftModifier}, {Qt::Key_Menu, Qt::NoModifier}};
    for (auto [key, mods] : keys) {
        SCOPED_TRACE(key);
        w.CatalogView()->setFocus();
        QTest::qWait(10);
        EXPECT_TRUE(KeyOpensMenu(w.CatalogView(), w.PopupMenu(), key, mods)) << "grid";
        EXPECT_FALSE(w.MainMenu()->isVisible());
        w.ShowViewer(true);
        ASSERT_TRUE(WaitUntil([&] { return w.CatalogView()->Viewer()->isVisible(); }, 2000));
        w.CatalogView()->Viewer()->setFocus();
        QTest::qWait(10);
        EXPECT_TRUE(KeyOpensMenu(w.CatalogView()->Viewer(), w.PopupMenu(), key, mods)) << "viewer";
        w.ShowViewer(false);
    }
    TFrameTargetDirectory* dir = w.TargetsFrame()->DirectoryFrame();
    dir->SetTops({{"test", fs::path(lw.dir.Path("x")).parent_path().string()}});
    w.Action("AcShowFolder")->trigger();
    dir->Tree()->setCurrentItem(dir->Tree()->topLevelItem(0));
    dir->Tree()->setFocus();
    QTest::qWait(10);
    for (auto [key, mods] : keys) {
        EXPECT_TRUE(KeyOpensMenu(dir->Tree(), dir->PopupMenu(), key, mods)) << "folder tree";
        EXPECT_FALSE(w.PopupMenu()->isVisible());
    }
}

TEST(MainWindowSettings, StoredValuesOutOfRangeAreIgnoredAndNarrowPanelsAreNotKept) {
    LooseWindow lw;
    TFolvaneMain2& w = lw.w;
    TFolvaneConfigItem config;
    config.SetTargetPanelW(150);
    config.SetCursorMode(3);
    config.SetViewImageSize(5);
    config.SetSortType(1);
    config.SetSortUp(false);
    config.SetThumbnailSize(200);
    config.SetAlwaysShowTitleRow2(false);
    config.SetShowMainMenu(true);
    w.LoadWindowSettings(&config);
    EXPECT_EQ(w.WantedTargetPanelWidth(), 240);  // 150 is ignored
    EXPECT_EQ(w.CatalogView()->Viewer()->CursorMode(), vcmDrag);
    EXPECT_TRUE(Checked(w, "AcImageMouseDrag"));
    EXPECT_EQ(w.CatalogView()->Viewer()->SizeMode(), vsmFitShrink);
    EXPECT_TRUE(Checked(w, "AcImageFitWindow"));
    EXPECT_EQ(w.CatalogView()->SortType(), 2);  // the third order is not offered here
    EXPECT_TRUE(Checked(w, "AcSortExifDate"));
    EXPECT_TRUE(Checked(w, "AcSortDown"));
    EXPECT_EQ(w.CatalogView()->ThumbSize(), 200);
    EXPECT_FALSE(Checked(w, "AcShowAlwaysTitleRow"));
    EXPECT_TRUE(w.MainMenu()->isVisible());

    config.SetTargetPanelW(300);
    config.SetViewImageSize(7);
    config.SetSortType(0);
    w.LoadWindowSettings(&config);
    EXPECT_EQ(w.WantedTargetPanelWidth(), 300);
    EXPECT_EQ(w.CatalogView()->Viewer()->SizeMode(), vsmActual);
    EXPECT_TRUE(Checked(w, "AcImageOriginalSize"));
    EXPECT_TRUE(Checked(w, "AcSortName"));

    // a column narrower than 200 is not stored; the rest is
    config.SetTargetPanelW(260);
    w.Splitter()->setSizes({150, 600});
    QTest::qWait(10);
    ASSERT_LT(w.TargetPanel()->width(), 200);
    w.SaveWindowSettings(&config);
    EXPECT_EQ(config.GetTargetPanelW(), 260);
    w.Splitter()->setSizes({230, 520});
    QTest::qWait(10);
    w.SaveWindowSettings(&config);
    EXPECT_EQ(config.GetTargetPanelW(), w.TargetPanel()->width());
    EXPECT_EQ(config.GetSortType(), 0);
    EXPECT_EQ(config.GetWindowPlacement().Length, kWindowPlacementSize);
    EXPECT_EQ(config.GetWindowPlacement().Right - config.GetWindowPlacement().Left, w.width());

    // placement records that cannot be applied
    std::vector<QRect> screens{QRect(0, 0, 1920, 1080)};
    TWindowPlacement p = config.GetWindowPlacement();
    EXPECT_TRUE(PlacementUsable(p, screens));
    TWindowPlacement none;
    EXPECT_FALSE(PlacementUsable(none, screens));  // never stored
    TWindowPlacement away = p;
    away.Left = 5000;
    away.Right = 6000;
    EXPECT_FALSE(PlacementUsable(away, screens));  // on no screen
    TWindowPlacement inverted = p;
    inverted.Right = inverted.Left - 10;
    EXPECT_FALSE(PlacementUsable(inverted, screens));
    TWindowPlacement huge = p;
    huge.Left = INT32_MIN;
    huge.Right = INT32_MAX;
    EXPECT_FALSE(PlacementUsable(huge, screens));  // no overflow, no absurd window
}

TEST(CacheSizeForm, OpensWithTheStoredValuesAndStoresOnlyChanges) {
    App();
    TFolvaneConfigItem config;
    TCacheSizeForm f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("サムネイルキャッシュの設定"));
    f.SetValues(1, 2000);
    EXPECT_TRUE(f.RBDisk->isChecked());
    EXPECT_TRUE(f.SpinDisk->isEnabled());
    EXPECT_FALSE(f.SpinMemory->isEnabled());
    EXPECT_EQ(f.SpinDisk->value(), 2000);
    EXPECT_EQ(f.SpinMemory->value(), 16);

    TCacheSizeForm g;
    g.SetValues(0, 2000);  // outside the memory box's range: its initial value stays
    EXPECT_TRUE(g.RBMemory->isChecked());
    EXPECT_FALSE(g.SpinDisk->isEnabled());
    EXPECT_TRUE(g.SpinMemory->isEnabled());
    EXPECT_EQ(g.SpinMemory->value(), 16);
    g.SetValues(1, 20);  // below the disk box's range
    EXPECT_EQ(g.SpinDisk->value(), 1000);
    EXPECT_EQ(g.SpinDisk->minimum(), 64);
    EXPECT_EQ(g.SpinDisk->maximum(), 4000);
    EXPECT_EQ(g.SpinMemory->minimum(), 8);
    EXPECT_EQ(g.SpinMemory->maximum(), 128);

    config.SetCacheKind(1);
    config.SetCacheMaxSizeMB(1000);
    TCacheSizeForm h;
    h.SetValues(config.GetCacheKind(), config.GetCacheMaxSizeMB());
    EXPECT_EQ(h.Apply(config), TCacheSizeForm::crUnchanged);
    h.RBMemory->setChecked(true);
    EXPECT_TRUE(h.SpinMemory->isEnabled());
    h.SpinMemory->setValue(64);
    EXPECT_EQ(h.Apply(config), TCacheSizeForm::crChanged);
    EXPECT_EQ(config.GetCacheKind(), 0);
    EXPECT_EQ(config.GetCacheMaxSizeMB(), 64u);
    EXPECT_EQ(h.Apply(config), TCacheSizeForm::crUnchanged);
    fv::test::SaveScreenshot(h.grab().toImage(), "cache_size_form");
}

// ---------------------------------------------------------------------------------------------
// with the library engine

namespace {

struct EngineWindowTest : fv::test::PrivateEngineTest {
    void SetUp() override {
        PrivateEngineTest::SetUp();
        ResetFirstIdleFlag();
    }
    fs::path LogFolder() const { return root / "data/Kestrona/FolvaneBrowser/Log"; }
    std::string LogText() const {
        std::string all;
        if (fs::is_directory(LogFolder()))
            for (auto& e : fs::directory_iterator(LogFolder())) all += ReadAll(e.path());
        return all;
    }
};

}  // namespace

TEST_F(EngineWindowTest, HistoryStepsBackAndForwardAndTheSkinButtonsFollow) {
    Start();
    fs::create_directories(Lib("a"));
    fs::create_directories(Lib("b"));
    TFolder* a = GetFolderFromPath(Lib("a"));
    TFolder* b = GetFolderFromPath(Lib("b"));
    {
        TFolvaneMain2 w;
        w.show();
        w.SetTitleBandShown(true);
        ASSERT_TRUE(w.Ready());
        w.IdleStep();  // the first idle: the calendar (an empty history) and history recording on
        EXPECT_EQ(w.ShownFolder(), CorvaCalendars());
        EXPECT_TRUE(Checked(w, "AcShowCalendar"));
        w.ShowFolder(a);
        EXPECT_TRUE(Checked(w, "AcShowFolder"));
        w.ShowFolder(b);
        w.SetupActions();
        EXPECT_TRUE(Enabled(w, "AcJumpHistoryPrev"));
        EXPECT_FALSE(Enabled(w, "AcJumpHistoryNext"));
        EXPECT_TRUE(w.BackEnabled());
        EXPECT_FALSE(w.ForwardEnabled());

        w.Action("AcJumpHistoryPrev")->trigger();
        EXPECT_EQ(w.ShownFolder(), a);
        EXPECT_TRUE(w.ForwardEnabled());
        // the skin's back button acts like the action: press there, release anywhere
        QWidget* s = w.Surface();
        QTest::mousePress(s, Qt::LeftButton, {}, w.ElementRect(TSkinForm::seBack).center());
        QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(500, 400));
        EXPECT_EQ(w.ShownFolder(), CorvaCalendars());
        EXPECT_FALSE(w.BackEnabled());
        w.Action("AcJumpHistoryPrev")->trigger();  // nothing further back
        EXPECT_EQ(w.ShownFolder(), CorvaCalendars());
        w.Action("AcJumpHistoryNext")->trigger();
        EXPECT_EQ(w.ShownFolder(), a);
        // stepping records nothing: forward still leads to b
        w.Action("AcJumpHistoryNext")->trigger();
        EXPECT_EQ(w.ShownFolder(), b);
        EXPECT_FALSE(w.ForwardEnabled());
        // print mode and other tabs stop the history
        w.ShowFolder(a);
        w.SetActiveTab(2);
        w.SetupActions();
        EXPECT_FALSE(w.BackEnabled());
        w.Action("AcJumpHistoryPrev")->trigger();
        EXPECT_EQ(w.ShownFolder(), a);
        w.SetActiveTab(1);
        w.close();
    }
    Stop();
}

TEST_F(EngineWindowTest, FirstIdleStartsFromHistoryFallsBackFromAVanishedFolderAndScrollsToTheLastDay) {
    Start();
    fs::create_directories(Lib("gone"));
    TFolder* gone = GetFolderFromPath(Lib("gone"));
    CorvaHistorys()->Add(gone);
    fs::remove_all(Lib("gone"));
    CorvaConfig()->SetLastViewDate(EncodeDateTime(2024, 5, 3, 15, 30, 0));
    CorvaConfig()->SetSampleTagAdded(false);
    {
        TFolvaneMain2 w;
        w.show();
        w.IdleStep();
        EXPECT_EQ(w.ShownFolder(), CorvaCalendars());  // the vanished folder falls back to the calendar
        EXPECT_EQ(w.ActiveTab(), 1);
        // the whole day of the last photo viewed waits for the calendar's list
        EXPECT_TRUE(w.PendingViewDate() == EncodeDateTime(2024, 5, 3) ||
                    WaitUntil([&] { return w.PendingViewDate() == 0; }));
        // the sample tags of a first start, in their order
        TAlbum* tags = CorvaAlbums()->GetRootAlbum(atTags);
        std::vector<std::string> names;
        TFolderList subs;
        tags->GetSubFolders(subs);
        for (TCustomFolder* f : subs) names.push_back(f->GetCaption());
        EXPECT_EQ(names, (std::vector<std::string>{"家族", "友達", "旅行", "イベント", "花", "紅葉", "桜", "お祭り"}));
        EXPECT_TRUE(CorvaConfig()->GetSampleTagAdded());
        w.close();
    }
    {
        // a folder that is still there is the start folder of the next run
        fs::create_directories(Lib("here"));
        TFolder* here = GetFolderFromPath(Lib("here"));
        CorvaHistorys()->Add(here);
        ResetFirstIdleFlag();
        TFolvaneMain2 w;
        w.show();
        w.IdleStep();
        EXPECT_EQ(w.ShownFolder(), here);
        EXPECT_EQ(w.PendingViewDate(), 0);
        w.close();
    }
    Stop();
    EXPECT_NE(LogText().find("TFolvaneMain2.FirstIdle : Start folder not found ( " + Lib("gone") + " )"), std::string::npos);
}

TEST_F(EngineWindowTest, ClosingWhileTheListingAndThumbnailWorkersRunSavesAndEndsTheLog) {
    fs::create_directories(Lib("many"));
    for (int i = 0; i < 30; ++i)
        fs::copy_file(fv::test::TestPhotoDir() + "/Canon_40D.jpg", Lib("many/p" + std::to_string(i) + ".jpg"));
    Start();
    {
        TFolvaneMain2 w;
        w.resize(1024, 768);
        w.show();
        w.IdleStep();
        w.ShowFolder(GetFolderFromPath(Lib("many")));
        // close at once: listing and thumbnail workers are busy
        w.close();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(CorvaThreadMaster()->GetThreadCount(), 0);
    }
    Stop();
    std::string log = LogText();
    EXPECT_NE(log.find("CorvaEngine Finished"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nEND\r\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(root / "data/Kestrona/FolvaneBrowser/Data/CorvaData.tdb"));
}

TEST_F(EngineWindowTest, EndToEndARealLibraryDayInTheGridTheViewerAndTheSavedLibrary) {
    // a library made by fvb scan from the sample photos
    fs::copy(fv::test::TestPhotoDir(), Lib("photos"), fs::copy_options::recursive);
    std::string cmd = "XDG_DATA_HOME='" + (root / "data").string() + "' XDG_CONFIG_HOME='" + (root / "config").string() +
                      "' '" FV_BINARY_DIR "/fvb' scan '" + Lib("photos") + "' > '" + (root / "scan.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadAll(root / "scan.txt");
    Start();
    // the day of Canon_40D.jpg
    TFolder* photos = GetFolderFromPath(Lib("photos"));
    TCatalogItem* canon = photos->FindItem("Canon_40D.jpg");
    ASSERT_NE(canon, nullptr);
    ASSERT_GT(canon->GetShootingDate(), 0);
    TCalendar* day = CorvaCalendars()->FindOrCreateNode(false, canon->GetShootingDate());
    ASSERT_TRUE(day && day->GetFolderKind() == fkCalendarDay);
    TItemList dayItems;
    day->GetItems(dayItems);
    const TDateTimeParts d = DecodeDateTime(canon->GetShootingDate());
    {
        TFolvaneMain2 w;
        w.resize(1024, 768);
        w.show();
        w.IdleStep();
        ASSERT_EQ(w.ShownFolder(), CorvaCalendars());
        // the user chooses the month in the tree, then the day in the month grid
        TFrameTargetCalendar* cal = w.TargetsFrame()->CalendarFrame();
        TCalendar* month = day->GetParent() ? static_cast<TCalendar*>(day->GetParent()) : nullptr;
        ASSERT_TRUE(month);
        cal->Grid()->SetDate(d.Year, d.Month, d.Day == 1 ? 2 : 1);
        QTest::qWait(20);
        int col = -1, row = -1;
        ASSERT_TRUE(cal->Grid()->CellOfDay(d.Day, col, row));
        QTest::mouseClick(cal->Grid(), Qt::LeftButton, {}, cal->Grid()->CellRect(col, row).center());
        // the grid shows that month with the day's photos among them, scrolled to the day
        ASSERT_TRUE(WaitUntil([&] { return w.ShownFolder() == month && !w.CatalogView()->IsListing(); }, 20000));
        for (TCatalogItem* it : dayItems) EXPECT_GE(w.CatalogView()->CellOf(it), 0) << it->GetFileName();
        std::vector<TCatalogItem*> sorted = w.CatalogView()->Sorted();
        EXPECT_EQ(static_cast<int>(sorted.size()), month->GetTotalItemCountOfKinds(35));
        ASSERT_TRUE(WaitUntil([&] { return w.CatalogView()->HasThumbnail(canon); }, 30000))
            << w.CatalogView()->CellOf(canon) << " " << (w.CatalogView()->ThumbnailMaker() != nullptr);
        QTest::qWait(50);
        fv::test::SaveScreenshot(w.grab().toImage(), "main_day");
        // open the viewer on the photo
        w.CatalogView()->SetFocusedItem(canon);
        w.SetupActions();  // the idle pass that enables the viewer for the focused photo
        w.Action("AcShowViewer")->trigger();
        ASSERT_TRUE(w.IsViewerShown());
        ASSERT_TRUE(WaitUntil([&] { return w.CatalogView()->Viewer()->CurrentItem() == canon && !w.CatalogView()->Viewer()->IsLoading(); }, 20000));
        EXPECT_GT(w.CatalogView()->Viewer()->DecodedSize().width(), 0);
        QTest::qWait(50);
        fv::test::SaveScreenshot(w.grab().toImage(), "main_viewer");
        w.close();
    }
    Stop();
    std::string log = LogText();
    EXPECT_NE(log.find("CorvaEngine Started"), std::string::npos) << log;
    EXPECT_NE(log.find("CorvaEngine Finished"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nEND\r\n"), std::string::npos);
    // the saved library still holds the day, as fvb reads it
    std::string ls = "XDG_DATA_HOME='" + (root / "data").string() + "' XDG_CONFIG_HOME='" + (root / "config").string() +
                     "' '" FV_BINARY_DIR "/fvb' calendar " + std::to_string(d.Year) + "/" + std::to_string(d.Month) +
                     " > '" + (root / "cal.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(ls.c_str()), 0) << ReadAll(root / "cal.txt");
    std::string cal = ReadAll(root / "cal.txt");
    EXPECT_NE(cal.find(std::to_string(d.Year)), std::string::npos) << cal;
    // the window's settings reached the registry store
    EXPECT_NE(ReadAll(root / "config/Kestrona/registry.ini").find("\"WindowPlacement\""), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// work the window leaves to workers

namespace {

// picture facts through the real pipeline, noting on which thread they were asked for
class TThreadNotingFacts : public TImageFactsProvider {
public:
    std::shared_ptr<TImageFactsProvider> Real = MakeImageFactsProvider();
    std::thread::id Ui = std::this_thread::get_id();
    std::atomic<int> Reads{0}, ReadsOnUi{0};
    bool ReadImageFacts(const std::string& path, uint8_t kind, TImageFacts& out) override {
        ++Reads;
        if (std::this_thread::get_id() == Ui) ++ReadsOnUi;
        return Real->ReadImageFacts(path, kind, out);
    }
    bool GetExifTextLines(const std::string& path, uint8_t kind, const std::vector<std::string>& args,
                          std::vector<std::string>& lines) override {
        return Real->GetExifTextLines(path, kind, args, lines);
    }
};

// n small camera files named 000.jpg.. whose shooting dates run backwards (the last name is the earliest)
void WriteDatedPhotos(const fs::path& dir, int n, int year) {
    fs::create_directories(dir);
    TBitmap pic(64, 48);
    for (int y = 0; y < 48; ++y) std::fill(pic.ScanLine(y), pic.ScanLine(y) + 64 * 3, static_cast<uint8_t>(40 + y));
    std::vector<uint8_t> jpeg = EncodeJpeg(pic, 80);
    for (int i = 0; i < n; ++i) {
        char date[32], name[16];
        std::snprintf(date, sizeof date, "%04d:03:01 10:%02d:00", year, 59 - i % 60);
        std::snprintf(name, sizeof name, "%03d.jpg", i);
        std::vector<uint8_t> file = testutil::WrapWithExif(jpeg, 1, {}, date);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    }
}

}  // namespace

TEST_F(EngineWindowTest, ANewFolderSortedByDateHasItsDatesReadOffTheUiThreadAndIsOrderedByThem) {
    auto facts = std::make_shared<TThreadNotingFacts>();
    SetImageFactsProvider(facts);
    WriteDatedPhotos(Lib("new"), 40, 2019);
    Start();
    TFolvaneMain2 w;
    w.resize(1200, 800);
    w.show();
    w.IdleStep();
    ASSERT_TRUE(w.Action("AcSortExifDate")->isChecked());
    w.Action("AcShowAlwaysTitleRow")->setChecked(false);
    TFolder* folder = GetFolderFromPath(Lib("new"));
    w.ShowFolder(folder);
    TFrameCatalogView* grid = w.CatalogView();
    auto inDateOrder = [&] {
        const auto& s = grid->Sorted();
        if (s.size() != 40 || grid->IsListing() || w.ReadingShootingDates()) return false;
        for (size_t i = 1; i < s.size(); ++i)
            if (s[i - 1]->GetShootingDate() > s[i]->GetShootingDate()) return false;
        return s.front()->GetFileName() == "039.jpg" && s.back()->GetFileName() == "000.jpg";
    };
    ASSERT_TRUE(WaitUntil(inDateOrder, 20000)) << grid->Sorted().size();
    EXPECT_EQ(facts->ReadsOnUi.load(), 0);
    // by name: nothing more to read; back to the dates: the order follows at once
    const int reads = facts->Reads.load();
    w.Action("AcSortName")->trigger();
    EXPECT_EQ(grid->Sorted().front()->GetFileName(), "000.jpg");
    w.Action("AcSortExifDate")->trigger();
    EXPECT_FALSE(w.ReadingShootingDates());
    EXPECT_EQ(grid->Sorted().front()->GetFileName(), "039.jpg");
    EXPECT_EQ(facts->Reads.load(), reads);
    w.close();
}

namespace {

// picture facts through the real pipeline; a worker that asks waits at a gate until the test
// opens it (the interface thread never waits)
class TGatedFacts : public TThreadNotingFacts {
public:
    bool ReadImageFacts(const std::string& path, uint8_t kind, TImageFacts& out) override {
        if (std::this_thread::get_id() != Ui) {
            std::unique_lock<std::mutex> g(FLock);
            ++FWaiting;
            FOpened.wait(g, [this] { return FOpen; });
        }
        return TThreadNotingFacts::ReadImageFacts(path, kind, out);
    }
    int Waiting() {
        std::lock_guard<std::mutex> g(FLock);
        return FWaiting;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> g(FLock);
            FOpen = true;
        }
        FOpened.notify_all();
    }

private:
    std::mutex FLock;
    std::condition_variable FOpened;
    bool FOpen = false;
    int FWaiting = 0;
};

}  // namespace

TEST_F(EngineWindowTest, AMonthWhosePhotosAreAwayKeepsThemInTheGridAfterTheirDatesWereLookedFor) {
    auto facts = std::make_shared<TGatedFacts>();
    SetImageFactsProvider(facts);
    fs::create_directories(Lib("away"));
    Start();
    // August 2023 in the calendar; the files are not there (moved off, their drive unplugged), their
    // camera data was never read, and the files' last known times lie in another month
    TFolder* folder = GetFolderFromPath(Lib("away"));
    auto add = [&](const std::string& name, TDateTime shot, uint8_t cameraState) {
        TCatalogItem* it = folder->FindOrCreateItem(name, nullptr);
        it->SetKind(ikJpeg);
        it->SetSize(4000, 3000);
        it->SetState(isPresent);
        it->SetCameraState(cameraState);
        it->SetFileTime(EncodeDateTime(2024, 1, 15, 9, 0, 0));
        it->SetShootingDate(shot);
        it->SetInCalendar(true);
        return it;
    };
    const int n = 30;
    for (int i = 0; i < n; ++i)
        add("IMG_" + std::to_string(100 + i) + ".JPG", EncodeDateTime(2023, 8, 1 + i % 28, 12, i, 0), cdNotRead);
    TCalendar* month = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        TCalendar* day = CorvaCalendars()->FindOrCreateNode(false, EncodeDateTime(2023, 8, 1));
        month = day && day->GetFolderKind() == fkCalendarDay ? day->GetParentNode() : nullptr;
        return month && month->GetTotalItemCount() == n;
    }));
    CorvaHistorys()->Add(month);  // the month is where the window starts

    TFolvaneMain2 w;
    // the gate opens before the window goes, whatever happens below
    struct TOpenAtEnd {
        TGatedFacts& Facts;
        ~TOpenAtEnd() { Facts.Open(); }
    } openAtEnd{*facts};
    w.resize(1200, 800);
    w.show();
    w.IdleStep();
    TFrameCatalogView* grid = w.CatalogView();
    ASSERT_EQ(w.ShownFolder(), month);
    // the month is listed and shown; the worker that looks for the dates its photos lack waits
    ASSERT_TRUE(WaitUntil([&] {
        return grid->Sorted().size() == static_cast<size_t>(n) && !grid->IsListing() && facts->Waiting() > 0;
    }, 20000)) << grid->Sorted().size();
    ASSERT_TRUE(w.ReadingShootingDates());
    facts->Open();
    ASSERT_TRUE(WaitUntil([&] { return !w.ReadingShootingDates(); }, 20000));
    EXPECT_GE(facts->Reads.load(), n);
    EXPECT_EQ(facts->ReadsOnUi.load(), 0);
    // A photo that joins the month now is filed after whatever that reading asked of the calendar,
    // and its day's event reaches the grid after theirs: once the grid lists it, the grid shows
    // the month as the calendar has it after the reading.
    TCatalogItem* late = add("IMG_999.JPG", EncodeDateTime(2023, 8, 30, 18, 0, 0), cdRead);
    ASSERT_TRUE(WaitUntil([&] {
        const auto& s = grid->Sorted();
        return !grid->IsListing() && std::find(s.begin(), s.end(), late) != s.end();
    }, 20000));
    EXPECT_EQ(grid->Sorted().size(), static_cast<size_t>(n + 1));
    EXPECT_EQ(month->GetTotalItemCount(), n + 1);
    // nothing was learnt of the files: their camera data is read once they are back
    for (TCatalogItem* it : grid->Sorted())
        if (it != late) {
            EXPECT_EQ(it->GetCameraState(), cdNotRead) << it->GetFileName();
        }
    w.close();
}

TEST_F(EngineWindowTest, ARegisteredFolderIsFiledByAWorkerWhileTheAbortPanelShowsAndAbortDropsWhatWaits) {
    WriteDatedPhotos(Lib("reg/a"), 30, 2018);
    WriteDatedPhotos(Lib("reg2"), 30, 2017);
    Start();
    TFolvaneMain2 w;
    w.resize(1200, 800);
    w.show();
    w.IdleStep();
    TFrameTargetDirectory* dirs = w.TargetsFrame()->DirectoryFrame();
    TFolder* reg = GetFolderFromPath(Lib("reg"));
    ASSERT_TRUE(dirs->SelectFolder(reg));
    dirs->RegisterInCalendar(dirs->NodeOfPath(Lib("reg")), true);
    EXPECT_TRUE(w.RegistrationRunning());
    EXPECT_TRUE(w.PanelAbort()->isVisibleTo(&w));
    ASSERT_TRUE(WaitUntil([&] { return !w.RegistrationRunning(); }, 20000));
    EXPECT_FALSE(w.PanelAbort()->isVisibleTo(&w));
    TFolder* a = GetFolderFromPath(Lib("reg/a"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetCheckState(), csRegistered);
    TItemList items;
    a->GetItems(items);
    ASSERT_EQ(items.size(), 30u);
    for (TCatalogItem* it : items) EXPECT_TRUE(it->IsInCalendar()) << it->GetFileName();
    // the calendar's watcher puts them on their days
    EXPECT_TRUE(WaitUntil([&] {
        TCalendar* day = CorvaCalendars()->FindOrCreateNode(false, EncodeDateTime(2018, 3, 1, 10, 0, 0));
        return day && day->GetFolderKind() == fkCalendarDay && day->GetCalendarItems().size() == 30;
    }, 5000));
    // the live folders watch the newly registered folders at once, not at their next look round
    ASSERT_NE(w.LiveView(), nullptr);
    ASSERT_NE(w.LiveView()->Live(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return w.LiveView()->Live()->IsWatched(a); }, 3000));

    // two requests, then the abort button: the waiting one never runs
    TFolder* reg2 = GetFolderFromPath(Lib("reg2"));
    w.RegisterInCalendar(a, false);
    w.RegisterInCalendar(reg2, true);
    w.findChild<QPushButton*>("BtnAbort")->click();
    ASSERT_TRUE(WaitUntil([&] { return !w.RegistrationRunning(); }, 20000));
    EXPECT_FALSE(w.PanelAbort()->isVisibleTo(&w));
    TItemList later;
    reg2->GetItems(later);
    for (TCatalogItem* it : later) EXPECT_FALSE(it->IsInCalendar());
    EXPECT_EQ(LogText().find("Register ( " + Lib("reg2") + " )"), std::string::npos);
    EXPECT_NE(LogText().find("Register ( " + Lib("reg") + " )"), std::string::npos);
    w.close();
}

TEST_F(EngineWindowTest, PathsFromTheCommandLineAndASecondStartShowTheFolderOrThePhotoInTheViewer) {
    fs::copy(fv::test::TestPhotoDir(), Lib("my photos"), fs::copy_options::recursive);
    fs::create_directories(Lib("other"));
    Start();
    {
        TFolvaneMain2 w;
        w.resize(1024, 768);
        // the first start's folder is shown once the window is ready; a missing path is only reported
        std::vector<QString> warnings;
        w.Dialogs().Warning = [&](const QString& t) { warnings.push_back(t); };
        w.SetStartPaths({Lib("my photos")}, {"/nowhere: not found"});
        w.show();
        w.IdleStep();
        ASSERT_TRUE(WaitUntil([&] { return w.ShownFolder() == GetFolderFromPath(Lib("my photos")); }, 5000));
        ASSERT_TRUE(WaitUntil([&] { return !warnings.empty(); }, 5000));
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings[0].contains("/nowhere"));
        EXPECT_FALSE(w.IsViewerShown());

        // a photo: its folder behind it and the photo itself in the viewer
        const std::string photo = Lib("my photos") + "/Canon_40D.jpg";
        w.OpenPaths({photo});
        ASSERT_TRUE(WaitUntil([&] { return w.IsViewerShown(); }, 10000));
        ASSERT_NE(w.CatalogView()->FocusedItem(), nullptr);
        EXPECT_EQ(w.CatalogView()->FocusedItem()->GetFullPath(), photo);

        // a second start's paths arrive in the forwarded text: the folder replaces the viewer
        w.ReceiveForwarded("\"mode=x\",\"" + Lib("other") + "\"", true);
        ASSERT_TRUE(WaitUntil([&] { return w.ShownFolder() == GetFolderFromPath(Lib("other")); }, 5000));
        EXPECT_FALSE(w.IsViewerShown());
        w.close();
    }
    Stop();
}
