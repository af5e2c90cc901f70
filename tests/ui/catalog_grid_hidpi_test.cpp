// The grid on screens of any pixel ratio: pictures asked for and drawn at the device size. The
// suite runs twice under ctest, at QT_SCALE_FACTOR 1 and 2; every expectation is written in
// terms of the ratio the grid reports.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <cmath>
#include <cstdlib>

#include "image/bitmap.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_item.h"
#include "ui/grid/catalog_grid.h"
#include "ui/common_images.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
using fv::test::App;
using fv::test::WaitUntil;

namespace {

// vertical stripes one pixel wide, black and white: sharp only when drawn 1:1
TBitmap Stripes(int w, int h) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3) p[0] = p[1] = p[2] = (x % 2) ? 255 : 0;
    }
    return b;
}

TBitmap Flat(int w, int h, uint8_t v) {
    TBitmap b(w, h);
    b.Fill(v, v, v);
    return b;
}

struct HiDpiGrid : ::testing::Test {
    std::unique_ptr<fv::test::TTestFolder> dir;
    std::unique_ptr<TCatalogImageCacheMaster> cache;
    std::unique_ptr<TFrameCatalogDG> grid;
    std::vector<std::pair<std::vector<TCatalogItem*>, int>> asked;
    void SetUp() override {
        App();
        dir = std::make_unique<fv::test::TTestFolder>(::testing::UnitTest::GetInstance()->current_test_info()->name());
        cache = CreateCatalogImageCache(dir->Path("cache"), 2, 64);
        grid = std::make_unique<TFrameCatalogDG>();
        grid->SetThumbnailRequest([this](const std::vector<TCatalogItem*>& items, int size) { asked.push_back({items, size}); });
        grid->resize(700, 500);
        grid->show();
    }
    void TearDown() override {
        grid.reset();
        cache.reset();
        dir.reset();
    }
    std::vector<TCatalogItem*> Photos(int n) {
        std::vector<TCatalogItem*> v;
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "p%05d.jpg", i);
            v.push_back(dir->Add(name, 4000, 3000, EncodeDateTime(2024, 5, 1, 9) + i / 1440.0));
        }
        return v;
    }
};

}  // namespace

TEST_F(HiDpiGrid, CellsDrawFromPicturesOfTheDeviceSize) {
    const qreal ratio = grid->devicePixelRatioF();
    if (const char* f = std::getenv("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(ratio, std::atof(f));
    }
    const int want = static_cast<int>(std::ceil(80 * ratio - 0.01));
    EXPECT_EQ(grid->DeviceThumbSize(), want);
    auto v = Photos(4);
    // v[0]: a picture made for one pixel per point (an old cache entry); v[1]: made larger
    // (for a screen of ratio 3); v[2]: exactly the device size, sharp stripes; v[3]: none
    TBitmap old = Flat(80, 60, 90), large = Flat(240, 180, 150), exact = Stripes(want, want * 3 / 4);
    ASSERT_TRUE(cache->AddCatalogImage(v[0], &old, 80));
    ASSERT_TRUE(cache->AddCatalogImage(v[1], &large, 240));
    ASSERT_TRUE(cache->AddCatalogImage(v[2], &exact, want));
    grid->SetImageCache(cache.get());
    grid->SetItems(v);
    ASSERT_TRUE(WaitUntil([&] { return grid->HasThumbnail(v[0]) && grid->HasThumbnail(v[1]) && grid->HasThumbnail(v[2]); }));
    // the maker is asked for the device size, for the photo without a picture and for the one
    // whose picture is smaller than that; never for the larger one
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().second, want);
    const auto& make = asked.back().first;
    auto wanted = [&](TCatalogItem* it) { return std::find(make.begin(), make.end(), it) != make.end(); };
    EXPECT_TRUE(wanted(v[3]));
    EXPECT_EQ(wanted(v[0]), 80 < want);
    EXPECT_FALSE(wanted(v[1]));
    EXPECT_FALSE(wanted(v[2]));
    // the pictures in memory carry the ratio; the larger one was reduced to the device size
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(grid->ThumbnailImage(v[i]).devicePixelRatio(), ratio);
    EXPECT_EQ(grid->ThumbnailImage(v[1]).width(), want);
    EXPECT_EQ(grid->ThumbnailImage(v[2]).width(), want);

    // the stripes reach the screen one device pixel each: drawn 1:1, not stretched
    QImage shot = grid->viewport()->grab().toImage();
    ASSERT_DOUBLE_EQ(shot.devicePixelRatio(), ratio);
    const QRect box = grid->ThumbRect(grid->CellOf(v[2]));
    const QPoint c = box.center() * ratio;
    long diff = 0;
    int n = 0;
    for (int x = c.x() - 20; x < c.x() + 20; ++x, ++n)
        diff += std::abs(qGray(shot.pixel(x, c.y())) - qGray(shot.pixel(x + 1, c.y())));
    EXPECT_GT(diff / n, 120) << "neighbouring device pixels of the stripes should differ strongly";
}

// The pictures in memory stay within the byte budget while the grid scrolls a long folder; the
// least recently drawn leave first, and the cells on screen keep theirs even when the budget is
// smaller than one screen.
TEST_F(HiDpiGrid, PictureMemoryKeepsToItsBudgetAndNeverDropsWhatIsOnScreen) {
    const int want = grid->DeviceThumbSize();
    auto v = Photos(400);
    const TBitmap pic = Flat(want, want * 3 / 4, 120);
    for (auto* it : v) ASSERT_TRUE(cache->AddCatalogImage(it, &pic, want));
    const size_t each = static_cast<size_t>(want) * (want * 3 / 4) * 4;
    grid->SetImageCache(cache.get());
    grid->SetItems(v);
    auto onScreen = [&] {
        std::vector<TCatalogItem*> out;
        const int cols = grid->Columns().Count;
        for (int r = grid->TopRow(); r <= grid->TopRow() + grid->VisibleRowCount() && r < grid->RowCount(); ++r)
            for (int c = 0; c < cols; ++c) {
                size_t i = static_cast<size_t>(r) * cols + c;
                if (i < grid->Cells().size() && grid->Cells()[i]) out.push_back(grid->Cells()[i]);
            }
        return out;
    };
    auto screenReady = [&] {
        for (auto* it : onScreen())
            if (!grid->HasThumbnail(it)) return false;
        return true;
    };
    const size_t perScreen = onScreen().size();
    ASSERT_GT(perScreen, 10u);
    // about two screens of pictures
    const size_t budget = 2 * perScreen * each;
    grid->SetThumbnailBudget(budget);
    EXPECT_EQ(grid->ThumbnailBudget(), budget);
    size_t most = 0;
    for (int top = 0; top < grid->MaxTopRow(); top += grid->VisibleRowCount()) {
        grid->SetTopRow(top);
        ASSERT_TRUE(WaitUntil(screenReady)) << "top row " << top;
        grid->viewport()->repaint();
        most = std::max(most, grid->ThumbnailBytes());
        EXPECT_LE(grid->ThumbnailBytes(), budget);
    }
    EXPECT_GT(most, budget / 2);  // the budget is used, not just a screen
    EXPECT_FALSE(grid->HasThumbnail(v[0]));  // the first screen went long ago
    // what is on screen now was drawn last: a smaller budget keeps exactly that
    const auto now = onScreen();
    grid->SetThumbnailBudget(each);
    for (auto* it : now) EXPECT_TRUE(grid->HasThumbnail(it));
    EXPECT_EQ(grid->ThumbnailBytes(), now.size() * each);
    // the automatic budget is 64 MB at every pixel ratio, and holds three screens of the
    // largest cells of a full-HD window at ratio 2
    grid->SetThumbnailBudget(0);
    EXPECT_EQ(grid->ThumbnailBudget(), 64u * 1048576u);
    EXPECT_GE(grid->ThumbnailBudget(), 3u * 28u * 480u * 320u * 4u);
    // behind the viewer the cells are hidden: only the pictures of the grid's own screen stay,
    // whatever room the budget leaves, and pictures that come meanwhile do not pile up
    grid->SetTopRow(0);
    ASSERT_TRUE(WaitUntil(screenReady));
    grid->viewport()->repaint();
    const auto back = onScreen();
    ASSERT_GT(grid->ThumbnailBytes(), back.size() * each);
    grid->viewport()->hide();
    grid->KeepOnlyScreenPictures();
    for (auto* it : back) EXPECT_TRUE(grid->HasThumbnail(it));
    EXPECT_EQ(grid->ThumbnailBytes(), back.size() * each);
    grid->SetTopRow(grid->VisibleRowCount() + 1);
    ASSERT_TRUE(WaitUntil(screenReady));
    EXPECT_EQ(grid->ThumbnailBytes(), onScreen().size() * each);
    grid->viewport()->show();
}

// The focused photo carries a frame of whole device pixels, dark outside and light inside, that
// shows on a selected and on a plain cell alike and is not the selection's fill.
TEST_F(HiDpiGrid, TheFocusMarkIsAFrameDistinctFromTheSelection) {
    const qreal ratio = grid->devicePixelRatioF();
    auto v = Photos(6);
    grid->SetItems(v);
    grid->activateWindow();
    grid->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return grid->hasFocus(); }));
    auto frameAt = [&](int cell, QColor& outer, QColor& inner, QColor& fill) {
        QImage shot = grid->viewport()->grab().toImage();
        const QRect body = grid->CellRect(cell);
        // down the middle of the cell's left edge, in device pixels
        const int y = static_cast<int>(body.center().y() * ratio);
        const int x = static_cast<int>((body.left() + 2) * ratio);
        outer = shot.pixelColor(x + static_cast<int>(ratio), y);  // inside the 2-point dark band
        inner = shot.pixelColor(x + static_cast<int>(2 * ratio), y);  // the light line
        fill = shot.pixelColor(x + static_cast<int>(4 * ratio), y);   // the cell's own colour
    };
    // a selected focused cell, then the focus moved on with the selection kept
    grid->SetFocusedItem(v[0]);
    QTest::keyClick(grid.get(), Qt::Key_Right, Qt::ControlModifier);
    ASSERT_EQ(grid->FocusedItem(), v[1]);
    ASSERT_TRUE(grid->IsSelected(v[0]));
    ASSERT_FALSE(grid->IsSelected(v[1]));
    QColor outer, inner, fill;
    frameAt(grid->CellOf(v[1]), outer, inner, fill);  // focused, not selected
    EXPECT_EQ(outer, grid->palette().color(QPalette::WindowText));
    EXPECT_EQ(inner, grid->palette().color(QPalette::Base));
    EXPECT_NE(fill, outer);
    QColor o2, i2, selFill;
    frameAt(grid->CellOf(v[0]), o2, i2, selFill);  // selected, not focused: no frame
    EXPECT_EQ(o2, selFill);
    EXPECT_NE(o2, grid->palette().color(QPalette::WindowText));
    QTest::keyClick(grid.get(), Qt::Key_Space);  // focused and selected: the frame is on the fill
    frameAt(grid->CellOf(v[1]), outer, inner, fill);
    EXPECT_EQ(outer, grid->palette().color(QPalette::WindowText));
    EXPECT_EQ(inner, grid->palette().color(QPalette::Base));
    EXPECT_EQ(fill, selFill);
    fv::test::SaveScreenshot(grid->grab().toImage(), "grid_focus_mark");
}

// The marks of a cell never cover its date box nor one another, at any thumbnail size and ratio;
// many print copies show as one mark and their count.
TEST_F(HiDpiGrid, MarksStayClearOfTheDateBoxAndOfEachOther) {
    auto v = Photos(3);
    for (TCatalogItem* it : v) {
        it->SetRating(5);
        it->SetMarked(true);
        it->SetFlag(ifDeleteReservation, true);
        TCorrectionRecord c;
        c.Enabled = 1;
        it->SetCorrection(c);
        it->SetOrientation(7);  // turned and mirrored
        it->SetFlag(ifReadOnly, true);
        it->SetComment("a comment");
    }
    v[0]->SetPrintReservation(3);
    v[1]->SetPrintReservation(40);
    grid->SetItems(v);
    grid->SetInfoLines(gilDate);
    for (int size : {80, 160, 240}) {
        grid->SetThumbSize(size);
        for (int cell = 0; cell < 3; ++cell) {
            SCOPED_TRACE(testing::Message() << "size " << size << " cell " << cell);
            const QRect r = grid->CellRect(cell);
            const QRect body = grid->RowHasBand(0) ? r.adjusted(0, kTitleBandHeight, 0, 0) : r;
            const QRect info = grid->InfoRect(body);
            ASSERT_FALSE(info.isEmpty());
            auto marks = grid->MarkLayoutOf(cell);
            ASSERT_GE(marks.size(), 7u);
            int prints = 0;
            for (size_t i = 0; i < marks.size(); ++i) {
                EXPECT_TRUE(body.contains(marks[i].Rect)) << i;
                EXPECT_FALSE(marks[i].Rect.intersects(info)) << i;
                for (size_t j = i + 1; j < marks.size(); ++j) EXPECT_FALSE(marks[i].Rect.intersects(marks[j].Rect)) << i << "," << j;
                if (marks[i].Icon == ciPrintReservation) prints += marks[i].Count ? marks[i].Count : 1;
            }
            EXPECT_EQ(prints, v[static_cast<size_t>(cell)]->GetPrintReservation());
        }
    }
    grid->SetThumbSize(80);
    QTest::qWait(50);
    fv::test::SaveScreenshot(grid->grab().toImage(), "grid_marks");
}
