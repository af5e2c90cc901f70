#include "platform/stall_activity.h"
#include "ui/targets/frame_target_commands.h"
#include "ui/targets/frame_target_calendar.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QTreeWidget>

#include "library/calendar.h"
#include "ui/targets/calendar_grid.h"
#include "ui/common_images.h"
#include "ui/targets/frame_target_events.h"

namespace fv {

namespace {
constexpr int kGridCaptionHeight = 22;
constexpr int kGridHeight = 7 * 19;

TCalendar* AsCalendar(TCustomFolder* f) { return dynamic_cast<TCalendar*>(f); }

QString NodeText(TCalendar* node) {
    const QString caption = QString::fromStdString(node->GetCaption());
    if (node->GetFolderKind() == fkCalendarRoot) return caption;
    return QStringLiteral("%1 (%2)").arg(caption).arg(node->GetTotalItemCount());
}
}  // namespace

TFrameTargetCalendar::TFrameTargetCalendar(QWidget* parent) : TCustomFrameBase(parent) {
    SetTitle(QStringLiteral("カレンダー"));
    SetTitleIcon(ciCalendar);
    FTree = new QTreeWidget(Body());
    FTree->setObjectName("CalendarTree");
    FTree->setHeaderHidden(true);
    FTree->setColumnCount(1);
    FTree->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(FTree, &QTreeWidget::itemSelectionChanged, this, &TFrameTargetCalendar::OnTreeSelection);
    InstallTreeKeys(FTree, {});  // Enter opens and closes a year

    FGridPanel = new QWidget(Body());
    FGridPanel->setObjectName("CalendarGridPanel");
    FPrev = new QToolButton(FGridPanel);
    FPrev->setArrowType(Qt::LeftArrow);
    FPrev->setAutoRaise(true);
    FPrev->setToolTip(QStringLiteral("前の月"));
    FNext = new QToolButton(FGridPanel);
    FNext->setArrowType(Qt::RightArrow);
    FNext->setAutoRaise(true);
    FNext->setToolTip(QStringLiteral("次の月"));
    FCaption = new QLabel(FGridPanel);
    FCaption->setAlignment(Qt::AlignCenter);
    QFont f = FCaption->font();
    f.setBold(true);
    FCaption->setFont(f);
    FGrid = new TCalendarGrid(FGridPanel);
    FGrid->setObjectName("CalendarGrid1");
    FGrid->SetStartOfWeek(0);
    FGrid->SetDrawDay([this](QPainter& p, const QRect& cell, int day, bool selected) {
        int col = 0, row = 0;
        FGrid->CellOfDay(day, col, row);
        DrawCalendarDayCell(p, cell, day, col, selected, DayCount(day), DayHasNew(day), day == FDropHoverDay);
    });
    connect(FGrid, &TCalendarGrid::changed, this, &TFrameTargetCalendar::OnGridChanged);
    connect(FPrev, &QToolButton::clicked, this, [this] { GoPreviousMonth(); });
    connect(FNext, &QToolButton::clicked, this, [this] { GoNextMonth(); });

    // the calendar's watcher thread only marks the frame dirty; this timer re-reads on the UI thread
    FRefreshTimer.setObjectName("CalendarTreeRefreshTimer");  // for the stall log
    FRefreshTimer.setInterval(250);
    connect(&FRefreshTimer, &QTimer::timeout, this, [this] {
        TStallActivity mark("CalendarTreeRefresh");
        if (FDirty.exchange(false)) Refresh();
    });
    FRefreshTimer.start();
    UpdateCaption();
    LayoutParts();
}

TFrameTargetCalendar::~TFrameTargetCalendar() { SetCalendar(nullptr); }

void TFrameTargetCalendar::SetCalendar(TCalendarRoot* root) {
    const TFolderUpdateEvent event =
        MakeFolderUpdateEvent<TFrameTargetCalendar, &TFrameTargetCalendar::OnCalendarEvent>(this);
    if (FSubscribed) {
        // after Remove returns the master never calls this frame again
        TLibraryEvents::Calendar().Remove(this, event);
        FSubscribed = false;
    }
    FRoot = root;
    if (FRoot) {
        TLibraryEvents::Calendar().Add(this, "TFrameTargetCalendar", event);
        FSubscribed = true;
    }
    Refresh();
}

void TFrameTargetCalendar::OnCalendarEvent(TCustomFolder*, int, intptr_t) {
    // the calendar's watcher thread: nothing of the interface is touched here
    FDirty.store(true);
}

void TFrameTargetCalendar::Refresh() {
    ++FUpdating;
    TCustomFolder* current = CurrentFolder();
    std::map<TDateTime, bool> expanded;
    for (auto& [node, item] : FNodes)
        if (item->isExpanded()) expanded[AsCalendar(node)->GetDate()] = true;
    const bool firstBuild = FNodes.empty();
    FTree->clear();
    FNodes.clear();
    if (FRoot) {
        // the node of a calendar folder, under a node (none: the tree's top)
        auto addNode = [this](QTreeWidgetItem* parent, TCalendar* folder) {
            auto* item = parent ? new QTreeWidgetItem(parent, QStringList(NodeText(folder)))
                                : new QTreeWidgetItem(FTree, QStringList(NodeText(folder)));
            item->setData(0, Qt::UserRole, QVariant::fromValue<void*>(folder));
            FNodes[folder] = item;
            return item;
        };
        // the years and months that hold photos
        auto subFolders = [](TCustomFolder* parent) {
            TFolderList all;
            parent->GetSubFolders(all);
            std::vector<TCalendar*> withPhotos;
            for (TCustomFolder* f : all)
                if (TCalendar* c = AsCalendar(f); c && c->HasItems()) withPhotos.push_back(c);
            return withPhotos;
        };
        QTreeWidgetItem* rootItem = addNode(nullptr, FRoot);
        rootItem->setIcon(0, CommonImage(ciCalendar, 16, devicePixelRatioF()));
        const std::vector<TCalendar*> years = subFolders(FRoot);
        for (TCalendar* year : years) {
            QTreeWidgetItem* yearItem = addNode(rootItem, year);
            for (TCalendar* month : subFolders(year)) addNode(yearItem, month);
            if (expanded.count(year->GetDate())) yearItem->setExpanded(true);
        }
        rootItem->setExpanded(true);
        if (firstBuild && !years.empty()) {
            // the newest year is open at first
            FNodes[years.back()]->setExpanded(true);
        }
    }
    if (current && FNodes.count(current)) FNodes[current]->setSelected(true), FTree->setCurrentItem(FNodes[current]);
    --FUpdating;
    UpdateCaption();
    FGrid->update();
    // the month the user chose while it had no photos yet: shown now that they are filed
    if (FPendingMonth >= 0 && FPendingMonth == FGrid->Year() * 12 + FGrid->Month() - 1) {
        TCalendar* month = MonthNode(FGrid->Year(), FGrid->Month());
        if (month && FNodes.count(month)) {
            FPendingMonth = -1;
            SelectNode(month);
            emit folderChosen(month);
        }
    }
}

TCustomFolder* TFrameTargetCalendar::CurrentFolder() const {
    const QList<QTreeWidgetItem*> sel = FTree->selectedItems();
    if (sel.isEmpty()) return nullptr;
    return static_cast<TCustomFolder*>(sel.first()->data(0, Qt::UserRole).value<void*>());
}

void TFrameTargetCalendar::SelectNode(TCustomFolder* node) {
    auto it = FNodes.find(node);
    if (it == FNodes.end()) return;
    ++FUpdating;
    FTree->clearSelection();
    it->second->setSelected(true);
    FTree->setCurrentItem(it->second);
    FTree->scrollToItem(it->second);
    --FUpdating;
}

bool TFrameTargetCalendar::SelectFolder(TCustomFolder* folder) {
    TCalendar* node = AsCalendar(folder);
    if (!node || !FRoot) return false;
    TCalendar* top = node;
    while (top->GetParentNode()) top = top->GetParentNode();
    if (top != FRoot) return false;
    FPendingMonth = -1;
    if (!FNodes.count(node) && node->GetFolderKind() != fkCalendarDay) Refresh();
    const TDateTimeParts d = DecodeDateTime(node->GetDate());
    switch (node->GetFolderKind()) {
        case fkCalendarDay:
            // a day shows as its month, with the day chosen in the grid
            if (!FNodes.count(node->GetParentNode())) Refresh();
            SelectNode(node->GetParentNode());
            ShowMonthInGrid(d.Year, d.Month, d.Day);
            break;
        case fkCalendarMonth:
            SelectNode(node);
            ShowMonthInGrid(d.Year, d.Month, FGrid->Day());
            break;
        default: SelectNode(node); break;
    }
    return true;
}

void TFrameTargetCalendar::ShowMonthInGrid(int year, int month, int day) {
    ++FUpdating;
    FGrid->SetDate(year, month, qBound(1, day, DaysInMonth(year, month)));
    --FUpdating;
    UpdateCaption();
}

void TFrameTargetCalendar::OnTreeSelection() {
    if (FUpdating) return;
    TCustomFolder* folder = CurrentFolder();
    if (!folder) return;
    FPendingMonth = -1;
    if (TCalendar* node = AsCalendar(folder); node && node->GetFolderKind() == fkCalendarMonth) {
        const TDateTimeParts d = DecodeDateTime(node->GetDate());
        ShowMonthInGrid(d.Year, d.Month, FGrid->Day());
    }
    emit folderChosen(folder);
}

void TFrameTargetCalendar::OnGridChanged() {
    UpdateCaption();
    if (FUpdating) return;
    // the user chose a day: its month is shown and the catalog scrolls to the day
    TDateTime day = 0;
    if (!TryEncodeDate(FGrid->Year(), FGrid->Month(), FGrid->Day(), day)) return;
    if (TCalendar* month = MonthNode(FGrid->Year(), FGrid->Month())) {
        FPendingMonth = -1;
        if (CurrentFolder() != month) {
            SelectNode(month);
            emit folderChosen(month);
        }
    } else {
        // no photo of that month is filed yet (the calendar may still be filing them)
        FPendingMonth = FGrid->Year() * 12 + FGrid->Month() - 1;
    }
    emit dateChosen(day);
}

TCalendar* TFrameTargetCalendar::MonthNode(int year, int month) const {
    if (!FRoot) return nullptr;
    TCalendar* y = FRoot->GetChild(year);
    return y ? y->GetChild(month) : nullptr;
}

int TFrameTargetCalendar::DayCount(int day) const {
    TCalendar* m = MonthNode(FGrid->Year(), FGrid->Month());
    TCalendar* d = m ? m->GetChild(day) : nullptr;
    return d ? d->GetTotalItemCount() : 0;
}

bool TFrameTargetCalendar::DayHasNew(int day) const {
    TCalendar* m = MonthNode(FGrid->Year(), FGrid->Month());
    TCalendar* d = m ? m->GetChild(day) : nullptr;
    return d && d->GetTotalMarkedItemCount() > 0;
}

void TFrameTargetCalendar::SetDropHoverDay(int day) {
    if (day == FDropHoverDay) return;
    const int old = FDropHoverDay;
    FDropHoverDay = day;
    if (old) FGrid->RepaintDay(old);
    if (day) FGrid->RepaintDay(day);
}

bool TFrameTargetCalendar::GoPreviousMonth() { return StepMonth(-1); }

bool TFrameTargetCalendar::GoNextMonth() { return StepMonth(1); }

bool TFrameTargetCalendar::StepMonth(int step) {
    if (!FRoot) return false;
    TDateTime first = 0;
    if (!TryEncodeDate(FGrid->Year(), FGrid->Month(), 1, first)) return false;
    // the nearest month with photos before (step -1) or after (step 1) the shown one
    const int lastYear = TCalendarRoot::kFirstYear + TCalendarRoot::kYearSlots - 1;
    for (int y = FGrid->Year(); y >= TCalendarRoot::kFirstYear && y <= lastYear; y += step) {
        TCalendar* year = FRoot->GetChild(y);
        if (!year || !year->HasItems()) continue;
        for (int m = y == FGrid->Year() ? FGrid->Month() + step : (step > 0 ? 1 : 12); m >= 1 && m <= 12; m += step) {
            TCalendar* month = year->GetChild(m);
            if (!month || !month->HasItems()) continue;
            SelectFolder(month);
            emit folderChosen(month);
            return true;
        }
    }
    return false;
}

QString TFrameTargetCalendar::GridCaption() const {
    return QStringLiteral("%1年 %2月").arg(FGrid->Year()).arg(FGrid->Month());
}

void TFrameTargetCalendar::UpdateCaption() { FCaption->setText(GridCaption()); }

void TFrameTargetCalendar::SetGridVisible(bool on) {
    if (on == FGridShown) return;
    FGridShown = on;
    LayoutParts();
}

bool TFrameTargetCalendar::GridVisible() const { return FGridShown; }

void TFrameTargetCalendar::resizeEvent(QResizeEvent* e) {
    TCustomFrameBase::resizeEvent(e);
    LayoutParts();
}

void TFrameTargetCalendar::LayoutParts() {
    const int w = Body()->width();
    const int h = Body()->height();
    const int gridPanel = FGridShown ? kGridCaptionHeight + kGridHeight + 4 : 0;
    FGridPanel->setVisible(FGridShown);
    FTree->setGeometry(0, 0, w, qMax(0, h - gridPanel));
    if (!FGridShown) return;
    FGridPanel->setGeometry(0, qMax(0, h - gridPanel), w, gridPanel);
    FPrev->setGeometry(2, 1, 20, kGridCaptionHeight - 2);
    FNext->setGeometry(qMax(0, w - 22), 1, 20, kGridCaptionHeight - 2);
    FCaption->setGeometry(24, 0, qMax(0, w - 48), kGridCaptionHeight);
    FGrid->setGeometry(2, kGridCaptionHeight, qMax(0, w - 4), kGridHeight);
}

}  // namespace fv
