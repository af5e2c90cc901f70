#include "library/listup_thread.h"

#include <utility>
#include <vector>

#include "core/file_functions.h"
#include "library/catalog_item.h"
#include "library/folder.h"

namespace fv {

bool IsItemGone(const TCatalogItem* item) {
    if (!item) return true;
    TFolder* owner = item->GetOwner();
    if (!owner || owner->IsOffline()) return true;
    uint8_t state = item->GetState();
    return state == isMissing || state == isDeleted;
}

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

}  // namespace fv
