#pragma once
// The shooting-date calendar: root - year - month - day nodes created on demand, day
// nodes holding the items shot that day. Items never move in the tree directly: every
// change is queued with the calendar master and carried out by its watcher thread every
// 100 ms, which then hands the calendar's events to the subscriber on the UI thread.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/threads.h"
#include "library/custom_folder.h"
#include "platform/datetime.h"
#include "platform/sync.h"

namespace fv {

class TItemIndex;
class TCalendarMaster;

// the named event raised while date changes wait for the calendar
extern const char* const kCalendarDateChangingEventName;  // "CORVA-ExifDateChanging-EventName"

// One item filed in a day.
struct TCalendarItem {
    TCatalogItem* Item = nullptr;
    TDateTime Date = 0;     // the date it was filed under
    int32_t Position = -1;  // listings copy it into the item's manual position
};

class TCalendar;

// one bar of a histogram
struct TCalendarGuageRecord {
    int32_t Count = 0;
    std::string Caption;
    TDateTime Start = 0, End = 0;
    TCalendar* Node = nullptr;
};

struct TCalendarGauge {
    int32_t FirstValue = 0;
    std::vector<TCalendarGuageRecord> Bars;
};

class TCalendar : public TCustomFolder {
public:
    TCalendar(TCalendar* parent, TDateTime date, int slotCount);
    ~TCalendar() override;
    const char* ClassName() const override { return "TCalendar"; }

    // TCustomFolder
    std::string GetFullName() const override { return GetCaption(); }
    bool HasSubFolders() const override;
    TCustomFolder* GetParent() const override { return FParent; }
    int GetItemCount() const override;
    int GetItemCountOfKinds(TKindSet kinds) const override;
    int GetMarkedItemCount() const override;
    bool IsChildOf(const TCustomFolder* folder) const override;
    void GetSubFolders(TFolderList& list) const override;
    void GetRemovedSubFolders(TFolderList&) const override {}
    void GetItems(TItemList& list) const override;
    void GetItemsOfKinds(TKindSet kinds, TItemList& list) const override;

    // calendar slots
    int GetSlotCount() const { return static_cast<int>(FSlots.size()); }
    // -1 when the date has no slot here
    virtual int GetSlotIndex(TDateTime date) const = 0;
    virtual TCalendar* CreateChild(TDateTime date) = 0;
    // the child in slot number (1-based); none outside the slots
    virtual TCalendar* GetChild(int number) const;
    virtual void GetGauge(TCalendarGauge& gauge) const = 0;

    TCalendar* GetParentNode() const { return FParent; }
    TDateTime GetDate() const { return FDate; }
    bool IsLeaf() const { return FSlots.empty(); }
    bool HasItems() const;
    // the existing child for the date, created when asked
    TCalendar* ChildFor(TDateTime date, bool create);
    // neighbours on the same level (optionally only those with items)
    TCalendar* GetPrevious(bool withItems) const;
    TCalendar* GetNext(bool withItems) const;
    // the existing child with the lowest / highest slot (optionally with items)
    TCalendar* FirstChild(bool withItems) const;
    TCalendar* LastChild(bool withItems) const;

    // day nodes: the filed entries
    std::vector<TCalendarItem> GetCalendarItems() const;
    bool AddItem(TCatalogItem* item, TDateTime date);
    bool RemoveItem(TCatalogItem* item);
    bool RemoveItemKeep(TCatalogItem* item);
    int GetRemovedItemCount() const;

protected:
    void SetHasItems(bool on);
    bool RemoveItemImpl(TCatalogItem* item, bool keep);
    size_t LowerBoundLocked(const TCatalogItem* item) const;

    TCalendar* const FParent;
    const TDateTime FDate;
    bool FHasItems = false;
    int FChildrenWithItems = 0;
    std::vector<TCalendar*> FSlots;
    std::vector<TCalendarItem> FItems;  // by item identity
    std::vector<TCalendarItem> FRemovedItems;
};

class TCalendarDay : public TCalendar {
public:
    TCalendarDay(TCalendar* parent, TDateTime date) : TCalendar(parent, date, 0) {}
    const char* ClassName() const override { return "TCalendarDay"; }
    int GetFolderKind() const override { return fkCalendarDay; }
    std::string GetCaption() const override;  // "dd日(aaa)"
    std::string GetFullName() const override;  // "yyyy年mm月dd日(aaa)"
    int GetSlotIndex(TDateTime) const override { return 0; }
    TCalendar* CreateChild(TDateTime) override { return nullptr; }
    void GetGauge(TCalendarGauge& gauge) const override;
};

class TCalendarMonth : public TCalendar {
public:
    TCalendarMonth(TCalendar* parent, TDateTime date) : TCalendar(parent, date, 31) {}
    const char* ClassName() const override { return "TCalendarMonth"; }
    int GetFolderKind() const override { return fkCalendarMonth; }
    std::string GetCaption() const override;   // "mm月"
    std::string GetFullName() const override;  // "yyyy年mm月"
    int GetSlotIndex(TDateTime date) const override;
    TCalendar* CreateChild(TDateTime date) override;
    void GetGauge(TCalendarGauge& gauge) const override;
};

class TCalendarYear : public TCalendar {
public:
    TCalendarYear(TCalendar* parent, TDateTime date) : TCalendar(parent, date, 12) {}
    const char* ClassName() const override { return "TCalendarYear"; }
    int GetFolderKind() const override { return fkCalendarYear; }
    std::string GetCaption() const override;  // "yyyy年"
    int GetSlotIndex(TDateTime date) const override;
    TCalendar* CreateChild(TDateTime date) override;
    void GetGauge(TCalendarGauge& gauge) const override;
};

class TCalendarRoot : public TCalendar {
public:
    static constexpr int kFirstYear = 1899;  // slot 1; slot 200 is 2098
    static constexpr int kYearSlots = 200;

    explicit TCalendarRoot(TDateTime date);
    ~TCalendarRoot() override;
    const char* ClassName() const override { return "TCalendarRoot"; }
    int GetFolderKind() const override { return fkCalendarRoot; }
    std::string GetCaption() const override { return "カレンダー"; }
    int GetSlotIndex(TDateTime date) const override;
    TCalendar* CreateChild(TDateTime date) override;
    // takes a year
    TCalendar* GetChild(int year) const override;
    void GetGauge(TCalendarGauge& gauge) const override;
    // with a master: the callback becomes the master's subscriber and the master's event
    // queue the tree's callback
    void SetUpdateEvent(const TFolderUpdateEvent& event) override;

    // the day for the date (or the deepest node reached)
    TCalendar* FindOrCreateNode(bool create, TDateTime date);
    // "2026年12月08日(火)" -> that day; none on any error
    TCalendar* FindByPath(const std::string& text);
    // files every registered item of the index that has a shooting date (once, after loading)
    void RegisterItems(const TItemIndex& index);
    // nodes with the keep flag and items, each before its children, children in slot order
    void CollectKept(std::vector<TCalendar*>& list);

    TCalendarMaster* Master() const { return FMaster; }

private:
    friend TCalendarRoot* AcquireCalendarRoot();
    friend void ReleaseCalendarRoot(TCalendarRoot* root);
    TCalendarMaster* FMaster = nullptr;
};

// The process-wide calendar root, counted: the first acquisition creates it with its master
// (and connects the catalog items' date hook), the last release frees both.
TCalendarRoot* AcquireCalendarRoot();
// Releasing a root that is not the shared one just frees it.
void ReleaseCalendarRoot(TCalendarRoot* root);

// Queues a date change for the shared calendar (ignored without one, for no item and for
// items of kind 6); the watcher carries it out.
void MoveInCalendar(TCatalogItem* item, TDateTime newDate, TDateTime oldDate);

class TCalendarWatcher;

class TCalendarMaster {
public:
    explicit TCalendarMaster(TCalendarRoot* root);
    ~TCalendarMaster();  // stops the watcher
    TCalendarMaster(const TCalendarMaster&) = delete;
    TCalendarMaster& operator=(const TCalendarMaster&) = delete;

    void MoveInCalendar(TCatalogItem* item, TDateTime newDate, TDateTime oldDate);
    void QueueEvent(TCustomFolder* node, int eventCode, intptr_t data);
    TFolderUpdateEvent QueueEventCallback();
    void SetSubscriber(const TFolderUpdateEvent& event);
    size_t PendingRequests() const;
    TEventHandle DateChangingEvent() const { return FDateChanging; }

private:
    friend class TCalendarWatcher;
    struct TRequest {
        TCatalogItem* Item;
        TDateTime OldDate, NewDate;
    };
    struct TEvent {
        TCustomFolder* Node;
        int EventCode;
        intptr_t Data;
    };
    void TakeRequests(std::vector<TRequest>& out);
    void TakeEvents(std::vector<TEvent>& out);

    TCalendarRoot* FRoot;
    TEventHandle FDateChanging;
    mutable std::mutex FRequestLock;
    std::vector<TRequest> FRequests;
    std::mutex FEventLock;
    std::vector<TEvent> FEvents;
    std::unique_ptr<TCalendarWatcher> FWatcher;
};

}  // namespace fv
