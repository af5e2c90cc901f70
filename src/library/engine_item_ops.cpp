#include "library/engine_item_ops.h"

#include "core/engine.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "library/catalog_item.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"

namespace fv {

namespace {

bool SameFile(TCatalogItem* a, TCatalogItem* b) {
    return a->GetFileTime() == b->GetFileTime() && a->GetFileSize() == b->GetFileSize();
}

// the library's folder object of the destination (none outside the engine or off any drive)
TFolder* DestinationFolder(const std::string& target) {
    TFolderTreeList* tree = CorvaFolders();
    if (!tree) return nullptr;
    try {
        return tree->FindOrCreateFolderByPath(target);
    } catch (const std::exception& e) {
        WriteLog(Format("CorvaEngineCopyItems: %s\r\n%s\r\n", target.c_str(), e.what()));
        return nullptr;
    }
}

TItemCopyResult CopyOrMoveItems(const std::vector<TCatalogItem*>& items, const std::string& targetFolder, bool move,
                                const TFolderOpProgress& progress) {
    const char* label = move ? "CorvaEngineMoveItems" : "CorvaEngineCopyItems";
    const std::string target = ExcludeTrailingPathDelimiters(targetFolder);
    if (target.empty() || !DirectoryExists(target)) {
        std::string text = Format("%s でエラーが発生しました。\r\n\r\n%s に%sすることはできません。\r\n", label,
                                  targetFolder.c_str(), move ? "移動" : "コピー");
        WriteLog(text);
        throw ECorvaEngineError(text);
    }
    TItemCopyResult result;
    TFileOpOptions options;
    options.Progress = progress;
    for (TCatalogItem* item : items) {
        if (!item) continue;
        TFolder* owner = item->GetOwner();
        const std::string source = item->GetFullPath();
        if (!owner || owner->IsOffline()) {
            result.Failed.push_back(source + ": フォルダがオフラインです。");
            continue;
        }
        try {
            if (move) MoveIntoFolder(source, target, options);
            else CopyIntoFolder(source, target, options);
            result.Done.push_back(item);
        } catch (const EFileOpAborted&) {
            result.Failed.push_back(source + ": 中止されました。");
            break;  // the user cancelled: the rest stays where it is
        } catch (const std::exception& e) {
            result.Failed.push_back(source + ": " + e.what());
        }
    }
    if (result.Done.empty()) return result;

    TFolder* dest = DestinationFolder(target);
    if (move) {
        for (TCatalogItem* item : result.Done) {
            TFolder* old = item->GetOwner();
            if (dest && dest != old) {
                // an item the destination had for an earlier file of that name gives way
                TCatalogItem* stale = dest->FindItem(item->GetFileName());
                if (stale && stale != item) {
                    stale->SetState(isDeleted);
                    dest->RemoveItem(stale);
                }
                item->SetOwner(dest, true);
            }
            // a photo moved out of the library's reach is missing from where it was
            if (item->GetOwner() == old && (!dest || dest != old)) item->SetState(isMissing);
            else item->SetState(isPresent);
        }
    } else if (dest) {
        try {
            dest->SearchFilesEx(kDefaultKindSet, nullptr);
            for (TCatalogItem* item : result.Done) {
                TCatalogItem* twin = dest->FindItem(item->GetFileName());
                if (twin && twin != item && SameFile(twin, item)) twin->CopyDataFrom(*item);
            }
        } catch (const std::exception& e) {
            // the files are copied; the copies' marks are what is lost
            WriteLog(Format("%s: %s\r\n%s\r\n", label, target.c_str(), e.what()));
        }
    }
    return result;
}

}  // namespace

TItemCopyResult CorvaEngineCopyItems(const std::vector<TCatalogItem*>& items, const std::string& targetFolder,
                                     const TFolderOpProgress& progress) {
    return CopyOrMoveItems(items, targetFolder, false, progress);
}

TItemCopyResult CorvaEngineMoveItems(const std::vector<TCatalogItem*>& items, const std::string& targetFolder,
                                     const TFolderOpProgress& progress) {
    return CopyOrMoveItems(items, targetFolder, true, progress);
}

}  // namespace fv
