#include "ui/main/splash_form.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <QPropertyAnimation>
#include <QRadialGradient>
#include <QScreen>

#include "core/config.h"

namespace fv {

namespace {
// window opacity needs a real window system; the offscreen platform only warns about it
bool CanFade() {
    QString p = QGuiApplication::platformName();
    return p != "offscreen" && p != "minimal";
}
}  // namespace

QPixmap DrawSplashPicture() {
    const int w = 480, h = 300;
    QPixmap pm(w, h);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient bg(0, 0, w, h);
    bg.setColorAt(0.0, QColor(18, 64, 92));
    bg.setColorAt(1.0, QColor(10, 28, 48));
    p.fillRect(0, 0, w, h, bg);
    QRadialGradient glow(QPointF(w * 0.72, h * 0.35), w * 0.55);
    glow.setColorAt(0.0, QColor(255, 214, 140, 90));
    glow.setColorAt(1.0, QColor(255, 214, 140, 0));
    p.fillRect(0, 0, w, h, glow);

    // a fanned stack of prints, the top one showing a small landscape
    const QPointF centre(w * 0.72, h * 0.44);
    const double angles[3] = {-16, -4, 9};
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(angles[i]);
        QRectF card(-70, -52, 140, 104);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 70));
        p.drawRoundedRect(card.translated(4, 5), 4, 4);
        p.setBrush(QColor(250, 248, 242));
        p.drawRoundedRect(card, 4, 4);
        QRectF photo = card.adjusted(8, 8, -8, -20);
        QLinearGradient sky(photo.topLeft(), photo.bottomLeft());
        sky.setColorAt(0, i == 2 ? QColor(120, 180, 230) : QColor(170, 190, 210));
        sky.setColorAt(1, i == 2 ? QColor(235, 210, 160) : QColor(205, 205, 200));
        p.setBrush(sky);
        p.drawRect(photo);
        if (i == 2) {
            p.setBrush(QColor(255, 236, 170));
            p.drawEllipse(QPointF(photo.right() - 26, photo.top() + 20), 10, 10);
            QPainterPath hills;
            hills.moveTo(photo.left(), photo.bottom());
            hills.lineTo(photo.left(), photo.bottom() - 22);
            hills.quadTo(photo.left() + 30, photo.bottom() - 52, photo.left() + 62, photo.bottom() - 26);
            hills.quadTo(photo.left() + 90, photo.bottom() - 46, photo.right(), photo.bottom() - 18);
            hills.lineTo(photo.right(), photo.bottom());
            hills.closeSubpath();
            p.setBrush(QColor(64, 120, 84));
            p.drawPath(hills);
        }
        p.restore();
    }

    QFont title("Noto Sans", 30, QFont::Bold);
    p.setFont(title);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRect(28, 178, w - 40, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Folvane Browser"));
    QFont sub("Noto Sans CJK JP", 11);
    p.setFont(sub);
    p.setPen(QColor(200, 222, 236));
    p.drawText(QRect(30, 226, w - 40, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kestrona"));
    p.setPen(QColor(255, 214, 140));
    p.drawLine(30, 230, 190, 230);
    p.end();
    return pm;
}

TSplashForm::TSplashForm(int displayTimeMs, QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("TSplashForm");
    setAttribute(Qt::WA_DeleteOnClose);  // closing always frees the window
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    FPicture = DrawSplashPicture();
    setFixedSize(FPicture.size());

    LabelVersion = new QLabel(this);
    LabelVersion->setObjectName("LabelVersion");
    LabelVersion->setText(QStringLiteral("Ver %1").arg(QString::fromStdString(RunningFileVersion())));
    LabelVersion->setStyleSheet("color: rgb(200, 222, 236); background: transparent;");
    LabelVersion->adjustSize();
    LabelVersion->move(width() - LabelVersion->width() - 12, height() - LabelVersion->height() - 10);

    SplashTimer = new QTimer(this);
    SplashTimer->setObjectName("SplashTimer");
    SplashTimer->setSingleShot(true);
    SplashTimer->setInterval(displayTimeMs);
    connect(SplashTimer, &QTimer::timeout, this, &TSplashForm::FadeOutAndClose);
}

TSplashForm* TSplashForm::ShowSplash(int displayTimeMs) {
    auto* f = new TSplashForm(displayTimeMs);
    f->show();
    f->repaint();
    QApplication::processEvents();
    return f;
}

void TSplashForm::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    p.drawPixmap(e->rect(), FPicture, e->rect());
}

void TSplashForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    if (SplashTimer->interval() != 0) SplashTimer->start();
    activateWindow();
    if (!CanFade()) return;
    setWindowOpacity(0.0);
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(500);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void TSplashForm::FadeOutAndClose() {
    if (FClosing) return;
    FClosing = true;
    if (!CanFade()) {
        close();
        return;
    }
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(500);
    fade->setStartValue(windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void TSplashForm::mousePressEvent(QMouseEvent* e) {
    QWidget::mousePressEvent(e);
    if (SplashTimer->interval() == 0) FadeOutAndClose();
}

void TSplashForm::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    if (SplashTimer->interval() == 0) FadeOutAndClose();
}

void TSplashForm::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && !isActiveWindow() && SplashTimer->interval() == 0 && isVisible())
        FadeOutAndClose();
}

}  // namespace fv
