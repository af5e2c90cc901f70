#include "ui/skin/custom_frame_base.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

#include "ui/common_images.h"

namespace fv {

namespace {
QColor Shifted(const QColor& c, int delta) {
    return QColor(qBound(0, c.red() + delta, 255), qBound(0, c.green() + delta, 255), qBound(0, c.blue() + delta, 255));
}
}  // namespace

TCustomFrameBase::TCustomFrameBase(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    FTitleColour = palette().color(QPalette::WindowText);
    FBody = new QWidget(this);
    FBody->setObjectName("FrameBody");
    LayoutBody();
}

void TCustomFrameBase::SetTitle(const QString& title) {
    FTitle = title;
    update(TitleRect());
}

void TCustomFrameBase::SetTitleColour(const QColor& colour) {
    FTitleColour = colour;
    update(TitleRect());
}

void TCustomFrameBase::SetTitleIcon(int index) {
    FTitleIcon = index;
    update(TitleRect());
}

QColor TCustomFrameBase::GradientTop() const { return Shifted(palette().color(QPalette::Window), 100); }
QColor TCustomFrameBase::GradientBottom() const { return Shifted(palette().color(QPalette::Window), -40); }

void TCustomFrameBase::SetTitleEnabled(bool on) {
    if (on == FTitleEnabled) return;
    FTitleEnabled = on;
    update(TitleRect());
}

void TCustomFrameBase::SetOpenCloseStyle(bool on) {
    FOpenCloseStyle = on;
    update(TitleRect());
}

void TCustomFrameBase::SetExpandedHeight(int h) {
    FExpandedHeight = qMax(h, TitleHeight());
    if (FExpanded) resize(width(), FExpandedHeight);
}

void TCustomFrameBase::SetExpanded(bool on) {
    if (on == FExpanded) return;
    if (!on) {
        if (height() > TitleHeight()) FExpandedHeight = height();  // remembered for the way back
        FExpanded = false;
        FBody->hide();
        setMinimumHeight(TitleHeight());
        setMaximumHeight(TitleHeight());
        if (FAlign == faClient) FAlign = faTop;
    } else {
        FExpanded = true;
        setMinimumHeight(TitleHeight());
        setMaximumHeight(QWIDGETSIZE_MAX);
        FBody->show();
        if (FExpandedHeight > TitleHeight()) resize(width(), FExpandedHeight);
    }
    LayoutBody();
    update(TitleRect());
    emit expandedChanged(FExpanded);
}

void TCustomFrameBase::ToggleByTitle() {
    emit titleClicked();
    if (!FTitleEnabled) return;
    if (FCanToggle && !FCanToggle()) return;
    SetExpanded(!FExpanded);
}

void TCustomFrameBase::LayoutBody() {
    FBody->setGeometry(0, TitleHeight(), width(), qMax(0, height() - TitleHeight()));
}

void TCustomFrameBase::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (FExpanded && height() > TitleHeight()) FExpandedHeight = height();
    LayoutBody();
}

void TCustomFrameBase::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect title = TitleRect();
    QLinearGradient g(0, title.top(), 0, title.bottom() + 1);
    g.setColorAt(0, GradientTop());
    g.setColorAt(1, GradientBottom());
    p.fillRect(title, g);
    // sunken at rest, raised while the mouse holds it down
    qDrawShadePanel(&p, title, palette(), !FPressed, 1);
    const qreal dpr = devicePixelRatioF();
    const int iconTop = (title.height() - 16) / 2;
    if (FTitleEnabled) {
        bool open = !FExpanded;
        // arrows follow the alignment: a bottom frame opens upwards
        if (!FOpenCloseStyle && FAlign == faBottom) open = FExpanded;
        p.drawPixmap(2, iconTop, NamedBitmap(open ? QStringLiteral("PTN_OPEN") : QStringLiteral("PTN_CLOSE"), dpr));
    }
    int x = IconLeft();
    if (FTitleIcon >= 0 && HasCommonImage(FTitleIcon)) {
        DrawCommonImage(p, x, iconTop, FTitleIcon, 16);
        x += 16 + 4;
    }
    QString text = FTitle;
    if (text.isNull()) {  // the default title is the frame's class name
        text = QString::fromLatin1(metaObject()->className());
        text = text.mid(text.lastIndexOf(':') + 1);
    }
    p.setPen(FTitleColour);
    p.drawText(QRect(x, 0, qMax(0, width() - x - 4), title.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(title.adjusted(2, 2, -3, -3));
    }
}

void TCustomFrameBase::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && TitleRect().contains(e->position().toPoint())) {
        FPressed = true;
        update(TitleRect());
    }
}

void TCustomFrameBase::mouseReleaseEvent(QMouseEvent* e) {
    if (!FPressed) return;
    FPressed = false;
    update(TitleRect());
    if (e->button() == Qt::LeftButton && TitleRect().contains(e->position().toPoint())) ToggleByTitle();
}

void TCustomFrameBase::keyPressEvent(QKeyEvent* e) {
    // the title is a button for the keyboard too
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) ToggleByTitle();
    else QWidget::keyPressEvent(e);
}

}  // namespace fv
