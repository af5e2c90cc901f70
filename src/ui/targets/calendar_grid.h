#pragma once
// The month grid of the calendar frame: 7 x 7 cells, weekday names in row 0, the days of one
// month in rows 1 to 6, week starting on Sunday. Painted in one widget; the calendar frame may
// draw the day cells itself (photo counts, new photos, drop hover) through a drawing callback.
#include <QWidget>
#include <functional>

namespace fv {

class TCalendarGrid : public QWidget {
    Q_OBJECT
public:
    explicit TCalendarGrid(QWidget* parent = nullptr);

    int Year() const { return FYear; }
    int Month() const { return FMonth; }
    int Day() const { return FDay; }
    // each change recomputes the layout, moves the selection to the date's cell and raises changed();
    // out-of-range values are ignored, a day beyond a shorter month is kept inside it
    void SetYear(int year);
    void SetMonth(int month);
    void SetDay(int day);
    void SetDate(int year, int month, int day);
    // the user's choice of a day of the shown month (click, Enter, Space): raises changed() even when
    // the day is the one already chosen
    void ChooseDay(int day);

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool on) { FReadOnly = on; }
    // 0 Sunday .. 6 Saturday
    int StartOfWeek() const { return FStartOfWeek; }
    void SetStartOfWeek(int day);

    // Layout algebra: the day a cell shows (0 = empty), and the cell of a day
    int DayAt(int col, int row) const;
    bool CellOfDay(int day, int& col, int& row) const;
    // cell rectangles: each column a seventh of the width, each row a seventh of the height
    QRect CellRect(int col, int row) const;
    // the cell under a point; false outside the grid
    bool CellAt(QPoint pos, int& col, int& row) const;
    // repaints one day of the shown month alone (photo counts changed)
    void RepaintDay(int day);

    // Draws a day cell instead of the plain text; called with the cell, the day and whether it is selected.
    using TDrawDay = std::function<void(QPainter& p, const QRect& cell, int day, bool selected)>;
    void SetDrawDay(TDrawDay fn) {
        FDrawDay = std::move(fn);
        update();
    }

signals:
    void changed();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    QSize sizeHint() const override { return {7 * 28, 7 * 20}; }

private:
    int Offset() const;
    void Changed();
    int FYear, FMonth, FDay;
    int FStartOfWeek = 0;
    bool FReadOnly = false;
    TDrawDay FDrawDay;
};

// The calendar frame's drawing of a day cell: bold on a light ground with an orange frame when the day
// has photos (a blue frame while a drop hovers), a light-blue bar along the bottom as wide as the photo
// count in percent of the cell (full from 100 photos), and the "new" mark in the top right corner.
void DrawCalendarDayCell(QPainter& p, const QRect& cell, int day, int column, bool selected, int photoCount,
                         bool hasNew, bool dropHover);

}  // namespace fv
