#include "library/calendar.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include "core/log.h"
#include "library/catalog_item.h"
#include "library/folder_tree_list.h"
#include "library/item_calendar_link.h"
#include "platform/exception.h"
#include "platform/os_thread.h"

namespace fv {

const char* const kCalendarDateChangingEventName = "CORVA-ExifDateChanging-EventName";

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

const char* const kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

// the parts of a date, or false for a value no calendar slot can hold
bool DecodeForCalendar(TDateTime date, TDateTimeParts& parts) {
    if (!std::isfinite(date) || date < -1000.0 || date > 100000.0) return false;
    parts = DecodeDateTime(date);
    return true;
}

TDateTimeParts PartsOf(TDateTime date) {
    TDateTimeParts p;
    DecodeForCalendar(date, p);
    return p;
}

std::string TwoDigits(int v) { return Format("%.2d", v); }

bool ItemLess(const TCalendarItem& e, const TCatalogItem* item) { return std::less<const TCatalogItem*>()(e.Item, item); }

int TotalItems(const TCalendar* node) { return node ? node->GetTotalItemCount() : 0; }

}  // namespace

// ---------------------------------------------------------------------------
// TCalendar

TCalendar::TCalendar(TCalendar* parent, TDateTime date, int slotCount)
    : FParent(parent), FDate(date), FSlots(static_cast<size_t>(slotCount), nullptr) {}

TCalendar::~TCalendar() {
    try {
        DoUpdated(feRemoved, 0);
    } catch (...) {
    }
    for (TCalendar*& c : FSlots) {
        delete c;
        c = nullptr;
    }
}

bool TCalendar::HasSubFolders() const {
    Guard g(FLock);
    return std::any_of(FSlots.begin(), FSlots.end(), [](TCalendar* c) { return c != nullptr; });
}

int TCalendar::GetItemCount() const {
    Guard g(FLock);
    return static_cast<int>(FItems.size());
}

int TCalendar::GetItemCountOfKinds(TKindSet kinds) const {
    Guard g(FLock);
    int n = 0;
    for (const TCalendarItem& e : FItems)
        if (KindInSet(e.Item->GetKind(), kinds)) ++n;
    return n;
}

int TCalendar::GetMarkedItemCount() const {
    Guard g(FLock);
    int n = 0;
    for (const TCalendarItem& e : FItems)
        if (e.Item->IsMarked()) ++n;
    return n;
}

bool TCalendar::IsChildOf(const TCustomFolder* folder) const {
    if (!folder) return false;
    for (TCalendar* p = FParent; p; p = p->FParent)
        if (p == folder) return true;
    return false;
}

void TCalendar::GetSubFolders(TFolderList& list) const {
    Guard g(FLock);
    for (TCalendar* c : FSlots)
        if (c) list.push_back(c);
}

void TCalendar::GetItems(TItemList& list) const {
    Guard g(FLock);
    for (const TCalendarItem& e : FItems) list.push_back(e.Item);
}

void TCalendar::GetItemsOfKinds(TKindSet kinds, TItemList& list) const {
    Guard g(FLock);
    for (const TCalendarItem& e : FItems)
        if (KindInSet(e.Item->GetKind(), kinds)) list.push_back(e.Item);
}

TCalendar* TCalendar::GetChild(int number) const {
    Guard g(FLock);
    if (number < 1 || number > static_cast<int>(FSlots.size())) return nullptr;
    return FSlots[static_cast<size_t>(number - 1)];
}

bool TCalendar::HasItems() const {
    Guard g(FLock);
    return FHasItems;
}

TCalendar* TCalendar::ChildFor(TDateTime date, bool create) {
    int slot = GetSlotIndex(date);
    if (slot < 1 || slot > GetSlotCount()) return nullptr;
    TCalendar* created = nullptr;
    {
        Guard g(FLock);
        TCalendar*& c = FSlots[static_cast<size_t>(slot - 1)];
        if (c || !create) return c;
        c = created = CreateChild(date);
        if (!c) return nullptr;
    }
    created->TCustomFolder::SetUpdateEvent(GetUpdateEvent());
    created->DoUpdated(feCreated, 0);
    return created;
}

void TCalendar::SetHasItems(bool on) {
    // the flag of each ancestor follows whether any of its children has items
    TCalendar* node = this;
    while (node) {
        {
            Guard g(node->FLock);
            if (node->FHasItems == on) return;
            node->FHasItems = on;
        }
        node->DoUpdated(on ? fePresenceSet : fePresenceCleared, 0);
        TCalendar* parent = node->FParent;
        if (!parent) return;
        {
            Guard g(parent->FLock);
            parent->FChildrenWithItems += on ? 1 : -1;
            on = parent->FChildrenWithItems > 0;
        }
        node = parent;
    }
}

size_t TCalendar::LowerBoundLocked(const TCatalogItem* item) const {
    return static_cast<size_t>(std::lower_bound(FItems.begin(), FItems.end(), item, ItemLess) - FItems.begin());
}

std::vector<TCalendarItem> TCalendar::GetCalendarItems() const {
    Guard g(FLock);
    return FItems;
}

bool TCalendar::AddItem(TCatalogItem* item, TDateTime date) {
    if (!item || !IsLeaf()) return false;
    bool first;
    {
        Guard g(FLock);
        size_t i = LowerBoundLocked(item);
        if (i < FItems.size() && FItems[i].Item == item) return false;
        FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(i), TCalendarItem{item, date, -1});
        first = FItems.size() == 1;
    }
    if (first) SetHasItems(true);
    return true;
}

bool TCalendar::RemoveItemImpl(TCatalogItem* item, bool keep) {
    bool empty;
    {
        Guard g(FLock);
        size_t i = LowerBoundLocked(item);
        if (i >= FItems.size() || FItems[i].Item != item) return false;
        if (keep) FRemovedItems.push_back(FItems[i]);
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
        empty = FItems.empty();
    }
    if (empty) SetHasItems(false);
    return true;
}

bool TCalendar::RemoveItem(TCatalogItem* item) { return RemoveItemImpl(item, false); }
bool TCalendar::RemoveItemKeep(TCatalogItem* item) { return RemoveItemImpl(item, true); }

int TCalendar::GetRemovedItemCount() const {
    Guard g(FLock);
    return static_cast<int>(FRemovedItems.size());
}

TCalendar* TCalendar::FirstChild(bool withItems) const {
    for (int i = 1; i <= GetSlotCount(); ++i) {
        TCalendar* c = TCalendar::GetChild(i);
        if (c && (!withItems || c->HasItems())) return c;
    }
    return nullptr;
}

TCalendar* TCalendar::LastChild(bool withItems) const {
    for (int i = GetSlotCount(); i >= 1; --i) {
        TCalendar* c = TCalendar::GetChild(i);
        if (c && (!withItems || c->HasItems())) return c;
    }
    return nullptr;
}

TCalendar* TCalendar::GetPrevious(bool withItems) const {
    if (!FParent) return nullptr;
    int i = FParent->GetSlotIndex(FDate);
    for (int j = i - 1; j >= 1; --j) {
        TCalendar* c = FParent->TCalendar::GetChild(j);
        if (c && (!withItems || c->HasItems())) return c;
    }
    TCalendar* p = FParent->GetPrevious(withItems);
    return p ? p->LastChild(withItems) : nullptr;
}

TCalendar* TCalendar::GetNext(bool withItems) const {
    if (!FParent) return nullptr;
    int i = FParent->GetSlotIndex(FDate);
    for (int j = i + 1; j <= FParent->GetSlotCount(); ++j) {
        TCalendar* c = FParent->TCalendar::GetChild(j);
        if (c && (!withItems || c->HasItems())) return c;
    }
    TCalendar* p = FParent->GetNext(withItems);
    return p ? p->FirstChild(withItems) : nullptr;
}

// ---------------------------------------------------------------------------
// levels

std::string TCalendarDay::GetCaption() const {
    TDateTimeParts p = PartsOf(FDate);
    return TwoDigits(p.Day) + "日(" + kWeekdays[p.DayOfWeek] + ")";
}

std::string TCalendarDay::GetFullName() const {
    TDateTimeParts p = PartsOf(FDate);
    return std::to_string(p.Year) + "年" + TwoDigits(p.Month) + "月" + GetCaption();
}

void TCalendarDay::GetGauge(TCalendarGauge& gauge) const {
    TDateTimeParts p = PartsOf(FDate);
    TDateTime day = EncodeDateTime(p.Year, p.Month, p.Day);
    gauge.FirstValue = 0;
    gauge.Bars.assign(24, TCalendarGuageRecord{});
    for (int h = 0; h < 24; ++h) {
        TCalendarGuageRecord& b = gauge.Bars[static_cast<size_t>(h)];
        b.Caption = std::to_string(h);
        b.Start = day + h / 24.0;
        b.End = day + (h + 1) / 24.0;
    }
    for (const TCalendarItem& e : GetCalendarItems()) {
        TDateTimeParts ip;
        if (DecodeForCalendar(e.Item->GetShootingDate(), ip) && ip.Hour >= 0 && ip.Hour < 24) ++gauge.Bars[static_cast<size_t>(ip.Hour)].Count;
    }
}

std::string TCalendarMonth::GetCaption() const { return TwoDigits(PartsOf(FDate).Month) + "月"; }

std::string TCalendarMonth::GetFullName() const {
    TDateTimeParts p = PartsOf(FDate);
    return std::to_string(p.Year) + "年" + TwoDigits(p.Month) + "月";
}

int TCalendarMonth::GetSlotIndex(TDateTime date) const {
    TDateTimeParts p;
    return DecodeForCalendar(date, p) ? p.Day : -1;
}

TCalendar* TCalendarMonth::CreateChild(TDateTime date) { return new TCalendarDay(this, date); }

void TCalendarMonth::GetGauge(TCalendarGauge& gauge) const {
    TDateTimeParts p = PartsOf(FDate);
    int days = DaysInMonth(p.Year, p.Month);
    gauge.FirstValue = 1;
    gauge.Bars.assign(static_cast<size_t>(days), TCalendarGuageRecord{});
    for (int d = 1; d <= days; ++d) {
        TCalendarGuageRecord& b = gauge.Bars[static_cast<size_t>(d - 1)];
        b.Node = GetChild(d);
        b.Count = b.Node ? b.Node->GetItemCount() : 0;
        b.Caption = std::to_string(d);
        b.Start = EncodeDateTime(p.Year, p.Month, d);
        b.End = b.Start + 1;
    }
}

std::string TCalendarYear::GetCaption() const { return std::to_string(PartsOf(FDate).Year) + "年"; }

int TCalendarYear::GetSlotIndex(TDateTime date) const {
    TDateTimeParts p;
    return DecodeForCalendar(date, p) ? p.Month : -1;
}

TCalendar* TCalendarYear::CreateChild(TDateTime date) { return new TCalendarMonth(this, date); }

void TCalendarYear::GetGauge(TCalendarGauge& gauge) const {
    int year = PartsOf(FDate).Year;
    gauge.FirstValue = 1;
    gauge.Bars.assign(12, TCalendarGuageRecord{});
    for (int m = 1; m <= 12; ++m) {
        TCalendarGuageRecord& b = gauge.Bars[static_cast<size_t>(m - 1)];
        b.Node = GetChild(m);
        b.Count = TotalItems(b.Node);
        b.Caption = Format("%d月", m);
        b.Start = EncodeDateTime(year, m, 1);
        b.End = m == 12 ? EncodeDateTime(year + 1, 1, 1) : EncodeDateTime(year, m + 1, 1);
    }
}

// ---------------------------------------------------------------------------
// TCalendarRoot

TCalendarRoot::TCalendarRoot(TDateTime date) : TCalendar(nullptr, date, kYearSlots) {}

TCalendarRoot::~TCalendarRoot() = default;

int TCalendarRoot::GetSlotIndex(TDateTime date) const {
    TDateTimeParts p;
    if (!DecodeForCalendar(date, p)) return -1;
    int slot = p.Year - (kFirstYear - 1);
    return slot >= 1 && slot <= kYearSlots ? slot : -1;
}

TCalendar* TCalendarRoot::CreateChild(TDateTime date) { return new TCalendarYear(this, date); }

TCalendar* TCalendarRoot::GetChild(int year) const { return TCalendar::GetChild(year - (kFirstYear - 1)); }

void TCalendarRoot::GetGauge(TCalendarGauge& gauge) const {
    gauge.Bars.clear();
    gauge.FirstValue = 0;
    TCalendar* first = FirstChild(false);
    TCalendar* last = LastChild(false);
    if (!first) return;
    int lo = PartsOf(first->GetDate()).Year, hi = PartsOf(last->GetDate()).Year;
    gauge.FirstValue = lo;
    for (int y = lo; y <= hi; ++y) {
        TCalendarGuageRecord b;
        b.Node = GetChild(y);
        b.Count = TotalItems(b.Node);
        b.Caption = Format("%d年", y);
        b.Start = EncodeDateTime(y, 1, 1);
        b.End = EncodeDateTime(y + 1, 1, 1);
        gauge.Bars.push_back(std::move(b));
    }
}

void TCalendarRoot::SetUpdateEvent(const TFolderUpdateEvent& event) {
    if (FMaster) {
        FMaster->SetSubscriber(event);
        TCustomFolder::SetUpdateEvent(FMaster->QueueEventCallback());
    } else {
        TCustomFolder::SetUpdateEvent(event);
    }
}

TCalendar* TCalendarRoot::FindOrCreateNode(bool create, TDateTime date) {
    TCalendar* node = this;
    while (!node->IsLeaf()) {
        TCalendar* child = node->ChildFor(date, create);
        if (!child) break;
        node = child;
    }
    return node;
}

TCalendar* TCalendarRoot::FindByPath(const std::string& text) {
    try {
        TCalendar* node = this;
        size_t i = 0;
        while (true) {
            while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) ++i;
            if (i >= text.size()) return node;
            int64_t number = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (number < 100000000) number = number * 10 + (text[i] - '0');
                ++i;
            }
            TCalendar* child = number <= 100000000 ? node->GetChild(static_cast<int>(number)) : nullptr;
            if (!child) return node;
            node = child;
        }
    } catch (const std::exception& e) {
        WriteLogFailed("TCalendarRoot.FindByPath", e);
        return nullptr;
    }
}

void TCalendarRoot::RegisterItems(const TItemIndex& index) {
    for (int32_t n = 0; n < index.Count(); ++n) {
        TCatalogItem* item = index.Get(n);
        if (!item || item->GetKind() == 6 || !item->IsInCalendar()) continue;
        TDateTime date = item->GetShootingDate();
        if (!(date > 0)) continue;
        TCalendar* day = FindOrCreateNode(true, date);
        if (day && day->IsLeaf() && day != this) day->AddItem(item, date);
    }
}

void TCalendarRoot::CollectKept(std::vector<TCalendar*>& list) {
    list.clear();
    std::vector<TCalendar*> todo{this};
    TFolderList subs;
    while (!todo.empty()) {
        TCalendar* n = todo.back();
        todo.pop_back();
        if (n->GetKeep() && n->HasItems()) list.push_back(n);
        subs.clear();
        n->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) todo.push_back(static_cast<TCalendar*>(*it));
    }
}

// ---------------------------------------------------------------------------
// the watcher

class TCalendarWatcher : public TThreadObject {
    // the longest the events hold the user-interface thread at a time
    static constexpr std::chrono::milliseconds kDeliverySlice{4};

public:
    explicit TCalendarWatcher(TCalendarMaster& master) : FMaster(master) {}
    ~TCalendarWatcher() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TCalendarWatcher"; }

    void SetSubscriber(const TFolderUpdateEvent& event) {
        std::lock_guard<std::recursive_mutex> g(FSubscriberLock);
        FSubscriber = event;
    }
    bool HasSubscriber() {
        std::lock_guard<std::recursive_mutex> g(FSubscriberLock);
        return static_cast<bool>(FSubscriber);
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> g(FWakeLock);
            Terminate();
        }
        FWake.notify_all();
    }

protected:
    void Execute() override {
        SetCurrentThreadName("TCalendarWatcher");
        LowerCurrentThreadPriority(kBackgroundNice);
        std::vector<TCalendarMaster::TRequest> requests;
        std::vector<TCalendarMaster::TEvent> events;
        while (!Terminated()) {
            {
                std::unique_lock<std::mutex> g(FWakeLock);
                FWake.wait_for(g, std::chrono::milliseconds(100), [this] { return Terminated(); });
            }
            if (Terminated()) break;
            requests.clear();
            FMaster.TakeRequests(requests);
            for (const auto& r : requests) {
                if (Terminated()) break;
                try {
                    Carry(r);
                } catch (const std::exception& e) {
                    // one bad request must not stop the calendar for the rest of the run
                    WriteLogFailed("TCalendarWatcher.Execute", e);
                }
            }
            events.clear();
            FMaster.TakeEvents(events);
            if (events.empty() || !HasSubscriber() || Terminated()) continue;
            // views get the calendar's events on the user-interface thread, like every other
            // model event, so that none of them has to pass them on itself. A burst (every photo
            // of the library filed after a load) goes over in slices of a few milliseconds, so
            // the interface keeps answering in between.
            size_t next = 0;
            while (next < events.size() && !Terminated()) {
                Synchronize([&] {
                    const auto sliceEnd = std::chrono::steady_clock::now() + kDeliverySlice;
                    while (next < events.size()) {
                        if (Terminated()) return;
                        const auto& e = events[next++];
                        std::lock_guard<std::recursive_mutex> g(FSubscriberLock);
                        if (!FSubscriber) {
                            next = events.size();
                            return;
                        }
                        try {
                            FSubscriber.Proc(FSubscriber.Context, e.Node, e.EventCode, e.Data);
                        } catch (const std::exception& ex) {
                            WriteLogFailed("TCalendarWatcher.Deliver", ex);
                        }
                        if (std::chrono::steady_clock::now() >= sliceEnd) return;
                    }
                });
            }
        }
    }

private:
    void Carry(const TCalendarMaster::TRequest& r) {
        TCalendarRoot* root = FMaster.FRoot;
        TCalendar* from = nullptr;
        TCalendar* to = nullptr;
        if (r.OldDate > 0) {
            TCalendar* day = root->FindOrCreateNode(false, r.OldDate);
            if (day && day->IsLeaf() && day != root && day->RemoveItemKeep(r.Item)) from = day;
        }
        if (r.NewDate > 0) {
            TCalendar* day = root->FindOrCreateNode(true, r.NewDate);
            if (day && day->IsLeaf() && day != root) {
                day->AddItem(r.Item, r.NewDate);
                to = day;
            }
        }
        // one event per carried change: on the day the item went to (the day it left as
        // data), or on the day it left when it left the calendar
        if (to) to->DoUpdated(feItemsChanged, reinterpret_cast<intptr_t>(from));
        else if (from) from->DoUpdated(feItemsChanged, 0);
    }

    TCalendarMaster& FMaster;
    std::recursive_mutex FSubscriberLock;
    TFolderUpdateEvent FSubscriber;
    std::mutex FWakeLock;
    std::condition_variable FWake;
};

// ---------------------------------------------------------------------------
// TCalendarMaster

TCalendarMaster::TCalendarMaster(TCalendarRoot* root)
    : FRoot(root), FDateChanging(CreateNamedEvent(kCalendarDateChangingEventName, false)) {
    FWatcher = std::make_unique<TCalendarWatcher>(*this);
    FWatcher->Start();
}

TCalendarMaster::~TCalendarMaster() {
    try {
        StopWatcherThread(*FWatcher, [this] { FWatcher->Stop(); });
        FWatcher.reset();
    } catch (const std::exception& e) {
        WriteLogFailed("TCalendarMaster.Destroy", e);
    }
}

void TCalendarMaster::MoveInCalendar(TCatalogItem* item, TDateTime newDate, TDateTime oldDate) {
    if (!item || item->GetKind() == 6) return;
    {
        std::lock_guard<std::mutex> g(FRequestLock);
        FRequests.push_back(TRequest{item, oldDate, newDate});
    }
    FDateChanging->SetEvent();
}

void TCalendarMaster::TakeRequests(std::vector<TRequest>& out) {
    std::lock_guard<std::mutex> g(FRequestLock);
    if (FRequests.empty()) {
        FDateChanging->ResetEvent();
        return;
    }
    out.swap(FRequests);
    FRequests.clear();
}

size_t TCalendarMaster::PendingRequests() const {
    std::lock_guard<std::mutex> g(FRequestLock);
    return FRequests.size();
}

void TCalendarMaster::QueueEvent(TCustomFolder* node, int eventCode, intptr_t data) {
    std::lock_guard<std::mutex> g(FEventLock);
    FEvents.push_back(TEvent{node, eventCode, data});
}

TFolderUpdateEvent TCalendarMaster::QueueEventCallback() {
    return TFolderUpdateEvent{[](void* ctx, TCustomFolder* f, int code, intptr_t data) {
                                  static_cast<TCalendarMaster*>(ctx)->QueueEvent(f, code, data);
                              },
                              this};
}

void TCalendarMaster::TakeEvents(std::vector<TEvent>& out) {
    std::lock_guard<std::mutex> g(FEventLock);
    out.swap(FEvents);
    FEvents.clear();
}

void TCalendarMaster::SetSubscriber(const TFolderUpdateEvent& event) { FWatcher->SetSubscriber(event); }

// ---------------------------------------------------------------------------
// the shared root

namespace {

// The catalog items' date hook. Items may still hold it on a worker thread when the
// calendar goes, so it keeps its own lock and forgets the master first.
class TCalendarLink : public TItemCalendarLink {
public:
    explicit TCalendarLink(TCalendarMaster* master) : FMaster(master) {}
    void Forget() {
        std::lock_guard<std::mutex> g(FLock);
        FMaster = nullptr;
    }
    void AddItem(TCatalogItem* item, TDateTime date) override { Move(item, date, 0); }
    void RemoveItem(TCatalogItem* item, TDateTime date) override { Move(item, 0, date); }
    void MoveItem(TCatalogItem* item, TDateTime oldDate, TDateTime newDate) override { Move(item, newDate, oldDate); }

private:
    void Move(TCatalogItem* item, TDateTime newDate, TDateTime oldDate) {
        std::lock_guard<std::mutex> g(FLock);
        if (FMaster) FMaster->MoveInCalendar(item, newDate, oldDate);
    }
    std::mutex FLock;
    TCalendarMaster* FMaster;
};

std::mutex gRootLock;
TCalendarRoot* gRoot = nullptr;
int gRootRefs = 0;
std::shared_ptr<TCalendarLink> gLink;

}  // namespace

TCalendarRoot* AcquireCalendarRoot() {
    std::lock_guard<std::mutex> g(gRootLock);
    if (!gRoot) {
        auto root = std::make_unique<TCalendarRoot>(Now());
        root->FMaster = new TCalendarMaster(root.get());
        gLink = std::make_shared<TCalendarLink>(root->FMaster);
        SetItemCalendarLink(gLink);
        gRoot = root.release();
    }
    ++gRootRefs;
    return gRoot;
}

void ReleaseCalendarRoot(TCalendarRoot* root) {
    if (!root) return;
    {
        std::lock_guard<std::mutex> g(gRootLock);
        if (root == gRoot) {
            if (--gRootRefs > 0) return;
            gRoot = nullptr;
            gRootRefs = 0;
            SetItemCalendarLink(nullptr);
            if (gLink) gLink->Forget();
            gLink.reset();
        }
    }
    root->TCustomFolder::SetUpdateEvent(TFolderUpdateEvent{});
    delete root->FMaster;
    root->FMaster = nullptr;
    delete root;
}

void MoveInCalendar(TCatalogItem* item, TDateTime newDate, TDateTime oldDate) {
    std::shared_ptr<TItemCalendarLink> link = GetItemCalendarLink();
    if (link) link->MoveItem(item, oldDate, newDate);
}

}  // namespace fv
