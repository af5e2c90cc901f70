// The grid on screens of any pixel ratio: pictures asked for and drawn at the device size. The
// suite runs twice under ctest, at QT_SCALE_FACTOR 1 and 2; every expectation is written in
// terms of the ratio the grid reports.
#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "image/bitmap.h"
#include "image/catalog_image_cache.h"
#include "library/catalog_item.h"
#include "ui/catalog_grid.h"
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
    if (const char* f = std::getenv("QT_SCALE_FACTOR")) EXPECT_DOUBLE_EQ(ratio, std::atof(f));
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
