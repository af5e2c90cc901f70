// The left column: the accordion of target frames and the calendar frame on a real calendar.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder_tree_list.h"
#include "platform/datetime.h"
#include "ui/targets/calendar_grid.h"
#include "ui/targets/frame_target_calendar.h"
#include "ui/targets/frame_target_directory.h"
#include "ui/targets/frame_target_folder.h"
#include "ui/targets/frame_targets.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;

namespace {

// a calendar with photos on three days of two years
struct TCalendarFixture {
    std::vector<std::unique_ptr<TCatalogItem>> Items;  // outlive the nodes that point at them
    TCalendarRoot Root{Now()};
    TCalendar* Add(int y, int m, int d, int count, bool marked = false) {
        TCalendar* day = nullptr;
        for (int i = 0; i < count; ++i) {
            auto it = std::make_unique<TCatalogItem>();
            it->SetKind(1);
            const TDateTime when = EncodeDateTime(y, m, d, 10, i % 60);
            it->SetShootingDate(when);
            it->SetMarked(marked);
            day = Root.FindOrCreateNode(true, when);
            day->AddItem(it.get(), when);
            Items.push_back(std::move(it));
        }
        return day;
    }
    TCalendarFixture() {
        Add(2025, 3, 14, 2);
        Add(2026, 12, 8, 3);
        Add(2026, 12, 10, 120, true);
    }
};

QStringList Texts(QTreeWidgetItem* parent) {
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i) out << parent->child(i)->text(0);
    return out;
}

}  // namespace

namespace {
std::string MakeTree(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("fv-dirtree-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir);
    for (const char* sub : {"2024/spring", "2024/summer/beach", "2025", "Album", ".hidden"}) fs::create_directories(dir / sub);
    return dir.string();
}
}  // namespace

TEST(TargetCalendarFrame, TreeCountsGridAndChoices) {
    test::App();
    TCalendarFixture cal;
    TFrameTargetCalendar frame;
    frame.resize(240, 480);
    frame.SetCalendar(&cal.Root);
    QTreeWidget* tree = frame.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("カレンダー"));
    EXPECT_EQ(Texts(root), (QStringList{QStringLiteral("2025年 (2)"), QStringLiteral("2026年 (123)")}));
    EXPECT_EQ(Texts(root->child(1)), (QStringList{QStringLiteral("12月 (123)")}));
    EXPECT_TRUE(root->child(1)->isExpanded());  // the newest year opens first

    QSignalSpy chosen(&frame, &TFrameTargetCalendar::folderChosen);
    QSignalSpy dated(&frame, &TFrameTargetCalendar::dateChosen);
    TCalendar* december = cal.Root.GetChild(2026)->GetChild(12);
    tree->setCurrentItem(root->child(1)->child(0));
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).value<TCustomFolder*>(), december);
    EXPECT_EQ(frame.CurrentFolder(), december);
    EXPECT_EQ(frame.GridCaption(), QStringLiteral("2026年 12月"));
    EXPECT_EQ(frame.DayCount(8), 3);
    EXPECT_EQ(frame.DayCount(9), 0);
    EXPECT_TRUE(frame.DayHasNew(10));
    EXPECT_FALSE(frame.DayHasNew(8));

    // a day clicked in the grid: the month is already shown, the catalog scrolls to the day
    TCalendarGrid* grid = frame.Grid();
    int col = 0, row = 0;
    ASSERT_TRUE(grid->CellOfDay(10, col, row));
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->CellRect(col, row).center());
    EXPECT_EQ(chosen.count(), 1);
    ASSERT_EQ(dated.count(), 1);
    EXPECT_DOUBLE_EQ(dated.at(0).at(0).toDouble(), EncodeDateTime(2026, 12, 10));
    // the same day clicked again (the catalog was scrolled away) scrolls back to it, and so do Enter
    // and Space on the chosen day
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->CellRect(col, row).center());
    ASSERT_EQ(dated.count(), 2);
    EXPECT_DOUBLE_EQ(dated.at(1).at(0).toDouble(), EncodeDateTime(2026, 12, 10));
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_EQ(dated.count(), 4);
    EXPECT_EQ(chosen.count(), 1);
    dated.clear();

    // the month buttons skip the months without photos, both ways, and stop at the ends
    EXPECT_TRUE(frame.GoPreviousMonth());
    EXPECT_EQ(frame.GridCaption(), QStringLiteral("2025年 3月"));
    EXPECT_EQ(frame.CurrentFolder(), cal.Root.GetChild(2025)->GetChild(3));
    EXPECT_EQ(chosen.count(), 2);
    EXPECT_FALSE(frame.GoPreviousMonth());
    EXPECT_TRUE(frame.GoNextMonth());
    EXPECT_EQ(frame.CurrentFolder(), december);
    EXPECT_FALSE(frame.GoNextMonth());

    // a day selected from outside shows as its month with the day in the grid, silently
    chosen.clear();
    dated.clear();
    TCalendar* eighth = december->GetChild(8);
    EXPECT_TRUE(frame.SelectFolder(eighth));
    EXPECT_EQ(frame.CurrentFolder(), december);
    EXPECT_EQ(grid->Day(), 8);
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(dated.count(), 0);
    TCalendarRoot other(Now());
    EXPECT_FALSE(frame.SelectFolder(&other));  // not this calendar

    // a new month appears after a refresh, the selection stays
    cal.Add(2026, 7, 1, 1);
    frame.Refresh();
    EXPECT_EQ(Texts(tree->topLevelItem(0)->child(1)), (QStringList{QStringLiteral("07月 (1)"), QStringLiteral("12月 (123)")}));
    EXPECT_EQ(frame.CurrentFolder(), december);
    frame.SetCalendar(nullptr);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

// A day chosen in the grid's month before any photo of that month is filed (the calendar is still
// filing): the month is chosen as a folder once its photos arrive, and not if the user chose
// something else meanwhile.
TEST(TargetCalendarFrame, AMonthChosenBeforeItsPhotosAreFiledIsShownOnceTheyAre) {
    test::App();
    TCalendarFixture cal;
    TFrameTargetCalendar frame;
    frame.resize(240, 480);
    frame.SetCalendar(&cal.Root);
    QSignalSpy chosen(&frame, &TFrameTargetCalendar::folderChosen);
    TCalendarGrid* grid = frame.Grid();
    const auto clickDay = [&](int day) {
        int col = 0, row = 0;
        ASSERT_TRUE(grid->CellOfDay(day, col, row));
        QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->CellRect(col, row).center());
    };
    grid->SetDate(2026, 11, 1);
    clickDay(5);
    EXPECT_EQ(chosen.count(), 0);  // nothing to show yet
    cal.Add(2026, 11, 5, 2);
    frame.Refresh();
    ASSERT_EQ(chosen.count(), 1);
    TCalendar* november = cal.Root.GetChild(2026)->GetChild(11);
    EXPECT_EQ(chosen.at(0).at(0).value<TCustomFolder*>(), november);
    EXPECT_EQ(frame.CurrentFolder(), november);
    frame.Refresh();
    EXPECT_EQ(chosen.count(), 1);  // once

    // chosen, then another folder chosen in the tree before the photos came: that one stays
    grid->SetDate(2026, 10, 1);
    clickDay(3);
    TCalendar* december = cal.Root.GetChild(2026)->GetChild(12);
    ASSERT_TRUE(frame.SelectFolder(december));
    cal.Add(2026, 10, 3, 1);
    frame.Refresh();
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_EQ(frame.CurrentFolder(), december);
    frame.SetCalendar(nullptr);
}

TEST(TargetsAccordion, CalendarStartsActiveAndRelaysItsChoices) {
    test::App();
    TCalendarFixture cal;
    TFrameTargetsEx targets;
    targets.resize(240, 600);
    targets.show();
    targets.CalendarFrame()->SetCalendar(&cal.Root);
    targets.TagFrame()->SetExpanded(false);  // only its title at the very bottom
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);
    TFrameTargetCalendar* calendar = targets.CalendarFrame();
    EXPECT_TRUE(calendar->Expanded());
    EXPECT_FALSE(calendar->TitleEnabled());  // the active frame's title does not toggle
    TFrameTargetDirectory* directory = targets.DirectoryFrame();
    // the calendar fills the column, the directory frame moves to the bottom as its title
    EXPECT_EQ(calendar->geometry(), QRect(0, 0, 240, 552));
    EXPECT_EQ(directory->geometry(), QRect(0, 552, 240, 24));
    EXPECT_EQ(targets.TagFrame()->geometry(), QRect(0, 576, 240, 24));
    EXPECT_FALSE(directory->Expanded());
    EXPECT_TRUE(directory->TitleEnabled());
    EXPECT_TRUE(calendar->GridVisible());

    QSignalSpy chosen(&targets, &TFrameTargetsEx::folderChosen);
    QSignalSpy dated(&targets, &TFrameTargetsEx::dateChosen);
    QSignalSpy reset(&targets, &TFrameTargetsEx::filterResetRequested);
    TCalendar* december = cal.Root.GetChild(2026)->GetChild(12);
    calendar->Tree()->setCurrentItem(calendar->Tree()->topLevelItem(0)->child(1)->child(0));
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(targets.CurrentFolder(), december);
    EXPECT_EQ(reset.count(), 1);  // the first folder is a new kind
    EXPECT_TRUE(calendar->GoPreviousMonth());
    EXPECT_EQ(chosen.count(), 2);
    EXPECT_EQ(reset.count(), 1);  // still the calendar

    // programmatic selection: the calendar frame follows, nobody is told
    targets.SelectFolder(december->GetChild(10));
    EXPECT_EQ(targets.CurrentFolder(), december->GetChild(10));
    EXPECT_EQ(calendar->CurrentFolder(), december);
    EXPECT_EQ(chosen.count(), 2);
    EXPECT_EQ(dated.count(), 0);

    // a click on the directory title makes it the active frame under the calendar's title
    const std::string dir = MakeTree("accordion");
    TFolderTreeList folders;
    directory->SetFolderList(&folders);
    directory->SetTops({{"テスト", dir}});
    QTest::mouseClick(directory, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkDirectory);
    EXPECT_EQ(calendar->geometry(), QRect(0, 0, 240, 24));
    EXPECT_EQ(directory->geometry(), QRect(0, 24, 240, 552));
    EXPECT_FALSE(calendar->Expanded());
    EXPECT_TRUE(calendar->TitleEnabled());
    EXPECT_FALSE(directory->TitleEnabled());
    ASSERT_EQ(chosen.count(), 3);  // its current folder is shown, a new kind
    EXPECT_EQ(targets.CurrentFolder()->GetFullName(), dir);
    EXPECT_EQ(reset.count(), 2);
    QTest::mouseClick(directory, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));  // the active title does nothing
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkDirectory);
    EXPECT_EQ(chosen.count(), 3);

    // showing a calendar folder from outside brings the calendar back; a disk folder the directory
    targets.SelectFolder(december);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);
    targets.SelectFolder(folders.FindOrCreateFolderByPath(dir + "/2025"));
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkDirectory);
    EXPECT_EQ(directory->CurrentPath(), dir + "/2025");
    targets.ShowFrame(TFrameTargetsEx::tkCalendar);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);
    EXPECT_EQ(targets.CurrentFolder(), calendar->CurrentFolder());
    EXPECT_EQ(chosen.count(), 4);
    targets.ShowFrame(TFrameTargetsEx::tkMirabelo);  // no sibling storage: nothing happens
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);
    targets.Finish();
    std::filesystem::remove_all(dir);
}


TEST(TargetDirectoryFrame, TopsAreHomeUserVolumesAndRoot) {
    std::vector<TMountEntry> mounts = {
        {"/", "ext4", "/dev/sda1", 8, 1},          {"/proc", "proc", "proc", 0, 1},
        {"/media/me/CARD", "vfat", "/dev/sdb1", 8, 17}, {"/mnt/nas", "nfs4", "nas:/photos", 0, 50},
        {"/run/user/1000", "tmpfs", "tmpfs", 0, 60},    {"/home/me/net", "cifs", "//srv/x", 0, 61},
        {"/media/me/CARD", "vfat", "/dev/sdb1", 8, 17},
    };
    std::vector<TDirectoryTop> tops = DirectoryTops("/home/me", mounts);
    std::vector<std::string> paths;
    for (const TDirectoryTop& t : tops) paths.push_back(t.Path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/home/me", "/media/me/CARD", "/mnt/nas", "/"}));
    EXPECT_EQ(tops[1].Caption, "CARD");
    EXPECT_EQ(tops.front().Caption, "ホーム");
}

TEST(TargetDirectoryFrame, ListsLazilySelectsPathsAndRegistersFolders) {
    test::App();
    const std::string dir = MakeTree("lazy");
    TFolderTreeList folders;
    TFrameTargetDirectory frame;
    frame.resize(240, 400);
    frame.SetFolderList(&folders);
    frame.SetTops({{"テスト", dir}});
    QTreeWidget* tree = frame.Tree();
    QTreeWidgetItem* top = tree->topLevelItem(0);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(frame.CurrentPath(), dir);  // the first top is chosen at start
    EXPECT_EQ(top->childCount(), 0);      // nothing read before the node opens
    EXPECT_FALSE(frame.ChildrenLoaded(top));

    top->setExpanded(true);  // listed off the UI thread
    ASSERT_TRUE(test::WaitUntil([&] { return frame.ChildrenLoaded(top); }));
    EXPECT_EQ(frame.PendingListings(), 0);
    QStringList names;
    for (int i = 0; i < top->childCount(); ++i) names << top->child(i)->text(0);
    EXPECT_EQ(names, (QStringList{"2024", "2025", "Album"}));  // hidden folders left out
    EXPECT_FALSE(frame.ChildrenLoaded(top->child(0)));       // one level at a time

    // a path from outside opens the nodes above it; the choice is silent
    QSignalSpy chosen(&frame, &TFrameTargetDirectory::folderChosen);
    EXPECT_TRUE(frame.SelectPath(dir + "/2024/summer/beach/"));
    EXPECT_EQ(frame.CurrentPath(), dir + "/2024/summer/beach");
    EXPECT_TRUE(top->child(0)->isExpanded());
    EXPECT_FALSE(frame.SelectPath(dir + "/2024/autumn"));
    EXPECT_FALSE(frame.SelectPath("/nowhere-else"));
    EXPECT_EQ(chosen.count(), 0);

    // the user's choice gives the library folder of the directory
    tree->setCurrentItem(top->child(1));
    ASSERT_EQ(chosen.count(), 1);
    auto* f2025 = chosen.at(0).at(0).value<TCustomFolder*>();
    ASSERT_NE(f2025, nullptr);
    EXPECT_EQ(f2025->GetFullName(), dir + "/2025");

    // registering a folder marks it and its library subfolders; the visible nodes show it
    QSignalSpy listChanged(&frame, &TFrameTargetDirectory::folderListChanged);
    TCustomFolder* f2024 = folders.FindOrCreateFolderByPath(dir + "/2024");
    TCustomFolder* beach = folders.FindOrCreateFolderByPath(dir + "/2024/summer/beach");
    frame.RegisterInCalendar(top->child(0), true);
    EXPECT_EQ(listChanged.count(), 1);
    EXPECT_EQ(f2024->GetCheckState(), csRegistered);
    EXPECT_EQ(beach->GetCheckState(), csRegistered);
    EXPECT_EQ(f2025->GetCheckState(), csUndecided);
    EXPECT_EQ(frame.NodeMarks(top->child(0)), TFrameTargetDirectory::dmRegistered);
    EXPECT_EQ(frame.NodeMarks(top->child(1)), 0);
    EXPECT_EQ(frame.UpdateVisibleNodes(), 0);  // nothing changed since
    frame.RegisterInCalendar(top->child(0), false);
    EXPECT_EQ(beach->GetCheckState(), csExcluded);
    EXPECT_EQ(frame.NodeMarks(top->child(0)), 0);

    // a new directory appears after "update"; expand-all opens the whole subtree
    std::filesystem::create_directories(dir + "/2025/december");
    QTreeWidgetItem* n2025 = top->child(1);
    frame.Reload(n2025);
    ASSERT_EQ(n2025->childCount(), 1);
    EXPECT_TRUE(n2025->isExpanded());
    frame.ExpandAll(top, false);
    EXPECT_FALSE(top->isExpanded());
    frame.ExpandAll(top, true);
    EXPECT_NE(frame.NodeOfPath(dir + "/2024/spring"), nullptr);
    EXPECT_TRUE(frame.NodeOfPath(dir + "/2024/summer")->isExpanded());
    std::filesystem::remove_all(dir);
}
