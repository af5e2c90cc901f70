// The catalog grid's painting: the rows on screen, their title bands with the direct buttons,
// and each cell with its picture (or type icon), info box, hover buttons, marks and focus frame.
#include <QHash>
#include <QIcon>
#include <QLinearGradient>
#include <QMimeDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <qdrawutil.h>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "thumbs/catalog_image_cache.h"
#include "image/transform.h"
#include "library/album.h"
#include "library/catalog_item.h"
#include "library/item_ops.h"
#include "platform/stall_activity.h"
#include "ui/grid/catalog_grid.h"
#include "ui/common_images.h"
#include "ui/skin/ui_fonts.h"

namespace fv {

namespace {

// colours are given as the platform's blue-green-red integers
QColor Bgr(uint32_t v) { return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff); }

const QColor kFavouriteHighlight = Bgr(16776960);
const QColor kSelectionInactive = Bgr(12632256);
const QColor kTrayAlbumCell = Bgr(9821695);
const QColor kEmptyTextColour = Bgr(8421504);

QColor TrayStateColour(int state, bool& has) {
    has = true;
    switch (state) {
        case 1: return Bgr(14215660);                          // waiting
        case 2: case 3: case 4: return Bgr(2012671);           // preparing, prepared, adding
        case 5: return Bgr(9821695);                           // added
        case 6: return Bgr(7771135);                           // error
        default: has = false; return {};
    }
}


// the shooting day as the band shows it
QString DayText(TDateTime date) {
    TDateTimeParts p = DecodeDateTime(date);
    static const char* const weekdays[] = {"日曜日", "月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日"};
    int wd = std::clamp(p.DayOfWeek, 0, 6);
    return QStringLiteral("%1年%2月%3日 (%4)").arg(p.Year).arg(p.Month).arg(p.Day).arg(QString::fromUtf8(weekdays[wd]));
}

// the type icon of a file name, by its extension only (no disk access while painting)
QPixmap TypeIcon(const std::string& fileName, int size, qreal dpr) {
    static QHash<QString, QPixmap> icons;
    QString name = QString::fromStdString(fileName);
    QString ext = name.section(QLatin1Char('.'), -1).toLower();
    QString key = ext + QLatin1Char('/') + QString::number(size) + QLatin1Char('@') + QString::number(dpr);
    auto found = icons.constFind(key);
    if (found != icons.constEnd()) return *found;
    static QMimeDatabase mime;
    QMimeType type = mime.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    QPixmap pm;
    // a theme that has the icon only smaller than the device size would have it enlarged and
    // blurred: the page drawn below is sharp at any ratio instead
    const QSize device(static_cast<int>(std::ceil(size * dpr)), static_cast<int>(std::ceil(size * dpr)));
    if (!icon.isNull() && icon.actualSize(device).width() >= device.width()) pm = icon.pixmap(QSize(size, size), dpr);
    if (pm.isNull()) {
        // no theme here: a page with the extension on it
        pm = QPixmap(QSize(size, size) * dpr);
        pm.setDevicePixelRatio(dpr);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF page(size * 0.18, size * 0.06, size * 0.64, size * 0.88);
        p.setPen(QPen(QColor(0x55, 0x5d, 0x68), 1));
        p.setBrush(QColor(0xfb, 0xfb, 0xf8));
        p.drawRect(page);
        p.fillRect(QRectF(page.left(), page.top() + page.height() * 0.55, page.width(), page.height() * 0.25),
                   QColor(0x3b, 0x82, 0xd6));
        QFont f = UiFont(7);
        f.setPixelSize(std::max(6, size / 5));
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(page.left(), page.top() + page.height() * 0.55, page.width(), page.height() * 0.25),
                   Qt::AlignCenter, ext.toUpper().left(4));
    }
    icons.insert(key, pm);
    return pm;
}

// The sunken and raised edges of cells and pictures as solid one-pixel fills: the same pixels
// as the style's shade panel and shade rectangle, without a pen and line rasterisation per edge
// (those were a third of the grid's painting).
void ShadePanel(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.width() < 2 || r.height() < 2) return;
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height() - 1), bottomRight);
}

// an etched (sunken) frame around a picture: a dark rectangle with a light one inside and below
void ShadeRect(QPainter& p, const QRect& r, const QColor& dark, const QColor& light) {
    if (r.width() < 4 || r.height() < 4) return;
    const int x1 = r.left(), y1 = r.top(), x2 = r.right(), y2 = r.bottom();
    p.fillRect(QRect(x1, y1, r.width() - 1, 1), dark);
    p.fillRect(QRect(x1, y2 - 1, r.width() - 1, 1), dark);
    p.fillRect(QRect(x1, y1 + 1, 1, r.height() - 3), dark);
    p.fillRect(QRect(x2 - 1, y1 + 1, 1, r.height() - 3), dark);
    p.fillRect(QRect(x1 + 1, y1 + 1, r.width() - 3, 1), light);
    p.fillRect(QRect(x1 + 1, y1 + 2, 1, r.height() - 4), light);
    p.fillRect(QRect(x1, y2, r.width(), 1), light);
    p.fillRect(QRect(x2, y1, 1, r.height() - 1), light);
}

// The grid's icons by number, kept per pixel ratio without building a text key per drawing.
void DrawIcon(QPainter& p, int x, int y, int index, int size = 16) {
    static std::unordered_map<uint64_t, QPixmap> icons;
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const uint64_t key = (static_cast<uint64_t>(index) << 32) | (static_cast<uint64_t>(size) << 16) |
                         static_cast<uint64_t>(std::lround(dpr * 100));
    auto found = icons.find(key);
    if (found == icons.end()) found = icons.emplace(key, CommonImage(index, size, dpr)).first;
    if (!found->second.isNull()) p.drawPixmap(x, y, found->second);
}

}  // namespace

std::string TrayStateText(int state) {
    static const char* const texts[] = {"追加予定", "追加待ち", "追加準備中", "追加準備済み", "追加中", "追加済み", "エラー"};
    return state >= 0 && state <= 6 ? texts[state] : "不明";
}

// ---------------------------------------------------------------------------------------------
// painting

void TFrameCatalogDG::paintEvent(QPaintEvent* e) {
    TStallActivity mark("GridPaint");
    if (devicePixelRatioF() != FPictureRatio) {
        // moved to a screen of another pixel ratio: the pictures in memory are of the wrong size
        const bool had = FPictureRatio != 0;
        FPictureRatio = devicePixelRatioF();
        if (had) {
            ClearThumbnails();
            FInfoPictures.clear();
            QTimer::singleShot(0, this, [this] { RequestThumbnails(false); });
        }
    }
    QPainter p(viewport());
    const QColor gridColour = palette().color(QPalette::Window);
    if (FShowEmptyText && Sorted().empty()) {
        p.fillRect(e->rect(), gridColour);
        QFont f = UiFont(16);
        p.setFont(f);
        p.setPen(kEmptyTextColour);
        p.drawText(QRect(16, 16, viewport()->width() - 16, viewport()->height() - 16), Qt::AlignLeft | Qt::AlignTop,
                   FEmptyText);
        return;
    }
    if (RowCount() == 0) {
        p.fillRect(e->rect(), gridColour);
        return;
    }
    int top = TopRow();
    int h = viewport()->height();
    const std::vector<int>& rowTop = FModel.RowTops();
    // the rows cover the width; only what lies below the last row is filled here
    int end = rowTop.back() - rowTop[top];
    if (end < h) p.fillRect(QRect(0, end, viewport()->width(), h - end).intersected(e->rect()), gridColour);
    int coveredRight = FCols.Count > 0 ? FCols.Left(FCols.Count - 1) + FCols.WidthOf(FCols.Count - 1) : 0;
    if (coveredRight < viewport()->width())
        p.fillRect(QRect(coveredRight, 0, viewport()->width() - coveredRight, h).intersected(e->rect()), gridColour);
    for (int r = top; r < RowCount(); ++r) {
        int y = rowTop[r] - rowTop[top];
        if (y >= h) break;
        int rh = rowTop[r + 1] - rowTop[r];
        QRect rowRect(0, y, viewport()->width(), rh);
        if (!rowRect.intersects(e->rect())) continue;
        const bool band = FModel.RowHasBand(r);
        if (band) DrawBand(p, r, rowRect);
        for (int c = 0; c < FCols.Count; ++c) {
            QRect cr(FCols.Left(c), y, FCols.WidthOf(c), rh);
            if (!cr.intersects(e->rect())) continue;
            DrawCell(p, r * FCols.Count + c, cr, band);
        }
    }
}

void TFrameCatalogDG::DrawBand(QPainter& p, int row, const QRect& rowRect) {
    QRect band(rowRect.left(), rowRect.top(), rowRect.width(), kTitleBandHeight);
    if (FBandStrip.width() != band.width() || FBandStrip.devicePixelRatio() != devicePixelRatioF()) {
        qreal dpr = devicePixelRatioF();
        FBandStrip = QImage(QSize(band.width(), kTitleBandHeight) * dpr, QImage::Format_RGB32);
        FBandStrip.setDevicePixelRatio(dpr);
        QPainter sp(&FBandStrip);
        QLinearGradient g(0, 0, 0, kTitleBandHeight);
        g.setColorAt(0, Bgr(10001566));
        g.setColorAt(1, Bgr(13752025));
        sp.fillRect(QRect(0, 0, band.width(), kTitleBandHeight), g);
        qDrawShadeRect(&sp, QRect(0, 0, band.width(), kTitleBandHeight), palette(), false, 1);
    }
    p.drawImage(band.topLeft(), FBandStrip);
    int icon = -1;
    if (FModel.FolderIs(fcDiskFolder)) icon = ciDiskFolder;
    else if (FModel.FolderIs(fcCalendar)) icon = ciCalendar;
    else if (FModel.AlbumType() == atTags) icon = ciTag;
    else if (FModel.AlbumType() == atMirabelo) icon = ciSiblingAlbum;
    if (icon >= 0) DrawIcon(p, band.left() + 4, band.top() + 4, icon, 16);
    QString text = BandText(row);
    QFont f = font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    int tw = QFontMetrics(f).horizontalAdvance(text);
    FTitleWidth[row] = static_cast<uint16_t>(std::min(tw, 65535));
    p.drawText(QRect(band.left() + 24, band.top(), band.width() - 24, kTitleBandHeight), Qt::AlignVCenter | Qt::AlignLeft, text);
    if (FCreateMode) {
        for (int which = 0; which < 2; ++which) {
            QRect b = DirectButtonRect(row, which);
            int id = row * 2 + which;
            const char* state = FPressedButton == id ? "Down" : (FHotButton == id ? "Hot" : "Normal");
            QString name = QString::fromLatin1(which == 0 ? "DirectAlbum" : "DirectSlide") + QLatin1String(state);
            p.drawPixmap(b.topLeft(), NamedBitmap(name, devicePixelRatioF()));
        }
    }
}

QString TFrameCatalogDG::BandText(int row) const {
    if (!RowHasBand(row)) return {};
    if (FModel.ShownOrder().GroupByDay) {
        for (int c = 0; c < FCols.Count; ++c)
            if (TCatalogItem* it = FModel.CellItem(row * FCols.Count + c)) return DayText(it->GetShootingDate());
        return {};
    }
    return Folder() ? QString::fromStdString(Folder()->GetCaption()) : QString();
}

QRect TFrameCatalogDG::DirectButtonRect(int row, int which) const {
    if (!RowHasBand(row) || !FCreateMode) return {};
    if (row >= static_cast<int>(FTitleWidth.size())) return {};
    int tw = FTitleWidth[row];
    if (tw == 0) {
        QFont f = font();
        f.setBold(true);
        tw = QFontMetrics(f).horizontalAdvance(BandText(row));
        FTitleWidth[row] = static_cast<uint16_t>(std::min(tw, 65535));
    }
    int y = FModel.RowTops()[row] - FModel.RowTops()[TopRow()];
    int x = 24 + tw + (which == 0 ? 12 : 109);
    return which == 0 ? QRect(x, y + 4, 89, 17) : QRect(x, y + 4, 109, 17);
}

void TFrameCatalogDG::DrawCell(QPainter& p, int cell, const QRect& r, bool rowBand) {
    ++FPaintedCells;
    QRect body = rowBand ? r.adjusted(0, kTitleBandHeight, 0, 0) : r;
    TCatalogItem* item = FModel.CellItem(cell);
    if (!item) {
        p.fillRect(body, palette().color(QPalette::Window));
        return;
    }
    bool error = IsItemGone(item);
    bool selected = IsSelected(item);
    int albumType = FModel.AlbumType();
    QColor bg;
    bool hasTray = false;
    QColor tray = TrayStateColour(item->GetTrayByte(), hasTray);
    if (FFavouriteHighlight && item->IsMarked()) bg = kFavouriteHighlight;
    else if (selected) bg = hasFocus() ? palette().color(QPalette::Highlight) : kSelectionInactive;
    else if (hasTray) bg = tray;
    else if (albumType == atTray) bg = kTrayAlbumCell;
    else bg = palette().color(QPalette::Button);
    const QPalette& pal = palette();

    // thumbnail, or the type icon
    QRect box(body.left() + (body.width() - FGeom.ThumbBox) / 2, body.top() + FGeom.ThumbBoxTop, FGeom.ThumbBox,
              FGeom.ThumbBox);
    const QImage* picture = FThumbs.Touch(item);  // drawn: the last to go
    const bool hasPicture = picture && !picture->isNull();
    QRect pic;
    if (hasPicture) {
        // the picture's size on screen (it carries its pixel ratio)
        const QImage& img = *picture;
        QSize s = (QSizeF(img.size()) / img.devicePixelRatio()).toSize().expandedTo(QSize(1, 1));
        QRect inner = box.adjusted(2, 2, -2, -2);
        if (s.width() > inner.width() || s.height() > inner.height() ||
            (s.width() < inner.width() && s.height() < inner.height()))
            s = s.scaled(inner.size(), Qt::KeepAspectRatio);
        pic = QRect(box.left() + (box.width() - s.width() + 1) / 2, box.top() + (box.height() - s.height() + 1) / 2,
                    s.width(), s.height());
    }
    const QRect info = InfoRect(body);
    // the cell colour around the framed picture and the info box, which cover their own pixels
    // (filling is most of what painting a cell costs)
    if (pic.isEmpty() && info.isEmpty()) {
        p.fillRect(body, bg);
    } else {
        QRegion around(body);
        if (!pic.isEmpty()) around -= pic.adjusted(-1, -1, 1, 1);
        if (!info.isEmpty()) around -= info;
        for (const QRect& part : around) p.fillRect(part, bg);
    }
    ShadePanel(p, body, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    if (hasPicture) {
        const QImage& img = *picture;
        if (QSizeF(pic.size()) * img.devicePixelRatio() == QSizeF(img.size())) {
            p.drawImage(pic.topLeft(), img);  // 1:1 in device pixels
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(pic, img);
        }
        ShadeRect(p, pic.adjusted(-1, -1, 1, 1), pal.color(QPalette::Dark), pal.color(QPalette::Light));
    } else if (!PictureComing(item, error)) {
        int is = 32;
        QPixmap icon = TypeIcon(item->GetFileName(), is, devicePixelRatioF());
        p.drawPixmap(box.left() + (box.width() - is) / 2, box.top() + (box.height() - is) / 2, icon);
    }
    if (!info.isEmpty()) {
        // the info box is drawn once and kept: laying out text is the slowest step of a cell
        auto cached = FInfoPictures.find(item);
        if (cached == FInfoPictures.end() || cached->second.size() != info.size() * devicePixelRatioF()) {
            // the drawn boxes get a quarter of the picture budget
            const double boxBytes = 4.0 * info.width() * info.height() * devicePixelRatioF() * devicePixelRatioF();
            if ((FInfoPictures.size() + 1) * boxBytes > ThumbnailBudget() / 4.0) FInfoPictures.clear();
            QPixmap pm(info.size() * devicePixelRatioF());
            pm.setDevicePixelRatio(devicePixelRatioF());
            QPainter ip(&pm);
            DrawInfo(ip, item, QRect(QPoint(0, 0), info.size()), error);
            ip.end();
            cached = FInfoPictures.insert_or_assign(item, pm).first;
        }
        p.drawPixmap(info.topLeft(), cached->second);
        if (cell == FHoverCell && !FHoverButtons.empty()) {
            for (int s = 0; s < static_cast<int>(FHoverButtons.size()); ++s) {
                QRect sr = HoverSlotRect(cell, s);
                p.fillRect(sr, palette().color(QPalette::Button));
                if (s == FPressedSlot) qDrawShadePanel(&p, sr, palette(), true, 1);
                else if (s == FHoverSlot) qDrawShadePanel(&p, sr, palette(), false, 1);
                DrawIcon(p, sr.left() + (sr.width() - 16) / 2, sr.top() + (sr.height() - 16) / 2,
                                FHoverButtons[s].ImageIndex, 16);
            }
        }
    }
    if (cell == FModel.FocusCell() && hasFocus()) DrawFocusMark(p, body);
    // marks over everything else, so that no box hides them
    DrawMarks(p, item, body, info);
}

void TFrameCatalogDG::DrawFocusMark(QPainter& p, const QRect& body) {
    // A frame, where the selection is a fill: two points of the text colour with a point of
    // the base colour inside, so that it shows on the selection colour and on the cell colour
    // alike. Whole points are whole device pixels at any ratio, so it stays sharp.
    const QColor outer = palette().color(QPalette::WindowText), inner = palette().color(QPalette::Base);
    const QRect r = body.adjusted(2, 2, -2, -2);
    auto frame = [&](const QRect& f, int w, const QColor& c) {
        p.fillRect(QRect(f.left(), f.top(), f.width(), w), c);
        p.fillRect(QRect(f.left(), f.bottom() - w + 1, f.width(), w), c);
        p.fillRect(QRect(f.left(), f.top() + w, w, f.height() - 2 * w), c);
        p.fillRect(QRect(f.right() - w + 1, f.top() + w, w, f.height() - 2 * w), c);
    };
    frame(r, 2, outer);
    frame(r.adjusted(2, 2, -2, -2), 1, inner);
}

std::vector<TFrameCatalogDG::TCellMark> TFrameCatalogDG::MarkLayout(TCatalogItem* item, const QRect& body,
                                                                   const QRect& info) const {
    // Everything in points, so that the layout is the same at any pixel ratio. The marks stay
    // inside the cell and above its info box: the stars along the top, the other marks down the
    // left edge (a further column when one is full), read-only and comment down the right edge,
    // and the print reservations in a row just above the info box.
    constexpr int kIcon = 16;
    std::vector<TCellMark> marks;
    const QRect area = body.adjusted(2, 2, -2, -2);
    const int bottom = info.isEmpty() ? area.bottom() : std::min(area.bottom(), info.top() - 1);
    const int prints = item->GetPrintReservation();
    const int printTop = bottom - kIcon + 1;
    int y = area.top();
    const int stars = item->GetRating();
    if (stars > 0) {
        marks.push_back({ciFavourite, QRect(area.left(), y, kIcon + (stars - 1) * 8, kIcon), stars, 0});
        y += kIcon;
    }
    const int columnTop = y;
    const int columnBottom = prints > 0 ? printTop - 1 : bottom;
    int x = area.left();
    auto mark = [&](bool on, int index) {
        if (!on) return;
        if (y + kIcon - 1 > columnBottom && y > columnTop) {
            x += kIcon;
            y = columnTop;
        }
        marks.push_back({index, QRect(x, y, kIcon, kIcon), 0, 0});
        y += kIcon;
    };
    mark(item->CountAlbumsOfTypes(1u << 8) > 0, ciTag);
    mark(item->IsMarked(), ciFavourite);
    mark(item->HasFlag(ifDeleteReservation), ciDeleteReservation);
    mark(item->GetCorrection().Enabled != 0, ciCorrections);
    int o = item->GetOrientation();
    // the rotation state first, then the mirror states
    static const int rotationIcon[] = {-1, ciOrientationRight, ciOrientationHalf, ciOrientationLeft};
    int steps = RotationStepsOf(o);
    if (steps >= 1 && steps <= 3) mark(true, rotationIcon[steps]);
    mark(NeedsFlipVertical(o), ciOrientationFlip);
    mark(NeedsMirror(o), ciOrientationMirror);
    // right edge
    int rx = area.right() - kIcon + 1, ry = area.top();
    if (item->HasFlag(ifReadOnly)) {
        marks.push_back({ciReadOnly, QRect(rx, ry, kIcon, kIcon), 0, 0});
        ry += kIcon;
    }
    std::string comment = item->GetComment();
    if (comment.find_first_not_of(" \t\r\n") != std::string::npos) marks.push_back({ciComment, QRect(rx, ry, kIcon, kIcon), 0, 0});
    // print reservations: one mark a copy while they fit in the row, else one mark and the count
    if (prints > 0) {
        const int fit = std::max(1, area.width() / kIcon);
        if (prints <= fit) {
            for (int i = 0; i < prints; ++i)
                marks.push_back({ciPrintReservation, QRect(area.left() + i * kIcon, printTop, kIcon, kIcon), 0, 0});
        } else {
            marks.push_back({ciPrintReservation, QRect(area.left(), printTop, std::min(area.width(), 3 * kIcon), kIcon), 0,
                             prints});
        }
    }
    return marks;
}

std::vector<TFrameCatalogDG::TCellMark> TFrameCatalogDG::MarkLayoutOf(int cell) const {
    const QRect r = CellRect(cell);
    TCatalogItem* item = FModel.CellItem(cell);
    if (r.isEmpty() || !item) return {};
    const QRect body = RowHasBand(cell / FCols.Count) ? r.adjusted(0, kTitleBandHeight, 0, 0) : r;
    return MarkLayout(item, body, InfoRect(body));
}

QRect TFrameCatalogDG::InfoRect(const QRect& body) const {
    if (FGeom.InfoHeight <= 0 || !FInfoLines) return {};
    return QRect(body.left() + (body.width() - FGeom.InfoWidth) / 2, body.top() + FGeom.InfoTop, FGeom.InfoWidth,
                 FGeom.InfoHeight);
}

void TFrameCatalogDG::DrawMarks(QPainter& p, TCatalogItem* item, const QRect& body, const QRect& info) {
    for (const TCellMark& m : MarkLayout(item, body, info)) {
        if (m.Stars > 0) {
            for (int i = 0; i < m.Stars; ++i) DrawIcon(p, m.Rect.left() + i * 8, m.Rect.top(), m.Icon, 16);
            continue;
        }
        DrawIcon(p, m.Rect.left(), m.Rect.top(), m.Icon, 16);
        if (m.Count > 0) {
            // many copies: the count beside one mark
            QFont f = font();
            f.setBold(true);
            p.setFont(f);
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(m.Rect.adjusted(17, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("×%1").arg(m.Count));
        }
    }
}

QString TFrameCatalogDG::DateLine(TCatalogItem* item, bool twoLines) const {
    TDateTimeParts d = DecodeDateTime(item->GetShootingDate());
    QString date = QStringLiteral("%1/%2/%3").arg(d.Year, 4, 10, QLatin1Char('0')).arg(d.Month, 2, 10, QLatin1Char('0')).arg(d.Day, 2, 10, QLatin1Char('0'));
    if (twoLines) return date + QLatin1Char('\n') + QStringLiteral("%1:%2").arg(d.Hour).arg(d.Minute, 2, 10, QLatin1Char('0'));
    return date + QLatin1Char(' ') +
           QStringLiteral("%1:%2:%3").arg(d.Hour).arg(d.Minute, 2, 10, QLatin1Char('0')).arg(d.Second, 2, 10, QLatin1Char('0'));
}

QString TFrameCatalogDG::InfoText(TCatalogItem* item) const {
    QStringList lines;
    if (FInfoLines & gilFileName) lines << QString::fromStdString(item->GetFileName());
    if (FInfoLines & gilSecondLine) lines << QString::fromStdString(item->GetTitle());
    if (FInfoLines & gilFileSize) lines << QString::fromStdString(FormatThousands(item->GetFileSize()));
    if (FInfoLines & gilDate) {
        QFontMetrics fm(font());
        QString one = DateLine(item, false);
        lines << (fm.horizontalAdvance(one) <= FGeom.Thumb - 4 ? one : DateLine(item, true));
    }
    if (FInfoLines & gilTrayState) lines << QString::fromStdString(TrayStateText(item->GetTrayByte()));
    return lines.join(QLatin1Char('\n'));
}

void TFrameCatalogDG::DrawInfo(QPainter& p, TCatalogItem* item, const QRect& box, bool error) {
    QColor bg, fg;
    if (error) {
        bg = Bgr(255);
        fg = Bgr(65535);
    } else if (item->IsRemoteItem()) {
        bg = Bgr(15780518);
        fg = Qt::blue;
    } else if (item->HasFlag(ifThumbOutOfDate)) {
        bg = QColor(0xee, 0xee, 0xe8);
        fg = QColor(0x50, 0x50, 0x50);
    } else {
        bg = Qt::white;
        fg = Qt::black;
    }
    p.fillRect(box, bg);
    qDrawShadePanel(&p, box, palette(), true, 1);
    p.setPen(fg);
    p.setFont(font());
    QFontMetrics fm(font());
    QStringList lines = InfoText(item).split(QLatin1Char('\n'));
    QRect inner = box.adjusted(2, 2, -2, -2);
    // each line is measured once (laying out text is most of a box's cost); only a line that
    // does not fit is laid out again to be cut short
    bool wide = false;
    for (QString& l : lines) {
        l = l.trimmed();
        if (fm.horizontalAdvance(l) > inner.width()) {
            wide = true;
            l = fm.elidedText(l, Qt::ElideRight, inner.width());
        }
    }
    int y = inner.top();
    for (const QString& l : lines) {
        p.drawText(QRect(inner.left(), y, inner.width(), fm.height()), (wide ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter, l);
        y += fm.height();
    }
}

QRect TFrameCatalogDG::HoverSlotRect(int cell, int slot) const {
    QRect r = CellRect(cell);
    int n = static_cast<int>(FHoverButtons.size());
    if (r.isEmpty() || n == 0 || FGeom.InfoHeight <= 0) return {};
    int row = cell / FCols.Count;
    int top = r.top() + (RowHasBand(row) ? kTitleBandHeight : 0) + FGeom.InfoTop;
    int left = r.left() + (r.width() - FGeom.InfoWidth) / 2;
    int w = FGeom.InfoWidth / n;
    return QRect(left + slot * w, top, slot == n - 1 ? FGeom.InfoWidth - slot * w : w, FGeom.InfoHeight);
}

int TFrameCatalogDG::HoverSlotAt(int cell, QPoint pos) const {
    for (int s = 0; s < static_cast<int>(FHoverButtons.size()); ++s)
        if (HoverSlotRect(cell, s).contains(pos)) return s;
    return -1;
}

}  // namespace fv
