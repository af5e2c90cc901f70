#include "library/custom_folder.h"

#include <atomic>

#include "core/log.h"

namespace fv {

namespace {
constexpr uint8_t kKeepBit = 0x01;
constexpr uint8_t kRegisteredBit = 0x02;
constexpr uint8_t kExcludedBit = 0x04;
constexpr uint8_t kOptionsFollowBit = 0x08;
}  // namespace

uint32_t NextRuntimeId() {
    static std::atomic<uint32_t> next{0};
    uint32_t id;
    do {
        id = ++next;
    } while (id == 0);
    return id;
}

int FolderCategory(int folderKind) {
    if (folderKind >= 0 && folderKind <= 2) return 1;
    if (folderKind >= 3 && folderKind <= 5) return 2;
    if (folderKind >= 6 && folderKind <= 9) return 3;
    return 0;
}

TCustomFolder::TCustomFolder() : FRuntimeId(NextRuntimeId()) {}

TCustomFolder::~TCustomFolder() = default;

int TCustomFolder::GetTotalItemCount() const {
    int total = GetItemCount();
    TFolderList subs;
    GetSubFolders(subs);
    for (TCustomFolder* f : subs) total += f->GetTotalItemCount();
    return total;
}

int TCustomFolder::GetTotalItemCountOfKinds(TKindSet kinds) const {
    if (kinds == 0) return 0;
    int total = GetItemCountOfKinds(kinds);
    TFolderList subs;
    GetSubFolders(subs);
    for (TCustomFolder* f : subs) total += f->GetTotalItemCountOfKinds(kinds);
    return total;
}

int TCustomFolder::GetTotalMarkedItemCount() const {
    int total = GetMarkedItemCount();
    TFolderList subs;
    GetSubFolders(subs);
    for (TCustomFolder* f : subs) total += f->GetTotalMarkedItemCount();
    return total;
}

int TCustomFolder::GetCheckState() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    if (FFlags & kRegisteredBit) return csRegistered;
    if (FFlags & kExcludedBit) return csExcluded;
    return csUndecided;
}

void TCustomFolder::SetCheckState(int state) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    switch (state) {
        case csUndecided: FFlags = static_cast<uint8_t>(FFlags & ~(kRegisteredBit | kExcludedBit)); break;
        case csRegistered: FFlags = static_cast<uint8_t>((FFlags | kRegisteredBit) & ~kExcludedBit); break;
        case csExcluded: FFlags = static_cast<uint8_t>((FFlags | kExcludedBit) & ~kRegisteredBit); break;
        default: break;
    }
}

void TCustomFolder::SetUpdateEvent(const TFolderUpdateEvent& event) {
    {
        std::lock_guard<std::recursive_mutex> g(FLock);
        FUpdateEvent = event;
    }
    // the whole subtree takes the event; walked with a stack of our own, as stored trees may
    // nest far deeper than a thread's stack allows
    TFolderList pending;
    GetSubFolders(pending);
    GetRemovedSubFolders(pending);
    while (!pending.empty()) {
        TCustomFolder* f = pending.back();
        pending.pop_back();
        {
            std::lock_guard<std::recursive_mutex> g(f->FLock);
            f->FUpdateEvent = event;
        }
        f->GetSubFolders(pending);
        f->GetRemovedSubFolders(pending);
    }
}

void TCustomFolder::DoUpdated(int eventCode, intptr_t data) {
    TFolderUpdateEvent ev = GetUpdateEvent();
    if (ev) ev.Proc(ev.Context, this, eventCode, data);
}

void TCustomFolder::LoadFromStream(TStream& stream) {
    uint8_t b = stream.ReadU8();
    std::lock_guard<std::recursive_mutex> g(FLock);
    FFlags = b;
}

void TCustomFolder::SaveToStream(TStream& stream) { stream.WriteU8(GetFlagByte()); }

void TCustomFolder::SearchFiles(TItemList*) {
    throw ECustomFolderError(Format("%s では SearchFilesEx はサポートされていません。", ClassName()));
}

void TCustomFolder::SearchFilesEx(TKindSet, TItemList*) {
    throw ECustomFolderError(Format("%s では SearchFilesEx はサポートされていません。", ClassName()));
}

bool TCustomFolder::GetKeep() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return (FFlags & kKeepBit) != 0;
}

void TCustomFolder::SetKeep(bool keep) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FFlags = static_cast<uint8_t>(keep ? (FFlags | kKeepBit) : (FFlags & ~kKeepBit));
}

bool TCustomFolder::GetOptionsFollow() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return (FFlags & kOptionsFollowBit) != 0;
}

void TCustomFolder::SetOptionsFollow(bool on) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FFlags = static_cast<uint8_t>(on ? (FFlags | kOptionsFollowBit) : (FFlags & ~kOptionsFollowBit));
}

uint8_t TCustomFolder::GetFlagByte() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FFlags;
}

int32_t TCustomFolder::GetStoredValue() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FStoredValue;
}

void TCustomFolder::SetStoredValue(int32_t value) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FStoredValue = value;
}

TFolderUpdateEvent TCustomFolder::GetUpdateEvent() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FUpdateEvent;
}

bool TCustomFolder::UpdateCounts(bool notify) {
    int kind = GetFolderKind();
    int32_t items, marked;
    if (kind >= fkCalendarMonth && kind <= fkCalendarRoot) {
        items = GetTotalItemCount();
        marked = GetTotalMarkedItemCount();
    } else {
        items = GetItemCount();
        marked = GetMarkedItemCount();
    }
    {
        std::lock_guard<std::recursive_mutex> g(FLock);
        if (items == FOwnItemCount && marked == FOwnMarkedCount) return false;
        FOwnItemCount = items;
        FOwnMarkedCount = marked;
    }
    if (notify) DoUpdated(feCountsChanged, 0);
    return true;
}

bool TCustomFolder::UpdateTotals(bool notify) {
    int kind = GetFolderKind();
    int32_t items = 0, marked = 0;
    if (!(kind >= fkCalendarMonth && kind <= fkCalendarRoot)) {
        UpdateCounts(false);
        items = OwnItemCount();
        marked = OwnMarkedCount();
    }
    if (kind != fkCalendarDay) {
        TFolderList subs;
        GetSubFolders(subs);
        for (TCustomFolder* f : subs) {
            f->UpdateTotals(notify);
            items += f->SubtreeItemCount();
            marked += f->SubtreeMarkedCount();
        }
    }
    {
        std::lock_guard<std::recursive_mutex> g(FLock);
        if (items == FSubtreeItemCount && marked == FSubtreeMarkedCount) return false;
        FSubtreeItemCount = items;
        FSubtreeMarkedCount = marked;
    }
    if (notify) DoUpdated(feCountsChanged, 0);
    return true;
}

int32_t TCustomFolder::OwnItemCount() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FOwnItemCount;
}

int32_t TCustomFolder::OwnMarkedCount() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FOwnMarkedCount;
}

int32_t TCustomFolder::SubtreeItemCount() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FSubtreeItemCount;
}

int32_t TCustomFolder::SubtreeMarkedCount() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FSubtreeMarkedCount;
}

// ---------------------------------------------------------------------------

void TFolderUpdateMaster::Add(const void* subscriber, const std::string& subscriberClass, const TFolderUpdateEvent& event) {
    if (!subscriber || !event) return;
    std::lock_guard<std::recursive_mutex> g(FLock);
    FItems.push_back(std::make_unique<TFolderUpdatedEventItem>(TFolderUpdatedEventItem{subscriber, subscriberClass, event}));
}

void TFolderUpdateMaster::Remove(const void* subscriber, const TFolderUpdateEvent& event) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    std::erase_if(FItems, [&](const std::unique_ptr<TFolderUpdatedEventItem>& it) {
        return it->Subscriber == subscriber && it->Event.Proc == event.Proc;
    });
}

size_t TFolderUpdateMaster::Count() const {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FItems.size();
}

void TFolderUpdateMaster::DoEvent(TCustomFolder* folder, int eventCode, intptr_t data) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    // A subscriber may remove itself (or others) from inside its callback, so the walk
    // re-checks its position against the list after every call.
    size_t i = FItems.size();
    while (i > 0) {
        --i;
        if (i >= FItems.size()) {
            i = FItems.size();
            continue;
        }
        TFolderUpdatedEventItem* item = FItems[i].get();
        try {
            item->Event.Proc(item->Event.Context, folder, eventCode, data);
        } catch (const Exception& e) {
            EFolderUpdatedEventError err(Format(
                "\r\n\r\n%s.DoEvent でエラーが発生しました。\r\n\r\n\tEventOwner\t:%s\r\n\tEventType\t:%s\r\n\r\n%s\r\n\r\n",
                "TFolderUpdatedEventItem", item->SubscriberClass.c_str(), "", e.Message().c_str()));
            WriteLogException("TFolderUpdateMaster.DoEvent", err);
            // a failing subscriber is dropped for good
            for (size_t j = 0; j < FItems.size(); ++j) {
                if (FItems[j].get() == item) {
                    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(j));
                    break;
                }
            }
            if (i > FItems.size()) i = FItems.size();
        }
    }
}

}  // namespace fv
