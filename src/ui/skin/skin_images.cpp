#include "ui/skin/skin_images.h"

#include <QFont>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <mutex>
#include <set>

#include "platform/os_thread.h"
#include "ui/skin/ui_fonts.h"

namespace fv {

namespace {

// the splash's palette: deep teal night sky, warm amber light
const QColor kTealTop(30, 88, 120);
const QColor kTealBottom(10, 28, 48);
const QColor kAmber(255, 214, 140);
const QColor kMist(200, 222, 236);

enum TState { stNormal, stHover, stPressed, stActive, stDisabled };

TState StateOf(const QString& name) {
    if (name.endsWith("_O")) return stHover;
    if (name.endsWith("_P")) return stPressed;
    if (name.endsWith("_A")) return stActive;
    if (name.endsWith("_D")) return stDisabled;
    return stNormal;
}

QString PrefixOf(const QString& name) {
    int i = name.lastIndexOf('_');
    return i < 0 ? name : name.left(i);
}

QPixmap NewPixmap(QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

void DrawBandTile(QPainter& p, QSize s) {
    QLinearGradient g(0, 0, 0, s.height());
    g.setColorAt(0.0, kTealTop);
    g.setColorAt(0.55, QColor(18, 56, 82));
    g.setColorAt(1.0, kTealBottom);
    p.fillRect(QRect(QPoint(0, 0), s), g);
    p.fillRect(QRectF(0, 0, s.width(), 1), QColor(80, 140, 170));   // a lit upper edge
    p.fillRect(QRectF(0, s.height() - 1, s.width(), 1), QColor(6, 16, 28));
}

// the glyph of a round button, drawn in a 36 x 36 box
void DrawButtonGlyph(QPainter& p, const QString& prefix, const QColor& ink) {
    QPen pen(ink, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (prefix == "LT" || prefix == "RT") {
        const bool left = prefix == "LT";
        const double dir = left ? -1.0 : 1.0;
        const QPointF c(18, 18);
        p.drawLine(QPointF(c.x() - 7 * dir, c.y()), QPointF(c.x() + 6 * dir, c.y()));
        QPainterPath head;
        head.moveTo(c.x() - 1 * dir, c.y() - 7);
        head.lineTo(c.x() + 6 * dir, c.y());
        head.lineTo(c.x() - 1 * dir, c.y() + 7);
        p.drawPath(head);
    } else if (prefix == "RF") {
        QRectF arc(10.5, 10.5, 15, 15);
        p.drawArc(arc, 60 * 16, 285 * 16);
        // the arrow head at the open end of the arc, pointing along it
        QPainterPath head;
        head.moveTo(22.5, 7.0);
        head.lineTo(23.2, 13.4);
        head.lineTo(17.0, 12.4);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        head.closeSubpath();
        p.drawPath(head);
    } else if (prefix == "HELP") {
        QFont f = UiFont(16);
        f.setBold(true);
        f.setPixelSize(19);
        p.setFont(f);
        p.setPen(ink);
        p.drawText(QRectF(0, 0, 36, 36).translated(0, 0.5), Qt::AlignCenter, QStringLiteral("?"));
    }
}

void DrawButton(QPainter& p, const QString& prefix, TState st, QSize size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QPointF c(18, 18);
    const double r = 15.5;
    QColor top, bottom, ring, ink;
    switch (st) {
        case stHover:
            top = QColor(64, 136, 172); bottom = QColor(24, 72, 102); ring = kAmber; ink = Qt::white;
            break;
        case stPressed:
            top = QColor(8, 28, 46); bottom = QColor(26, 74, 104); ring = kAmber; ink = kAmber;
            break;
        case stDisabled:
            top = QColor(46, 66, 82, 150); bottom = QColor(30, 46, 60, 150); ring = QColor(120, 138, 150, 120);
            ink = QColor(120, 138, 150);
            break;
        default:
            top = QColor(44, 106, 140); bottom = QColor(14, 44, 68); ring = QColor(200, 222, 236, 170); ink = Qt::white;
            break;
    }
    // a soft shadow under the raised faces
    if (st == stNormal || st == stHover) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawEllipse(c + QPointF(0, 1.2), r, r);
    }
    QLinearGradient g(0, c.y() - r, 0, c.y() + r);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setBrush(g);
    p.setPen(QPen(ring, 1.2));
    p.drawEllipse(c, r, r);
    p.save();
    if (st == stPressed) p.translate(0.8, 0.8);
    if (size.width() < 36) p.translate(-0.5, 0);  // the forward face is one pixel narrower
    DrawButtonGlyph(p, prefix, ink);
    p.restore();
}

// the small picture before a tab's caption, in a 16 x 16 box at (x, y)
void DrawTabIcon(QPainter& p, const QString& prefix, qreal x, qreal y, const QColor& ink) {
    p.save();
    p.translate(x, y);
    p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    if (prefix == "NET") {  // an open book
        QPainterPath left, right;
        left.moveTo(8, 4); left.cubicTo(6, 2.5, 3, 2.5, 1, 3.5); left.lineTo(1, 13.5); left.cubicTo(3, 12.5, 6, 12.5, 8, 14);
        right.moveTo(8, 4); right.cubicTo(10, 2.5, 13, 2.5, 15, 3.5); right.lineTo(15, 13.5); right.cubicTo(13, 12.5, 10, 12.5, 8, 14);
        p.drawPath(left);
        p.drawPath(right);
        p.drawLine(QPointF(8, 4), QPointF(8, 14));
    } else if (prefix == "LIB") {  // a photo with a hill and the sun
        p.drawRoundedRect(QRectF(1, 2.5, 14, 11), 1.5, 1.5);
        QPainterPath hill;
        hill.moveTo(1.5, 12); hill.lineTo(6, 7.5); hill.lineTo(9, 10.5); hill.lineTo(11, 8.5); hill.lineTo(14.5, 12);
        p.drawPath(hill);
        p.setBrush(ink);
        p.drawEllipse(QPointF(11, 5.8), 1.3, 1.3);
    } else {  // two joined notes
        p.setBrush(ink);
        p.drawEllipse(QPointF(4, 12.5), 2.4, 1.9);
        p.drawEllipse(QPointF(12, 11), 2.4, 1.9);
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(6.2, 12.3), QPointF(6.2, 3.5));
        p.drawLine(QPointF(14.2, 10.8), QPointF(14.2, 2));
        p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(6.2, 3.8), QPointF(14.2, 2.3));
    }
    p.restore();
}

QString TabCaption(const QString& prefix) {
    if (prefix == "NET") return QStringLiteral("Folvane");
    if (prefix == "LIB") return QStringLiteral("ライブラリ");
    return QStringLiteral("BGM");
}

void DrawTab(QPainter& p, const QString& prefix, TState st, QSize s) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(2.5, 6.5, s.width() - 5, s.height() - 6.5);
    QPainterPath shape;
    const double rr = 7;
    shape.moveTo(box.left(), box.bottom());
    shape.lineTo(box.left(), box.top() + rr);
    shape.quadTo(box.left(), box.top(), box.left() + rr, box.top());
    shape.lineTo(box.right() - rr, box.top());
    shape.quadTo(box.right(), box.top(), box.right(), box.top() + rr);
    shape.lineTo(box.right(), box.bottom());
    QColor top, bottom, edge, ink;
    switch (st) {
        case stActive:  // one piece with the light strip under the band
            top = QColor(238, 236, 232); bottom = QColor(163, 161, 157); edge = QColor(255, 255, 255, 200);
            ink = QColor(18, 64, 92);
            break;
        case stHover:
            top = QColor(66, 130, 164); bottom = QColor(30, 84, 114); edge = kAmber; ink = Qt::white;
            break;
        case stPressed:
            top = QColor(10, 32, 52); bottom = QColor(24, 66, 94); edge = kAmber; ink = kAmber;
            break;
        default:
            top = QColor(46, 104, 136); bottom = QColor(20, 60, 88); edge = QColor(200, 222, 236, 120); ink = kMist;
            break;
    }
    QLinearGradient g(0, box.top(), 0, box.bottom());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(shape);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(edge, 1.0));
    p.drawPath(shape);
    if (st == stActive) {  // a warm mark along the top of the chosen tab
        p.setPen(QPen(kAmber, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(box.left() + rr, box.top() + 1.2), QPointF(box.right() - rr, box.top() + 1.2));
    }
    QFont f = UiFont(11);
    f.setBold(true);
    f.setPixelSize(14);
    p.setFont(f);
    const QString caption = TabCaption(prefix);
    const qreal textWidth = QFontMetricsF(f).horizontalAdvance(caption);
    const qreal total = 16 + 7 + textWidth;
    const qreal x0 = box.left() + (box.width() - total) / 2;
    const qreal cy = box.top() + box.height() / 2 + (st == stPressed ? 0.8 : 0.0);
    DrawTabIcon(p, prefix, x0, cy - 8, ink);
    p.setPen(ink);
    p.drawText(QRectF(x0 + 23, cy - 10, textWidth + 2, 20), Qt::AlignLeft | Qt::AlignVCenter, caption);
}

void DrawFooterText(QPainter& p, const QString& name, QSize s) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (name == "COPYR") {
        QFont f = UiFont(7);
        f.setPixelSize(9);
        p.setFont(f);
        p.setPen(QColor(214, 222, 234));
        p.drawText(QRect(QPoint(0, 0), s), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Copyright (C) Kestrona Corporation. All rights reserved."));
        return;
    }
    // "PWRDLOGO": a small "powered by" and the service's name in the amber of the splash
    QFont small = UiFont(7);
    small.setPixelSize(9);
    QFont big = UiFont(9);
    big.setBold(true);
    big.setPixelSize(13);
    const QString lead = QStringLiteral("powered by ");
    const QString brand = QStringLiteral("Folvane");
    const qreal w1 = QFontMetricsF(small).horizontalAdvance(lead);
    const qreal w2 = QFontMetricsF(big).horizontalAdvance(brand);
    const qreal x = s.width() - w1 - w2 - 1;
    p.setFont(small);
    p.setPen(QColor(214, 222, 234));
    p.drawText(QRectF(x, 0, w1, s.height()).translated(0, 1.5), Qt::AlignLeft | Qt::AlignVCenter, lead);
    p.setFont(big);
    p.setPen(kAmber);
    p.drawText(QRectF(x + w1, 0, w2 + 1, s.height()), Qt::AlignLeft | Qt::AlignVCenter, brand);
}

}  // namespace

const std::vector<QString>& SkinPictureNames() {
    static const std::vector<QString> names = [] {
        std::vector<QString> v{QStringLiteral("WB_UP")};
        for (const char* pre : {"LT", "RT", "RF"})
            for (const char* st : {"_N", "_O", "_P", "_D"}) v.push_back(QString::fromLatin1(pre) + st);
        for (const char* st : {"_N", "_O", "_P"}) v.push_back(QStringLiteral("HELP") + st);
        for (const char* pre : {"NET", "LIB", "BGM"})
            for (const char* st : {"_N", "_O", "_P", "_A"}) v.push_back(QString::fromLatin1(pre) + st);
        v.push_back(QStringLiteral("COPYR"));
        v.push_back(QStringLiteral("PWRDLOGO"));
        return v;
    }();
    return names;
}

QSize SkinPictureSize(const QString& name) {
    if (name == "WB_UP") return {20, 55};
    if (name == "COPYR") return {230, 9};
    if (name == "PWRDLOGO") return {111, 15};
    const QString prefix = PrefixOf(name);
    const TState st = StateOf(name);
    if (name.indexOf('_') < 0) return {};
    if (prefix == "LT" || prefix == "RF") return {36, 36};
    if (prefix == "RT") return {35, 36};
    if (prefix == "HELP") return st == stDisabled || st == stActive ? QSize() : QSize(36, 36);
    if (prefix == "NET" || prefix == "LIB" || prefix == "BGM") return st == stDisabled ? QSize() : QSize(160, 45);
    return {};
}

namespace {

void DrawPicture(QPainter& p, const QString& name, QSize size) {
    const QString prefix = PrefixOf(name);
    if (name == "WB_UP") DrawBandTile(p, size);
    else if (name == "COPYR" || name == "PWRDLOGO") DrawFooterText(p, name, size);
    else if (prefix == "NET" || prefix == "LIB" || prefix == "BGM") DrawTab(p, prefix, StateOf(name), size);
    else DrawButton(p, prefix, StateOf(name), size);
}

QString KeyOf(const QString& name, qreal dpr) { return name + QLatin1Char('@') + QString::number(dpr); }

// pictures drawn by PrepareSkinPictures, not taken by SkinPicture yet
std::mutex gPreparedLock;
QHash<QString, QImage> gPrepared;
std::set<qreal> gPreparedRatios;

}  // namespace

QImage DrawSkinPicture(const QString& name, qreal dpr, int dotsPerMeter) {
    const QSize size = SkinPictureSize(name);
    if (size.isEmpty()) return {};
    if (dpr <= 0) dpr = 1.0;
    QImage img(size * dpr, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.setDotsPerMeterX(dotsPerMeter);
    img.setDotsPerMeterY(dotsPerMeter);
    img.fill(Qt::transparent);
    QPainter p(&img);
    DrawPicture(p, name, size);
    return img;
}

std::thread PrepareSkinPictures(qreal dpr) {
    if (dpr <= 0) dpr = 1.0;
    {
        std::lock_guard<std::mutex> g(gPreparedLock);
        if (!gPreparedRatios.insert(dpr).second) return {};
    }
    const int dpm = QImage(1, 1, QImage::Format_ARGB32_Premultiplied).dotsPerMeterX();
    return std::thread([dpr, dpm] {
        SetCurrentThreadName("SkinPictures");
        LowerCurrentThreadPriority(kBackgroundNice);
        // the footer's texts first: the first paint draws them before the band and the tabs
        std::vector<QString> names{QStringLiteral("COPYR"), QStringLiteral("PWRDLOGO")};
        for (const QString& name : SkinPictureNames())
            if (name != names[0] && name != names[1]) names.push_back(name);
        for (const QString& name : names) {
            QImage img = DrawSkinPicture(name, dpr, dpm);
            if (img.isNull()) continue;
            std::lock_guard<std::mutex> g(gPreparedLock);
            gPrepared.insert(KeyOf(name, dpr), std::move(img));
        }
    });
}

QPixmap SkinPicture(const QString& name, qreal dpr) {
    const QSize size = SkinPictureSize(name);
    if (size.isEmpty()) return {};
    if (dpr <= 0) dpr = 1.0;
    static QHash<QString, QPixmap> cache;
    const QString key = KeyOf(name, dpr);
    auto it = cache.find(key);
    if (it != cache.end()) return *it;

    QPixmap pm;
    {
        std::lock_guard<std::mutex> g(gPreparedLock);
        auto ready = gPrepared.find(key);
        if (ready != gPrepared.end()) {
            pm = QPixmap::fromImage(*ready);
            gPrepared.erase(ready);
        }
    }
    if (pm.isNull()) {
        // not drawn ahead (yet): drawn here
        pm = NewPixmap(size, dpr);
        QPainter p(&pm);
        DrawPicture(p, name, size);
    }
    cache.insert(key, pm);
    return pm;
}

}  // namespace fv
