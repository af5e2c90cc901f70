#include "ui/grid/catalog_grid_layout.h"

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

namespace {

// dateOf(i): the shooting date of sorted item i
template <class TDateOf>
void LayCells(const std::vector<TCatalogItem*>& sorted, TDateOf dateOf, bool grouping, bool bandOnFirstRow, int columns,
              std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand, std::vector<uint32_t>* cellOfSorted) {
    columns = std::max(1, columns);
    cells.clear();
    rowBand.clear();
    if (cellOfSorted) cellOfSorted->resize(sorted.size());
    if (!grouping) {
        cells = sorted;
        if (cellOfSorted)
            for (size_t i = 0; i < sorted.size(); ++i) (*cellOfSorted)[i] = static_cast<uint32_t>(i);
        size_t rows = std::max<size_t>(1, (cells.size() + columns - 1) / columns);
        rowBand.assign(rows, 0);
        rowBand[0] = bandOnFirstRow ? 1 : 0;
        return;
    }
    cells.reserve(sorted.size() + sorted.size() / 4);
    bool first = true;
    int64_t day = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        int64_t d = ItemDay(dateOf(i));
        if (first || d != day) {
            // pad the previous day's last row and start a band row
            while (cells.size() % columns) cells.push_back(nullptr);
            rowBand.resize(cells.size() / columns + 1, 0);
            rowBand[cells.size() / columns] = 1;
            day = d;
            first = false;
        }
        if (cellOfSorted) (*cellOfSorted)[i] = static_cast<uint32_t>(cells.size());
        cells.push_back(sorted[i]);
    }
    size_t rows = std::max<size_t>(1, (cells.size() + columns - 1) / columns);
    rowBand.resize(rows, 0);
}

}  // namespace

void BuildGridCells(const std::vector<TCatalogItem*>& sorted, bool grouping, bool bandOnFirstRow, int columns,
                    std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand) {
    LayCells(sorted, [&](size_t i) { return sorted[i]->GetShootingDate(); }, grouping, bandOnFirstRow, columns, cells,
             rowBand, nullptr);
}

void BuildGridCells(const std::vector<TCatalogItem*>& sorted, const std::vector<TDateTime>& dates, bool grouping,
                    bool bandOnFirstRow, int columns, std::vector<TCatalogItem*>& cells, std::vector<uint8_t>& rowBand,
                    std::vector<uint32_t>& cellOfSorted) {
    if (dates.size() != sorted.size()) {
        LayCells(sorted, [&](size_t i) { return sorted[i]->GetShootingDate(); }, grouping, bandOnFirstRow, columns,
                 cells, rowBand, &cellOfSorted);
        return;
    }
    LayCells(sorted, [&](size_t i) { return dates[i]; }, grouping, bandOnFirstRow, columns, cells, rowBand,
             &cellOfSorted);
}

}  // namespace fv
