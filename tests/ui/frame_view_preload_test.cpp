// The viewer's prepared neighbours, its bounded picture cache, the last picture staying on screen
// while the next one decodes, and a held arrow key.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <climits>
#include <initializer_list>
#include <filesystem>
#include <map>

#include "ui/viewer/frame_view.h"
#include "ui/viewer/frame_view_cache.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
using fv::test::App;
using fv::test::WaitUntil;

namespace {

// a photo of one colour, so that what is painted tells which photo it is
TCatalogItem* AddSolid(fv::test::TTestFolder& dir, const std::string& name, int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    img.save(QString::fromStdString(dir.Path(name)), "JPEG", 90);
    return dir.Add(name, w, h);
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
}

QColor Hue(int i) { return QColor::fromHsv((i * 47) % 360, 220, 220); }

struct PreloadFixture : ::testing::Test {
    std::unique_ptr<fv::test::TTestFolder> dir;
    std::unique_ptr<TFrameView> view;
    std::vector<TCatalogItem*> items;
    std::vector<const void*> prepared;  // neighbours in the order they became ready
    int index = 0;

    void SetUp() override {
        App();
        dir = std::make_unique<fv::test::TTestFolder>(::testing::UnitTest::GetInstance()->current_test_info()->name());
        view = std::make_unique<TFrameView>();
        view->resize(804, 604);
        view->show();
        view->Start();
        view->SetPreloadDelay(20);
        view->SetNeighbourHandler([this](TCatalogItem* from, int step) -> TCatalogItem* {
            auto it = std::find(items.begin(), items.end(), from);
            if (it == items.end() || items.empty()) return nullptr;
            const int n = static_cast<int>(items.size());
            return items[((it - items.begin()) + step + n) % n];
        });
        view->SetNextHandler([this](TCatalogItem*, bool) { Go(index + 1); });
        view->SetPrevHandler([this](TCatalogItem*, bool) { Go(index - 1); });
        QObject::connect(view.get(), &TFrameView::neighbourReady, [this](const void* it) { prepared.push_back(it); });
    }
    void TearDown() override {
        view.reset();
        dir.reset();
    }
    void Make(int n, int w = 1600, int h = 1200) {
        for (int i = 0; i < n; ++i) items.push_back(AddSolid(*dir, "p" + std::to_string(i) + ".jpg", w, h, Hue(i)));
    }
    void Go(int i) {
        const int n = static_cast<int>(items.size());
        index = ((i % n) + n) % n;
        view->ShowItem(items[index]);
    }
    bool Shown(int i) {
        return WaitUntil([&] { return view->CurrentItem() == items[i] && !view->IsLoading(); });
    }
    bool Cached(int i) { return view->PictureCache().HasItem(items[i]); }
    QColor Centre() { return view->viewport()->grab().toImage().pixelColor(402, 302); }
};

}  // namespace

TEST_F(PreloadFixture, NeighboursArePreparedNextFirstInTheMovingDirectionAndShownWithoutDecoding) {
    Make(6);
    Go(2);
    ASSERT_TRUE(Shown(2));
    ASSERT_TRUE(WaitUntil([&] { return prepared.size() >= 2; }));
    // forwards: the next one first, then the previous one
    EXPECT_EQ(prepared[0], items[3]);
    EXPECT_EQ(prepared[1], items[1]);
    EXPECT_TRUE(Cached(2) && Cached(3) && Cached(1));

    // the prepared next photo is on screen at once, without a decode
    const int started = view->LoaderDecodesStarted();
    const int hits = view->CacheHits();
    QTest::qWait(60);  // past the coalescing tick of the last load
    QTest::keyClick(view.get(), Qt::Key_Right);
    EXPECT_EQ(view->CurrentItem(), items[3]);
    EXPECT_EQ(view->CacheHits(), hits + 1);
    EXPECT_FALSE(view->IsLoading());
    EXPECT_EQ(view->LoaderDecodesStarted(), started);
    EXPECT_EQ(view->EffectImage().size(), QSize(800, 600));
    EXPECT_TRUE(Near(Centre(), Hue(3)));

    // moving back: the one before is prepared first (1 was given up when 4 came in)
    ASSERT_TRUE(WaitUntil([&] { return Cached(4); }));
    EXPECT_FALSE(Cached(1));
    prepared.clear();
    QTest::qWait(60);                           // past the coalescing tick
    QTest::keyClick(view.get(), Qt::Key_Left);  // 2, from the cache
    EXPECT_EQ(view->CurrentItem(), items[2]);
    EXPECT_EQ(view->Direction(), -1);
    ASSERT_TRUE(WaitUntil([&] { return !prepared.empty(); }));
    EXPECT_EQ(prepared[0], items[1]);
    QTest::qWait(60);
    QTest::keyClick(view.get(), Qt::Key_Left);  // 1, prepared
    EXPECT_EQ(view->CurrentItem(), items[1]);
    ASSERT_TRUE(Shown(1));
    EXPECT_TRUE(Near(Centre(), Hue(1)));
}

TEST_F(PreloadFixture, TheCacheHoldsAtMostThreeScreensAndGivesUpTheFarthestPhoto) {
    Make(8);
    for (int i = 0; i < 5; ++i) {
        if (i > 0) QTest::qWait(60);
        Go(i);
        ASSERT_TRUE(Shown(i));
        ASSERT_TRUE(WaitUntil([&] { return Cached((i + 1) % 8) && Cached((i + 7) % 8); })) << i;
        TViewPictureCache& c = view->PictureCache();
        // the frames on screen are counted in, and once the sharp fit is there the viewer keeps
        // no decoded or 24-bit copy beside the painted picture
        EXPECT_LE(c.Used(view->Held()), c.Budget());
        EXPECT_EQ(view->Held().OtherBytes, 0);
        EXPECT_EQ(c.Budget(), 3LL * 804 * 604 * 4);
        EXPECT_LE(c.Count(), 3u);
    }
    // at photo 4: 3, 4 and 5 are kept; 1 and 2 went first
    EXPECT_TRUE(Cached(3) && Cached(4) && Cached(5));
    EXPECT_FALSE(Cached(1) || Cached(2));
}

TEST_F(PreloadFixture, AResizeThatKeepsTheFittedSizeReadsNothingAgain) {
    Make(3, 1600, 1200);
    Go(0);
    ASSERT_TRUE(Shown(0));
    ASSERT_TRUE(WaitUntil([&] { return Cached(1) && Cached(2); }));
    QTest::qWait(60);
    Go(1);  // from the cache: no decoded frame behind the picture
    ASSERT_TRUE(Shown(1));
    const QImage fitted = view->EffectImage();
    view->SetPreloadDelay(60000);  // the neighbours would be prepared again for the new box
    QTest::qWait(30);
    const int started = view->LoaderDecodesStarted(), asked = view->DecodeCount();
    // wider only: a 4:3 photo in an 800 x 600 box keeps its height-bound fit
    view->resize(904, 604);
    QTest::qWait(80);
    EXPECT_FALSE(view->IsLoading());
    EXPECT_EQ(view->LoaderDecodesStarted(), started);
    EXPECT_EQ(view->DecodeCount(), asked);
    EXPECT_EQ(view->EffectImage().cacheKey(), fitted.cacheKey());
    EXPECT_EQ(view->PaintBox().size(), QSize(800, 600));
    EXPECT_TRUE(Near(view->viewport()->grab().toImage().pixelColor(452, 302), Hue(1)));
    // smaller: the fit changes, the photo is read again for the new box
    view->resize(604, 454);
    ASSERT_TRUE(Shown(1));
    EXPECT_GT(view->DecodeCount(), asked);
    EXPECT_EQ(view->EffectImage().size(), QSize(600, 450) * view->devicePixelRatioF());
}

TEST(ViewPictureCache, EvictsByDistanceThenByAgeAndNeverKeepsAPictureLargerThanTheBudget) {
    App();
    TViewPictureCache cache;
    cache.SetBudget(3 * 100 * 100 * 4);
    int items[5];
    std::map<const void*, int> dist{{&items[0], 0}, {&items[1], 1}, {&items[2], 2}, {&items[3], INT_MAX}, {&items[4], 1}};
    auto distance = [&](const void* it) { return dist.count(it) ? dist[it] : INT_MAX; };
    auto entry = [&](int i, int side = 100) {
        TViewCacheEntry e;
        e.Key.Path = "p" + std::to_string(i);
        e.Item = &items[i];
        e.Picture = QImage(side, side, QImage::Format_RGB32);
        return e;
    };
    cache.Put(entry(3), distance);
    cache.Put(entry(0), distance);
    cache.Put(entry(2), distance);
    EXPECT_EQ(cache.Count(), 3u);
    cache.Put(entry(1), distance);  // the unknown one goes
    EXPECT_FALSE(cache.HasItem(&items[3]));
    cache.Put(entry(4), distance);  // then the farthest (2 steps)
    EXPECT_FALSE(cache.HasItem(&items[2]));
    EXPECT_TRUE(cache.HasItem(&items[0]) && cache.HasItem(&items[1]) && cache.HasItem(&items[4]));
    // a new picture of the same photo (another box) replaces the old one
    TViewCacheEntry again = entry(1, 50);
    again.Key.W = 640;
    cache.Put(again, distance);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_NE(cache.Find(again.Key), nullptr);
    EXPECT_EQ(cache.Find(entry(1).Key), nullptr);
    // a picture larger than the whole budget is not kept and evicts nothing
    cache.Put(entry(2, 200), distance);
    EXPECT_FALSE(cache.HasItem(&items[2]));
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_LE(cache.Bytes(), cache.Budget());
}

// A cache of three 100 x 100 32-bit pictures and photos at the given steps from the shown one.
struct TCacheWorld {
    static constexpr int64_t kScreen = 100 * 100 * 4;
    TViewPictureCache Cache;
    int Items[5] = {};
    std::map<const void*, int> Dist;
    explicit TCacheWorld(std::initializer_list<int> steps) {
        App();
        Cache.SetBudget(3 * kScreen);
        int i = 0;
        for (int s : steps) Dist[&Items[i++]] = s;
    }
    TViewPictureCache::TDistance Distance() {
        return [this](const void* it) { return Dist.count(it) ? Dist[it] : INT_MAX; };
    }
    TViewCacheEntry Entry(int i) {
        TViewCacheEntry e;
        e.Key.Path = "p" + std::to_string(i);
        e.Item = &Items[i];
        e.Picture = QImage(100, 100, QImage::Format_RGB32);
        return e;
    }
};

TEST(ViewPictureCache, TheFramesOnScreenCountAndThePictureOnScreenNeverGoes) {
    TCacheWorld w{0, 1, 1, 2};
    TViewPictureCache& cache = w.Cache;
    const int64_t screen = TCacheWorld::kScreen;  // one 100 x 100 32-bit picture
    auto& items = w.Items;
    const auto distance = w.Distance();
    auto entry = [&w](int i) { return w.Entry(i); };
    // the photo before stays on screen while the next one decodes: it is counted beside the
    // cache, with its decoded frame (a 24-bit 100 x 100): one more picture fits
    QImage old(100, 100, QImage::Format_RGB32);
    TViewHeld held{&old, 100 * 100 * 3};
    cache.Put(entry(1), distance, held);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Used(held), 3 * screen - 10000);
    cache.Put(entry(2), distance, held);  // as near as 1 and newer: 1 makes room
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_TRUE(cache.HasItem(&items[2]));
    EXPECT_LE(cache.Used(held), cache.Budget());
    // with a 24-bit 200 x 100 decoded frame nothing fits beside the screen: not kept, and the
    // picture already held is not given up for it
    held.OtherBytes = 200 * 100 * 3;
    cache.Put(entry(1), distance, held);
    EXPECT_FALSE(cache.HasItem(&items[1]));
    EXPECT_TRUE(cache.HasItem(&items[2]));

    // the shown picture held by the cache is counted once, and never given up even when the
    // distance calls it the farthest
    cache.Clear();
    TViewCacheEntry shown = entry(3);
    const QImage onScreen = shown.Picture;
    held = {&onScreen, 0};
    cache.Put(shown, distance, held);
    cache.Put(entry(0), distance, held);
    cache.Put(entry(1), distance, held);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Used(held), 3 * screen);
    cache.Put(entry(2), distance, held);  // 0 and 1 are nearer than 3, but 3 is on screen
    EXPECT_TRUE(cache.HasItem(&items[3]));
    EXPECT_TRUE(cache.HasItem(&items[2]));
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_FALSE(cache.HasItem(&items[1]));  // equally near as 2 and older: it went
    // frames held beside the cache (the decoded and the fitted picture of a new load) push out
    // all but the picture on screen
    held.OtherBytes = 2 * screen;
    cache.Trim(distance, held);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_TRUE(cache.HasItem(&items[3]));
    EXPECT_LE(cache.Used(held), cache.Budget());
}

TEST(ViewPictureCache, RoomForAPictureIsMadeBeforeItIsMadeAndOnlyFromFartherOnes) {
    TCacheWorld w{0, 1, 2, 3};  // the fifth photo has no known distance
    TViewPictureCache& cache = w.Cache;
    const int64_t screen = TCacheWorld::kScreen;
    auto& items = w.Items;
    const auto distance = w.Distance();
    auto entry = [&w](int i) { return w.Entry(i); };
    // flipping on: the photo shown (0) and the two behind it (1, 2) fill the budget
    TViewCacheEntry shown = entry(0);
    const QImage onScreen = shown.Picture;
    const TViewHeld held{&onScreen, 0};
    cache.Put(shown, distance, held);
    cache.Put(entry(1), distance, held);
    cache.Put(entry(2), distance, held);
    ASSERT_EQ(cache.Count(), 3u);
    // the next photo (1 step ahead) is about to be made: the one 2 steps behind goes first, the
    // nearer one and the one on screen stay
    cache.MakeRoom(screen, 1, distance, held);
    EXPECT_EQ(cache.Count(), 2u);
    EXPECT_FALSE(cache.HasItem(&items[2]));
    EXPECT_TRUE(cache.HasItem(&items[0]));
    EXPECT_TRUE(cache.HasItem(&items[1]));
    EXPECT_LE(cache.Used(held) + screen, cache.Budget());
    // nothing farther is left: room is not made from nearer or equally near pictures (the new
    // one is then not kept, as Put decides)
    cache.MakeRoom(2 * screen, 1, distance, held);
    EXPECT_EQ(cache.Count(), 2u);
    // a photo shown cold (0 steps) may push out everything but the picture on screen, an unknown
    // photo (no distance) first
    cache.Put(entry(4), distance, held);
    EXPECT_TRUE(cache.HasItem(&items[4]));
    cache.Put(entry(1), distance, held);
    cache.MakeRoom(screen, 0, distance, held);
    EXPECT_FALSE(cache.HasItem(&items[4]));
    EXPECT_TRUE(cache.HasItem(&items[1]));
    cache.MakeRoom(2 * screen, 0, distance, held);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_TRUE(cache.HasItem(&items[0]));
    // room that is there already costs nothing
    cache.MakeRoom(0, 0, distance, held);
    EXPECT_EQ(cache.Count(), 1u);
}

TEST_F(PreloadFixture, AChangedFileOrATurnedPhotoIsNotServedFromTheCache) {
    Make(3);
    Go(0);
    ASSERT_TRUE(Shown(0));
    ASSERT_TRUE(WaitUntil([&] { return Cached(1); }));
    // the file of the prepared next photo is replaced behind the viewer's back
    {
        QImage img(1000, 1000, QImage::Format_RGB32);
        img.fill(Qt::white);
        ASSERT_TRUE(img.save(QString::fromStdString(dir->Path("p1.jpg")), "JPEG", 90));
    }
    QTest::qWait(60);
    Go(1);
    // the prepared picture may show for a moment; the file's new content follows
    ASSERT_TRUE(WaitUntil([&] { return !view->IsLoading() && Near(Centre(), Qt::white); }));
    EXPECT_EQ(view->DecodedSize().width(), view->DecodedSize().height());

    // a prepared photo turned since is decoded anew, not taken from the cache
    ASSERT_TRUE(WaitUntil([&] { return Cached(2); }));
    items[2]->SetOrientation(6);
    QTest::qWait(60);
    Go(2);
    // either decoded anew or prepared again after the turn: never the landscape picture
    if (!view->IsLoading()) {
        EXPECT_GT(view->PaintBox().height(), view->PaintBox().width());
    }
    ASSERT_TRUE(Shown(2));
    // 1600 x 1200 turned: portrait
    EXPECT_GT(view->PaintBox().height(), view->PaintBox().width());
}

TEST_F(PreloadFixture, TheLastPaintedPhotoStaysUntilTheNextIsReady) {
    items.push_back(AddSolid(*dir, "red.jpg", 800, 600, QColor(220, 30, 30)));
    items.push_back(AddSolid(*dir, "blue.jpg", 6000, 4000, QColor(30, 30, 220)));
    view->SetNeighbourHandler({});  // nothing prepared: the blue photo is decoded when asked for
    Go(0);
    ASSERT_TRUE(Shown(0));
    const QImage red = view->EffectImage();
    const QRect redBox = view->PaintBox();
    ASSERT_TRUE(Near(Centre(), QColor(220, 30, 30)));
    Go(1);
    // every frame painted while the blue photo decodes is still the red one, in its own box
    int frames = 0;
    bool blue = false;
    while (!blue && frames < 2000) {
        QImage shot = view->viewport()->grab().toImage();
        QColor c = shot.pixelColor(402, 302);
        blue = Near(c, QColor(30, 30, 220));
        if (!blue) {
            ASSERT_TRUE(Near(c, QColor(220, 30, 30))) << "frame " << frames << ": " << c.name().toStdString();
            ASSERT_EQ(view->EffectImage().cacheKey(), red.cacheKey());
            ASSERT_EQ(view->PaintBox(), redBox);
        }
        ++frames;
        QTest::qWait(2);
    }
    EXPECT_TRUE(blue);
    EXPECT_GT(frames, 1);  // the decode took a few frames: the rule was looked at
    ASSERT_TRUE(Shown(1));
}

TEST_F(PreloadFixture, AHeldArrowKeyEndsOnTheLastPhotoAndSkipsTheOnesBetween) {
    // camera-like content (noise) so that a decode takes a while; one file copied under many names
    {
        QImage img(3000, 2250, QImage::Format_RGB32);
        uint32_t seed = 7;
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                line[x] = qRgb(x * 255 / 3000, (seed >> 24), 120);
            }
        }
        img.save(QString::fromStdString(dir->Path("base.jpg")), "JPEG", 90);
    }
    for (int i = 0; i < 60; ++i) {
        const std::string name = "p" + std::to_string(i) + ".jpg";
        std::filesystem::copy_file(dir->Path("base.jpg"), dir->Path(name));
        items.push_back(dir->Add(name, 3000, 2250));
    }
    view->SetPreloadDelay(60000);  // only the shown photos are decoded here
    Go(0);
    ASSERT_TRUE(Shown(0));
    QTest::qWait(60);
    auto press = [&](bool repeat) {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(view.get(), &e);
    };
    // a burst of 30 presses: the first is decoded at once, the newest when the tick comes; the
    // ones between are never decoded, and the first is abandoned when it is obsolete
    int finished = view->LoaderDecodesFinished();
    int started = view->LoaderDecodesStarted();
    for (int i = 0; i < 30; ++i) {
        press(i > 0);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(Shown(30));
    EXPECT_LE(view->LoaderDecodesStarted() - started, 2);
    EXPECT_LE(view->LoaderDecodesFinished() - finished, 2);

    // held at a 25 ms repeat: at most one decode per tick, and the end is the last photo, at most
    // one decode behind the key
    QTest::qWait(60);
    finished = view->LoaderDecodesFinished();
    started = view->LoaderDecodesStarted();
    QElapsedTimer held;
    held.start();
    for (int i = 0; i < 20; ++i) {
        press(i > 0);
        QTest::qWait(25);
    }
    const double ticks = held.elapsed() / 50.0;
    ASSERT_TRUE(Shown(50));
    EXPECT_LE(view->LoaderDecodesStarted() - started, ticks + 2);
    EXPECT_GE(view->LoaderDecodesFinished() - finished, 1);
}

TEST_F(PreloadFixture, AFittedPhotoIsMadeInDevicePixelsAndAPreparedOneToo) {
    // run with QT_SCALE_FACTOR=2 for a high-density screen: the picture is then twice the box
    items.push_back(dir->AddCopy(fv::test::TestPhotoDir() + "/Reconyx_HC500_Hyperfire.jpg", "a.jpg"));
    items.push_back(dir->AddCopy(fv::test::TestPhotoDir() + "/Reconyx_HC500_Hyperfire.jpg", "b.jpg"));
    const double ratio = view->devicePixelRatioF();
    Go(0);
    ASSERT_TRUE(Shown(0));
    const QSize box = view->PaintBox().size();
    EXPECT_EQ(box, QSize(800, 600));
    EXPECT_EQ(view->EffectImage().size(), box * ratio);
    EXPECT_DOUBLE_EQ(view->EffectImage().devicePixelRatio(), ratio);
    // decoded no smaller than the box's device pixels, at the smallest eighth scale that gives them
    EXPECT_GE(view->DecodedSize().width(), box.width() * ratio);
    EXPECT_LT(view->DecodedSize().width() - 2048 / 8, box.width() * ratio);
    fv::test::SaveScreenshot(view->grab().toImage(), "viewer_prepared_fit");
    ASSERT_TRUE(WaitUntil([&] { return Cached(1); }));
    QTest::qWait(60);
    Go(1);
    EXPECT_EQ(view->EffectImage().size(), box * ratio);
    EXPECT_DOUBLE_EQ(view->EffectImage().devicePixelRatio(), ratio);
    // painted 1:1 on the device: a screenshot of the window holds the picture's own pixels
    QImage shot = view->viewport()->grab().toImage();
    const QPoint at = view->PaintBox().center();
    EXPECT_EQ(shot.pixelColor(at * ratio), view->EffectImage().pixelColor(view->EffectImage().rect().center()));
}

TEST_F(PreloadFixture, EveryViewerCommandHasAKeyAndTheFocusShows) {
    Make(4, 1600, 1200);
    view->SetFirstLastHandler([this](bool last) { Go(last ? static_cast<int>(items.size()) - 1 : 0); });
    view->setFocus();
    Go(1);
    ASSERT_TRUE(Shown(1));
    auto key = [&](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::qWait(60);  // past the coalescing tick
        // as the window delivers it: the shortcut question first, then the press
        QKeyEvent over(QEvent::ShortcutOverride, k, m);
        QApplication::sendEvent(view.get(), &over);
        QTest::keyClick(view.get(), static_cast<Qt::Key>(k), m);
    };
    key(Qt::Key_End);
    EXPECT_EQ(view->PendingItem(), items[3]);
    key(Qt::Key_Home);
    EXPECT_EQ(view->PendingItem(), items[0]);
    key(Qt::Key_Right);
    EXPECT_EQ(view->PendingItem(), items[1]);
    key(Qt::Key_Left);
    EXPECT_EQ(view->PendingItem(), items[0]);
    ASSERT_TRUE(Shown(0));
    // zoom: fit 0.5 -> 1:1 -> 1.5; out again; 0 fits; 1 is 1:1
    key(Qt::Key_Plus);
    EXPECT_EQ(view->SizeMode(), vsmActual);
    key(Qt::Key_Plus);
    EXPECT_EQ(view->SizeMode(), vsmOneAndHalf);
    key(Qt::Key_Minus);
    EXPECT_EQ(view->SizeMode(), vsmActual);
    ASSERT_TRUE(Shown(0));
    // Shift and an arrow pan the picture larger than the window
    const int h0 = view->horizontalScrollBar()->value();
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_GT(view->horizontalScrollBar()->value(), h0);
    EXPECT_EQ(view->CurrentItem(), items[0]);
    key(Qt::Key_0);
    EXPECT_EQ(view->SizeMode(), vsmFitShrink);
    key(Qt::Key_1);
    EXPECT_EQ(view->SizeMode(), vsmActual);
    key(Qt::Key_Asterisk);
    EXPECT_EQ(view->SizeMode(), vsmFitShrink);
    ASSERT_TRUE(Shown(0));
    // the focus mark: the margin round the picture takes the highlight colour
    view->activateWindow();
    view->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return view->hasFocus(); }));
    QImage shot = view->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 300), view->palette().color(QPalette::Active, QPalette::Highlight));
    fv::test::SaveScreenshot(shot, "viewer_focused");
}
