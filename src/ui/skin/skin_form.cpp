#include "ui/skin/skin_form.h"

#include <QApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "ui/skin/skin_images.h"

namespace fv {

namespace {
const QColor kFormColour(233, 230, 225);      // the form's own background
const QColor kSurroundColour(94, 104, 128);   // around the band and under the client area
const QColor kGradientTop(163, 161, 157);
const QColor kGradientBottom(233, 230, 225);
constexpr int kBandHeight = 55;
constexpr int kFooterRows = 24;

const char* PrefixOf(TSkinForm::TElement e) {
    switch (e) {
        case TSkinForm::seBack: return "LT";
        case TSkinForm::seForward: return "RT";
        case TSkinForm::seRefresh: return "RF";
        case TSkinForm::seHelp: return "HELP";
        case TSkinForm::seTab0: return "NET";
        case TSkinForm::seTab1: return "LIB";
        default: return "BGM";
    }
}

bool IsTab(TSkinForm::TElement e) { return e >= TSkinForm::seTab0; }
}  // namespace

// The painted client area: it hands painting, sizing and the mouse to the form.
class TSkinSurface : public QWidget {
public:
    explicit TSkinSurface(TSkinForm* owner) : QWidget(owner), FOwner(owner) {
        setObjectName("SkinSurface");
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted: no flicker through an erase
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        FOwner->Paint(p, e->rect());
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        FOwner->Layout();
    }
    void mouseMoveEvent(QMouseEvent* e) override { FOwner->MouseMove(e->position().toPoint()); }
    void leaveEvent(QEvent* e) override {
        QWidget::leaveEvent(e);
        FOwner->MouseLeave();
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) FOwner->MousePress(e->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) FOwner->MouseRelease();
    }

private:
    TSkinForm* FOwner;
};

TSkinForm::TSkinForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName("TSkinForm");
    // the band, buttons, tabs and footer texts are drawn meanwhile (once a program)
    FPictureMaker = PrepareSkinPictures(devicePixelRatioF());
    FSurface = new TSkinSurface(this);
    setCentralWidget(FSurface);
    FClient = new QWidget(FSurface);
    FClient->setObjectName("SkinClientArea");
    FClient->setAutoFillBackground(true);
    QPalette pal = FClient->palette();
    pal.setColor(QPalette::Window, kFormColour);
    FClient->setPalette(pal);
    FStates.fill(0);
    FStates[seTab0] = sbActive;
    FStates[seTab2] = sbDisabled;
    resize(760, 547);
    Layout();
}

TSkinForm::~TSkinForm() {
    if (FPictureMaker.joinable()) FPictureMaker.join();
}

QWidget* TSkinForm::Surface() const { return FSurface; }

void TSkinForm::Layout() {
    const int w = FSurface->width(), h = FSurface->height();
    // the inner area: the client rectangle less the design padding
    const int l = 5, t = FSavedTop, r = w - 5, b = h - FSavedBottom;
    FInnerBottom = b;
    FTitleBand = QRect(QPoint(l, l), QPoint(r, l + kBandHeight - 1));
    FGradient = QRect(QPoint(l, l + kBandHeight), QPoint(r, t - 1));
    const int s = l + kBandHeight;
    FRects[seBack] = QRect(l + 12, s - 45, 36, 36);
    FRects[seForward] = FRects[seBack].translated(36, 0);
    FRects[seRefresh] = FRects[seForward].translated(48, 0);
    FRects[seTab0] = QRect(FRects[seRefresh].x() + FRects[seRefresh].width() + 12, s - 45, 160, 45);
    FRects[seTab1] = FRects[seTab0].translated(164, 0);
    FRects[seTab2] = FRects[seTab1].translated(164, 0);
    FRects[seHelp] = QRect(FTitleBand.right() - 48, FTitleBand.bottom() - 44, 36, 36);
    FFooter = QRect(QPoint(l, b + 22), QPoint(r, h - 1));
    // the child area ends just above the footer; without the band it starts near the top
    FPadding = QMargins(5, FTitleBandShown ? FSavedTop : 5, 5, FSavedBottom - 21);
    FClient->setGeometry(FPadding.left(), FPadding.top(), qMax(0, w - FPadding.left() - FPadding.right()),
                         qMax(0, h - FPadding.top() - FPadding.bottom()));
    FBand = QPixmap();  // rebuilt at the next paint, at the screen's pixel ratio
}

void TSkinForm::RebuildBand(qreal dpr) {
    const int width = qMax(1, FTitleBand.width());
    const QPixmap tile = SkinPicture(QStringLiteral("WB_UP"), dpr);
    QPixmap band(QSize(width, kBandHeight) * dpr);
    band.setDevicePixelRatio(dpr);
    band.fill(Qt::transparent);
    QPainter p(&band);
    const int step = tile.isNull() ? width : qMax(1, static_cast<int>(tile.width() / dpr));
    for (int x = 0; x < width; x += step) p.drawPixmap(x, 0, tile);
    p.end();
    FBand = band;
}

QString TSkinForm::PictureName(TElement e) const {
    const uint8_t st = FStates[e];
    const QString prefix = QString::fromLatin1(PrefixOf(e));
    if (st & sbDisabled) {
        if (e == seHelp || IsTab(e)) return {};  // not drawn at all while disabled
        return prefix + "_D";
    }
    if (st & sbPressed) return prefix + "_P";
    if ((st & sbActive) && IsTab(e)) return prefix + "_A";
    if (st & sbHover) return prefix + "_O";
    return prefix + "_N";
}

void TSkinForm::Paint(QPainter& p, const QRect& clip) {
    const int w = FSurface->width(), h = FSurface->height();
    const qreal dpr = FSurface->devicePixelRatioF();
    p.setClipRect(clip);
    p.fillRect(clip, kFormColour);
    // the surround: above and beside the band, and everything from just under the child area down
    const int l = FTitleBand.left();
    p.fillRect(QRect(0, 0, w, l), kSurroundColour);
    p.fillRect(QRect(0, l, l, kBandHeight), kSurroundColour);
    p.fillRect(QRect(FTitleBand.right() + 1, l, w - FTitleBand.right() - 1, kBandHeight), kSurroundColour);
    p.fillRect(QRect(0, FInnerBottom + 21, w, h - FInnerBottom - 21), kSurroundColour);

    const QPixmap copyright = SkinPicture(QStringLiteral("COPYR"), dpr);
    const QPixmap logo = SkinPicture(QStringLiteral("PWRDLOGO"), dpr);
    const int footerBottom = FFooter.bottom() + 1;
    p.drawPixmap(FFooter.left() + 4, (FFooter.top() + footerBottom - 9) / 2, copyright);
    p.drawPixmap(FFooter.right() + 1 - 4 - 111, (FFooter.top() + footerBottom - 15) / 2, logo);

    p.setPen(Qt::black);
    p.drawLine(FPadding.left() - 1, l, FPadding.left() - 1, FFooter.top());
    p.drawLine(w - FPadding.right() + 1, l, w - FPadding.right() + 1, FFooter.top());

    if (!FTitleBandShown) return;
    if (FBand.isNull() || !qFuzzyCompare(FBand.devicePixelRatio(), dpr)) RebuildBand(dpr);
    p.drawPixmap(FTitleBand.topLeft(), FBand);
    QLinearGradient g(0, FGradient.top(), 0, FGradient.bottom() + 1);
    g.setColorAt(0, kGradientTop);
    g.setColorAt(1, kGradientBottom);
    p.fillRect(FGradient, g);
    for (int i = 0; i < seCount; ++i) {
        const auto e = static_cast<TElement>(i);
        if (!FRects[e].intersects(clip)) continue;
        const QString name = PictureName(e);
        if (name.isEmpty()) continue;
        p.drawPixmap(FRects[e].topLeft(), SkinPicture(name, dpr));
    }
}

void TSkinForm::RepaintElement(TElement e) { FSurface->update(FRects[e]); }

void TSkinForm::SetStateBits(TElement e, uint8_t bits, bool on) {
    const uint8_t before = FStates[e];
    FStates[e] = on ? (before | bits) : (before & ~bits);
    if (FStates[e] != before) RepaintElement(e);
}

void TSkinForm::SetEnabled(TElement e, bool on) { SetStateBits(e, sbDisabled, !on); }

void TSkinForm::SetTitleBandShown(bool shown) {
    if (shown == FTitleBandShown) return;
    FTitleBandShown = shown;
    Layout();
    FSurface->update();
}

void TSkinForm::MouseMove(QPoint pos) {
    const bool inBand = FTitleBandShown && FTitleBand.contains(pos);
    for (int i = 0; i < seCount; ++i) {
        const auto e = static_cast<TElement>(i);
        SetStateBits(e, sbHover, inBand && FRects[e].contains(pos));
    }
}

void TSkinForm::MouseLeave() {
    for (int i = 0; i < seCount; ++i) SetStateBits(static_cast<TElement>(i), sbHover, false);
}

void TSkinForm::MousePress(QPoint pos) {
    if (!FTitleBandShown || !FTitleBand.contains(pos)) return;
    for (int i = 0; i < seCount; ++i) {
        const auto e = static_cast<TElement>(i);
        if (Enabled(e) && FRects[e].contains(pos)) {
            SetStateBits(e, sbPressed, true);
            return;
        }
    }
}

void TSkinForm::MouseRelease() {
    if (!FTitleBandShown) return;
    for (int i = 0; i < seCount; ++i) {
        const auto e = static_cast<TElement>(i);
        if (!(FStates[e] & sbPressed)) continue;
        SetStateBits(e, sbPressed, false);
        // a release anywhere acts, so a press on back that slides off still goes back
        switch (e) {
            case seBack: BackClick(); break;
            case seForward: ForwardClick(); break;
            case seRefresh: RefreshClick(); break;
            case seHelp:
                if (Enabled(seHelp)) HelpClick();
                break;
            default:
                if (Enabled(e)) SetActiveTab(e - seTab0);
                break;
        }
    }
}

void TSkinForm::SetActiveTab(int tab) {
    if (tab < 0 || tab > 2 || tab == FActiveTab) return;
    bool allow = true;
    CanChangeTab(tab, allow);
    if (!allow) {
        QApplication::beep();
        return;
    }
    FActiveTab = tab;
    for (int i = 0; i < 3; ++i) SetStateBits(static_cast<TElement>(seTab0 + i), sbActive, i == tab);
    TabChanged(tab);
    for (TElement e : {seBack, seForward, seRefresh, seHelp}) RepaintElement(e);
}

}  // namespace fv
