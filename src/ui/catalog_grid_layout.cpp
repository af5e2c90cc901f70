#include "ui/catalog_grid_layout.h"

#include <algorithm>

#include "library/catalog_item.h"

namespace fv {

TGridGeometry ComputeGridGeometry(int thumbSize, bool halfSize, int lineHeights, int bx, int by) {
    TGridGeometry g;
    g.Thumb = halfSize ? thumbSize / 2 : thumbSize;
    g.ThumbBox = g.Thumb + 4 * bx;
    g.ThumbBoxTop = 8 * by;
    g.InfoWidth = g.Thumb;
    g.InfoHeight = lineHeights > 0 ? std::max(22, lineHeights + 4 * by) : 0;
    g.InfoTop = g.ThumbBoxTop + g.ThumbBox + 2 * by;
    g.ColumnWidth = g.Thumb + 20 * bx;
    g.RowHeight = g.Thumb + g.InfoHeight + 20 * by;
    return g;
}

TGridColumns ComputeGridColumns(int clientWidth, int columnWidth) {
    TGridColumns c;
    columnWidth = std::max(1, columnWidth);
    clientWidth = std::max(0, clientWidth);
    c.Count = std::max(1, clientWidth / columnWidth);
    if (clientWidth >= columnWidth) {
        c.Width = clientWidth / c.Count;
        c.Extra = clientWidth - c.Width * c.Count;
    } else {
        c.Width = columnWidth;
        c.Extra = 0;
    }
    return c;
}

void BuildGridCells(const std::vector<TCatalogItem*>& sorted, bool grouping, bool bandOnFirstRow, int columns,
                    std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand) {
    columns = std::max(1, columns);
    cells.clear();
    rowBand.clear();
    if (!grouping) {
        cells = sorted;
        size_t rows = std::max<size_t>(1, (cells.size() + columns - 1) / columns);
        rowBand.assign(rows, 0);
        rowBand[0] = bandOnFirstRow ? 1 : 0;
        return;
    }
    cells.reserve(sorted.size() + sorted.size() / 4);
    bool first = true;
    int64_t day = 0;
    for (TCatalogItem* item : sorted) {
        int64_t d = ItemDay(item->GetShootingDate());
        if (first || d != day) {
            // pad the previous day's last row and start a band row
            while (cells.size() % columns) cells.push_back(nullptr);
            rowBand.resize(cells.size() / columns + 1, 0);
            rowBand[cells.size() / columns] = 1;
            day = d;
            first = false;
        }
        cells.push_back(item);
    }
    size_t rows = std::max<size_t>(1, (cells.size() + columns - 1) / columns);
    rowBand.resize(rows, 0);
}

}  // namespace fv
