// The catalog grid's selection, keys, mouse, hover buttons, title-band buttons and drag and drop.
#include <QApplication>
#include <QDrag>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QToolTip>
#include <QUrl>

#include "library/album.h"
#include "library/catalog_item.h"
#include "platform/file_sys.h"
#include "ui/grid/catalog_grid.h"

namespace fv {

namespace {
const QString kItemsMime = QStringLiteral("application/x-folvane-catalog-items");
}

void TFrameCatalogDG::SetFocusCell(int cell, bool shift, bool ctrl, bool keepSelection) {
    TCatalogItem* item = FModel.CellItem(cell);
    if (!item) return;
    int old = FModel.FocusCell();
    const std::vector<TCatalogItem*>& selection = FModel.Selection();
    if (shift) {
        SelectRange(FModel.AnchorCell() >= 0 ? FModel.AnchorCell() : cell, cell, ctrl);
    } else if (ctrl) {
        auto pos = std::find(selection.begin(), selection.end(), item);
        if (pos != selection.end()) {
            // toggled off: the focus goes to the item now at its place in the selection, or the last
            size_t index = static_cast<size_t>(pos - selection.begin());
            FModel.Deselect(item);
            RepaintCell(cell);
            if (!selection.empty()) {
                TCatalogItem* next = selection[std::min(index, selection.size() - 1)];
                cell = CellOf(next);
            }
        } else {
            FModel.Select(item);
        }
        FModel.SetAnchorCell(cell);
    } else if (!keepSelection) {
        if (!(selection.size() == 1 && selection[0] == item)) {
            ClearSelection();
            FModel.SetSelection({item});
        }
        FModel.SetAnchorCell(cell);
    }
    FModel.SetFocusCell(cell);
    RepaintCell(old);
    RepaintCell(cell);
    // into view; a press on a partly visible last row leaves it where it is
    const QRect r = CellRect(cell);
    if (!FPressed || r.top() >= viewport()->height() || r.bottom() >= viewport()->height() + r.height() / 2)
        ScrollCellIntoView(cell);
    if (old != FModel.FocusCell()) NotifyFocus();
}

void TFrameCatalogDG::ScrollCellIntoView(int cell) {
    if (cell < 0 || FCols.Count <= 0 || RowCount() == 0) return;
    const int row = std::min(cell / FCols.Count, RowCount() - 1);
    const int top = TopRow();
    if (row < top) {
        SetTopRow(row);
        return;
    }
    // the first top row from which the whole row fits (rows differ in height: day bands); a
    // row taller than the screen is shown from its top
    const std::vector<int>& rowTop = FModel.RowTops();
    const int bottom = rowTop[row + 1];
    const int fitTop = static_cast<int>(std::lower_bound(rowTop.begin(), rowTop.begin() + row + 1,
                                                         bottom - viewport()->height()) - rowTop.begin());
    if (top < fitTop) SetTopRow(std::min(fitTop, row));
}

void TFrameCatalogDG::SelectRange(int fromCell, int toCell, bool add) {
    if (!add) ClearSelection();
    FModel.SelectCells(fromCell, toCell, true);
    viewport()->update();
}

void TFrameCatalogDG::ClearSelection() {
    if (FModel.Selection().empty()) return;
    // a few cells are repainted one by one, many by one repaint of the whole grid
    if (FModel.SelectedCount() <= 50) {
        for (TCatalogItem* it : FModel.TakeSelection()) RepaintItem(it);
    } else {
        FModel.TakeSelection();
        ++FFullRepaints;
        viewport()->update();
    }
}

void TFrameCatalogDG::SelectAll() {
    FModel.SelectAll();
    viewport()->update();
}

void TFrameCatalogDG::SetFocusedItem(TCatalogItem* item, bool shift) {
    int cell = CellOf(item);
    if (cell < 0) return;
    SetFocusCell(cell, shift, false, false);
}

void TFrameCatalogDG::SelectByKind(int kind) {
    std::vector<TCatalogItem*> list = ItemList(kind, false);
    if (list.empty()) {
        const char* what = kind == glkSelection ? "選択"
                           : (kind == glkFavourites || kind == glkStarred) ? "☆マーク"
                           : kind == glkPrintReserved ? "印刷予約"
                           : kind == glkDeleteReserved ? "削除予約"
                                                       : "指定";
        if (FDialogs.Error) FDialogs.Error(QStringLiteral("%1された写真はありません。").arg(QString::fromUtf8(what)));
        return;
    }
    TCatalogItem* focus = FocusedItem();
    FModel.SetSelection(list);
    if (!IsSelected(focus)) {
        int c = CellOf(list.front());
        int old = FModel.FocusCell();
        FModel.SetFocusCell(c);
        FModel.SetAnchorCell(c);
        if (old != c) NotifyFocus();
        SetFocusCell(c, false, false, true);
    }
    viewport()->update();
}

void TFrameCatalogDG::ScrollToDay(TDateTime day) {
    int64_t d = ItemDay(day);
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    for (int r = 0; r < RowCount(); ++r) {
        if (!RowHasBand(r)) continue;
        size_t i = static_cast<size_t>(r) * FCols.Count;
        if (i < cells.size() && cells[i] && ItemDay(cells[i]->GetShootingDate()) == d) {
            SetTopRow(r);
            SetFocusCell(static_cast<int>(i), false, false, false);
            return;
        }
    }
    for (size_t i = 0; i < cells.size(); ++i)
        if (cells[i] && ItemDay(cells[i]->GetShootingDate()) == d) {
            SetFocusCell(static_cast<int>(i), false, false, false);
            return;
        }
}

void TFrameCatalogDG::keyPressEvent(QKeyEvent* e) {
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    if (cells.empty()) return QAbstractScrollArea::keyPressEvent(e);
    bool shift = e->modifiers() & Qt::ShiftModifier;
    int cols = FCols.Count;
    int cur = FModel.FocusCell() >= 0 ? FModel.FocusCell() : 0;
    int target = -1;
    auto photoNear = [&](int cell, int dir) {
        // the nearest photo from a cell, searching in the direction of the move
        int n = static_cast<int>(cells.size());
        cell = std::clamp(cell, 0, n - 1);
        for (int c = cell; c >= 0 && c < n; c += dir)
            if (cells[c]) return c;
        for (int c = cell; c >= 0 && c < n; c -= dir)
            if (cells[c]) return c;
        return -1;
    };
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const int page = cols * std::max(1, VisibleRowCount());
    switch (e->key()) {
        case Qt::Key_Left: target = CellOf(PrevItem(FocusedItem(), true)); break;
        case Qt::Key_Right: target = CellOf(NextItem(FocusedItem(), true)); break;
        case Qt::Key_Up: target = cur - cols >= 0 ? photoNear(cur - cols, -1) : cur; break;
        case Qt::Key_Down:
            target = cur + cols < static_cast<int>(cells.size()) ? photoNear(cur + cols, -1) : photoNear(static_cast<int>(cells.size()) - 1, -1);
            if (target >= 0 && target / cols <= cur / cols && cur / cols < RowCount() - 1) target = photoNear(cur + cols, 1);
            break;
        case Qt::Key_PageUp: target = photoNear(cur - page, 1); break;
        case Qt::Key_PageDown: target = photoNear(cur + page, -1); break;
        case Qt::Key_Home: target = photoNear(0, 1); break;
        case Qt::Key_End: target = photoNear(static_cast<int>(cells.size()) - 1, -1); break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (FocusedItem() && OnOpenItem) OnOpenItem(FocusedItem());
            return;
        case Qt::Key_Space: {
            // Space selects the focused photo as well, Ctrl+Space switches it in or out
            TCatalogItem* item = FocusedItem();
            if (!item) return;
            if (ctrl && IsSelected(item)) {
                FModel.Deselect(item);
            } else if (!IsSelected(item)) {
                FModel.Select(item);
                FModel.SetAnchorCell(FModel.FocusCell());
            }
            RepaintCell(FModel.FocusCell());
            ScrollCellIntoView(FModel.FocusCell());
            return;
        }
        case Qt::Key_Menu:
            ShowContextMenuForFocus();
            return;
        case Qt::Key_F10:
            if (!shift) return QAbstractScrollArea::keyPressEvent(e);
            ShowContextMenuForFocus();
            return;
        case Qt::Key_Delete:
            // in the main window its actions take these keys first
            Operation(0, shift ? gopDelete : gopRemove);
            return;
        case Qt::Key_F2:
            if (OnRenameFocused && FocusedItem()) OnRenameFocused(FocusedItem());
            return;
        case Qt::Key_A:
            if (ctrl) {
                SelectAll();
                return;
            }
            return QAbstractScrollArea::keyPressEvent(e);
        default: return QAbstractScrollArea::keyPressEvent(e);
    }
    if (target < 0) return;
    // without Shift a selection of several collapses to the focused photo; with Ctrl alone
    // the focus moves and the selection stays (then Ctrl+Space picks photos one by one)
    SetFocusCell(target, shift, false, ctrl && !shift);
}

void TFrameCatalogDG::ShowContextMenuForFocus() {
    // the popup opens over the focused photo, as a right click there would
    int cell = FModel.FocusCell();
    if (!FModel.CellItem(cell)) cell = -1;
    if (cell >= 0) ScrollCellIntoView(cell);
    const QRect r = cell >= 0 ? ThumbRect(cell).intersected(viewport()->rect()) : QRect();
    const QPoint inViewport = r.isEmpty() ? viewport()->rect().center() : r.center();
    const QPoint inGrid = viewport()->mapTo(this, inViewport);
    if (contextMenuPolicy() == Qt::CustomContextMenu) {
        emit customContextMenuRequested(inGrid);
        return;
    }
    QContextMenuEvent ev(QContextMenuEvent::Keyboard, inGrid, mapToGlobal(inGrid));
    QCoreApplication::sendEvent(this, &ev);
}

void TFrameCatalogDG::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    QPoint pos = e->position().toPoint();
    FPressPos = pos;
    FPressed = true;
    FPressMoved = false;
    int cell = CellAt(pos);
    if (cell < 0) return;
    int row = cell / FCols.Count;
    QRect cr = CellRect(cell);
    if (RowHasBand(row) && pos.y() < cr.top() + kTitleBandHeight) {
        // title band: its buttons, else the whole group
        for (int which = 0; which < 2; ++which)
            if (DirectButtonRect(row, which).contains(pos)) {
                FPressedButton = row * 2 + which;
                viewport()->update(DirectButtonRect(row, which));
                return;
            }
        if (e->button() != Qt::LeftButton) return;
        ClearSelection();
        int64_t day = 0;
        if (TCatalogItem* first = FModel.CellItem(row * FCols.Count)) day = ItemDay(first->GetShootingDate());
        const bool byDay = FModel.ShownOrder().GroupByDay;
        for (TCatalogItem* it : FModel.Cells()) {
            if (!it || (byDay && ItemDay(it->GetShootingDate()) != day)) continue;
            FModel.Select(it);
        }
        if (!Selection().empty()) SetFocusCell(CellOf(Selection().front()), false, false, true);
        viewport()->update();
        return;
    }
    int slot = cell == FHoverCell ? HoverSlotAt(cell, pos) : -1;
    if (slot >= 0) {
        FPressedSlot = slot;
        RepaintCell(cell);
        return;
    }
    TCatalogItem* item = FModel.CellItem(cell);
    if (!item) {
        ClearSelection();
        return;
    }
    if (e->button() != Qt::LeftButton) {
        if (!IsSelected(item)) SetFocusCell(cell, false, false, false);
        return;
    }
    if (IsSelected(item) && !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
        // kept as it is so that it can be dragged
        int old = FModel.FocusCell();
        FModel.SetFocusCell(cell);
        RepaintCell(old);
        RepaintCell(cell);
        if (old != cell) NotifyFocus();
        return;
    }
    SetFocusCell(cell, e->modifiers() & Qt::ShiftModifier, e->modifiers() & Qt::ControlModifier, false);
}

void TFrameCatalogDG::mouseMoveEvent(QMouseEvent* e) {
    QPoint pos = e->position().toPoint();
    if (FPressed && (e->buttons() & (Qt::LeftButton | Qt::RightButton)) && FPressedSlot < 0 && FPressedButton < 0) {
        QPoint d = pos - FPressPos;
        if (d.x() * d.x() + d.y() * d.y() > 100) {
            FPressMoved = true;
            if (FDragEnabled && !Selection().empty()) {
                FPressed = false;
                StartDrag();
            }
        }
        return;
    }
    int cell = CellAt(pos);
    int slot = cell >= 0 ? HoverSlotAt(cell, pos) : -1;
    if (cell != FHoverCell || slot != FHoverSlot) {
        int old = FHoverCell;
        FHoverCell = cell;
        FHoverSlot = slot;
        RepaintCell(old);
        RepaintCell(cell);
    }
    int hot = -1;
    if (cell >= 0 && FCreateMode) {
        int row = cell / FCols.Count;
        for (int which = 0; which < 2; ++which)
            if (DirectButtonRect(row, which).contains(pos)) hot = row * 2 + which;
    }
    if (hot != FHotButton) {
        FHotButton = hot;
        viewport()->update();
    }
}

void TFrameCatalogDG::mouseReleaseEvent(QMouseEvent* e) {
    QPoint pos = e->position().toPoint();
    bool moved = FPressMoved;
    FPressed = false;
    int cell = CellAt(pos);
    if (FPressedButton >= 0) {
        int id = FPressedButton;
        FPressedButton = -1;
        viewport()->update();
        int row = id / 2, which = id % 2;
        if (!DirectButtonRect(row, which).contains(pos)) return;
        std::vector<TCatalogItem*> list = ItemList(glkSelection, true);
        if (list.empty()) return;
        QString title;
        int titleKind;
        TCustomFolder* folder = Folder();
        int cat = folder ? folder->GetCategory() : 0;
        int albumType = FModel.AlbumType();
        if (cat == fcCalendar || (cat == fcDiskFolder && FModel.AlwaysGroup())) {
            TDateTimeParts d = DecodeDateTime(list.front()->GetShootingDate());
            title = QStringLiteral("%1-%2-%3").arg(d.Year, 4, 10, QLatin1Char('0')).arg(d.Month, 2, 10, QLatin1Char('0')).arg(d.Day, 2, 10, QLatin1Char('0'));
            titleKind = 1;
        } else if (albumType == atMirabelo) {
            title = QString::fromStdString(folder->GetCaption());
            titleKind = 3;
        } else if (cat == fcAlbum) {
            title = QString::fromStdString(folder->GetCaption());
            titleKind = 4;
        } else {
            title = folder ? QString::fromStdString(folder->GetCaption()) : QString();
            titleKind = 2;
        }
        if (OnSendGroup) OnSendGroup(list, title, titleKind, which);
        SetFocusCell(CellOf(list.front()), false, false, true);
        return;
    }
    if (FPressedSlot >= 0) {
        int slot = FPressedSlot;
        FPressedSlot = -1;
        RepaintCell(cell);
        if (cell == FHoverCell && HoverSlotAt(cell, pos) == slot && slot < static_cast<int>(FHoverButtons.size())) {
            TCatalogItem* hovered = FModel.CellItem(cell);
            if (FHoverButtons[slot].Action) FHoverButtons[slot].Action(hovered);
            RepaintCell(cell);
        }
        return;
    }
    if (e->button() != Qt::LeftButton || moved) return;
    if (e->modifiers() & Qt::AltModifier) {
        Operation(0, gopFavouriteToggle);
        return;
    }
    if (!(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) && FModel.SelectedCount() >= 2 &&
        FModel.CellItem(cell))
        SetFocusCell(cell, false, false, false);
}

void TFrameCatalogDG::mouseDoubleClickEvent(QMouseEvent* e) {
    QPoint pos = e->position().toPoint();
    int cell = CellAt(pos);
    TCatalogItem* item = FModel.CellItem(cell);
    if (!item) return;
    if (ThumbRect(cell).contains(pos) && OnOpenItem) OnOpenItem(item);
}

void TFrameCatalogDG::wheelEvent(QWheelEvent* e) {
    int notches = e->angleDelta().y() / 120;
    if (notches == 0) notches = e->angleDelta().y() > 0 ? 1 : (e->angleDelta().y() < 0 ? -1 : 0);
    SetTopRow(TopRow() - notches);
    e->accept();
}

void TFrameCatalogDG::leaveEvent(QEvent* e) {
    QAbstractScrollArea::leaveEvent(e);
    int old = FHoverCell;
    FHoverCell = -1;
    FHoverSlot = -1;
    FHotButton = -1;
    RepaintCell(old);
    viewport()->update();
}

void TFrameCatalogDG::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void TFrameCatalogDG::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

bool TFrameCatalogDG::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* he = static_cast<QHelpEvent*>(e);
        int cell = CellAt(he->pos());
        int slot = cell >= 0 ? HoverSlotAt(cell, he->pos()) : -1;
        if (slot >= 0 && cell == FHoverCell) {
            QToolTip::showText(he->globalPos(), FHoverButtons[slot].Hint, viewport(), HoverSlotRect(cell, slot));
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }
    if (e->type() == QEvent::Leave) leaveEvent(e);
    return QAbstractScrollArea::viewportEvent(e);
}

// ---------------------------------------------------------------------------------------------
// drag and drop: file URLs for other programs, our own format for our views

void TFrameCatalogDG::StartDrag() {
    std::vector<TCatalogItem*> list;
    TCatalogItem* pressed = nullptr;
    int pc = CellAt(FPressPos);
    pressed = FModel.CellItem(pc);
    bool favourites = (QApplication::keyboardModifiers() & Qt::AltModifier) && pressed && pressed->IsMarked();
    list = ItemList(favourites ? glkFavourites : glkSelection, true);
    if (list.empty()) return;
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    QByteArray own;
    own += QByteArray::number(static_cast<qlonglong>(ThisProcessId())) + ' ';
    own += QByteArray::number(Folder() ? Folder()->RuntimeId() : 0);
    for (TCatalogItem* it : list) {
        urls << QUrl::fromLocalFile(QString::fromStdString(it->GetFullPath()));
        own += ' ' + QByteArray::number(it->RuntimeId());
    }
    mime->setUrls(urls);
    mime->setData(kItemsMime, own);
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    if (favourites) {
        FFavouriteHighlight = true;
        viewport()->update();
    }
    Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    if (FFavouriteHighlight) {
        FFavouriteHighlight = false;
        viewport()->update();
    }
    if (done == Qt::MoveAction) {
        Refresh();
        setFocus();
    }
}

static bool AcceptableDrop(const QMimeData* mime, bool enabled, TCustomFolder* shown) {
    if (!enabled || !mime->hasFormat(kItemsMime)) return false;  // files of other programs are refused
    QList<QByteArray> parts = mime->data(kItemsMime).split(' ');
    if (parts.size() < 2) return false;
    if (parts[0].toLongLong() != ThisProcessId()) return false;
    uint32_t folder = parts[1].toUInt();
    return !shown || folder != shown->RuntimeId();
}

void TFrameCatalogDG::dragEnterEvent(QDragEnterEvent* e) {
    if (AcceptableDrop(e->mimeData(), FDropEnabled, Folder())) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    } else {
        e->ignore();
    }
}

void TFrameCatalogDG::dragMoveEvent(QDragMoveEvent* e) {
    if (!AcceptableDrop(e->mimeData(), FDropEnabled, Folder())) {
        e->ignore();
        return;
    }
    if (e->modifiers() & Qt::ControlModifier) {
        int y = e->position().toPoint().y();
        if (y < 24) SetTopRow(TopRow() - 1);
        else if (y > viewport()->height() - 24) SetTopRow(TopRow() + 1);
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
}

void TFrameCatalogDG::dropEvent(QDropEvent* e) {
    // the drop itself is the owner's (the tray takes the photos)
    if (!AcceptableDrop(e->mimeData(), FDropEnabled, Folder())) {
        e->ignore();
        return;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
}

}  // namespace fv
