#include "library/engine_folder_ops.h"

#include <mutex>

#include "core/engine.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "library/album.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/library_engine.h"

namespace fv {

namespace {

std::mutex gRaiserLock;
std::function<void(TCatalogItem*, uint8_t)> gRaiser;

void RaiseCatalogUpdate(TCatalogItem* item, uint8_t type) {
    std::function<void(TCatalogItem*, uint8_t)> raiser;
    {
        std::lock_guard g(gRaiserLock);
        raiser = gRaiser;
    }
    if (raiser) raiser(item, type);
}

// An engine operation: whatever it raises is logged and raised again in its own layout.
template <class F>
auto Operation(const char* label, F&& fn) -> decltype(fn()) {
    try {
        return fn();
    } catch (const Exception& e) {
        std::string text = Format("%s でエラーが発生しました。\r\n\r\n%s\r\n%s\r\n", label, e.ClassName(), e.Message().c_str());
        WriteLog(text);
        throw ECorvaEngineError(text);
    }
}

bool IsAlbumKind(const TCustomFolder* f) { return f && (f->GetFolderKind() == fkAlbum || f->GetFolderKind() == fkSearchAlbum); }
bool IsDiskKind(const TCustomFolder* f) { return f && (f->GetFolderKind() == fkFolder || f->GetFolderKind() == fkRoot); }

constexpr int kMaxTreeDepth = 4096;  // deeper than any path the system accepts

TFolderTreeList& Tree() {
    TFolderTreeList* t = CorvaFolders();
    if (!t) RaiseEngineRefusal("CorvaEngine が初期化されていません。");
    return *t;
}

bool SameFile(TCatalogItem* a, TCatalogItem* b) {
    return a->GetFileTime() == b->GetFileTime() && a->GetFileSize() == b->GetFileSize();
}

// after a disk copy: the copies' items get the marks, ratings, comments and corrections of theirs
void CopiedFolder(TFolder* source, TFolder* target, int depth) {
    Operation("CopiedFolder", [&] {
        if (depth > kMaxTreeDepth || !source->CanMoveTo(target)) return;
        TFolder* copy = Tree().FindOrCreateFolderByPath(JoinFolderPath(target->GetFullName(), source->GetName()));
        if (!copy) return;
        if (source->GetItemCount() > 0) {
            copy->SearchFilesEx(kDefaultKindSet, nullptr);
            TItemList items;
            source->GetItems(items);
            for (TCatalogItem* it : items) {
                TCatalogItem* twin = copy->FindItem(it->GetFileName());
                if (twin && SameFile(twin, it)) twin->CopyDataFrom(*it);
            }
        }
        TFolderList subs;
        source->GetSubFolders(subs);
        for (TCustomFolder* s : subs) CopiedFolder(static_cast<TFolder*>(s), copy, depth + 1);
    });
}

// after a disk move: the catalog items themselves move, so albums, calendar and views keep them
void MovedFolder(TFolder* source, TFolder* target, int depth) {
    Operation("MovedFolder", [&] {
        if (depth > kMaxTreeDepth || !source->CanMoveTo(target)) return;
        TFolder* dest = Tree().FindOrCreateFolderByPath(JoinFolderPath(target->GetFullName(), source->GetName()));
        if (!dest) return;
        source->CheckExists(false, true);
        if (source->GetItemCount() > 0) {
            dest->SearchFilesEx(kDefaultKindSet, nullptr);
            TItemList items;
            source->GetItems(items);
            for (auto it = items.rbegin(); it != items.rend(); ++it) {
                TCatalogItem* item = *it;
                TFolder* owner = item->GetOwner();
                bool gone = !owner || owner->IsOffline() || item->GetState() == isMissing || item->GetState() == isDeleted;
                if (!gone) continue;
                TCatalogItem* fresh = dest->FindItem(item->GetFileName());
                if (!fresh || fresh == item || !SameFile(fresh, item)) continue;
                fresh->SetState(isDeleted);
                dest->RemoveItem(fresh);
                item->SetOwner(dest, false);
                item->SetState(isPresent);
            }
        }
        TFolderList subs;
        source->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) MovedFolder(static_cast<TFolder*>(*it), dest, depth + 1);
        if (source->IsOffline()) {
            dest->SetKeep(source->GetKeep());
            if (THistoryList* h = CorvaHistorys()) h->ReplaceFolder(source, dest);
            source->Remove();
        }
    });
}

void CopyFolder(TFolder* source, TFolder* target, const TFolderOpProgress& progress) {
    Operation("CopyFolder", [&] {
        TFileOpOptions o;
        o.Progress = progress;
        CopyIntoFolder(ExcludeTrailingPathDelimiters(source->GetFullName()),
                       ExcludeTrailingPathDelimiters(target->GetFullName()), o);
        CopiedFolder(source, target, 0);
    });
}

void MoveFolder(TFolder* source, TFolder* target, const TFolderOpProgress& progress) {
    Operation("MoveFolder", [&] {
        TFileOpOptions o;
        o.Progress = progress;
        MoveIntoFolder(ExcludeTrailingPathDelimiters(source->GetFullName()),
                       ExcludeTrailingPathDelimiters(target->GetFullName()), o);
        MovedFolder(source, target, 0);
    });
}

// the album utilities' own argument errors
[[noreturn]] void RaiseAlbumUtils(const std::string& message) {
    WriteLog("EAlbumUtilsError\r\n" + message);
    throw EAlbumUtilsError(message);
}

template <class F>
bool Utility(const char* label, F&& fn) {
    try {
        return fn();
    } catch (const std::exception& e) {
        WriteLog(Format("%s でエラーが発生しました。\r\n%s\r\n%s\r\n", label, ExceptionClassName(e).c_str(), e.what()));
        return false;
    }
}

}  // namespace

void SetCatalogUpdateRaiser(std::function<void(TCatalogItem*, uint8_t)> raiser) {
    std::lock_guard g(gRaiserLock);
    gRaiser = std::move(raiser);
}

void CheckCopyMoveToFolder(TCustomFolder* source, TCustomFolder* target, bool copy) {
    Operation("CheckCopyMoveToFolder", [&] {
        const std::string word = copy ? "コピー" : "移動";
        if (!source) RaiseEngineRefusal(Format("%s が指定されていません。", (word + "もと").c_str()));
        if (!target) RaiseEngineRefusal(Format("%s が指定されていません。", (word + "さき").c_str()));
        bool allowed = false;
        if (IsAlbumKind(source)) {
            allowed = source->GetParent() && IsAlbumKind(target) && target != source && !target->IsChildOf(source);
        } else if (source->GetFolderKind() == fkFolder && IsDiskKind(target)) {
            std::string s = ExcludeTrailingPathDelimiters(source->GetFullName());
            std::string t = ExcludeTrailingPathDelimiters(target->GetFullName());
            allowed = copy ? CanCopyFolderTo(s, t) : CanMoveFolderTo(s, t);
        }
        if (!allowed)
            RaiseEngineRefusal(Format("%s を\r\n%s に%sすることはできません。", source->GetFullName().c_str(),
                                      target->GetFullName().c_str(), word.c_str()));
    });
}

void CheckDeleteFolder(TCustomFolder* folder) {
    Operation("CheckDeleteFolder", [&] {
        if (!folder) RaiseEngineRefusal("削除対象 が指定されていません。");
        bool allowed = IsAlbumKind(folder) ? folder->GetParent() != nullptr
                                           : folder->GetFolderKind() == fkFolder &&
                                                 CanDeleteFolder(ExcludeTrailingPathDelimiters(folder->GetFullName()));
        if (!allowed) RaiseEngineRefusal(Format("%s を削除することはできません。", folder->GetFullName().c_str()));
    });
}

void CheckRenameFolder(TCustomFolder* folder) {
    Operation("CheckRenameFolder", [&] {
        if (!folder) RaiseEngineRefusal("リネーム対象 が指定されていません。");
        bool allowed = IsAlbumKind(folder) ? folder->GetParent() != nullptr
                                           : folder->GetFolderKind() == fkFolder &&
                                                 CanRenameFolder(ExcludeTrailingPathDelimiters(folder->GetFullName()));
        if (!allowed) RaiseEngineRefusal(Format("%s をリネームすることはできません。", folder->GetFullName().c_str()));
    });
}

void CheckCreateFolder(TCustomFolder* parent) {
    Operation("CheckCreateFolder", [&] {
        if (!parent) RaiseEngineRefusal("親フォルダ が指定されていません。");
        bool allowed = IsAlbumKind(parent);
        if (IsDiskKind(parent)) {
            auto* f = dynamic_cast<TFolder*>(parent);
            allowed = f && !f->IsRemoved();
        }
        if (!allowed) RaiseEngineRefusal(Format("%s に新しいフォルダは作成できません。", parent->GetFullName().c_str()));
    });
}

void CorvaEngineCopyFolder(TCustomFolder* source, TCustomFolder* target, const TFolderOpProgress& progress) {
    Operation("CorvaEngineCopyFolder", [&] {
        CheckCopyMoveToFolder(source, target, true);
        if (IsAlbumKind(source)) {
            CorvaAlbums()->CopyAlbum(static_cast<TAlbum*>(target), static_cast<TAlbum*>(source), true);
        } else {
            CopyFolder(static_cast<TFolder*>(source), static_cast<TFolder*>(target), progress);
        }
    });
}

void CorvaEngineMoveFolder(TCustomFolder* source, TCustomFolder* target, const TFolderOpProgress& progress) {
    Operation("CorvaEngineMoveFolder", [&] {
        CheckCopyMoveToFolder(source, target, false);
        if (IsAlbumKind(source)) {
            static_cast<TAlbum*>(source)->SetParentAlbum(static_cast<TAlbum*>(target));
        } else {
            MoveFolder(static_cast<TFolder*>(source), static_cast<TFolder*>(target), progress);
        }
    });
}

void CorvaEngineDeleteFolder(TCustomFolder* folder) {
    Operation("CorvaEngineDeleteFolder", [&] {
        CheckDeleteFolder(folder);
        if (IsAlbumKind(folder)) {
            CorvaAlbums()->DeleteAlbumEx(static_cast<TAlbum*>(folder), atUnknown);
            return;
        }
        auto* f = static_cast<TFolder*>(folder);
        std::string path = ExcludeTrailingPathDelimiters(f->GetFullName());
        MoveToTrash(path);  // the user can restore it from the desktop's trash
        if (DirectoryExists(path)) {
            f->CheckExists(true, true);
            f->PurgeForDeletion(true, true);
        } else {
            f->Remove();
        }
    });
}

void CorvaEngineRenameFolder(TCustomFolder* folder, std::string& name) {
    Operation("CorvaEngineRenameFolder", [&] {
        CheckRenameFolder(folder);
        if (name.empty()) RaiseEngineRefusal("空白のフォルダ名は無効です。");
        std::string wanted = ReplaceInvalidFileNameChars(name);
        if (IsAlbumKind(folder)) {
            auto* album = static_cast<TAlbum*>(folder);
            album->SetName(wanted);
            name = album->GetName();
            return;
        }
        auto* f = static_cast<TFolder*>(folder);
        TFolder* parent = f->GetParentFolder();
        std::string from = ExcludeTrailingPathDelimiters(f->GetFullName());
        std::string to = parent ? JoinFolderPath(parent->GetFullName(), wanted) : std::string();
        if (!parent || !RenameNoReplace(from, to)) RaiseEngineRefusal("フォルダ名の変更に失敗しました。");
        f->Rename(wanted);
        name = f->GetName();
    });
}

TCustomFolder* CorvaEngineCreateChild(TCustomFolder* parent, std::string& name) {
    return Operation("CorvaEngineCreateChild", [&]() -> TCustomFolder* {
        CheckCreateFolder(parent);
        std::string wanted = ReplaceInvalidFileNameChars(name);
        if (IsAlbumKind(parent)) {
            TAlbum* album = CorvaAlbums()->CreateAlbum(static_cast<TAlbum*>(parent), atAlbum, "", wanted);
            if (album) name = album->GetName();
            return album;
        }
        auto* f = static_cast<TFolder*>(parent);
        std::string candidate = wanted;
        for (int n = 1; ; ) {
            std::string path = JoinFolderPath(f->GetFullName(), candidate);
            if (!DirectoryExists(path) && !FileExists(path)) break;
            ++n;
            if (n > 100000) return nullptr;
            candidate = Format("%s(%d)", wanted.c_str(), n);
        }
        if (!ForceDirectories(JoinFolderPath(f->GetFullName(), candidate))) return nullptr;
        f->ScanSubFoldersQuiet();
        TFolder* child = f->AddSubFolder(candidate);
        name = candidate;
        return child;
    });
}

TAlbum* CreateNewTrayAlbum() {
    return Operation("CreateNewTrayAlbum", [&] {
        TAlbumList* albums = CorvaAlbums();
        if (!albums) RaiseEngineRefusal("CorvaEngine が初期化されていません。");
        return albums->CreateAlbum(albums->GetRootAlbum(atTray), atTray, "作業用トレイ", "CorvaTray");
    });
}

bool CorvaAddItemToAlbum(TAlbum* album, TCatalogItem* item, int32_t groupNumber, bool notify, bool raiseUpdate) {
    return Utility("CorvaAddItemToAlbum", [&] {
        if (!album) RaiseAlbumUtils("DestAlbum = nil");
        if (!item) RaiseAlbumUtils("Item = nil");
        album->AddItem(item, groupNumber);
        if (raiseUpdate) RaiseCatalogUpdate(item, 4);
        if (notify) album->NotifyItemsChanged();
        return true;
    });
}

bool CorvaDelItemFromAlbum(TAlbum* album, TCatalogItem* item, bool raiseUpdate, bool notify) {
    return Utility("CorvaDelItemFromAlbum", [&] {
        if (!album) RaiseAlbumUtils("DestAlbum = nil");
        if (!item) RaiseAlbumUtils("Item = nil");
        if (!album->FindEntry(item)) return false;
        album->RemoveItem(item);
        if (raiseUpdate) RaiseCatalogUpdate(item, 4);
        if (notify) album->NotifyItemsChanged();
        return true;
    });
}

bool CorvaAddItemsToAlbum(TAlbum* album, const TItemList* items, int32_t groupNumber, bool notify, bool raiseUpdate) {
    return Utility("CorvaAddItemsToAlbum", [&] {
        if (!album) RaiseAlbumUtils("DestAlbum = nil");
        if (!items) RaiseAlbumUtils("Items = nil");
        if (items->empty()) RaiseAlbumUtils("Items.Count = 0");
        bool any = false;
        for (TCatalogItem* it : *items) any = CorvaAddItemToAlbum(album, it, groupNumber, false, raiseUpdate) || any;
        if (notify && any) album->NotifyItemsChanged();
        return any;
    });
}

bool CorvaDelItemsFromAlbum(TAlbum* album, const TItemList* items, bool raiseUpdate, bool notify) {
    return Utility("CorvaDelItemsFromAlbum", [&] {
        if (!album) RaiseAlbumUtils("DestAlbum = nil");
        if (!items) RaiseAlbumUtils("Items = nil");
        if (items->empty()) RaiseAlbumUtils("Items.Count = 0");
        bool any = false;
        for (TCatalogItem* it : *items) any = CorvaDelItemFromAlbum(album, it, raiseUpdate, false) || any;
        if (notify && any) album->NotifyItemsChanged();
        return any;
    });
}

bool CorvaGetFolderPathWithOutRoot(TCustomFolder* folder, std::string& path) {
    return Utility("CorvaGetFolderPathWithOutRoot", [&] {
        if (!folder) RaiseAlbumUtils("SourceFolder = nil");
        // disk folders are joined with the path delimiter, albums and calendar nodes with a backslash
        const char* delim = folder->GetCategory() == fcDiskFolder ? "/" : "\\";
        path = folder->GetCaption();
        for (TCustomFolder* p = folder->GetParent(); p && p->GetParent(); p = p->GetParent()) path = p->GetCaption() + delim + path;
        return true;
    });
}

}  // namespace fv
