#include "library/calendar_register.h"

#include <set>

#include "core/log.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/file_ops.h"

namespace fv {

TCalendarRegistrar::TCalendarRegistrar(std::vector<TFolder*> roots, bool registered, TKindSet kinds)
    : FRoots(std::move(roots)), FRegistered(registered), FKinds(kinds) {}

TCalendarRegistrar::~TCalendarRegistrar() { TerminateAndWait(); }

void TCalendarRegistrar::CollectItems(std::vector<TCatalogItem*>& items) {
    // every folder below the roots, with our own stack: a link back up the tree is walked once
    std::vector<TFolder*> stack(FRoots.rbegin(), FRoots.rend());
    std::set<TFileIdentity> visited;
    const int state = FRegistered ? csRegistered : csExcluded;
    while (!stack.empty() && !Terminated()) {
        TFolder* f = stack.back();
        stack.pop_back();
        TFileIdentity id;
        if (GetFileIdentity(f->GetFullName(), id) && !visited.insert(id).second) continue;
        ++FFolders;
        TItemList found;
        TFolderList subs;
        if (FRegistered && DirectoryExists(f->GetFullName())) {
            // the files and folders on disk now: new ones become library items and folders
            f->SearchFilesEx(FKinds, &found);
            f->ScanSubFolders(&subs);
        } else {
            f->GetItemsOfKinds(FKinds, found);
            f->GetSubFolders(subs);
        }
        items.insert(items.end(), found.begin(), found.end());
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            if (auto* sub = dynamic_cast<TFolder*>(*it)) {
                sub->SetCheckState(state);  // folders found below follow their registered parent
                stack.push_back(sub);
            }
    }
}

void TCalendarRegistrar::Execute() {
    SetThreadName();
    try {
        std::vector<TCatalogItem*> items;
        CollectItems(items);
        DoStart(static_cast<int32_t>(items.size()));
        int32_t done = 0, reported = 0;
        for (TCatalogItem* item : items) {
            if (Terminated()) break;
            ++FPhotos;
            if (item->GetKind() != ikNotImage) {
                if (FRegistered) {
                    // the shooting date decides the day: read it from the file when it is not known yet
                    if (item->GetCameraState() == cdNotRead) item->ReadImageInfo();
                    if (item->GetShootingDate() > 0 && !item->IsInCalendar()) {
                        item->SetInCalendar(true);
                        ++FChanged;
                    }
                } else if (item->IsInCalendar()) {
                    item->SetInCalendar(false);
                    ++FChanged;
                }
            }
            if (++done % 64 == 0) {
                DoProgress(done - reported);  // the count grows by what was done since the last report
                reported = done;
            }
        }
        if (done > reported) DoProgress(done - reported);
        DoFinish(Terminated() ? tsCancelled : tsFinished);
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Execute", e);
        DoFinish(tsFailed);
    }
}

}  // namespace fv
