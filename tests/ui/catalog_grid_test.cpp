// The catalog grid: geometry and day groups, selection, keys, operations with their boxes,
// the batching of change events, listings that arrive late, and a picture of real photos.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "image/bitmap.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "library/catalog_item.h"
#include "ui/grid/catalog_grid.h"
#include "ui/grid/catalog_view.h"
#include "ui/viewer/frame_view.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
using fv::test::App;
using fv::test::WaitUntil;

namespace {

// a folder of another category (calendar day, album of a type) holding given items
class TListFolder : public TCustomFolder {
public:
    TListFolder(int kind, int albumType, std::string name) : FKind(kind), FAlbumType(albumType), FName(std::move(name)) {}
    int GetFolderKind() const override { return FKind; }
    int GetAlbumType() const override { return FAlbumType; }
    std::string GetCaption() const override { return FName; }
    std::string GetFullName() const override { return FName; }
    bool HasSubFolders() const override { return false; }
    TCustomFolder* GetParent() const override { return nullptr; }
    int GetItemCount() const override { return static_cast<int>(Items.size()); }
    int GetItemCountOfKinds(TKindSet) const override { return GetItemCount(); }
    int GetMarkedItemCount() const override { return 0; }
    bool IsChildOf(const TCustomFolder*) const override { return false; }
    void GetSubFolders(TFolderList&) const override {}
    void GetRemovedSubFolders(TFolderList&) const override {}
    void GetItems(TItemList& list) const override { list = Items; }
    void GetItemsOfKinds(TKindSet, TItemList& list) const override { list = Items; }
    TItemList Items;

private:
    int FKind, FAlbumType;
    std::string FName;
};

TBitmap ToBitmap(const QImage& src) {
    QImage img = src.convertToFormat(QImage::Format_RGB888);
    TBitmap b(img.width(), img.height());
    for (int y = 0; y < img.height(); ++y) {
        const uchar* s = img.constScanLine(y);
        uint8_t* d = b.ScanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            d[3 * x] = s[3 * x + 2];
            d[3 * x + 1] = s[3 * x + 1];
            d[3 * x + 2] = s[3 * x];
        }
    }
    return b;
}

struct GridFixture : ::testing::Test {
    std::unique_ptr<fv::test::TTestFolder> dir;
    std::unique_ptr<TFrameCatalogDG> grid;
    QStringList asked, errors;
    bool answer = false;
    void SetUp() override {
        App();
        dir = std::make_unique<fv::test::TTestFolder>(::testing::UnitTest::GetInstance()->current_test_info()->name());
        grid = std::make_unique<TFrameCatalogDG>();
        grid->SetDialogs({[this](const QString& t, const QString& text) {
                              asked << t + "|" + text;
                              return answer;
                          },
                          [this](const QString& text) { errors << text; }, nullptr, nullptr});
        grid->resize(600, 500);
        grid->show();
    }
    void TearDown() override {
        grid.reset();
        dir.reset();
    }
    // n photos, `perDay` to a day, ten minutes apart
    std::vector<TCatalogItem*> Photos(int n, int perDay = 1000) {
        std::vector<TCatalogItem*> v;
        for (int i = 0; i < n; ++i) {
            TDateTime t = EncodeDateTime(2024, 5, 1 + i / perDay, 9, (i % perDay) * 10 % 60, 0) + (i % perDay) / 6 / 24.0;
            char name[32];
            std::snprintf(name, sizeof name, "p%04d.jpg", i);
            v.push_back(dir->Add(name, 400, 300, t));
        }
        return v;
    }
};

}  // namespace

TEST(GridLayout, CellGeometryAndColumns) {
    TGridGeometry g = ComputeGridGeometry(80, false, 0);
    EXPECT_EQ(g.ThumbBox, 84);
    EXPECT_EQ(g.ColumnWidth, 100);
    EXPECT_EQ(g.RowHeight, 100);
    EXPECT_EQ(g.InfoHeight, 0);
    g = ComputeGridGeometry(160, true, 14);
    EXPECT_EQ(g.Thumb, 80);
    EXPECT_EQ(g.InfoHeight, 22);  // at least the hover-button strip
    g = ComputeGridGeometry(120, false, 30);
    EXPECT_EQ(g.InfoHeight, 34);
    EXPECT_EQ(g.RowHeight, 120 + 34 + 20);
    // 530 px for 100-px columns: 5 columns of 106
    TGridColumns c = ComputeGridColumns(530, 100);
    EXPECT_EQ(c.Count, 5);
    EXPECT_EQ(c.Width, 106);
    EXPECT_EQ(c.Extra, 0);
    // 533: three spare pixels to the leftmost three columns
    c = ComputeGridColumns(533, 100);
    EXPECT_EQ(c.WidthOf(0), 107);
    EXPECT_EQ(c.WidthOf(2), 107);
    EXPECT_EQ(c.WidthOf(3), 106);
    EXPECT_EQ(c.Left(4), 4 * 106 + 3);
    EXPECT_EQ(c.Left(4) + c.WidthOf(4), 533);
    // narrower than one column: still one
    EXPECT_EQ(ComputeGridColumns(50, 100).Count, 1);
}

TEST_F(GridFixture, DaysStartNewRowsWithTheirBands) {
    auto v = Photos(0);
    // three photos on one day, four on the next, in 5 columns
    TDateTime d1 = EncodeDateTime(2024, 5, 1, 10), d2 = EncodeDateTime(2024, 5, 2, 10);
    for (int i = 0; i < 3; ++i) v.push_back(dir->Add("a" + std::to_string(i) + ".jpg", 10, 10, d1 + i / 1440.0));
    for (int i = 0; i < 4; ++i) v.push_back(dir->Add("b" + std::to_string(i) + ".jpg", 10, 10, d2 + i / 1440.0));
    std::vector<TCatalogItem*> cells;
    std::vector<uint8_t> band;
    BuildGridCells(v, true, false, 5, cells, band);
    ASSERT_EQ(cells.size(), 9u);
    EXPECT_EQ(cells[3], nullptr);
    EXPECT_EQ(cells[4], nullptr);
    EXPECT_EQ(cells[5], v[3]);
    EXPECT_EQ(band, (std::vector<uint8_t>{1, 1}));
    // without grouping: one run of cells, a band on the first row only when asked
    BuildGridCells(v, false, true, 5, cells, band);
    EXPECT_EQ(cells.size(), 7u);
    EXPECT_EQ(band, (std::vector<uint8_t>{1, 0}));
    BuildGridCells({}, true, false, 5, cells, band);
    EXPECT_TRUE(cells.empty());
    EXPECT_EQ(band.size(), 1u);

    // in the widget: band rows are 24 px higher and carry the day
    TListFolder day(fkCalendarDay, 13, "2024/05/01");
    day.Items = v;
    grid->resize(530 + 0, 800);
    grid->SetFolder(&day);
    EXPECT_TRUE(grid->IsGrouping());
    ASSERT_EQ(grid->Columns().Count, 5);
    ASSERT_EQ(grid->RowCount(), 2);
    EXPECT_TRUE(grid->RowHasBand(0) && grid->RowHasBand(1));
    EXPECT_EQ(grid->CellRect(5).top(), grid->Geometry().RowHeight + kTitleBandHeight);
    EXPECT_EQ(grid->BandText(0), QStringLiteral("2024年5月1日 (水曜日)"));
    EXPECT_EQ(grid->BandText(1), QStringLiteral("2024年5月2日 (木曜日)"));
}

TEST_F(GridFixture, GroupingFollowsTheFolderKind) {
    auto v = Photos(6, 2);
    TListFolder calendar(fkCalendarMonth, 13, "2024/05"), tray(fkAlbum, 6, "トレイ"), album(fkAlbum, 0, "旅行");
    calendar.Items = tray.Items = album.Items = v;
    grid->SetFolder(&calendar);
    EXPECT_TRUE(grid->IsGrouping());  // calendar folders group whatever always-group says
    grid->SetFolder(&album);
    EXPECT_FALSE(grid->IsGrouping());
    grid->SetAlwaysGroup(true);
    EXPECT_TRUE(grid->IsGrouping());
    grid->SetFolder(&tray);
    EXPECT_FALSE(grid->IsGrouping());  // a tray album never
    // without grouping only the first row has a band, and only in create mode
    grid->SetFolder(&album);
    grid->SetAlwaysGroup(false);
    EXPECT_TRUE(grid->RowHasBand(0));
    EXPECT_FALSE(grid->RowHasBand(1));
    EXPECT_EQ(grid->BandText(0), QStringLiteral("旅行"));
    grid->SetCreateMode(false);
    EXPECT_FALSE(grid->RowHasBand(0));
}

TEST_F(GridFixture, MouseSelectionRules) {
    auto v = Photos(12);
    grid->SetItems(v);
    QWidget* vp = grid->viewport();
    auto centre = [&](int cell) { return grid->CellRect(cell).center(); };
    QTest::mouseClick(vp, Qt::LeftButton, {}, centre(2));
    EXPECT_EQ(grid->Selection(), std::vector<TCatalogItem*>{v[2]});
    // Ctrl adds and toggles; removing moves the focus to the item now at that place
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, centre(4));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, centre(7));
    EXPECT_EQ(grid->SelectedCount(), 3);
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, centre(4));
    EXPECT_EQ(grid->Selection(), (std::vector<TCatalogItem*>{v[2], v[7]}));
    EXPECT_EQ(grid->FocusedItem(), v[7]);
    // Shift: from the anchor to the clicked cell
    QTest::mouseClick(vp, Qt::LeftButton, {}, centre(3));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, centre(6));
    EXPECT_EQ(grid->SelectedCount(), 4);
    EXPECT_TRUE(grid->IsSelected(v[5]));
    // Shift+Ctrl adds another range
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, centre(9));
    EXPECT_EQ(grid->SelectedCount(), 7);
    // a press on a selected photo keeps the selection (for a drag); the release collapses it
    QTest::mousePress(vp, Qt::LeftButton, {}, centre(5));
    EXPECT_EQ(grid->SelectedCount(), 7);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, centre(5));
    EXPECT_EQ(grid->Selection(), std::vector<TCatalogItem*>{v[5]});
    // a press past the last photo selects nothing
    grid->resize(530, 500);
    QPoint empty = grid->CellRect(14).center();
    QTest::mouseClick(vp, Qt::LeftButton, {}, empty);
    EXPECT_EQ(grid->SelectedCount(), 0);
}

TEST_F(GridFixture, ShiftRangeSkipsTheEmptyCellsOfDayGroups) {
    auto v = Photos(8, 3);  // 3 + 3 + 2 in 5 columns: padding after each day
    TListFolder day(fkCalendarMonth, 13, "m");
    day.Items = v;
    grid->resize(530, 800);
    grid->SetFolder(&day);
    grid->SetFocusedItem(v[1]);
    grid->SetFocusedItem(v[4], true);
    EXPECT_EQ(grid->Selection(), (std::vector<TCatalogItem*>{v[1], v[2], v[3], v[4]}));
}

TEST_F(GridFixture, KeysMoveTheFocusAndCollapseTheSelection) {
    auto v = Photos(13);
    grid->resize(530, 500);  // 5 columns
    grid->SetItems(v);
    grid->setFocus();
    grid->SetFocusedItem(v[0]);
    QTest::keyClick(grid.get(), Qt::Key_Left);  // wraps to the last
    EXPECT_EQ(grid->FocusedItem(), v[12]);
    QTest::keyClick(grid.get(), Qt::Key_Right);
    EXPECT_EQ(grid->FocusedItem(), v[0]);
    QTest::keyClick(grid.get(), Qt::Key_Down);
    EXPECT_EQ(grid->FocusedItem(), v[5]);
    QTest::keyClick(grid.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(grid->FocusedItem(), v[10]);
    EXPECT_EQ(grid->SelectedCount(), 6);
    QTest::keyClick(grid.get(), Qt::Key_Up);
    EXPECT_EQ(grid->FocusedItem(), v[5]);
    EXPECT_EQ(grid->SelectedCount(), 1);
    // down from the second last row lands on the last photo of a short last row
    grid->SetFocusedItem(v[9]);
    QTest::keyClick(grid.get(), Qt::Key_Down);
    EXPECT_EQ(grid->FocusedItem(), v[12]);
    QTest::keyClick(grid.get(), Qt::Key_Home);
    EXPECT_EQ(grid->FocusedItem(), v[0]);
    QTest::keyClick(grid.get(), Qt::Key_End);
    EXPECT_EQ(grid->FocusedItem(), v[12]);
}

// Every grid command has a key; after any move the focused photo is wholly on screen, also
// when a row is taller than the screen (the top of the focused row is shown, not the next row).
TEST_F(GridFixture, EveryCommandHasAKeyAndTheFocusStaysOnScreen) {
    auto v = Photos(300);
    grid->resize(530, 500);
    grid->SetItems(v);
    grid->setFocus();
    grid->SetFocusedItem(v[0]);
    auto wholeOnScreen = [&] {
        QRect r = grid->CellRect(grid->FocusedCell());
        return grid->viewport()->rect().contains(r);
    };
    for (Qt::Key k : {Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_Down, Qt::Key_PageUp,
                      Qt::Key_Left, Qt::Key_End, Qt::Key_Up, Qt::Key_Right}) {
        QTest::keyClick(grid.get(), k);
        EXPECT_TRUE(wholeOnScreen()) << "after key " << k << " focus " << grid->FocusedCell();
    }
    QTest::keyClick(grid.get(), Qt::Key_Home);
    EXPECT_EQ(grid->FocusedItem(), v[0]);
    EXPECT_EQ(grid->TopRow(), 0);
    // Ctrl moves the focus alone; Ctrl+Space picks photos one by one, Space adds the focused one
    QTest::keyClick(grid.get(), Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(grid.get(), Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(grid->FocusedItem(), v[2]);
    EXPECT_EQ(grid->Selection(), std::vector<TCatalogItem*>{v[0]});
    QTest::keyClick(grid.get(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(grid->Selection(), (std::vector<TCatalogItem*>{v[0], v[2]}));
    QTest::keyClick(grid.get(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(grid->Selection(), std::vector<TCatalogItem*>{v[0]});
    QTest::keyClick(grid.get(), Qt::Key_Down, Qt::ControlModifier);
    QTest::keyClick(grid.get(), Qt::Key_Space);
    QTest::keyClick(grid.get(), Qt::Key_Space);  // already in: stays in
    EXPECT_EQ(grid->SelectedCount(), 2);
    EXPECT_TRUE(grid->IsSelected(grid->FocusedItem()));
    QTest::keyClick(grid.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(grid->SelectedCount(), 300);
    // Enter opens, F2 renames the focused photo
    TCatalogItem* opened = nullptr;
    TCatalogItem* renamed = nullptr;
    grid->OnOpenItem = [&](TCatalogItem* it) { opened = it; };
    grid->OnRenameFocused = [&](TCatalogItem* it) { renamed = it; };
    QTest::keyClick(grid.get(), Qt::Key_Return);
    QTest::keyClick(grid.get(), Qt::Key_F2);
    EXPECT_EQ(opened, grid->FocusedItem());
    EXPECT_EQ(renamed, grid->FocusedItem());
    // the context-menu key and Shift+F10 open the popup over the focused photo
    grid->SetFocusedItem(v[250]);
    grid->SetTopRow(0);  // scrolled away by the wheel, say
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    std::vector<QPoint> popups;
    QObject::connect(grid.get(), &QWidget::customContextMenuRequested, [&](const QPoint& p) { popups.push_back(p); });
    QTest::keyClick(grid.get(), Qt::Key_Menu);
    QTest::keyClick(grid.get(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_EQ(popups.size(), 2u);
    const QRect thumb = grid->ThumbRect(grid->FocusedCell());
    for (const QPoint& p : popups) EXPECT_TRUE(thumb.contains(grid->viewport()->mapFrom(grid.get(), p)));
    // Del asks before the recycle bin, Shift+Del before deleting for good
    answer = false;
    QTest::keyClick(grid.get(), Qt::Key_Delete);
    QTest::keyClick(grid.get(), Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_NE(asked[0], asked[1]);
    EXPECT_EQ(grid->Sorted().size(), 300u);

    // rows taller than the screen
    grid->SetThumbSize(240);
    grid->resize(530, 200);
    QTest::qWait(10);
    grid->SetFocusedItem(v[0]);
    ASSERT_GT(grid->CellRect(grid->FocusedCell()).height(), grid->viewport()->height());
    const int row0 = grid->FocusedCell() / grid->Columns().Count;
    QTest::keyClick(grid.get(), Qt::Key_Down);
    EXPECT_EQ(grid->FocusedCell() / grid->Columns().Count, row0 + 1);
    EXPECT_EQ(grid->TopRow(), row0 + 1);
    QTest::keyClick(grid.get(), Qt::Key_PageDown);
    EXPECT_EQ(grid->FocusedCell() / grid->Columns().Count, row0 + 2);
    EXPECT_EQ(grid->TopRow(), row0 + 2);
}

TEST_F(GridFixture, ClearingManySelectedRepaintsTheWholeGrid) {
    auto v = Photos(80);
    grid->SetItems(v);
    for (int i = 0; i < 60; ++i) grid->SetFocusedItem(v[i], i > 0);
    ASSERT_EQ(grid->SelectedCount(), 60);
    int full = grid->FullRepaints();
    grid->ClearSelection();
    EXPECT_EQ(grid->FullRepaints(), full + 1);
    for (int i = 0; i < 20; ++i) grid->SetFocusedItem(v[i], i > 0);
    full = grid->FullRepaints();
    grid->ClearSelection();
    EXPECT_EQ(grid->FullRepaints(), full);  // one by one
}

TEST_F(GridFixture, DeleteAsksWithTheFirstTenPathsAndNoChangesNothing) {
    std::vector<TCatalogItem*> v;
    for (int i = 0; i < 12; ++i) v.push_back(dir->AddMade("d" + std::to_string(i + 10) + ".jpg", 32, 24, EncodeDateTime(2024, 1, 1, 0, i)));
    TCatalogItem* keep = dir->AddMade("keep.jpg", 32, 24, EncodeDateTime(2024, 1, 2));
    v.push_back(keep);
    grid->SetItems(v);
    grid->SetFocusedItem(v[0]);
    grid->SetFocusedItem(v[11], true);
    answer = false;
    grid->Operation(0, gopDelete);
    ASSERT_EQ(asked.size(), 1);
    QString text = asked[0];
    EXPECT_TRUE(text.startsWith(QStringLiteral("写真の削除|以下の画像ファイルを削除します\r\n\r\n")));
    EXPECT_TRUE(text.contains(QString::fromStdString(v[9]->GetFullPath()) + "\r\n"));
    EXPECT_FALSE(text.contains(QString::fromStdString(v[10]->GetFullPath())));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\t\t\t・\r\n\t\t\t・\r\n\t\t\t・\r\n\t\t(合計 12 枚の写真)\r\n")));
    EXPECT_EQ(grid->Sorted().size(), 13u);
    for (auto* it : v) EXPECT_TRUE(std::filesystem::exists(it->GetFullPath()));
    // Yes: the files go, their items leave the grid, the focus moves on
    answer = true;
    grid->Operation(0, gopDelete);
    EXPECT_EQ(grid->Sorted(), std::vector<TCatalogItem*>{keep});
    EXPECT_FALSE(std::filesystem::exists(v[0]->GetFullPath()));
    EXPECT_EQ(v[0]->GetState(), isDeleted);
    EXPECT_TRUE(std::filesystem::exists(keep->GetFullPath()));
    EXPECT_EQ(grid->FocusedItem(), keep);
    EXPECT_EQ(grid->CountText(), QStringLiteral("1 枚"));
}

TEST_F(GridFixture, AFileThatCannotBeDeletedIsReportedAndStays) {
    TCatalogItem* a = dir->AddMade("a.jpg", 32, 24, 1);
    TCatalogItem* b = dir->AddMade("b.jpg", 32, 24, 2);
    std::filesystem::path lockedDir = dir->Path("locked");
    std::filesystem::create_directories(lockedDir);
    TFolder lockedFolder(lockedDir.string());
    bool created;
    TCatalogItem* c = lockedFolder.FindOrCreateItem("c.jpg", &created);
    { std::ofstream(lockedDir / "c.jpg") << "x"; }
    c->SetState(isPresent);
    c->SetShootingDate(3);
    std::filesystem::permissions(lockedDir, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (::geteuid() == 0) GTEST_SKIP() << "root deletes anything";
    grid->SetItems({a, b, c});
    grid->SelectAll();
    answer = true;
    grid->Operation(0, gopDelete);
    std::filesystem::permissions(lockedDir, std::filesystem::perms::owner_all);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(c->GetFullPath())));
    EXPECT_EQ(grid->Sorted(), std::vector<TCatalogItem*>{c});
}

TEST_F(GridFixture, MarkOperationsTouchOnlyWhatChanges) {
    auto v = Photos(4);
    grid->SetItems(v);
    v[1]->SetMarked(true);
    grid->SelectAll();
    grid->Operation(0, gopFavouriteOn);
    for (auto* it : v) EXPECT_TRUE(it->IsMarked());
    grid->Operation(0, gopFavouriteToggle);
    for (auto* it : v) EXPECT_FALSE(it->IsMarked());
    for (int i = 0; i < 10; ++i) grid->Operation(0, gopPrintPlus);
    EXPECT_EQ(v[0]->GetPrintReservation(), 8);
    grid->Operation(0, gopPrintMinus);
    EXPECT_EQ(v[0]->GetPrintReservation(), 7);
    grid->Operation(0, gopPrintReset);
    grid->Operation(0, gopPrintMinus);
    EXPECT_EQ(v[0]->GetPrintReservation(), 0);
    grid->Operation(0, gopRotateRight);
    EXPECT_EQ(v[2]->GetOrientation(), 6);
    grid->Operation(0, gopOrientationReset);
    EXPECT_EQ(v[2]->GetOrientation(), 1);
    grid->Operation(0, gopDeleteReserveToggle);
    EXPECT_TRUE(v[3]->HasFlag(ifDeleteReservation));
    grid->Operation(0, gopStarSet);
    EXPECT_EQ(v[3]->GetRating(), 1);
    // favourites as the scope
    v[0]->SetMarked(true);
    grid->Operation(1, gopStarClear);
    EXPECT_EQ(v[0]->GetRating(), 0);
    EXPECT_EQ(v[1]->GetRating(), 1);
}

TEST_F(GridFixture, SelectingAKindThatNobodyHasGivesTheErrorBox) {
    auto v = Photos(5);
    grid->SetItems(v);
    grid->SelectByKind(glkFavourites);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("☆マークされた写真はありません。"));
    grid->SelectByKind(glkDeleteReserved);
    EXPECT_EQ(errors[1], QStringLiteral("削除予約された写真はありません。"));
    v[3]->SetMarked(true);
    v[1]->SetMarked(true);
    grid->SetFocusedItem(v[0]);
    grid->SelectByKind(glkFavourites);
    EXPECT_EQ(grid->Selection(), (std::vector<TCatalogItem*>{v[1], v[3]}));
    EXPECT_EQ(grid->FocusedItem(), v[1]);
}

TEST_F(GridFixture, ALateListingOfAnotherFolderLeavesTheGridAlone) {
    auto v = Photos(6);
    TListFolder a(fkFolder, 13, "a"), b(fkFolder, 13, "b");
    std::vector<uint64_t> tickets;
    grid->SetListingStarter([&](TCustomFolder*, uint64_t t) { tickets.push_back(t); });
    grid->SetFolder(&a);
    grid->SetFolder(&b);
    ASSERT_EQ(tickets.size(), 2u);
    grid->DeliverListing(tickets[0], {v[0], v[1]}, 2, true);  // a's listing ends late
    EXPECT_TRUE(grid->Sorted().empty());
    EXPECT_TRUE(grid->IsListing());
    grid->DeliverListing(tickets[1], {v[2], v[3], v[4]}, 1, true);
    EXPECT_EQ(grid->Sorted().size(), 3u);
    grid->DeliverListing(tickets[1], {v[2], v[3], v[4], v[5]}, 2, true);
    EXPECT_EQ(grid->Sorted().size(), 4u);
    EXPECT_FALSE(grid->IsListing());
}

TEST_F(GridFixture, ResizingKeepsTheFocusedPhotoOnItsScreenRow) {
    auto v = Photos(200);
    grid->resize(300 + grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent), 500);  // 3 columns
    grid->SetItems(v);
    ASSERT_EQ(grid->Columns().Count, 3);
    grid->SetTopRow(20);
    grid->SetFocusedItem(v[20 * 3 + 2 * 3 + 1]);  // third row on screen
    int offset = grid->FocusedCell() / 3 - grid->TopRow();
    EXPECT_EQ(offset, 2);
    grid->resize(400 + grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent), 500);
    ASSERT_EQ(grid->Columns().Count, 4);
    EXPECT_EQ(grid->FocusedItem(), v[67]);
    EXPECT_EQ(grid->FocusedCell() / 4 - grid->TopRow(), 2);
    // at the very end the top row is limited so that the last row stays at the bottom
    grid->SetFocusedItem(v[199]);
    EXPECT_EQ(grid->TopRow(), grid->MaxTopRow());
    EXPECT_GE(grid->CellRect(196).bottom(), grid->viewport()->height() - grid->Geometry().RowHeight);
}

TEST_F(GridFixture, TheScrollBarsWidthComesOffTheColumnsWhetherOrNotItCostsAColumn) {
    // a long list needs the bar; at some widths the bar's width costs a column, at others only
    // a pixel of some columns: either way the columns fill the viewport beside the bar exactly
    auto v = Photos(200);
    grid->SetItems(v);
    const int bar = grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int colW = grid->Geometry().ColumnWidth;
    int lost = 0, kept = 0;
    for (int w = 3 * colW - 5; w <= 3 * colW + bar + 5; ++w) {
        SCOPED_TRACE(w);
        grid->resize(w, 500);
        const TGridColumns& c = grid->Columns();
        ASSERT_EQ(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(c.Count, ComputeGridColumns(w - bar, colW).Count);
        EXPECT_EQ(c.Left(c.Count - 1) + c.WidthOf(c.Count - 1), grid->viewport()->width());
        EXPECT_EQ(grid->Cells().size(), 200u);
        EXPECT_EQ(grid->RowCount(), (200 + c.Count - 1) / c.Count);
        EXPECT_EQ(grid->CellOf(v[199]), 199);
        (ComputeGridColumns(w, colW).Count == c.Count ? kept : lost)++;
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(lost, 0);
    // a list that fits shows no bar and uses the whole width
    grid->SetItems({v[0], v[1]});
    grid->resize(3 * colW + 3, 500);
    EXPECT_EQ(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(grid->Columns().Count, 3);
    EXPECT_EQ(grid->Columns().Left(2) + grid->Columns().WidthOf(2), grid->viewport()->width());
}

TEST_F(GridFixture, ChangeEventsAreBatchedOrPaintedAtOnce) {
    auto v = Photos(30);
    grid->SetItems(v);
    grid->SetFocusedItem(v[0]);
    // a burst of date changes: one re-sort after the timer
    for (int i = 0; i < 10; ++i) {
        v[i]->SetShootingDate(EncodeDateTime(2030, 1, 1) + i);
        grid->CatalogItemChanged(v[i], 10);
    }
    EXPECT_EQ(grid->PendingChangeCount(), 10);
    EXPECT_EQ(grid->Sorted().front(), v[0]);  // not yet
    ASSERT_TRUE(WaitUntil([&] { return grid->PendingChangeCount() == 0; }, 2000));
    EXPECT_EQ(grid->Sorted().front(), v[10]);
    EXPECT_EQ(grid->Sorted().back(), v[9]);
    EXPECT_EQ(grid->FocusedItem(), v[0]);
    // favourite changes are painted at once, not queued
    grid->CatalogItemChanged(v[3], 6);
    EXPECT_EQ(grid->PendingChangeCount(), 0);
    // a deleted item leaves; items that are not shown are ignored
    grid->CatalogItemChanged(v[5], 2);
    TCatalogItem* stranger = dir->Add("x.jpg", 1, 1);
    grid->CatalogItemChanged(stranger, 2);
    EXPECT_EQ(grid->PendingChangeCount(), 1);
    ASSERT_TRUE(WaitUntil([&] { return grid->PendingChangeCount() == 0; }, 2000));
    EXPECT_EQ(grid->Sorted().size(), 29u);
}

TEST_F(GridFixture, StatusBarSliderAndEmptyText) {
    auto v = Photos(7);
    grid->SetItems(v);
    EXPECT_EQ(grid->CountText(), QStringLiteral("7 枚"));
    grid->SizeSlider()->setValue(160);
    EXPECT_EQ(grid->ThumbSize(), 160);
    EXPECT_EQ(grid->Geometry().ColumnWidth, 180);
    grid->SetThumbSize(500);
    EXPECT_EQ(grid->ThumbSize(), 240);
    EXPECT_EQ(grid->SizeSlider()->value(), 240);
    QLabel* small = grid->StatusBar()->findChild<QLabel*>("SmallSizeIcon");
    ASSERT_NE(small, nullptr);
    QTest::mouseClick(small, Qt::LeftButton);
    EXPECT_EQ(grid->ThumbSize(), 80);
    grid->SetItems({});
    grid->SetShowEmptyText(true, QStringLiteral("（表示できる写真はありません。）"));
    QImage shot = grid->viewport()->grab().toImage();
    bool grey = false;
    for (int y = 16; y < 50 && !grey; ++y)
        for (int x = 16; x < 300 && !grey; ++x) grey = shot.pixelColor(x, y).red() < 160;
    EXPECT_TRUE(grey);
}

TEST_F(GridFixture, AGridOfRealPhotosWithThumbnailsMarksAndDayBands) {
    auto cache = CreateCatalogImageCache(dir->Path("cache"), 2, 16);
    std::vector<std::string> samples = {"Canon_40D.jpg", "Canon_PowerShot_S40.jpg", "Fujifilm_FinePix6900ZOOM.jpg",
                                        "Kodak_CX7530.jpg", "Nikon_D70.jpg", "Olympus_C8080WZ.jpg",
                                        "Pentax_K10D.jpg", "Reconyx_HC500_Hyperfire.jpg", "Ricoh_Caplio_RR330.jpg"};
    std::vector<TCatalogItem*> v;
    for (size_t i = 0; i < samples.size(); ++i) {
        std::string src = fv::test::TestPhotoDir() + "/" + samples[i];
        TCatalogItem* it = dir->AddCopy(src, samples[i], EncodeDateTime(2024, 7, 1 + int(i) / 4, 8 + int(i)));
        QImage thumb = QImage(QString::fromStdString(src)).scaled(80, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        TBitmap b = ToBitmap(thumb);
        ASSERT_TRUE(cache->AddCatalogImage(it, &b, 80));
        v.push_back(it);
    }
    // a photo that cannot be decoded has no thumbnail: its type icon shows
    { std::ofstream(dir->Path("broken.jpg")) << "no picture"; }
    TCatalogItem* broken = dir->Add("broken.jpg", 0, 0, EncodeDateTime(2024, 7, 3, 20));
    v.push_back(broken);
    v[0]->SetMarked(true);
    v[1]->SetRating(2);
    v[2]->SetFlag(ifDeleteReservation, true);
    v[3]->SetOrientation(6);
    v[4]->SetPrintReservation(3);
    v[5]->SetComment("a comment");
    TListFolder cal(fkCalendarMonth, 13, "2024/07");
    cal.Items = v;
    TFrameCatalogView view;
    view.SetDialogs({});
    view.resize(560, 620);
    view.show();
    view.SetImageCache(cache.get());
    view.SetFolder(&cal);
    ASSERT_TRUE(WaitUntil([&] {
        for (size_t i = 0; i + 1 < v.size(); ++i)
            if (!view.HasThumbnail(v[i])) return false;
        return true;
    }));
    // the undecodable file shows its type icon once the thumbnail maker gave up on it
    ASSERT_TRUE(WaitUntil([&] { return !view.PictureComing(broken, false); }));
    // At ratio 2 the 80-pixel pictures of the cache are too small: the maker decodes the photos
    // and reads their camera dates on the way, and the grid groups them again by those days.
    const bool remade = view.DeviceThumbSize() > 80;
    auto dayOf = [](TCatalogItem* it) {
        TDateTimeParts d = DecodeDateTime(it->GetShootingDate());
        return QStringLiteral("%1年%2月%3日").arg(d.Year).arg(d.Month).arg(d.Day);
    };
    auto bandsFollowTheDates = [&] {
        if (view.IsSorting() || view.PendingChangeCount() > 0) return false;
        const int cols = view.Columns().Count;
        QString day;
        for (size_t c = 0; c < view.Cells().size(); ++c) {
            TCatalogItem* it = view.Cells()[c];
            if (!it) continue;
            if (remade && it != broken && it->GetCameraState() == cdNotRead) return false;
            const int row = static_cast<int>(c) / cols;
            if (view.RowHasBand(row) && c % cols == 0) day = dayOf(it);
            if (dayOf(it) != day) return false;
            if (view.RowHasBand(row) && !view.BandText(row).startsWith(day)) return false;
        }
        return true;
    };
    ASSERT_TRUE(WaitUntil(bandsFollowTheDates, 30000));
    QTest::qWait(50);
    QImage shot = view.grab().toImage();
    fv::test::SaveScreenshot(shot, "grid_photos");
    // pixels are checked in logical coordinates, whatever the screen's scale
    QImage vp = view.viewport()->grab().toImage().scaled(view.viewport()->size());
    const QColor cellBg = view.palette().color(QPalette::Button);
    // every thumbnail area is a picture, not the cell colour
    for (size_t i = 0; i + 1 < v.size(); ++i) {
        QRect t = view.ThumbRect(view.CellOf(v[i])).adjusted(8, 8, -8, -8);
        int differ = 0, total = 0;
        for (int y = t.top(); y < t.bottom(); y += 3)
            for (int x = t.left(); x < t.right(); x += 3, ++total) differ += vp.pixelColor(x, y) != cellBg;
        EXPECT_GT(differ, total / 3) << samples[i];
    }
    // the broken photo shows its type icon in the middle of its box
    QRect t = view.ThumbRect(view.CellOf(broken));
    int iconPixels = 0;
    for (int y = t.center().y() - 12; y < t.center().y() + 12; ++y)
        for (int x = t.center().x() - 12; x < t.center().x() + 12; ++x) iconPixels += vp.pixelColor(x, y) != cellBg;
    EXPECT_GT(iconPixels, 100);
    EXPECT_FALSE(view.HasThumbnail(broken));
    // a band a day with white day text: the three days given, or the cameras' own days
    std::set<QString> days;
    for (TCatalogItem* it : v) days.insert(dayOf(it));
    if (!remade) {
        EXPECT_EQ(view.BandText(0), QStringLiteral("2024年7月1日 (月曜日)"));
        EXPECT_EQ(days.size(), 3u);
    } else {
        EXPECT_GT(days.size(), 3u);
    }
    EXPECT_TRUE(view.RowHasBand(0));
    int white = 0;
    for (int x = 24; x < 200; ++x)
        for (int y = 6; y < 18; ++y) white += vp.pixelColor(x, y).lightness() > 240;
    EXPECT_GT(white, 30);
    int bandRows = 0;
    for (int r = 0; r < view.RowCount(); ++r) bandRows += view.RowHasBand(r);
    EXPECT_EQ(bandRows, static_cast<int>(days.size()));

    // the viewer opens on the focused photo and the wheel steps to the next
    view.SetFocusedItem(v[7]);
    view.OpenViewer();
    ASSERT_TRUE(WaitUntil([&] { return !view.Viewer()->IsLoading(); }));
    EXPECT_EQ(view.Viewer()->CurrentItem(), v[7]);
    EXPECT_FALSE(view.viewport()->isVisible());
    fv::test::SaveScreenshot(view.grab().toImage(), "grid_viewer_open");
    QWheelEvent wheel(QPointF(100, 100), view.Viewer()->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.Viewer()->viewport(), &wheel);
    ASSERT_TRUE(WaitUntil([&] { return !view.Viewer()->IsLoading(); }));
    TCatalogItem* next = view.NextItem(v[7], true);  // v[8], unless the cameras' days came between
    EXPECT_EQ(view.FocusedItem(), next);
    EXPECT_EQ(view.Viewer()->CurrentItem(), next);
    view.CloseViewer();
    EXPECT_TRUE(view.viewport()->isVisible());
    view.Stop();
}

// A long list is put in order on a worker while the grid shows the list it has; a result in an
// order the grid no longer has is never shown, neither from the worker nor from a listing.
TEST_F(GridFixture, LongListsAreSortedOnAWorkerAndNeverShownInAnOldOrder) {
    // names in one order, shooting dates in the opposite one
    std::vector<TCatalogItem*> v = Photos(60);
    for (size_t i = 0; i < v.size(); ++i) v[i]->SetShootingDate(EncodeDateTime(2024, 5, 1) + (60.0 - i) / 10);
    const std::vector<TCatalogItem*> up = v, down(v.rbegin(), v.rend());
    std::vector<TCatalogItem*> shuffled = v;
    std::rotate(shuffled.begin(), shuffled.begin() + 17, shuffled.end());
    TListFolder folder(fkFolder, 13, "f");
    uint64_t ticket = 0;
    grid->SetListingStarter([&](TCustomFolder*, uint64_t t) { ticket = t; });
    grid->SetSortType(stFileName);
    grid->SetSyncSortLimit(0);
    grid->SetFolder(&folder);
    grid->DeliverListing(ticket, shuffled, 2, true);
    EXPECT_TRUE(grid->IsSorting());
    EXPECT_TRUE(grid->IsListing());  // finished once its list is in order on screen
    EXPECT_TRUE(grid->Sorted().empty());
    ASSERT_TRUE(WaitUntil([&] { return !grid->IsSorting(); }));
    EXPECT_EQ(grid->Sorted(), up);
    EXPECT_FALSE(grid->IsListing());
    EXPECT_EQ(grid->SortsOnWorker(), 1);
    grid->SetFocusedItem(v[40]);

    // the worker finishes a sort by name, downwards; the order changes before its result is
    // taken: the result is dropped
    grid->SetAscending(false);
    for (int i = 0; i < 500 && grid->SortsOnWorker() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(grid->SortsOnWorker(), 2);
    grid->SetSortType(stShootingDate);  // downwards by date: the names upwards
    QCoreApplication::processEvents();
    EXPECT_NE(grid->Sorted(), down);
    ASSERT_TRUE(WaitUntil([&] { return !grid->IsSorting(); }));
    EXPECT_EQ(grid->Sorted(), up);
    EXPECT_EQ(grid->ShownOrder(), grid->CurrentOrder());
    EXPECT_EQ(grid->FocusedItem(), v[40]);  // the focus stays on its photo

    // a listing sorted in an order the grid no longer has is sorted again, not shown
    grid->Refresh();
    TViewOrder old = grid->CurrentOrder();
    old.SortType = stFileName;
    TOrderedList byName;
    OrderItems(shuffled, old, byName);
    ASSERT_EQ(byName.Items, down);
    grid->DeliverOrderedListing(ticket, shuffled, std::move(byName), old, 2);
    EXPECT_NE(grid->Sorted(), down);
    EXPECT_TRUE(grid->IsListing());
    ASSERT_TRUE(WaitUntil([&] { return !grid->IsListing(); }));
    EXPECT_EQ(grid->Sorted(), up);
    // ... and one in the grid's order is taken as it is
    grid->Refresh();
    const int sorts = grid->SortsOnWorker();
    TOrderedList current;
    OrderItems(shuffled, grid->CurrentOrder(), current);
    grid->DeliverOrderedListing(ticket, shuffled, std::move(current), grid->CurrentOrder(), 2);
    EXPECT_FALSE(grid->IsListing());
    EXPECT_EQ(grid->Sorted(), up);
    EXPECT_EQ(grid->SortsOnWorker(), sorts);
    EXPECT_EQ(grid->CellOf(v[7]), 7);
    EXPECT_EQ(grid->NextItem(v[7], false), v[8]);
    EXPECT_EQ(grid->PrevItem(v[0], false), nullptr);
    EXPECT_EQ(grid->PrevItem(v[0], true), v.back());
}

// Photos whose shooting dates change under the grid (the thumbnail maker reads them) move to
// their days: the grid groups again, at once for a short list and on the worker for a long one.
TEST_F(GridFixture, PhotosMoveToTheirDayWhenTheirDatesChange) {
    auto v = Photos(6, 2);  // 1, 2 and 3 May, two photos a day
    TListFolder cal(fkCalendarMonth, 13, "2024/05");
    cal.Items = v;
    grid->SetFolder(&cal);
    ASSERT_EQ(grid->RowCount(), 3);
    grid->SetFocusedItem(v[1]);
    const int64_t third = ItemDay(v[5]->GetShootingDate());
    auto dayOfRow = [&](TCatalogItem* it) { return grid->BandText(grid->CellOf(it) / grid->Columns().Count); };
    for (size_t limit : {size_t(2000), size_t(0)}) {
        grid->SetSyncSortLimit(limit);
        TCatalogItem* moved = limit ? v[0] : v[2];
        moved->SetShootingDate(third + 0.9);
        grid->CatalogItemChanged(moved, cuThumbnailStored);
        ASSERT_TRUE(WaitUntil([&] { return grid->Sorted().back() == moved && !grid->IsSorting(); })) << limit;
        EXPECT_EQ(dayOfRow(moved), dayOfRow(v[5]));
        EXPECT_NE(grid->CellOf(moved) / grid->Columns().Count, 0);
        EXPECT_EQ(grid->FocusedItem(), v[1]);
    }
    // two days are left with a photo, and the third has four
    EXPECT_EQ(grid->RowCount(), 3);
    EXPECT_EQ(grid->BandText(2), dayOfRow(v[5]));
    EXPECT_EQ(grid->CellOf(v[1]), 0);
    EXPECT_EQ(grid->CellOf(v[3]) / grid->Columns().Count, 1);
    // a change of a photo whose date stayed does not put the list in order again
    const int sorts = grid->SortsOnWorker();
    grid->CatalogItemChanged(v[4], cuThumbnailStored);
    EXPECT_EQ(grid->PendingChangeCount(), 0);
    QTest::qWait(150);
    EXPECT_EQ(grid->SortsOnWorker(), sorts);
}
