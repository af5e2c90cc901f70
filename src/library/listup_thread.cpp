#include "library/listup_thread.h"
#include "platform/os_thread.h"

#include <utility>
#include <vector>

#include "core/file_functions.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/item_ops.h"

namespace fv {

TListupItemsThreadEx::TListupItemsThreadEx() = default;

TListupItemsThreadEx::~TListupItemsThreadEx() { TerminateAndWait(); }

void TListupItemsThreadEx::Report(uint8_t stage) {
    if (!FReport) return;
    const int newCount = static_cast<int>(FList.size() - std::min(FLastReported, FList.size()));
    // the count moves on also when the callback raised
    struct TMark {
        TListupItemsThreadEx& T;
        ~TMark() { T.FLastReported = T.FList.size(); }
    } mark{*this};
    if (FSynchronize)
        Synchronize([&] { FReport(FContext, this, FList, stage, newCount); });
    else
        FReport(FContext, this, FList, stage, newCount);
}

void TListupItemsThreadEx::Execute() {
    SetThreadName();
    LowerCurrentThreadPriority(kBackgroundNice);
    try {
        Report(lsStarted);
        ListTarget();
        Report(Terminated() ? lsTerminated : lsCompleted);
    } catch (const Exception&) {
        try {
            Report(lsFailed);
        } catch (...) {
            // the owner's callback failed on the failure report: nothing more to tell
        }
    } catch (...) {
        // not ours: the thread ends without a report
    }
}

void TListupItemsThreadEx::ListTarget() {
    if (!FTarget) throw EListupItemsError("ターゲットが指定されていません。");
    if (auto* folder = dynamic_cast<TFolder*>(FTarget)) {
        ListFolder(folder);
        return;
    }
    if (auto* album = dynamic_cast<TAlbum*>(FTarget)) {
        ListAlbum(album);
        return;
    }
    if (auto* node = dynamic_cast<TCalendar*>(FTarget)) {
        ListCalendar(node);
        return;
    }
    throw EListupItemsError(std::string("ターゲットは不明な形式です。(") + FTarget->ClassName() + ")");
}

void TListupItemsThreadEx::ListFolder(TFolder* folder) {
    FList.clear();
    FSkippedLoops = 0;
    if (FKinds == 0 || Terminated()) return;
    // a removable drive without its medium simply has no directory: an empty list, no error
    if (!DirectoryExists(folder->GetFullName())) return;

    // depth first, the folder's own items before its subfolders', with our own stack: the depth
    // can be unlimited, and a link back up the tree must not make the walk endless
    std::vector<std::pair<TFolder*, int>> stack{{folder, LevelsOf(FDepthCode)}};
    std::set<TFileIdentity> visited;
    while (!stack.empty() && !Terminated()) {
        auto [f, levels] = stack.back();
        stack.pop_back();
        TFileIdentity id;
        if (GetFileIdentity(f->GetFullName(), id) && !visited.insert(id).second) {
            ++FSkippedLoops;
            continue;
        }
        f->SearchFilesEx(FKinds, &FList);
        if (Terminated() || levels < 1) continue;
        TFolderList subs;
        f->ScanSubFolders(&subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            if (auto* sub = dynamic_cast<TFolder*>(*it)) stack.emplace_back(sub, levels - 1);
    }
    if (FOrder && !Terminated())
        for (TCatalogItem* item : FList) item->SetManualPosition(item->GetStoredPosition());
}

void TListupItemsThreadEx::DropGone() {
    std::erase_if(FList, [](TCatalogItem* item) { return IsItemGone(item); });
}

void TListupItemsThreadEx::ListAlbum(TAlbum* album) {
    FList.clear();
    if (Terminated()) return;
    // subalbums are not listed, whatever the depth
    std::vector<TAlbumItem*> entries;
    album->GetEntriesOfKinds(FKinds, entries);
    const bool tray = album->GetAlbumType() == atTray;
    for (TAlbumItem* e : entries) {
        if (Terminated()) break;
        if (!e || !e->Item) continue;
        if (FOrder) {
            if (tray) e->Item->SetManualPosition(e->Position);
            else e->Item->SetGroupNumber(e->GroupNumber);
        }
        FList.push_back(e->Item);
    }
    if (FDropGone) DropGone();
}

void TListupItemsThreadEx::ListCalendar(TCalendar* node) {
    FList.clear();
    if (Terminated()) return;
    // the node's entries, then its children's in slot order, depth first, as deep as asked
    std::vector<TCalendarItem> entries;
    std::vector<std::pair<TCalendar*, int>> stack{{node, LevelsOf(FDepthCode)}};
    while (!stack.empty() && !Terminated()) {
        auto [n, levels] = stack.back();
        stack.pop_back();
        std::vector<TCalendarItem> own = n->GetCalendarItems();
        entries.insert(entries.end(), own.begin(), own.end());
        if (levels < 1) continue;
        TFolderList children;
        n->GetSubFolders(children);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (auto* c = dynamic_cast<TCalendar*>(*it)) stack.emplace_back(c, levels - 1);
    }
    for (const TCalendarItem& e : entries) {
        if (Terminated()) break;
        TCatalogItem* item = e.Item;
        if (!item || !KindInSet(item->GetKind(), FKinds) || IsItemGone(item)) continue;
        if (FOrder) {
            item->SetGroupNumber(static_cast<int32_t>(item->GetShootingDate()));  // the whole days
            item->SetManualPosition(static_cast<int16_t>(e.Position));
        }
        FList.push_back(item);
    }
    if (FDropGone) DropGone();
}

}  // namespace fv
