#include "ui/common_images.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "ui/skin/ui_fonts.h"

namespace fv {
namespace {

// One palette for every picture: a dark outline and a few saturated fills.
const QColor kInk(0x33, 0x3a, 0x44);
const QColor kYellow(0xf6, 0xc3, 0x2b);
const QColor kBlue(0x3b, 0x82, 0xd6);
const QColor kRed(0xe0, 0x44, 0x3c);
const QColor kGreen(0x3f, 0xa6, 0x5a);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kOrange(0xf0, 0x8a, 0x24);
const QColor kPurple(0x8a, 0x5c, 0xc8);

using TPainterFn = std::function<void(QPainter&)>;

QPen InkPen(qreal w = 1.0) {
    QPen pen(kInk, w);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QPainterPath StarPath(QPointF c, qreal outer, qreal inner) {
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        qreal r = (i % 2) ? inner : outer;
        qreal a = -M_PI / 2 + i * M_PI / 5;
        QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0) path.moveTo(pt); else path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

// a circular arrow around (8, 8), clockwise; the counter-clockwise one is its mirror image
void CurvedArrow(QPainter& p, bool cw, const QColor& c) {
    p.save();
    if (!cw) {
        p.translate(16, 0);
        p.scale(-1, 1);
    }
    QPen pen(c, 2.2);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QRectF r(3, 3.5, 10, 10);
    QPainterPath path;
    path.arcMoveTo(r, 200);
    path.arcTo(r, 200, -235);
    p.drawPath(path);
    // the arrow head at the end of the arc, pointing along it (downwards on the right side)
    QPointF end = path.currentPosition();
    QPolygonF head;
    head << end + QPointF(-0.6, 3.6) << end + QPointF(-3.4, -1.0) << end + QPointF(2.6, -1.4);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(head);
    p.restore();
}

// a small photo (sky and hill) in the rectangle
void PhotoGlyph(QPainter& p, const QRectF& r) {
    p.setPen(InkPen(1));
    p.setBrush(QColor(0xcf, 0xe6, 0xfa));
    p.drawRoundedRect(r, 1, 1);
    QPainterPath hill;
    hill.moveTo(r.left() + 0.5, r.bottom() - 0.5);
    hill.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.45);
    hill.lineTo(r.right() - 0.5, r.bottom() - 0.5);
    hill.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawPath(hill);
    p.setBrush(kYellow);
    p.drawEllipse(QPointF(r.right() - r.width() * 0.25, r.top() + r.height() * 0.28), r.width() * 0.1, r.width() * 0.1);
}

// an orientation mark: a small photo with a badge arrow
void OrientationGlyph(QPainter& p, int kind) {
    PhotoGlyph(p, QRectF(1.5, 3.5, 10, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(11, 11), 4.6, 4.6);
    p.save();
    p.translate(11 - 8 * 0.55, 11 - 8 * 0.55);
    p.scale(0.55, 0.55);
    switch (kind) {
        case 0: CurvedArrow(p, true, kBlue); break;
        case 1: CurvedArrow(p, true, kOrange); break;
        case 2: CurvedArrow(p, false, kBlue); break;
        case 3: {  // vertical flip
            QPen pen(kPurple, 2.6);
            pen.setCapStyle(Qt::RoundCap);
            p.setPen(pen);
            p.drawLine(QPointF(8, 2.5), QPointF(8, 13.5));
            p.setPen(Qt::NoPen);
            p.setBrush(kPurple);
            p.drawPolygon(QPolygonF() << QPointF(8, 0) << QPointF(12.5, 5) << QPointF(3.5, 5));
            p.drawPolygon(QPolygonF() << QPointF(8, 16) << QPointF(12.5, 11) << QPointF(3.5, 11));
            break;
        }
        default: {  // mirror
            QPen pen(kPurple, 2.6);
            pen.setCapStyle(Qt::RoundCap);
            p.setPen(pen);
            p.drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
            p.setPen(Qt::NoPen);
            p.setBrush(kPurple);
            p.drawPolygon(QPolygonF() << QPointF(0, 8) << QPointF(5, 3.5) << QPointF(5, 12.5));
            p.drawPolygon(QPolygonF() << QPointF(16, 8) << QPointF(11, 3.5) << QPointF(11, 12.5));
            break;
        }
    }
    p.restore();
}

const std::map<int, TPainterFn>& Painters() {
    static const std::map<int, TPainterFn> painters = {
        {ciDiskFolder,
         [](QPainter& p) {
             QPainterPath back;
             back.moveTo(1.5, 3.5);
             back.lineTo(6, 3.5);
             back.lineTo(7.5, 5);
             back.lineTo(14.5, 5);
             back.lineTo(14.5, 13.5);
             back.lineTo(1.5, 13.5);
             back.closeSubpath();
             p.setPen(InkPen());
             p.setBrush(kYellow.darker(115));
             p.drawPath(back);
             QLinearGradient g(0, 6.5, 0, 13.5);
             g.setColorAt(0, kYellow.lighter(115));
             g.setColorAt(1, kYellow);
             p.setBrush(g);
             p.drawRoundedRect(QRectF(1.5, 6.5, 13, 7), 1, 1);
         }},
        {ciComment,
         [](QPainter& p) {
             QPainterPath bubble;
             bubble.addRoundedRect(QRectF(1.5, 2.5, 13, 9), 2.5, 2.5);
             QPainterPath tail;
             tail.moveTo(4, 10);
             tail.lineTo(3.5, 14.5);
             tail.lineTo(8, 10.5);
             tail.closeSubpath();
             p.setPen(InkPen());
             p.setBrush(kPaper);
             p.drawPath(bubble.united(tail));
             p.setPen(QPen(kBlue, 1.2, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(4.5, 5.5), QPointF(11.5, 5.5));
             p.drawLine(QPointF(4.5, 8.2), QPointF(9.5, 8.2));
         }},
        {ciNewPhotos,  // a small burst: photos that arrived since the last look
         [](QPainter& p) {
             p.setPen(QPen(kRed.darker(120), 0.9));
             p.setBrush(kRed);
             p.drawPath(StarPath(QPointF(8, 8), 7.4, 4.6).simplified());
             p.setPen(QPen(kPaper, 1.6, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(8, 4.6), QPointF(8, 8.6));
             p.drawPoint(QPointF(8, 11.2));
         }},
        {ciFavourite,
         [](QPainter& p) {
             p.setPen(InkPen(0.9));
             QRadialGradient g(QPointF(7, 6), 8);
             g.setColorAt(0, kYellow.lighter(130));
             g.setColorAt(1, kOrange);
             p.setBrush(g);
             p.drawPath(StarPath(QPointF(8, 8.6), 7.2, 3.0));
         }},
        {ciPrintReservation,
         [](QPainter& p) {
             p.setPen(InkPen());
             p.setBrush(kPaper);
             p.drawRect(QRectF(4.5, 1.5, 7, 5));
             p.setBrush(QColor(0x9a, 0xa3, 0xad));
             p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.2, 1.2);
             p.setBrush(kPaper);
             p.drawRect(QRectF(4.5, 10.5, 7, 4));
             p.setPen(Qt::NoPen);
             p.setBrush(kGreen);
             p.drawEllipse(QPointF(12.5, 8.5), 0.9, 0.9);
         }},
        {ciRotateRight, [](QPainter& p) { CurvedArrow(p, true, kBlue); }},
        {ciRotateLeft, [](QPainter& p) { CurvedArrow(p, false, kBlue); }},
        {ciOrientationRight, [](QPainter& p) { OrientationGlyph(p, 0); }},
        {ciOrientationHalf, [](QPainter& p) { OrientationGlyph(p, 1); }},
        {ciOrientationLeft, [](QPainter& p) { OrientationGlyph(p, 2); }},
        {ciOrientationFlip, [](QPainter& p) { OrientationGlyph(p, 3); }},
        {ciOrientationMirror, [](QPainter& p) { OrientationGlyph(p, 4); }},
        {ciReadOnly,
         [](QPainter& p) {
             p.setPen(QPen(kInk, 1.6));
             p.setBrush(Qt::NoBrush);
             p.drawArc(QRectF(4.5, 1.8, 7, 8), 0, 180 * 16);
             p.drawLine(QPointF(4.5, 5.8), QPointF(4.5, 7.5));
             p.drawLine(QPointF(11.5, 5.8), QPointF(11.5, 7.5));
             p.setPen(InkPen());
             p.setBrush(kYellow);
             p.drawRoundedRect(QRectF(2.5, 7.5, 11, 7), 1.2, 1.2);
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawEllipse(QPointF(8, 10.5), 1.2, 1.2);
             p.drawRect(QRectF(7.5, 10.5, 1, 2.5));
         }},
        {ciDeleteReservation,
         [](QPainter& p) {
             p.setPen(InkPen());
             p.setBrush(kRed);
             p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
             QPen pen(Qt::white, 2.2);
             pen.setCapStyle(Qt::RoundCap);
             p.setPen(pen);
             p.drawLine(QPointF(5.3, 5.3), QPointF(10.7, 10.7));
             p.drawLine(QPointF(10.7, 5.3), QPointF(5.3, 10.7));
         }},
        {ciZoomView,
         [](QPainter& p) {
             QPen handle(kInk, 2.6);
             handle.setCapStyle(Qt::RoundCap);
             p.setPen(handle);
             p.drawLine(QPointF(10.3, 10.3), QPointF(14, 14));
             p.setPen(InkPen(1.3));
             p.setBrush(QColor(0xdd, 0xee, 0xfc));
             p.drawEllipse(QRectF(1.5, 1.5, 10, 10));
             QPen plus(kBlue, 1.6);
             plus.setCapStyle(Qt::RoundCap);
             p.setPen(plus);
             p.drawLine(QPointF(6.5, 4.2), QPointF(6.5, 8.8));
             p.drawLine(QPointF(4.2, 6.5), QPointF(8.8, 6.5));
         }},
        {ciCorrections,
         [](QPainter& p) {
             p.setPen(InkPen());
             p.setBrush(kPaper);
             p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
             QPainterPath half;
             half.moveTo(8, 1.5);
             half.arcTo(QRectF(1.5, 1.5, 13, 13), 90, -180);
             half.closeSubpath();
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawPath(half);
             p.setBrush(kOrange);
             p.drawEllipse(QPointF(5.2, 8), 1.6, 1.6);
             p.setBrush(kYellow);
             p.drawEllipse(QPointF(10.8, 8), 1.6, 1.6);
         }},
        {ciCalendar,
         [](QPainter& p) {
             p.setPen(InkPen());
             p.setBrush(kPaper);
             p.drawRoundedRect(QRectF(1.5, 2.5, 13, 12), 1.2, 1.2);
             p.setBrush(kRed);
             p.drawRect(QRectF(1.5, 2.5, 13, 3.5));
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             for (int r = 0; r < 2; ++r)
                 for (int c = 0; c < 3; ++c) p.drawRect(QRectF(3.5 + c * 3.3, 7.8 + r * 3, 2, 1.8));
             p.setPen(QPen(kInk, 1.3, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(5, 1), QPointF(5, 3.5));
             p.drawLine(QPointF(11, 1), QPointF(11, 3.5));
         }},
        {ciTag,
         [](QPainter& p) {
             QPainterPath tag;
             tag.moveTo(1.5, 2.5);
             tag.lineTo(8, 2.5);
             tag.lineTo(14.5, 9);
             tag.lineTo(8.5, 15);
             tag.lineTo(1.5, 8);
             tag.closeSubpath();
             p.setPen(InkPen());
             p.setBrush(kGreen);
             p.drawPath(tag);
             p.setBrush(kPaper);
             p.drawEllipse(QPointF(5, 6), 1.4, 1.4);
         }},
        {ciSiblingAlbum,
         [](QPainter& p) {
             p.setPen(InkPen());
             p.setBrush(kPurple);
             p.drawRoundedRect(QRectF(2.5, 1.5, 11, 13), 1.2, 1.2);
             p.setBrush(kPaper);
             p.drawRect(QRectF(4.5, 3.5, 7, 5));
             p.setPen(Qt::NoPen);
             p.setBrush(kGreen);
             p.drawPolygon(QPolygonF() << QPointF(5, 8) << QPointF(7.5, 5) << QPointF(10.8, 8));
             p.setPen(QPen(kPaper, 1));
             p.drawLine(QPointF(4.5, 11), QPointF(11.5, 11));
         }},
    };
    return painters;
}

QPixmap PaintPixmap(QSize logical, qreal dpr, const std::function<void(QPainter&)>& fn) {
    QPixmap pm(QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr)));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    fn(p);
    return pm;
}

QString CacheKey(const QString& what, int a, qreal dpr) { return what + QLatin1Char('/') + QString::number(a) + QLatin1Char('@') + QString::number(dpr); }

QHash<QString, QPixmap>& PixmapCache() {
    static QHash<QString, QPixmap> cache;
    return cache;
}

// "DirectAlbum" / "DirectSlide" buttons: a rounded pill with an icon and a caption
void PaintDirectButton(QPainter& p, QSize size, bool slide, int state) {
    QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
    QColor top = state == 1 ? QColor(0xff, 0xf4, 0xd6) : (state == 2 ? QColor(0xc9, 0xd3, 0xde) : QColor(0xf7, 0xf9, 0xfb));
    QColor bottom = state == 1 ? QColor(0xf8, 0xd9, 0x8a) : (state == 2 ? QColor(0xe8, 0xec, 0xf0) : QColor(0xd8, 0xdf, 0xe6));
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(state == 1 ? kOrange.darker(120) : QColor(0x6d, 0x78, 0x86), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    qreal shift = state == 2 ? 0.5 : 0;
    p.save();
    p.translate(3 + shift, 1.5 + shift);
    p.scale(14.0 / 16.0, 14.0 / 16.0);
    if (slide) {
        PhotoGlyph(p, QRectF(1.5, 3, 13, 10));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawPolygon(QPolygonF() << QPointF(6, 5.5) << QPointF(11, 8) << QPointF(6, 10.5));
    } else {
        p.setPen(InkPen());
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(2.5, 1.5, 11, 13), 1.2, 1.2);
        PhotoGlyph(p, QRectF(4.5, 3.5, 7, 6));
    }
    p.restore();
    QFont f = UiFont(9);
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0x24, 0x2a, 0x33));
    QRectF text(19 + shift, shift, size.width() - 21, size.height());
    p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
               slide ? QStringLiteral("スライドショー") : QStringLiteral("アルバム作成"));
}

struct TCursorDef {
    QPoint HotSpot;
    std::function<void(QPainter&)> Paint;  // on a 32-unit grid
};

void PaintHand(QPainter& p, bool grab) {
    QPainterPath hand;
    if (grab) {
        hand.addRoundedRect(QRectF(7, 11, 17, 13), 5, 5);
        for (int i = 0; i < 4; ++i) hand.addRoundedRect(QRectF(8 + i * 4, 8, 4, 7), 2, 2);
        hand.addRoundedRect(QRectF(4, 14, 6, 4), 2, 2);
    } else {
        hand.addRoundedRect(QRectF(8, 13, 16, 13), 5, 5);
        const qreal tops[4] = {5, 3, 3.5, 6};
        for (int i = 0; i < 4; ++i) hand.addRoundedRect(QRectF(8.5 + i * 4, tops[i], 3.6, 14), 1.8, 1.8);
        QTransform t;
        t.translate(7, 19);
        t.rotate(-40);
        QPainterPath thumb;
        thumb.addRoundedRect(QRectF(-2, -2, 9, 4), 2, 2);
        hand.addPath(t.map(thumb));
    }
    hand = hand.simplified();
    p.setPen(QPen(Qt::black, 1.4));
    p.setBrush(Qt::white);
    p.drawPath(hand);
}

const std::map<QString, TCursorDef>& CursorDefs() {
    static const std::map<QString, TCursorDef> defs = {
        {QStringLiteral("CURHANDFLAT"), {QPoint(16, 15), [](QPainter& p) { PaintHand(p, false); }}},
        {QStringLiteral("CURHANDGRAB"), {QPoint(16, 16), [](QPainter& p) { PaintHand(p, true); }}},
        {QStringLiteral("CURZOOM"),
         {QPoint(12, 12),
          [](QPainter& p) {
              p.setPen(QPen(Qt::black, 5, Qt::SolidLine, Qt::RoundCap));
              p.drawLine(QPointF(19, 19), QPointF(27, 27));
              p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
              p.drawLine(QPointF(19.5, 19.5), QPointF(26.5, 26.5));
              p.setPen(QPen(Qt::black, 1.6));
              p.setBrush(QColor(255, 255, 255, 200));
              p.drawEllipse(QPointF(12, 12), 8.5, 8.5);
              p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
              p.drawLine(QPointF(12, 8), QPointF(12, 16));
              p.drawLine(QPointF(8, 12), QPointF(16, 12));
          }}},
        {QStringLiteral("CURNEXT"),
         {QPoint(4, 4),
          [](QPainter& p) {
              // the arrow pointer with a next/previous badge
              QPolygonF arrow;
              arrow << QPointF(4, 4) << QPointF(4, 21) << QPointF(8.5, 17) << QPointF(11.5, 23.5) << QPointF(14, 22.3)
                    << QPointF(11.2, 16) << QPointF(17, 16);
              p.setPen(QPen(Qt::white, 1.4));
              p.setBrush(Qt::black);
              p.drawPolygon(arrow);
              p.setPen(QPen(Qt::black, 1.2));
              p.setBrush(Qt::white);
              p.drawRoundedRect(QRectF(14.5, 19.5, 16, 10), 3, 3);
              p.setPen(Qt::NoPen);
              p.setBrush(Qt::black);
              p.drawPolygon(QPolygonF() << QPointF(16.5, 24.5) << QPointF(21, 21.5) << QPointF(21, 27.5));
              p.drawPolygon(QPolygonF() << QPointF(28.5, 24.5) << QPointF(24, 21.5) << QPointF(24, 27.5));
          }}},
    };
    return defs;
}

}  // namespace

const std::vector<int>& CommonImageIndices() {
    static const std::vector<int> indices = [] {
        std::vector<int> v;
        for (const auto& [index, fn] : Painters()) v.push_back(index);
        return v;
    }();
    return indices;
}

bool HasCommonImage(int index) { return Painters().count(index) != 0; }

QPixmap CommonImage(int index, int size, qreal dpr) {
    auto it = Painters().find(index);
    if (it == Painters().end() || size <= 0) return {};
    if (dpr <= 0) dpr = 1;
    QString key = CacheKey(QStringLiteral("ci%1").arg(index), size, dpr);
    auto& cache = PixmapCache();
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) return *found;
    const TPainterFn& fn = it->second;
    QPixmap pm = PaintPixmap(QSize(size, size), dpr, [&](QPainter& p) {
        p.scale(size / 16.0, size / 16.0);
        fn(p);
    });
    cache.insert(key, pm);
    return pm;
}

void DrawCommonImage(QPainter& p, int x, int y, int index, int size) {
    qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    QPixmap pm = CommonImage(index, size, dpr);
    if (!pm.isNull()) p.drawPixmap(x, y, pm);
}

QSize NamedBitmapSize(const QString& name) {
    if (name == QLatin1String("PTN_OPEN") || name == QLatin1String("PTN_CLOSE")) return QSize(16, 16);
    if (name.startsWith(QLatin1String("DirectAlbum"))) return QSize(89, 17);
    if (name.startsWith(QLatin1String("DirectSlide"))) return QSize(109, 17);
    return {};
}

QPixmap NamedBitmap(const QString& name, qreal dpr) {
    QSize size = NamedBitmapSize(name);
    if (size.isEmpty()) return {};
    if (dpr <= 0) dpr = 1;
    if (name.startsWith(QLatin1String("PTN_"))) {
        // the open/close glyph of a frame's title bar: a chevron in a round well
        const bool open = name == QLatin1String("PTN_OPEN");
        QString key = CacheKey(name, 0, dpr);
        auto& cache = PixmapCache();
        auto found = cache.constFind(key);
        if (found != cache.constEnd()) return *found;
        QPixmap pm = PaintPixmap(size, dpr, [&](QPainter& p) {
            p.setPen(InkPen(0.8));
            p.setBrush(kPaper);
            p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
            p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            QPainterPath chevron;  // open points down (the body will show), close points up
            const qreal dir = open ? 1.0 : -1.0;
            chevron.moveTo(5, 8 - 1.6 * dir);
            chevron.lineTo(8, 8 + 1.6 * dir);
            chevron.lineTo(11, 8 - 1.6 * dir);
            p.drawPath(chevron);
        });
        cache.insert(key, pm);
        return pm;
    }
    int state;
    if (name.endsWith(QLatin1String("Normal"))) state = 0;
    else if (name.endsWith(QLatin1String("Hot"))) state = 1;
    else if (name.endsWith(QLatin1String("Down"))) state = 2;
    else return {};
    QString key = CacheKey(name, 0, dpr);
    auto& cache = PixmapCache();
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) return *found;
    bool slide = name.startsWith(QLatin1String("DirectSlide"));
    QPixmap pm = PaintPixmap(size, dpr, [&](QPainter& p) { PaintDirectButton(p, size, slide, state); });
    cache.insert(key, pm);
    return pm;
}

QPixmap CommonCursorPixmap(const QString& name, qreal dpr) {
    auto it = CursorDefs().find(name);
    if (it == CursorDefs().end()) return {};
    return PaintPixmap(QSize(32, 32), dpr, it->second.Paint);
}

QCursor CommonCursor(const QString& name) {
    auto it = CursorDefs().find(name);
    if (it == CursorDefs().end()) return QCursor(Qt::ArrowCursor);
    // cursors are made at ratio 2 where the screens ask for it; Qt scales the hot spot
    QPixmap pm = CommonCursorPixmap(name, 1.0);
    return QCursor(pm, it->second.HotSpot.x(), it->second.HotSpot.y());
}

QImage CommonImageSheet(qreal dpr) {
    const auto& indices = CommonImageIndices();
    const int cols = 6, cellW = 92, cellH = 44;
    int iconRows = (static_cast<int>(indices.size()) + cols - 1) / cols;
    const QStringList named = {"DirectAlbumNormal", "DirectAlbumHot", "DirectAlbumDown",
                               "DirectSlideNormal", "DirectSlideHot", "DirectSlideDown"};
    const QStringList cursors = {"CURHANDFLAT", "CURHANDGRAB", "CURZOOM", "CURNEXT"};
    QSize logical(cols * cellW + 8, iconRows * cellH + 2 * 26 + 48 + 8);
    QImage sheet(QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr)), QImage::Format_ARGB32_Premultiplied);
    sheet.setDevicePixelRatio(dpr);
    sheet.fill(QColor(0xf0, 0xf2, 0xf5));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f = UiFont(8);
    f.setPixelSize(10);
    p.setFont(f);
    for (size_t i = 0; i < indices.size(); ++i) {
        int x = 4 + static_cast<int>(i % cols) * cellW, y = 4 + static_cast<int>(i / cols) * cellH;
        p.drawPixmap(x + 2, y + 2, CommonImage(indices[i], 16, dpr));
        p.drawPixmap(x + 24, y + 2, CommonImage(indices[i], 32, dpr));
        p.setPen(QColor(0x33, 0x3a, 0x44));
        p.drawText(QRect(x, y + 20, 22, 14), Qt::AlignCenter, QString::number(indices[i]));
    }
    int y = 4 + iconRows * cellH;
    for (int i = 0; i < named.size(); ++i) {
        int x = 4 + (i % 3) * 118;
        p.drawPixmap(x, y + (i / 3) * 26, NamedBitmap(named[i], dpr));
    }
    y += 2 * 26;
    p.fillRect(QRect(4, y, 4 * 48, 40), QColor(0x80, 0x88, 0x90));
    for (int i = 0; i < cursors.size(); ++i) p.drawPixmap(8 + i * 48, y + 4, CommonCursorPixmap(cursors[i], dpr));
    return sheet;
}

}  // namespace fv
