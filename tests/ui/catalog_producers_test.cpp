// The catalog view's own producers: a folder listed by the listing thread whose thumbnails are
// made by the view's thumbnail maker (nothing cached before), and copy and move through the
// engine's item operations.
#include <gtest/gtest.h>

#include <QStatusBar>
#include <fstream>

#include "thumbs/cache_image_maker.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "ui/grid/catalog_view.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
using fv::test::App;
using fv::test::WaitUntil;
namespace fs = std::filesystem;

namespace {

const char* const kSamples[] = {"Canon_40D.jpg", "Nikon_D70.jpg", "Kodak_CX7530.jpg", "Pentax_K10D.jpg",
                                "Olympus_C8080WZ.jpg", "Ricoh_Caplio_RR330.jpg"};

// sample photos copied into the folder's directory, with no catalog items made for them
void CopySamples(const fv::test::TTestFolder& dir, int n) {
    for (int i = 0; i < n; ++i)
        fs::copy_file(fv::test::TestPhotoDir() + "/" + kSamples[i], dir.Path(kSamples[i]),
                      fs::copy_options::overwrite_existing);
}

}  // namespace

TEST(GridProducers, AColdFolderIsListedByTheThreadAndItsThumbnailsAreMade) {
    App();
    fv::test::TTestFolder dir("cold-folder");
    fv::test::TTestFolder cacheDir("cold-cache");
    CopySamples(dir, 6);
    { std::ofstream(dir.Path("broken.jpg")) << "no picture here";
    }
    auto cache = CreateCatalogImageCache(cacheDir.Path("c"), 2, 16);
    TFrameCatalogView view;
    view.SetDialogs({});
    view.resize(620, 480);
    view.show();
    view.SetImageCache(cache.get());
    ASSERT_NE(view.ThumbnailMaker(), nullptr);
    std::vector<int> stages;
    view.OnListingState = [&](int s) { stages.push_back(s); };
    // whether dates are to be read is found out by the lister; it may say yes to dates read
    // since, never no to dates unread
    int listed = 0;
    bool saidNo = false, unread = false;
    view.OnListLoaded = [&](TCustomFolder*, int) {
        ++listed;
        saidNo = !view.LoadedNeedsShootingDates();
        unread = NeedsShootingDates(view.Loaded());
    };
    EXPECT_EQ(dir.Folder()->GetItemCount(), 0);
    view.SetFolder(dir.Folder());
    // the list comes from the thread, not from the folder's memory
    EXPECT_TRUE(view.Loaded().empty());
    ASSERT_TRUE(WaitUntil([&] { return view.Sorted().size() == 7; }, 20000)) << view.Sorted().size();
    EXPECT_EQ(stages.front(), 0);
    EXPECT_EQ(stages.back(), 2);
    EXPECT_EQ(listed, 1);
    EXPECT_FALSE(saidNo && unread);
    TCatalogItem* broken = dir.Folder()->FindItem("broken.jpg");
    ASSERT_NE(broken, nullptr);
    // every decodable photo gets a picture made, stored at the grid's size and shown (a quick
    // picture from the EXIF thumbnail may be shown and stored first, at its own size)
    ASSERT_TRUE(WaitUntil([&] {
        for (TCatalogItem* it : view.Sorted())
            if (it != broken && (!view.HasThumbnail(it) || cache->CachedSizeOf(it) != 80)) return false;
        return true;
    }, 30000));
    for (TCatalogItem* it : view.Sorted())
        if (it != broken) {
            EXPECT_EQ(cache->CachedSizeOf(it), 80) << it->GetFileName();
        }
    EXPECT_FALSE(view.HasThumbnail(broken));
    // it gets its type icon once the maker gave up on it; until then its box stays empty
    ASSERT_TRUE(WaitUntil([&] { return !view.PictureComing(broken, false); }, 10000));
    EXPECT_TRUE(cache->HasFailed(broken, 80));
    QTest::qWait(100);
    fv::test::SaveScreenshot(view.grab().toImage(), "grid_cold_filled");
    // pixels: a made thumbnail is a picture, not the cell colour
    QImage vp = view.viewport()->grab().toImage().scaled(view.viewport()->size());
    TCatalogItem* first = dir.Folder()->FindItem(kSamples[0]);
    QRect t = view.ThumbRect(view.CellOf(first)).adjusted(10, 10, -10, -10);
    std::set<QRgb> colours;
    for (int y = t.top(); y < t.bottom(); y += 2)
        for (int x = t.left(); x < t.right(); x += 2) colours.insert(vp.pixel(x, y));
    EXPECT_GT(colours.size(), 50u);
    QRect b = view.ThumbRect(view.CellOf(broken));
    int iconPixels = 0;
    const QColor cellBg = view.palette().color(QPalette::Button);
    for (int y = b.center().y() - 12; y < b.center().y() + 12; ++y)
        for (int x = b.center().x() - 12; x < b.center().x() + 12; ++x) iconPixels += vp.pixelColor(x, y) != cellBg;
    EXPECT_GT(iconPixels, 100);
    view.Stop();
}

TEST(GridProducers, ChoosingAnotherFolderWhileListingShowsOnlyTheNewOne) {
    App();
    fv::test::TTestFolder a("switch-a"), b("switch-b");
    CopySamples(a, 6);
    CopySamples(b, 2);
    TFrameCatalogView view;
    view.SetDialogs({});
    view.resize(400, 300);
    view.show();
    view.SetFolder(a.Folder());
    view.SetFolder(b.Folder());
    ASSERT_TRUE(WaitUntil([&] { return !view.IsListing() && view.Sorted().size() == 2; }, 20000));
    QTest::qWait(200);  // whatever the first thread still reports is ignored
    EXPECT_EQ(view.Sorted().size(), 2u);
    for (TCatalogItem* it : view.Sorted()) EXPECT_EQ(it->GetOwner(), b.Folder());
    EXPECT_EQ(view.StatusBar()->isVisible(), true);
    view.Stop();
}

TEST(GridProducers, MoveAndCopyGoThroughTheEngineAndFailuresAreNamed) {
    App();
    fv::test::TTestFolder src("ops-src"), dest("ops-dest");
    CopySamples(src, 3);
    TFrameCatalogView view;
    QStringList errors;
    QString chosen = QString::fromStdString(dest.Path(""));
    view.SetDialogs({[](const QString&, const QString&) { return true; }, [&](const QString& t) { errors << t; },
                     [&](const QString&, const QString&) { return chosen; }, nullptr});
    view.resize(400, 300);
    view.show();
    view.SetFolder(src.Folder());
    ASSERT_TRUE(WaitUntil([&] { return !view.IsListing() && view.Sorted().size() == 3; }, 20000));
    TCatalogItem* a = view.Sorted()[0];
    TCatalogItem* b = view.Sorted()[1];
    TCatalogItem* c = view.Sorted()[2];
    // b's name is taken in the destination: b is named, a is moved and leaves the grid
    { std::ofstream(dest.Path(b->GetFileName())) << "taken"; }
    const std::string aName = a->GetFileName(), bName = b->GetFileName(), cName = c->GetFileName();
    view.SetFocusedItem(a);
    view.SetFocusedItem(b, true);
    ASSERT_EQ(view.SelectedCount(), 2);
    view.Operation(0, gopMove);
    EXPECT_TRUE(fs::exists(dest.Path(aName)));
    EXPECT_FALSE(fs::exists(src.Path(aName)));
    EXPECT_TRUE(fs::exists(src.Path(bName)));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(b->GetFullPath()))) << errors[0].toStdString();
    EXPECT_FALSE(errors[0].contains(QString::fromStdString(aName)));
    EXPECT_EQ(view.CellOf(a), -1);
    EXPECT_GE(view.CellOf(b), 0);
    EXPECT_EQ(view.Sorted().size(), 2u);
    // a copy leaves the grid as it is
    errors.clear();
    view.SetFocusedItem(c);
    view.Operation(0, gopCopy);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(fs::exists(dest.Path(cName)));
    EXPECT_TRUE(fs::exists(src.Path(cName)));
    EXPECT_GE(view.CellOf(c), 0);
    view.Stop();
}
