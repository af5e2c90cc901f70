#pragma once
// The catalog grid's geometry, free of widgets: cell sizes from the thumbnail size and the
// info lines, columns from the client width, and the cell list with day groups (each day
// starts a new row under its own title band).
#include <cstdint>
#include <vector>

#include "platform/datetime.h"

namespace fv {

class TCatalogItem;

constexpr int kTitleBandHeight = 24;

struct TGridGeometry {
    int Thumb = 80;          // d: S, or S/2 with half-size thumbnails
    int ThumbBox = 84;       // side of the thumbnail box, d + 4*bx
    int ThumbBoxTop = 8;     // 8*by inside the cell
    int InfoWidth = 80;      // d
    int InfoHeight = 0;      // lines + 4*by, at least 22 when any line is enabled; 0 without lines
    int InfoTop = 0;         // below the thumbnail box, 2*by
    int ColumnWidth = 100;   // d + 20*bx, before the client width is shared out
    int RowHeight = 100;     // d + info + 20*by, without a band
};

// lineHeights: the measured height of the enabled info lines (0 when none)
TGridGeometry ComputeGridGeometry(int thumbSize, bool halfSize, int lineHeights, int bx = 1, int by = 1);

struct TGridColumns {
    int Count = 1;
    int Width = 1;  // every column; the leftmost Extra columns are one pixel wider
    int Extra = 0;
    int Left(int column) const { return column * Width + (column < Extra ? column : Extra); }
    int WidthOf(int column) const { return Width + (column < Extra ? 1 : 0); }
};
TGridColumns ComputeGridColumns(int clientWidth, int columnWidth);

// the whole day of a shooting date
inline int64_t ItemDay(TDateTime shootingDate) { return static_cast<int64_t>(shootingDate >= 0 ? shootingDate : shootingDate - 0.999999999); }

// Lays sorted items into cells. With grouping, a day's last row is padded with empty cells
// (null) and every day's first row has a band; without grouping only row 0 has one, and only
// when bandOnFirstRow. rowBand gets one flag per row (at least one row).
void BuildGridCells(const std::vector<TCatalogItem*>& sorted, bool grouping, bool bandOnFirstRow, int columns,
                    std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand);
// The same from the shooting dates the items were sorted by (one per item; the items are not
// read), filling also the cell of each sorted item.
void BuildGridCells(const std::vector<TCatalogItem*>& sorted, const std::vector<TDateTime>& dates, bool grouping,
                    bool bandOnFirstRow, int columns, std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand,
                    std::vector<uint32_t>& cellOfSorted);

}  // namespace fv
