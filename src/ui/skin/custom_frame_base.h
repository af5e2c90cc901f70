#pragma once
// The common base of the side frames (targets, tray, info, print): a painted title bar that
// collapses the frame to itself and expands it back to the height it had, and a body for the
// frame's own widgets. The accordion of the target frames and the owners of the other frames
// decide which frame toggles.
#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

namespace fv {

class TCustomFrameBase : public QWidget {
    Q_OBJECT
public:
    // where the frame sits in its column; a filling frame becomes a top frame when collapsed
    enum TFrameAlign { faTop, faBottom, faClient };

    explicit TCustomFrameBase(QWidget* parent = nullptr);

    QString Title() const { return FTitle; }
    void SetTitle(const QString& title);
    QColor TitleColour() const { return FTitleColour; }
    void SetTitleColour(const QColor& colour);
    // the common image shown in the title; -1 for none
    int TitleIcon() const { return FTitleIcon; }
    void SetTitleIcon(int index);
    // the gradient of the title: the frame colour lightened by 100 and darkened by 40
    QColor GradientTop() const;
    QColor GradientBottom() const;

    bool Expanded() const { return FExpanded; }
    void SetExpanded(bool on);
    // whether a click on the title toggles the frame (and its open/close glyph is drawn)
    bool TitleEnabled() const { return FTitleEnabled; }
    void SetTitleEnabled(bool on);
    // the glyph style: open/close pictures, or up/down arrows that follow the alignment
    bool OpenCloseStyle() const { return FOpenCloseStyle; }
    void SetOpenCloseStyle(bool on);
    TFrameAlign FrameAlign() const { return FAlign; }
    void SetFrameAlign(TFrameAlign a) { FAlign = a; }
    // the height the frame gets back when expanded
    int ExpandedHeight() const { return FExpandedHeight; }
    void SetExpandedHeight(int h);
    // may veto a toggle by the title (return false)
    void SetCanToggle(std::function<bool()> fn) { FCanToggle = std::move(fn); }

    int TitleHeight() const { return 16 + 8; }
    QRect TitleRect() const { return QRect(0, 0, width(), TitleHeight()); }
    // the frame's own widgets live here, under the title
    QWidget* Body() const { return FBody; }
    // the x where the icon and the text start
    int IconLeft() const { return FTitleEnabled ? 8 + 10 : 8; }

signals:
    // the title was clicked (before any toggle)
    void titleClicked();
    void expandedChanged(bool expanded);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void ToggleByTitle();
    void LayoutBody();
    QString FTitle;
    QColor FTitleColour;
    int FTitleIcon = -1;
    bool FExpanded = true;
    bool FTitleEnabled = true;
    bool FOpenCloseStyle = true;
    bool FPressed = false;
    TFrameAlign FAlign = faTop;
    int FExpandedHeight = 0;
    std::function<bool()> FCanToggle;
    QWidget* FBody = nullptr;
};

}  // namespace fv
