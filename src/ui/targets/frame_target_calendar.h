#pragma once
// The calendar frame of the left column: the shooting-date tree (years and months with their photo
// counts) and under it the month grid, whose day cells show how many photos each day holds. Choosing
// a year or month shows it; choosing a day in the grid shows its month and scrolls to the day.
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <map>

#include "library/custom_folder.h"
#include "platform/datetime.h"
#include "ui/skin/custom_frame_base.h"

class QLabel;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace fv {

class TCalendar;
class TCalendarGrid;
class TCalendarRoot;

class TFrameTargetCalendar : public TCustomFrameBase {
    Q_OBJECT
public:
    explicit TFrameTargetCalendar(QWidget* parent = nullptr);
    ~TFrameTargetCalendar() override;

    // follows this calendar (none detaches); subscribes to its changes through the library events
    void SetCalendar(TCalendarRoot* root);
    TCalendarRoot* Calendar() const { return FRoot; }
    // re-reads the years and months and repaints the grid
    void Refresh();

    // the chosen node (root, year or month; a day shows as its month)
    TCustomFolder* CurrentFolder() const;
    // selects the node of a calendar folder without telling anyone; a day selects its month and the day
    // in the grid. False for a folder that is not of this calendar.
    bool SelectFolder(TCustomFolder* folder);

    // the month grid sits under the tree unless the tag frame takes the space
    void SetGridVisible(bool on);
    bool GridVisible() const;
    TCalendarGrid* Grid() const { return FGrid; }
    QTreeWidget* Tree() const { return FTree; }
    // "yyyy年 m月" of the shown month
    QString GridCaption() const;
    // to the previous / next month that holds photos; false when there is none
    bool GoPreviousMonth();
    bool GoNextMonth();
    // the photo count and the "new" state of a day of the shown month
    int DayCount(int day) const;
    bool DayHasNew(int day) const;
    // the day a drop hovers over (0: none)
    void SetDropHoverDay(int day);

signals:
    void folderChosen(fv::TCustomFolder* folder);
    void dateChosen(double day);

private:
    // to the nearest month with photos in the direction of step (-1 or 1)
    bool StepMonth(int step);
    void OnCalendarEvent(TCustomFolder* folder, int code, intptr_t data);
    void OnTreeSelection();
    void OnGridChanged();
    void ShowMonthInGrid(int year, int month, int day);
    void SelectNode(TCustomFolder* node);
    TCalendar* MonthNode(int year, int month) const;
    void UpdateCaption();
    void LayoutParts();
    void resizeEvent(QResizeEvent* e) override;

    TCalendarRoot* FRoot = nullptr;
    QTreeWidget* FTree = nullptr;
    QWidget* FGridPanel = nullptr;
    QLabel* FCaption = nullptr;
    QToolButton* FPrev = nullptr;
    QToolButton* FNext = nullptr;
    TCalendarGrid* FGrid = nullptr;
    bool FGridShown = true;
    int FUpdating = 0;
    int FDropHoverDay = 0;
    // a month the user chose in the grid before it held photos (year * 12 + month - 1; -1 none):
    // chosen as a folder once its photos are filed, unless another choice came first
    int FPendingMonth = -1;
    std::map<TCustomFolder*, QTreeWidgetItem*> FNodes;
    // set by the calendar's watcher thread, read by the refresh timer
    std::atomic<bool> FDirty{false};
    QTimer FRefreshTimer;
    bool FSubscribed = false;
};

}  // namespace fv
