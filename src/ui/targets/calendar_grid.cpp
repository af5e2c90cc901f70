#include "ui/targets/calendar_grid.h"

#include <QDate>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include "platform/datetime.h"
#include "ui/common_images.h"

namespace fv {

namespace {
const QColor kSundayColour(255, 0, 0);
const QColor kSaturdayColour(0, 0, 255);
const QColor kPhotoDayColour(240, 238, 225);
const QColor kPhotoFrameColour(255, 128, 0);
const QColor kDropFrameColour(0, 0, 255);
const QColor kCountBarColour(166, 202, 240);

QColor ColumnColour(int col, const QPalette& pal) {
    if (col == 0) return kSundayColour;
    if (col == 6) return kSaturdayColour;
    return pal.color(QPalette::Text);
}
}  // namespace

TCalendarGrid::TCalendarGrid(QWidget* parent) : QWidget(parent) {
    setObjectName("CalendarGrid1");
    setFocusPolicy(Qt::StrongFocus);
    // the grid opens on today; the clock is the program's one clock, which tests set
    const TDateTimeParts today = DecodeDateTime(Now());
    FYear = today.Year;
    FMonth = today.Month;
    FDay = today.Day;
}

int TCalendarGrid::Offset() const {
    // d: the weekday of the first day, 1 Sunday .. 7 Saturday
    const int d = QDate(FYear, FMonth, 1).dayOfWeek() % 7 + 1;
    const int w = (d - FStartOfWeek + 7) % 7;
    return w == 0 ? -5 : 2 - w;
}

int TCalendarGrid::DayAt(int col, int row) const {
    if (col < 0 || col > 6 || row < 1 || row > 6) return 0;
    const int day = col + Offset() + 7 * (row - 1);
    return day >= 1 && day <= DaysInMonth(FYear, FMonth) ? day : 0;
}

bool TCalendarGrid::CellOfDay(int day, int& col, int& row) const {
    if (day < 1 || day > DaysInMonth(FYear, FMonth)) return false;
    const int index = day - Offset();  // col + 7 * (row - 1)
    col = ((index % 7) + 7) % 7;
    row = (index - col) / 7 + 1;
    return row >= 1 && row <= 6;
}

QRect TCalendarGrid::CellRect(int col, int row) const {
    const int w = width(), h = height();
    const int x0 = col * w / 7, x1 = (col + 1) * w / 7;
    const int y0 = row * h / 7, y1 = (row + 1) * h / 7;
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

bool TCalendarGrid::CellAt(QPoint pos, int& col, int& row) const {
    if (!rect().contains(pos) || width() <= 0 || height() <= 0) return false;
    col = qBound(0, pos.x() * 7 / width(), 6);
    row = qBound(0, pos.y() * 7 / height(), 6);
    return true;
}

void TCalendarGrid::SetStartOfWeek(int day) {
    if (day < 0 || day > 6 || day == FStartOfWeek) return;
    FStartOfWeek = day;
    update();
}

void TCalendarGrid::Changed() {
    update();
    emit changed();
}

void TCalendarGrid::SetYear(int year) { SetDate(year, FMonth, FDay); }
void TCalendarGrid::SetMonth(int month) { SetDate(FYear, month, FDay); }
void TCalendarGrid::SetDay(int day) {
    if (day < 1 || day > DaysInMonth(FYear, FMonth)) return;
    SetDate(FYear, FMonth, day);
}

void TCalendarGrid::SetDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return;
    day = qMin(day, DaysInMonth(year, month));  // 31 March to February keeps to its last day
    if (year == FYear && month == FMonth && day == FDay) return;
    FYear = year;
    FMonth = month;
    FDay = day;
    Changed();
}

void TCalendarGrid::ChooseDay(int day) {
    if (day < 1 || day > DaysInMonth(FYear, FMonth)) return;
    // a day the user picks is always a choice, also the day already marked: the catalog goes back to it
    if (day == FDay) Changed();
    else SetDate(FYear, FMonth, day);
}

void TCalendarGrid::RepaintDay(int day) {
    int col, row;
    if (CellOfDay(day, col, row)) update(CellRect(col, row));
}

void TCalendarGrid::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(e->rect(), pal.color(QPalette::Base));
    const QLocale locale;
    for (int col = 0; col < 7; ++col) {
        // Qt numbers the weekdays 1 Monday .. 7 Sunday
        const int weekday = (FStartOfWeek + col + 6) % 7 + 1;
        const QRect cell = CellRect(col, 0);
        if (!cell.intersects(e->rect())) continue;
        p.setPen(ColumnColour(col, pal));
        p.drawText(cell, Qt::AlignCenter, locale.dayName(weekday, QLocale::ShortFormat));
    }
    int selCol = -1, selRow = -1;
    CellOfDay(FDay, selCol, selRow);
    for (int row = 1; row < 7; ++row) {
        for (int col = 0; col < 7; ++col) {
            const QRect cell = CellRect(col, row);
            if (!cell.intersects(e->rect())) continue;
            const int day = DayAt(col, row);
            if (day == 0) continue;
            const bool selected = col == selCol && row == selRow;
            if (FDrawDay) {
                p.save();
                FDrawDay(p, cell, day, selected);
                p.restore();
            } else {
                if (selected) p.fillRect(cell, pal.color(QPalette::Highlight));
                p.setPen(selected ? pal.color(QPalette::HighlightedText) : ColumnColour(col, pal));
                p.drawText(cell, Qt::AlignCenter, QString::number(day));
            }
            if (selected && hasFocus()) {
                QStyleOptionFocusRect opt;
                opt.initFrom(this);
                opt.rect = cell.adjusted(1, 1, -1, -1);
                style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
            }
        }
    }
}

void TCalendarGrid::mousePressEvent(QMouseEvent* e) {
    if (FReadOnly || e->button() != Qt::LeftButton) return;
    int col, row;
    if (!CellAt(e->position().toPoint(), col, row)) return;
    const int day = DayAt(col, row);
    if (day != 0) ChooseDay(day);  // empty cells and the weekday row cannot be chosen
}

void TCalendarGrid::keyPressEvent(QKeyEvent* e) {
    if (FReadOnly) {
        QWidget::keyPressEvent(e);
        return;
    }
    const int last = DaysInMonth(FYear, FMonth);
    int day = FDay;
    switch (e->key()) {
        case Qt::Key_Left: day -= 1; break;
        case Qt::Key_Right: day += 1; break;
        case Qt::Key_Up: day -= 7; break;
        case Qt::Key_Down: day += 7; break;
        case Qt::Key_Home: day = 1; break;
        case Qt::Key_End: day = last; break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space: ChooseDay(FDay); return;
        default: QWidget::keyPressEvent(e); return;
    }
    if (day >= 1 && day <= last) SetDay(day);
}

void DrawCalendarDayCell(QPainter& p, const QRect& cell, int day, int column, bool selected, int photoCount,
                         bool hasNew, bool dropHover) {
    const QPalette pal;
    const QRect inner = cell.adjusted(0, 0, -1, -1);
    if (selected) p.fillRect(cell, pal.color(QPalette::Highlight));
    else if (photoCount > 0) p.fillRect(cell, kPhotoDayColour);
    if (photoCount > 0) {
        const int bar = cell.width() * qMin(photoCount, 100) / 100;
        p.fillRect(QRect(cell.left(), cell.bottom() - 5, bar, 6), kCountBarColour);
    }
    if (dropHover) {
        p.setPen(QPen(kDropFrameColour, 1));
        p.drawRect(inner);
    } else if (photoCount > 0) {
        p.setPen(QPen(kPhotoFrameColour, 1));
        p.drawRect(inner);
    }
    QFont f = p.font();
    f.setBold(photoCount > 0);
    p.setFont(f);
    p.setPen(selected ? pal.color(QPalette::HighlightedText) : ColumnColour(column, pal));
    p.drawText(cell, Qt::AlignCenter, QString::number(day));
    if (hasNew && HasCommonImage(ciNewPhotos)) {
        const int size = qMin(16, qMax(8, cell.height() / 2));
        DrawCommonImage(p, cell.right() - size, cell.top() + 1, ciNewPhotos, size);
    }
}

}  // namespace fv
