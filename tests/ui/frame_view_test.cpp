// The photo viewer: its loader and the frame in a real event loop with real JPEG files.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QScrollBar>
#include <fstream>

#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "image/transform.h"
#include "platform/stream.h"
#include "ui/viewer/frame_view.h"
#include "ui/viewer/frame_view_loader.h"
#include "ui_test_app.h"
#include "ui_test_items.h"

using namespace fv;
using namespace fv::view_math;
using fv::test::App;
using fv::test::WaitUntil;

namespace {
struct ViewFixture : ::testing::Test {
    std::unique_ptr<fv::test::TTestFolder> dir;
    std::unique_ptr<TFrameView> view;
    void SetUp() override {
        App();
        dir = std::make_unique<fv::test::TTestFolder>(::testing::UnitTest::GetInstance()->current_test_info()->name());
        view = std::make_unique<TFrameView>();
        view->resize(804, 604);
        view->show();
        view->Start();
    }
    void TearDown() override {
        view.reset();
        dir.reset();
    }
    bool Loaded() { return WaitUntil([&] { return !view->IsLoading(); }); }
};
}  // namespace

TEST(ViewPictures, AFittedJpegIsFilteredAsDecodedIntoItsOwnPaintedPicture) {
    fv::test::App();
    const std::string photo = std::string(FV_TESTDATA_DIR) + "/photos/Reconyx_HC500_Hyperfire.jpg";
    TViewJob job;
    job.Decode = true;
    job.Path = photo;
    job.Kind = 1;
    job.Orientation = 6;  // turned a quarter clockwise: 1536 x 2048 as shown
    job.FitDecode = true;
    job.SizeMode = vsmFit;
    job.W = 402;
    job.H = 302;
    job.Ratio = 2;
    std::shared_ptr<TViewJobResult> r = TViewLoadThread::Run(job, {});
    ASSERT_TRUE(r->FileOk);
    ASSERT_FALSE(r->Effect.isNull());
    // no decoded frame at all; the 3/8-scale decode covers the ~450 x 600 device pixels
    EXPECT_TRUE(r->Decoded);
    EXPECT_EQ(r->DecodedBitmap, nullptr);
    EXPECT_FALSE(r->Quick);
    EXPECT_EQ(r->Eighths, 3);
    EXPECT_EQ(QSize(r->DecodedWidth, r->DecodedHeight), QSize(576, 768));
    // the painted picture is the fitted frame's own pixels, in device pixels
    ASSERT_TRUE(r->Display);
    EXPECT_EQ(r->Display->PixelFormat(), pf32bit);
    EXPECT_EQ(r->Effect.constBits(), r->Display->Bits());
    EXPECT_EQ(r->Effect.format(), QImage::Format_RGB32);
    const view_math::TLayout l = view_math::Layout(vsmFit, 402, 302, 576, 768, 0, 0);
    EXPECT_EQ(r->Effect.size(), QSize(l.Width * 2, l.Height * 2));
    EXPECT_GT(l.Height, 290);
    EXPECT_DOUBLE_EQ(r->Effect.devicePixelRatio(), 2.0);
    // the same pixels as the photo decoded at that scale, turned and then fitted (a rounding
    // step at most)
    TMemoryStream file;
    ASSERT_TRUE(LoadFileToMemory(photo, file));
    TBitmap smaller;
    DecodeJpegEighths(file.Data().data(), file.Data().size(), smaller, 3);
    ApplyOrientation(smaller, 6);
    TBitmap want(r->Effect.width(), r->Effect.height());
    FilteredResample(smaller, want, fkSinc);
    int worst = 0;
    for (int y = 0; y < want.Height(); ++y)
        for (int x = 0; x < want.Width(); ++x) {
            const uint8_t* p = want.ScanLine(y) + 3 * x;
            const QRgb q = r->Effect.pixel(x, y);
            ASSERT_EQ(qAlpha(q), 255);
            worst = std::max({worst, std::abs(qBlue(q) - p[0]), std::abs(qGreen(q) - p[1]), std::abs(qRed(q) - p[2])});
        }
    EXPECT_LE(worst, 2);
    // the picture outlives the job's frame, and a change to a copy leaves the frame alone
    const QRgb before = r->Effect.pixel(10, 10);
    std::shared_ptr<const TBitmap> frame = r->Display;
    r->Display.reset();
    QImage copy = r->Effect;
    copy.setPixel(10, 10, qRgb(1, 2, 3));
    EXPECT_EQ(r->Effect.pixel(10, 10), before);
    EXPECT_EQ(r->Effect.constBits(), frame->Bits());
    // corrections are painted over a copy: the fitted frame stays as decoded for the next change
    job.Correction.Enabled = true;
    job.Correction.Brightness = 40;
    std::shared_ptr<TViewJobResult> c = TViewLoadThread::Run(job, {});
    ASSERT_FALSE(c->Effect.isNull());
    ASSERT_TRUE(c->Display);
    EXPECT_NE(c->Effect.constBits(), c->Display->Bits());
    EXPECT_TRUE(c->Display->SamePixels(*frame));
    EXPECT_GT(qGreen(c->Effect.pixel(200, 300)), qGreen(r->Effect.pixel(200, 300)));
}

TEST_F(ViewFixture, LargePhotoDecodesReducedWhenFittedAndFullAtOneToOne) {
    TCatalogItem* big = dir->AddMade("big.jpg", 4000, 3000);
    view->ShowItem(big);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->CurrentItem(), big);
    EXPECT_EQ(view->DecodeScaleInUse(), 2);
    EXPECT_EQ(view->DecodedSize(), QSize(1000, 750));
    EXPECT_EQ(view->PaintBox().size(), QSize(800, 600));
    EXPECT_EQ(view->EffectImage().size(), QSize(800, 600));
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    fv::test::SaveScreenshot(view->grab().toImage(), "viewer_fit");

    view->SetSizeMode(vsmActual);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodeScaleInUse(), 0);
    EXPECT_EQ(view->DecodedSize(), QSize(4000, 3000));
    EXPECT_EQ(view->PaintBox().size(), QSize(4000, 3000));
    EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(view->verticalScrollBar()->isVisible());
    EXPECT_EQ(view->RememberedSizeMode(), vsmActual);
}

TEST_F(ViewFixture, SmallPhotoAtOneToOneInShrinkFitAndEnlargedInFit) {
    TCatalogItem* small = dir->AddMade("small.jpg", 640, 480);
    view->ShowItem(small);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->PaintBox(), QRect(80, 60, 640, 480));
    EXPECT_EQ(view->DecodeScaleInUse(), 0);
    // the centre pixel is the picture, the corner the black background
    QImage shot = view->viewport()->grab().toImage();
    EXPECT_NE(shot.pixelColor(400, 300), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(Qt::black));
    view->SetSizeMode(vsmFit);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->PaintBox().size(), QSize(800, 600));
    EXPECT_EQ(view->EffectImage().size(), QSize(800, 600));
}

TEST_F(ViewFixture, ZoomStepsFromFitAndNextPhotoStartsInTheRememberedMode) {
    // fit scale 0.3: 780 / 2600
    view->resize(784, 604);
    TCatalogItem* a = dir->AddMade("a.jpg", 2600, 1950);
    TCatalogItem* b = dir->AddMade("b.jpg", 640, 480);
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    EXPECT_NEAR(view->EffectiveScale(), 0.3, 0.001);
    view->ZoomIn();
    EXPECT_EQ(view->SizeMode(), vsmHalf);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodeScaleInUse(), 1);
    EXPECT_EQ(view->PaintBox().size(), QSize(1300, 975));
    view->ZoomIn();
    EXPECT_EQ(view->SizeMode(), vsmActual);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->PaintBox().size(), QSize(2600, 1950));
    view->ZoomOut();
    EXPECT_EQ(view->SizeMode(), vsmHalf);
    ASSERT_TRUE(Loaded());
    // the menu zoom set the remembered mode; QuickZoom does not
    view->SetSizeMode(vsmFitShrink);
    view->ZoomIn();
    EXPECT_EQ(view->RememberedSizeMode(), vsmHalf);
    view->SetSizeMode(vsmFitShrink);
    view->ShowItem(b);
    EXPECT_EQ(view->SizeMode(), vsmFitShrink);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->PaintBox().size(), QSize(640, 480));
}

TEST_F(ViewFixture, ZoomKeepsThePointUnderTheMouse) {
    TCatalogItem* a = dir->AddMade("a.jpg", 1600, 1200);
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    double k = view->EffectiveScale();
    EXPECT_DOUBLE_EQ(k, 0.5);
    QPoint at(600, 150);  // box coordinates
    QPoint screenBefore = at + view->PaintBox().topLeft();
    QPoint image(qRound(at.x() / k), qRound(at.y() / k));
    view->ZoomStep(at, true, false);
    EXPECT_EQ(view->SizeMode(), vsmActual);
    ASSERT_TRUE(Loaded());
    QPoint screenAfter = image + view->PaintBox().topLeft();
    EXPECT_LE((screenAfter - screenBefore).manhattanLength(), 2);
    // and once more, to 1.5
    at = screenBefore - view->PaintBox().topLeft();
    view->ZoomStep(at, true, false);
    EXPECT_EQ(view->SizeMode(), vsmOneAndHalf);
    ASSERT_TRUE(Loaded());
    screenAfter = QPoint(qRound(image.x() * 1.5), qRound(image.y() * 1.5)) + view->PaintBox().topLeft();
    EXPECT_LE((screenAfter - screenBefore).manhattanLength(), 2);
    // the enlargement is not materialised: the painted picture stays at 1:1
    EXPECT_EQ(view->EffectImage().size(), QSize(1600, 1200));
    EXPECT_EQ(view->PaintBox().size(), QSize(2400, 1800));
    fv::test::SaveScreenshot(view->grab().toImage(), "viewer_zoom150");
}

TEST_F(ViewFixture, NoPhotoShowsTheLabelAndAnEmptyBox) {
    EXPECT_TRUE(view->LabelNoItem()->isVisible());
    EXPECT_EQ(view->LabelNoItem()->text(), QStringLiteral("(表示できる写真はありません。)"));
    TCatalogItem* a = dir->AddMade("a.jpg", 320, 240);
    view->ShowItem(a);
    EXPECT_FALSE(view->LabelNoItem()->isVisible());
    ASSERT_TRUE(Loaded());
    view->ShowItem(nullptr);
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(view->LabelNoItem()->isVisible());
    EXPECT_EQ(view->CurrentItem(), nullptr);
    EXPECT_TRUE(view->EffectImage().isNull());
    EXPECT_TRUE(view->PaintBox().isEmpty());
}

TEST_F(ViewFixture, MissingUndecodableAndVanishedFilesLeaveAnEmptyView) {
    TCatalogItem* gone = dir->Add("never-there.jpg", 800, 600);
    view->ShowItem(gone);
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(view->EffectImage().isNull());
    {
        std::ofstream garbage(dir->Path("broken.jpg"), std::ios::binary);
        garbage << "\xff\xd8 this is no picture at all";
    }
    TCatalogItem* broken = dir->Add("broken.jpg", 1000, 1000);
    view->ShowItem(broken);
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(view->EffectImage().isNull());
    // shown, then deleted on disk and reloaded
    TCatalogItem* a = dir->AddMade("a.jpg", 320, 240);
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    EXPECT_FALSE(view->EffectImage().isNull());
    std::filesystem::remove(dir->Path("a.jpg"));
    view->CatalogItemChanged(a, 17);
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(view->EffectImage().isNull());
}

TEST_F(ViewFixture, ABurstOfShowRequestsDecodesOncePerTick) {
    std::vector<TCatalogItem*> items;
    for (int i = 0; i < 20; ++i) items.push_back(dir->AddMade("p" + std::to_string(i) + ".jpg", 400, 300));
    int before = view->DecodeCount();
    for (auto* it : items) view->ShowItem(it);  // faster than any timer tick
    ASSERT_TRUE(Loaded());
    // the first at once, the newest when the tick ends; nothing in between
    EXPECT_EQ(view->DecodeCount() - before, 2);
    EXPECT_EQ(view->CurrentItem(), items.back());
}

TEST_F(ViewFixture, OrientationChangeReloadsAndCorrectionsReapply) {
    TCatalogItem* a = dir->AddMade("a.jpg", 400, 200);
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodedSize(), QSize(400, 200));
    a->SetOrientation(6);
    view->CatalogItemChanged(a, 12);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodedSize(), QSize(200, 400));
    QColor before = view->EffectImage().pixelColor(150, 250);
    TCorrectionRecord c = a->GetCorrection();
    c.Enabled = 1;
    c.Brightness = 60;
    a->SetCorrection(c);
    int decodes = view->DecodeCount();
    view->CatalogItemChanged(a, 14);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodeCount(), decodes);  // corrections only: no new decode
    EXPECT_NE(view->EffectImage().pixelColor(150, 250), before);
    // and off again: the picture without corrections comes back, still without a decode
    c.Enabled = 0;
    a->SetCorrection(c);
    view->CatalogItemChanged(a, 14);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(view->DecodeCount(), decodes);
    EXPECT_EQ(view->EffectImage().pixelColor(150, 250), before);
}

TEST_F(ViewFixture, CursorModesActOnTheMouse) {
    TCatalogItem* a = dir->AddMade("a.jpg", 1600, 1200);
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    QWidget* vp = view->viewport();
    // zoom mode: left release zooms in at the pointer, right zooms out
    view->SetCursorMode(vcmZoom);
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(view->SizeMode(), vsmActual);
    QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(400, 300));
    EXPECT_EQ(view->SizeMode(), vsmHalf);
    // next/previous mode calls the owner's handlers with wrapping
    int next = 0, prev = 0;
    view->SetNextHandler([&](TCatalogItem* cur, bool wrap) { next += cur == a && wrap; });
    view->SetPrevHandler([&](TCatalogItem* cur, bool wrap) { prev += cur == a && wrap; });
    view->SetCursorMode(vcmNextPrev);
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(400, 300));
    QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(400, 300));
    EXPECT_EQ(next, 1);
    EXPECT_EQ(prev, 1);
    // QuickZoom: fit, full decoding, 1:1 while held, fit again on release
    view->SetCursorMode(vcmQuickZoom);
    EXPECT_EQ(view->SizeMode(), vsmFitShrink);
    EXPECT_FALSE(view->ReducedDecodingAllowed());
    ASSERT_TRUE(Loaded());
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(view->SizeMode(), vsmActual);
    EXPECT_EQ(view->RememberedSizeMode(), vsmFitShrink);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(view->SizeMode(), vsmFitShrink);
    // drag mode pans with the pointer
    view->SetCursorMode(vcmDrag);
    view->SetSizeMode(vsmActual);
    ASSERT_TRUE(Loaded());
    int h0 = view->horizontalScrollBar()->value();
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(400, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 300), vp->mapToGlobal(QPointF(300, 300)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(vp, &move);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(300, 300));
    EXPECT_EQ(view->horizontalScrollBar()->value(), h0 + 100);
}

TEST_F(ViewFixture, SamplePhotoFittedAndAtOneToOne) {
    TCatalogItem* a = dir->AddCopy(fv::test::TestPhotoDir() + "/Reconyx_HC500_Hyperfire.jpg", "reconyx.jpg");
    view->ShowItem(a);
    ASSERT_TRUE(Loaded());
    // 2048 / 800 >= 2; on a high-density screen the box has twice the pixels
    EXPECT_EQ(view->DecodeScaleInUse(), view->devicePixelRatioF() >= 2 ? 0 : 1);
    fv::test::SaveScreenshot(view->grab().toImage(), "viewer_sample_fit");
    view->SetSizeMode(vsmActual);
    ASSERT_TRUE(Loaded());
    fv::test::SaveScreenshot(view->grab().toImage(), "viewer_sample_1to1");
    EXPECT_EQ(view->EffectImage().size(), QSize(2048, 1536));
}
