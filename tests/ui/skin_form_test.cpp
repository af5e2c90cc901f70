// The skinned frame in a real (offscreen) Qt event loop: layout, painting, mouse and tabs.
#include <gtest/gtest.h>

#include <thread>

#include <QFontInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QTest>
#include <vector>

#include "ui/skin/skin_form.h"
#include "ui/skin/skin_images.h"
#include "ui/skin/ui_fonts.h"
#include "ui_test_app.h"

using namespace fv;

namespace {

class TProbeForm : public TSkinForm {
public:
    std::vector<std::string> Calls;
    bool Refuse = false;
    using TSkinForm::SetHelpEnabled;
    using TSkinForm::SetBgmTabEnabled;

protected:
    void BackClick() override { Calls.push_back("back"); }
    void ForwardClick() override { Calls.push_back("forward"); }
    void RefreshClick() override { Calls.push_back("refresh"); }
    void HelpClick() override { Calls.push_back("help"); }
    void CanChangeTab(int, bool& allow) override {
        if (Refuse) allow = false;
    }
    void TabChanged(int tab) override { Calls.push_back("tab" + std::to_string(tab)); }
};

void Press(QWidget* w, QPoint p) { QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, p); }
void Release(QWidget* w, QPoint p) { QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, p); }

// shown, so that sizes and mouse moves reach the surface as they do on a desktop
void ShowAt(TSkinForm& f, int w, int h) {
    f.resize(w, h);
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_EQ(f.Surface()->size(), QSize(w, h));
}

QRgb PixelOf(const QImage& img, int x, int y) {
    const qreal dpr = img.devicePixelRatio();
    return img.pixel(static_cast<int>(x * dpr), static_cast<int>(y * dpr)) & 0xFFFFFF;
}

}  // namespace

TEST(SkinFormLayout, PlacesButtonsTabsBandAndClientAreaFromThePadding) {
    test::App();
    TProbeForm f;
    ShowAt(f, 1024, 600);
    EXPECT_EQ(f.ElementRect(TSkinForm::seBack), QRect(17, 15, 36, 36));
    EXPECT_EQ(f.ElementRect(TSkinForm::seForward).x(), 53);
    EXPECT_EQ(f.ElementRect(TSkinForm::seRefresh).x(), 101);
    EXPECT_EQ(f.ElementRect(TSkinForm::seTab0), QRect(149, 15, 160, 45));
    EXPECT_EQ(f.ElementRect(TSkinForm::seTab2).x() + f.ElementRect(TSkinForm::seTab2).width(), 637);
    EXPECT_EQ(f.TitleBandRect().right(), 1019);
    EXPECT_EQ(f.TitleBandRect(), QRect(5, 5, 1015, 55));
    EXPECT_EQ(f.ElementRect(TSkinForm::seHelp).topLeft(), QPoint(971, 15));
    EXPECT_EQ(f.GradientRect(), QRect(QPoint(5, 60), QPoint(1019, 69)));
    EXPECT_EQ(f.FooterRect(), QRect(QPoint(5, 600 - 24), QPoint(1019, 599)));
    // the child area: between the padding, ending just above the footer
    EXPECT_EQ(f.Padding(), QMargins(5, 70, 5, 25));
    EXPECT_EQ(f.ClientArea()->geometry(), QRect(5, 70, 1014, 600 - 70 - 25));

    f.SetTitleBandShown(false);
    EXPECT_EQ(f.ClientArea()->geometry().top(), 5);
    f.SetTitleBandShown(true);
    EXPECT_EQ(f.ClientArea()->geometry().top(), 70);
}

TEST(SkinFormPictures, StatePriorityDecidesThePictureAndDisabledTabsAreNotDrawn) {
    test::App();
    TProbeForm f;
    ShowAt(f, 1024, 600);
    EXPECT_EQ(f.PictureName(TSkinForm::seTab0), "NET_A");
    EXPECT_EQ(f.PictureName(TSkinForm::seTab1), "LIB_N");
    EXPECT_EQ(f.PictureName(TSkinForm::seTab2), "");  // disabled at creation
    EXPECT_EQ(f.PictureName(TSkinForm::seBack), "LT_N");

    QTest::mouseMove(f.Surface(), f.ElementRect(TSkinForm::seBack).center());
    EXPECT_EQ(f.PictureName(TSkinForm::seBack), "LT_O");
    Press(f.Surface(), f.ElementRect(TSkinForm::seBack).center());
    EXPECT_EQ(f.PictureName(TSkinForm::seBack), "LT_P");
    f.SetBackEnabled(false);  // disabled wins over pressed
    EXPECT_EQ(f.PictureName(TSkinForm::seBack), "LT_D");
    f.SetBackEnabled(true);
    Release(f.Surface(), f.ElementRect(TSkinForm::seBack).center());

    f.SetHelpEnabled(false);
    EXPECT_EQ(f.PictureName(TSkinForm::seHelp), "");
    EXPECT_FALSE(f.HelpEnabled());
    // hovering the active tab keeps the active face
    QTest::mouseMove(f.Surface(), f.ElementRect(TSkinForm::seTab0).center());
    EXPECT_EQ(f.PictureName(TSkinForm::seTab0), "NET_A");
    EXPECT_EQ(f.PictureName(TSkinForm::seTab1), "LIB_N");
    QTest::mouseMove(f.Surface(), f.ElementRect(TSkinForm::seTab1).center());
    EXPECT_EQ(f.PictureName(TSkinForm::seTab1), "LIB_O");
    EXPECT_EQ(f.PictureName(TSkinForm::seTab0), "NET_A");

    for (const QString& name : SkinPictureNames()) {
        QPixmap one = SkinPicture(name, 1.0), two = SkinPicture(name, 2.0);
        ASSERT_FALSE(one.isNull()) << name.toStdString();
        EXPECT_EQ(one.size(), SkinPictureSize(name)) << name.toStdString();
        EXPECT_EQ(two.size(), SkinPictureSize(name) * 2) << name.toStdString();  // device pixels at 2x
    }
    EXPECT_TRUE(SkinPicture("HELP_D").isNull());
    EXPECT_TRUE(SkinPicture("NET_D").isNull());
}

TEST(SkinPictures, PicturesDrawnAheadOnAnotherThreadAreTheOnesDrawnHere) {
    fv::test::App();
    // a ratio no window uses: nothing of it is drawn or kept yet
    const qreal ratio = 1.5;
    std::thread maker = PrepareSkinPictures(ratio);
    ASSERT_TRUE(maker.joinable());
    EXPECT_FALSE(PrepareSkinPictures(ratio).joinable());  // once a ratio
    maker.join();
    const int dpm = QImage(1, 1, QImage::Format_ARGB32_Premultiplied).dotsPerMeterX();
    for (const QString& name : SkinPictureNames()) {
        SCOPED_TRACE(name.toStdString());
        // taken from what the thread drew, then kept
        const QImage taken = SkinPicture(name, ratio).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage here = DrawSkinPicture(name, ratio, dpm);
        ASSERT_FALSE(here.isNull());
        EXPECT_EQ(taken.size(), SkinPictureSize(name) * ratio);
        EXPECT_EQ(taken.devicePixelRatio(), ratio);
        EXPECT_TRUE(taken == here) << "pixels differ";
    }
    EXPECT_TRUE(DrawSkinPicture("HELP_D", ratio, dpm).isNull());
}

TEST(UiFonts, TheFontsOpenedAheadAreTheOnesTheWindowDrawsItsLatinAndJapaneseTextIn) {
    test::App();
    QStringList families;
    for (int i = 0; i < kUiFontsToOpen; ++i) {
        const QStringList one = OpenUiFont(i);
        // a Latin and a Japanese line in each font
        EXPECT_GE(one.size(), 2) << i;
        families << one;
    }
    EXPECT_TRUE(OpenUiFont(kUiFontsToOpen).isEmpty());
    for (const QString& f : families) EXPECT_FALSE(f.isEmpty());
    // the faces the window resolves its fonts to are among those opened
    EXPECT_TRUE(families.contains(QFontInfo(QApplication::font()).family())) << families.join(u',').toStdString();
    EXPECT_TRUE(families.contains(QFontInfo(UiFont(9)).family())) << families.join(u',').toStdString();
    // the Japanese line went to a face that has its glyphs, as the day bands and the trees draw it
    const QString cjk = QFontInfo(UiFont(9)).family();
    EXPECT_TRUE(cjk.contains(QStringLiteral("CJK"))) << cjk.toStdString();
    QFontMetrics fm(UiFont(9));
    for (QChar c : QString::fromUtf8("年月日曜枚")) EXPECT_TRUE(fm.inFont(c)) << int(c.unicode());
}

TEST(SkinFormMouse, ReleaseAnywhereActsAndPressesOnlyHitEnabledElementsInTheBand) {
    test::App();
    TProbeForm f;
    ShowAt(f, 1024, 600);
    QWidget* s = f.Surface();

    Press(s, f.ElementRect(TSkinForm::seBack).center());
    Release(s, QPoint(500, 400));  // slid off the button: still goes back
    EXPECT_EQ(f.Calls, std::vector<std::string>{"back"});
    EXPECT_EQ(f.ElementState(TSkinForm::seBack) & TSkinForm::sbPressed, 0);

    f.Calls.clear();
    f.SetRefreshEnabled(false);
    Press(s, f.ElementRect(TSkinForm::seRefresh).center());
    Release(s, f.ElementRect(TSkinForm::seRefresh).center());
    EXPECT_TRUE(f.Calls.empty());

    Press(s, f.ElementRect(TSkinForm::seTab1).center());
    Release(s, f.ElementRect(TSkinForm::seTab1).center());
    EXPECT_EQ(f.ActiveTab(), 1);
    EXPECT_EQ(f.Calls, std::vector<std::string>{"tab1"});

    // a disabled tab cannot be clicked
    f.Calls.clear();
    Press(s, f.ElementRect(TSkinForm::seTab2).center());
    Release(s, f.ElementRect(TSkinForm::seTab2).center());
    EXPECT_EQ(f.ActiveTab(), 1);
    EXPECT_TRUE(f.Calls.empty());

    // leaving clears every hover bit
    QTest::mouseMove(s, f.ElementRect(TSkinForm::seForward).center());
    EXPECT_NE(f.ElementState(TSkinForm::seForward) & TSkinForm::sbHover, 0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(s, &leave);
    EXPECT_EQ(f.ElementState(TSkinForm::seForward) & TSkinForm::sbHover, 0);

    // without the band nothing is pressed or released
    f.SetTitleBandShown(false);
    Press(s, f.ElementRect(TSkinForm::seForward).center());
    Release(s, f.ElementRect(TSkinForm::seForward).center());
    EXPECT_TRUE(f.Calls.empty());
}

TEST(SkinFormTabs, CommandsReachTheDisabledTabAndARefusalKeepsTheTab) {
    test::App();
    TProbeForm f;
    f.SetActiveTab(2);  // commands may select it although the user cannot click it
    EXPECT_EQ(f.ActiveTab(), 2);
    EXPECT_FALSE(f.BgmTabEnabled());
    EXPECT_EQ(f.ElementState(TSkinForm::seTab2) & TSkinForm::sbActive, TSkinForm::sbActive);
    EXPECT_EQ(f.ElementState(TSkinForm::seTab0) & TSkinForm::sbActive, 0);
    EXPECT_EQ(f.Calls, std::vector<std::string>{"tab2"});

    f.Calls.clear();
    f.SetActiveTab(2);  // already active: nothing
    EXPECT_TRUE(f.Calls.empty());

    f.Refuse = true;
    f.SetActiveTab(1);
    EXPECT_EQ(f.ActiveTab(), 2);
    EXPECT_EQ(f.PictureName(TSkinForm::seTab1), "LIB_N");
    EXPECT_TRUE(f.Calls.empty());
}

TEST(SkinFormPaint, SurroundBandGradientAndSideLinesAreWhereTheyBelong) {
    test::App();
    TProbeForm f;
    ShowAt(f, 760, 547);
    const QImage img = f.Surface()->grab().toImage();
    test::SaveScreenshot(img, "skin_form");
    const int w = f.Surface()->width(), h = f.Surface()->height();
    const QRgb surround = QColor(94, 104, 128).rgb() & 0xFFFFFF;
    EXPECT_EQ(PixelOf(img, 2, 2), surround);
    EXPECT_EQ(PixelOf(img, 2, 30), surround);
    EXPECT_EQ(PixelOf(img, w - 2, 30), surround);
    EXPECT_EQ(PixelOf(img, w / 2, h - 20), surround);  // the footer
    EXPECT_EQ(PixelOf(img, 4, 300), 0u);               // the left side line
    EXPECT_EQ(PixelOf(img, w - 4, 300), 0u);           // the right side line
    // the gradient strip runs from grey at its top to the form colour at its bottom
    const QColor top = QColor::fromRgb(PixelOf(img, 700, 60)), bottom = QColor::fromRgb(PixelOf(img, 700, 69));
    EXPECT_LT(top.lightness(), bottom.lightness());
    // the band is dark, and the active tab is light against it
    EXPECT_LT(QColor::fromRgb(PixelOf(img, 700, 30)).lightness(), 90);
    EXPECT_GT(QColor::fromRgb(PixelOf(img, f.ElementRect(TSkinForm::seTab0).center().x(), 52)).lightness(), 120);
    f.close();
}
