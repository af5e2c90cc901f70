#include "library/calendar_register.h"

#include <cstdlib>
#include <set>

#include "core/log.h"
#include "library/catalog_item.h"
#include "library/disk_rescan.h"
#include "library/folder.h"
#include "platform/file_ops.h"

namespace fv {

TCalendarRegistrar::TCalendarRegistrar(std::vector<TFolder*> roots, bool registered, TKindSet kinds)
    : FRoots(std::move(roots)), FRegistered(registered), FKinds(kinds) {}

TCalendarRegistrar::~TCalendarRegistrar() { TerminateAndWait(); }

void TCalendarRegistrar::CollectFolders(std::vector<TFolder*>& folders) {
    // every folder below the roots, with our own stack: a link back up the tree is walked once
    std::vector<TFolder*> stack(FRoots.rbegin(), FRoots.rend());
    std::set<TFileIdentity> visited;
    const int state = FRegistered ? csRegistered : csExcluded;
    while (!stack.empty() && !Terminated()) {
        TFolder* f = stack.back();
        stack.pop_back();
        TFileIdentity id;
        if (GetFileIdentity(f->GetFullName(), id) && !visited.insert(id).second) continue;
        folders.push_back(f);
        TFolderList subs;
        // registering looks at the disk (new folders become library folders); taking out does not
        if (FRegistered && DirectoryExists(f->GetFullName()))
            f->ScanSubFolders(&subs);
        else
            f->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            if (auto* sub = dynamic_cast<TFolder*>(*it)) {
                sub->SetCheckState(state);  // folders found below follow their registered parent
                stack.push_back(sub);
            }
    }
}

int TCalendarRegistrar::CountInCalendar(TFolder* folder) const {
    TItemList items;
    folder->GetItemsOfKinds(FKinds, items);
    int n = 0;
    for (TCatalogItem* it : items) n += it->IsInCalendar() ? 1 : 0;
    return n;
}

void TCalendarRegistrar::Execute() {
    SetThreadName();
    try {
        std::vector<TFolder*> folders;
        CollectFolders(folders);
        DoStart(static_cast<int32_t>(folders.size()));
        for (TFolder* f : folders) {
            if (Terminated()) break;
            ++FFolders;
            const int before = CountInCalendar(f);
            if (FRegistered) {
                // the files on disk now, the shooting dates not known yet, and the dated photos filed
                TFolderRescan scan;
                RescanFolderItems(f, FKinds, true, scan, [this] { return Terminated(); });
                FPhotos += static_cast<int>(scan.Found.size());
            } else {
                TItemList items;
                f->GetItemsOfKinds(FKinds, items);
                for (TCatalogItem* item : items) item->SetInCalendar(false);
                FPhotos += static_cast<int>(items.size());
            }
            FChanged += std::abs(CountInCalendar(f) - before);
            DoProgress(1);
        }
        DoFinish(Terminated() ? tsCancelled : tsFinished);
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Execute", e);
        DoFinish(tsFailed);
    }
}

}  // namespace fv
