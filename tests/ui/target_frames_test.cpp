// Pieces of the left-side frames: the month grid's layout and selection, and the collapsing frame base.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "platform/datetime.h"
#include "ui/targets/calendar_grid.h"
#include "ui/common_images.h"
#include "ui/skin/custom_frame_base.h"
#include "ui_test_app.h"

using namespace fv;

namespace {
// the days of the grid, row by row (0 for an empty cell)
std::vector<int> Row(const TCalendarGrid& g, int row) {
    std::vector<int> out;
    for (int c = 0; c < 7; ++c) out.push_back(g.DayAt(c, row));
    return out;
}
}  // namespace

TEST(CalendarGridLayout, PlacesTheFirstDayUnderItsWeekdayForSeveralMonths) {
    test::App();
    TCalendarGrid g;
    g.SetDate(2026, 12, 9);  // 1 December 2026 is a Tuesday
    EXPECT_EQ(Row(g, 1), (std::vector<int>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Row(g, 5), (std::vector<int>{27, 28, 29, 30, 31, 0, 0}));
    EXPECT_EQ(Row(g, 6), (std::vector<int>(7, 0)));

    g.SetDate(2026, 8, 1);  // a Saturday: the first row holds one day, the month needs six rows
    EXPECT_EQ(Row(g, 1), (std::vector<int>{0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(Row(g, 6), (std::vector<int>{30, 31, 0, 0, 0, 0, 0}));

    g.SetDate(2015, 2, 1);  // a Sunday in a 28-day February: exactly four rows
    EXPECT_EQ(Row(g, 1), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(Row(g, 4), (std::vector<int>{22, 23, 24, 25, 26, 27, 28}));
    EXPECT_EQ(Row(g, 5), (std::vector<int>(7, 0)));

    int col = -1, row = -1;
    g.SetDate(2026, 12, 31);
    ASSERT_TRUE(g.CellOfDay(31, col, row));
    EXPECT_EQ(col, 4);  // a Thursday
    EXPECT_EQ(row, 5);
    EXPECT_FALSE(g.CellOfDay(32, col, row));

    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2026, 4), 30);
    EXPECT_EQ(DaysInMonth(2026, 13), 0);
}

TEST(CalendarGridSelection, ClicksAndSettersMoveTheDateAndRaiseOneChange) {
    test::App();
    TCalendarGrid g;
    g.resize(7 * 30, 7 * 20);
    g.SetDate(2026, 3, 31);
    QSignalSpy spy(&g, &TCalendarGrid::changed);
    g.SetMonth(2);  // the day stays inside the shorter month
    EXPECT_EQ(g.Day(), 28);
    EXPECT_EQ(spy.count(), 1);
    g.SetDay(30);  // beyond February: ignored
    EXPECT_EQ(g.Day(), 28);
    g.SetMonth(13);
    EXPECT_EQ(g.Month(), 2);
    EXPECT_EQ(spy.count(), 1);

    g.SetDate(2026, 12, 9);
    spy.clear();
    QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, g.CellRect(0, 1).center());  // empty cell
    QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, g.CellRect(3, 0).center());  // weekday row
    EXPECT_EQ(g.Day(), 9);
    EXPECT_EQ(spy.count(), 0);
    QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, g.CellRect(5, 3).center());
    EXPECT_EQ(g.Day(), 18);  // Friday of the third week
    EXPECT_EQ(spy.count(), 1);
    QTest::keyClick(&g, Qt::Key_Down);
    EXPECT_EQ(g.Day(), 25);
    QTest::keyClick(&g, Qt::Key_Down);  // past the month's end: stays
    EXPECT_EQ(g.Day(), 25);

    g.SetReadOnly(true);
    QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, g.CellRect(2, 1).center());
    EXPECT_EQ(g.Day(), 25);
}

TEST(CalendarGridSelection, OpensOnTodayAndAClickOnTheChosenDayIsStillAChoice) {
    test::App();
    SetNowForTesting(EncodeDateTime(2026, 12, 10, 23, 59, 50));
    TCalendarGrid g;
    SetNowForTesting(0);
    g.resize(7 * 30, 7 * 20);
    EXPECT_EQ(g.Year(), 2026);
    EXPECT_EQ(g.Month(), 12);
    EXPECT_EQ(g.Day(), 10);
    QSignalSpy spy(&g, &TCalendarGrid::changed);
    int col = 0, row = 0;
    ASSERT_TRUE(g.CellOfDay(10, col, row));
    QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, g.CellRect(col, row).center());
    EXPECT_EQ(spy.count(), 1);
    QTest::keyClick(&g, Qt::Key_Enter);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(g.Day(), 10);
    // setting the date it already holds stays silent
    g.SetDate(2026, 12, 10);
    g.SetDay(10);
    EXPECT_EQ(spy.count(), 2);
}

TEST(CalendarGridPaint, WeekendColumnsPhotoDaysAndTheCountBar) {
    test::App();
    TCalendarGrid g;
    g.resize(7 * 40, 7 * 30);
    g.SetDate(2026, 12, 9);
    std::map<int, int> counts{{3, 50}, {10, 200}};
    g.SetDrawDay([&](QPainter& p, const QRect& cell, int day, bool selected) {
        int col = 0, row = 0;
        g.CellOfDay(day, col, row);
        auto it = counts.find(day);
        DrawCalendarDayCell(p, cell, day, col, selected, it == counts.end() ? 0 : it->second, day == 10, false);
    });
    const QImage shot = g.grab().toImage();
    test::SaveScreenshot(shot, "calendar_grid");
    // the checks read logical pixels, whatever the screen's scale
    const QImage img = shot.scaled(g.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    int col, row;
    // a day with photos: its ground, its orange frame, and a bar as wide as the count in percent
    ASSERT_TRUE(g.CellOfDay(3, col, row));
    const QRect c3 = g.CellRect(col, row);
    EXPECT_EQ(QColor(img.pixel(c3.left() + 3, c3.top() + 3)), QColor(240, 238, 225));
    EXPECT_EQ(QColor(img.pixel(c3.left(), c3.center().y())), QColor(255, 128, 0));
    EXPECT_EQ(QColor(img.pixel(c3.left() + c3.width() / 4, c3.bottom() - 2)), QColor(166, 202, 240));
    EXPECT_NE(QColor(img.pixel(c3.left() + c3.width() * 3 / 4, c3.bottom() - 2)), QColor(166, 202, 240));
    // from 100 photos the bar is full
    ASSERT_TRUE(g.CellOfDay(10, col, row));
    const QRect c10 = g.CellRect(col, row);
    EXPECT_EQ(QColor(img.pixel(c10.right() - 2, c10.bottom() - 2)), QColor(166, 202, 240));
    // Sundays are red: some pixel of the "6" in column 0 is pure red
    ASSERT_TRUE(g.CellOfDay(6, col, row));
    EXPECT_EQ(col, 0);
    bool red = false;
    const QRect c6 = g.CellRect(col, row);
    for (int y = c6.top(); y <= c6.bottom() && !red; ++y)
        for (int x = c6.left(); x <= c6.right() && !red; ++x) red = QColor(img.pixel(x, y)) == QColor(255, 0, 0);
    EXPECT_TRUE(red);
}

TEST(CustomFrameBase, CollapsesToItsTitleAndExpandsBackToItsHeight) {
    test::App();
    QWidget host;
    host.resize(200, 400);
    TCustomFrameBase f(&host);
    f.setGeometry(0, 0, 200, 300);
    f.SetFrameAlign(TCustomFrameBase::faClient);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QSignalSpy clicked(&f, &TCustomFrameBase::titleClicked);

    QTest::mouseClick(&f, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_FALSE(f.Expanded());
    EXPECT_EQ(f.height(), f.TitleHeight());
    EXPECT_EQ(f.TitleHeight(), 24);
    EXPECT_FALSE(f.Body()->isVisible());
    EXPECT_EQ(f.FrameAlign(), TCustomFrameBase::faTop);  // a filling frame becomes a top frame
    EXPECT_EQ(f.ExpandedHeight(), 300);

    QTest::mouseClick(&f, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_TRUE(f.Expanded());
    EXPECT_EQ(f.height(), 300);
    EXPECT_TRUE(f.Body()->isVisible());
    EXPECT_EQ(f.Body()->geometry(), QRect(0, 24, 200, 276));

    // a click below the title does nothing; a veto keeps the state; a disabled title only reports
    QTest::mouseClick(&f, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    EXPECT_TRUE(f.Expanded());
    f.SetCanToggle([] { return false; });
    QTest::mouseClick(&f, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_TRUE(f.Expanded());
    f.SetCanToggle(nullptr);
    f.SetTitleEnabled(false);
    QTest::mouseClick(&f, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_TRUE(f.Expanded());
    EXPECT_EQ(clicked.count(), 4);

    // the title's gradient: lighter at the top than at the bottom, the class name as default title
    f.SetTitleEnabled(true);
    f.SetTitleIcon(ciCalendar);
    const QImage shot = f.grab().toImage();
    test::SaveScreenshot(shot, "custom_frame_base");
    const QImage img = shot.scaled(f.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_GT(QColor(img.pixel(150, 3)).lightness(), QColor(img.pixel(150, 21)).lightness());
    EXPECT_EQ(f.IconLeft(), 18);
}
