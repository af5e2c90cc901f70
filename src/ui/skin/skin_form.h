#pragma once
// The skinned window frame under the main window: a painted title band with back, forward,
// refresh and help buttons and three page tabs, a coloured surround with thin side lines and a
// footer. Buttons and tabs are painted regions, not child widgets: the frame tracks hover and
// press itself and reports clicks and tab changes through virtual operations. The subclass puts
// its widgets into ClientArea(), which always sits inside the padding, so nothing painted is ever
// covered.
#include <QMainWindow>
#include <thread>
#include <QPixmap>
#include <QRect>
#include <array>
#include <cstdint>

namespace fv {

class TSkinSurface;

class TSkinForm : public QMainWindow {
    Q_OBJECT
public:
    // the painted elements, in the order a press tests them
    enum TElement { seBack, seForward, seRefresh, seHelp, seTab0, seTab1, seTab2, seCount };
    // bits of an element's state byte
    enum : uint8_t { sbHover = 1, sbPressed = 2, sbActive = 4, sbDisabled = 8 };

    explicit TSkinForm(QWidget* parent = nullptr);
    ~TSkinForm() override;

    // the widget the subclass fills; it covers the client area minus the padding
    QWidget* ClientArea() const { return FClient; }
    // the painted surface (the "client area" all coordinates below refer to)
    QWidget* Surface() const;

    int ActiveTab() const { return FActiveTab; }
    void SetActiveTab(int tab);

    bool BackEnabled() const { return Enabled(seBack); }
    void SetBackEnabled(bool on) { SetEnabled(seBack, on); }
    bool ForwardEnabled() const { return Enabled(seForward); }
    void SetForwardEnabled(bool on) { SetEnabled(seForward, on); }
    bool RefreshEnabled() const { return Enabled(seRefresh); }
    void SetRefreshEnabled(bool on) { SetEnabled(seRefresh, on); }
    bool NetTabEnabled() const { return Enabled(seTab0); }
    void SetNetTabEnabled(bool on) { SetEnabled(seTab0, on); }
    bool LibTabEnabled() const { return Enabled(seTab1); }
    void SetLibTabEnabled(bool on) { SetEnabled(seTab1, on); }
    bool BgmTabEnabled() const { return Enabled(seTab2); }
    bool HelpEnabled() const { return Enabled(seHelp); }

    bool TitleBandShown() const { return FTitleBandShown; }
    void SetTitleBandShown(bool shown);

    // geometry and state, for the subclass and for tests (surface coordinates)
    QRect ElementRect(TElement e) const { return FRects[e]; }
    uint8_t ElementState(TElement e) const { return FStates[e]; }
    QRect TitleBandRect() const { return FTitleBand; }
    QRect GradientRect() const { return FGradient; }
    QRect FooterRect() const { return FFooter; }
    // the current padding: left, top, right, bottom
    QMargins Padding() const { return FPadding; }
    // the resource name painted for an element in its current state; empty when nothing is drawn
    QString PictureName(TElement e) const;

protected:
    // what the subclass does on clicks; the base does nothing
    virtual void BackClick() {}
    virtual void ForwardClick() {}
    virtual void RefreshClick() {}
    virtual void HelpClick() {}
    // may the tab change to newTab? the base allows it
    virtual void CanChangeTab(int newTab, bool& allow) {
        (void)newTab;
        (void)allow;
    }
    virtual void TabChanged(int newTab) { (void)newTab; }
    // set the help button's and the music tab's enabled state (only the subclass may)
    void SetHelpEnabled(bool on) { SetEnabled(seHelp, on); }
    void SetBgmTabEnabled(bool on) { SetEnabled(seTab2, on); }

private:
    friend class TSkinSurface;
    bool Enabled(TElement e) const { return (FStates[e] & sbDisabled) == 0; }
    void SetEnabled(TElement e, bool on);
    void SetStateBits(TElement e, uint8_t bits, bool on);
    void Layout();
    void RebuildBand(qreal dpr);
    void Paint(QPainter& p, const QRect& clip);
    void MouseMove(QPoint pos);
    void MouseLeave();
    void MousePress(QPoint pos);
    void MouseRelease();
    void RepaintElement(TElement e);

    TSkinSurface* FSurface = nullptr;
    QWidget* FClient = nullptr;
    const int FSavedTop = 70;
    const int FSavedBottom = 46;
    QMargins FPadding{5, 70, 5, 46};
    bool FTitleBandShown = true;
    int FActiveTab = 0;
    std::array<QRect, seCount> FRects{};
    std::array<uint8_t, seCount> FStates{};
    QRect FTitleBand, FGradient, FFooter;
    QPixmap FBand;
    std::thread FPictureMaker;  // the skin's pictures drawn ahead of the first paint
    int FInnerBottom = 0;  // B of the layout: the client height minus the saved bottom padding
};

}  // namespace fv
