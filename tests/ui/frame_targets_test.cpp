// The left column: the accordion of target frames and the calendar frame on a real calendar.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "library/calendar.h"
#include "library/catalog_item.h"
#include "platform/datetime.h"
#include "ui/calendar_grid.h"
#include "ui/frame_target_calendar.h"
#include "ui/frame_targets.h"
#include "ui_test_app.h"

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

TEST(TargetsAccordion, CalendarStartsActiveAndRelaysItsChoices) {
    test::App();
    TCalendarFixture cal;
    TFrameTargetsEx targets;
    targets.resize(240, 600);
    targets.show();
    targets.CalendarFrame()->SetCalendar(&cal.Root);
    EXPECT_EQ(targets.ActiveKind(), TFrameTargetsEx::tkCalendar);
    TFrameTargetCalendar* calendar = targets.CalendarFrame();
    EXPECT_TRUE(calendar->Expanded());
    EXPECT_FALSE(calendar->TitleEnabled());  // the active frame's title does not toggle
    EXPECT_EQ(calendar->height(), 600);      // alone, it fills the column
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
    targets.Finish();
}
