// The catalog grid's operations on photos and its handling of catalog change events.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <filesystem>
#include <thread>

#include "thumbs/cache_image_maker.h"
#include "library/album.h"
#include "library/catalog_updater.h"
#include "thumbs/engine_image_cache.h"
#include "library/listup_thread.h"
#include "library/catalog_item.h"
#include "library/catalog_list_sorter.h"
#include "library/engine_item_ops.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "platform/file_ops.h"
#include "ui/grid/catalog_grid.h"
#include "ui/grid/grid_thumb_reader.h"

namespace fv {

void TFrameCatalogDG::Start() {
    // the engine's cache, when it came up after this grid was made
    if (FUseEngine && !FCache && CorvaImageCache()) SetImageCache(CorvaImageCache());
    if (FRegistered || !CatalogUpdaterRunning()) return;
    QPointer<TFrameCatalogDG> self(this);
    RegisterCatalogUpdateEvent(this, "TFrameCatalogDG", true, [self](TCatalogItem* item, uint8_t type) {
        if (self) self->CatalogItemChanged(item, type);
    });
    FRegistered = true;
}

void TFrameCatalogDG::Stop() {
    if (FRegistered && CatalogUpdaterRunning()) UnRegisterCatalogUpdateEvent(this, 0);
    FRegistered = false;
    ++FTicket;
    FReader.reset();
    FMaker.reset();
    FLister.reset();
    FAbandoned.clear();
    // a sort on its way is dropped; the list on screen stays
    ++FSortGeneration;
    FSortPending = false;
    FSorter.reset();
}

bool TFrameCatalogDG::RunFileWork(const std::function<void()>& work) {
    // the disk work runs on its own thread; the interface stays responsive meanwhile
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    std::exception_ptr error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    if (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QApplication::restoreOverrideCursor();
    return !error;
}

void TFrameCatalogDG::Operation(int scope, int code) {
    std::vector<TCatalogItem*> list = ItemList(scope == 1 ? glkFavourites : glkSelection, true);
    if (list.empty()) return;
    if (scope == 1) {
        FFavouriteHighlight = true;
        viewport()->update();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool album = FFolder && FFolder->GetCategory() == fcAlbum;
    // the operations raise their events; a grid that does not hear them takes the changes itself
    auto heard = [&](const TItemVector& changed, int change) {
        if (FRegistered && CatalogUpdaterRunning()) return;
        for (TCatalogItem* it : changed) CatalogItemChanged(it, change);
    };
    auto markChange = [code](int off, int on) {
        return code == on ? TMarkChange::On : code == off ? TMarkChange::Off : TMarkChange::Toggle;
    };
    switch (code) {
        case gopCopy:
        case gopMove:
            QApplication::restoreOverrideCursor();
            CopyOrMove(list, code == gopMove);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        case gopRemove:
            QApplication::restoreOverrideCursor();
            if (album) RemoveFromAlbum(list);
            else DeleteOrTrash(list, true);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        case gopDelete:
            QApplication::restoreOverrideCursor();
            DeleteOrTrash(list, album);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        case gopOrientationReset:
        case gopRotateLeft:
        case gopRotateRight:
        case gopFlipVertical:
        case gopMirror: {
            static constexpr TTurn kTurns[] = {TTurn::Reset, TTurn::Left, TTurn::Right, TTurn::FlipVertical, TTurn::Mirror};
            heard(TurnItems(list, kTurns[code - gopOrientationReset]), cuOrientation);
            break;
        }
        case gopFavouriteOff:
        case gopFavouriteOn:
        case gopFavouriteToggle: heard(SetFavourite(list, markChange(gopFavouriteOff, gopFavouriteOn)), cuFavourite); break;
        case gopStarSet: heard(SetItemRating(list, 1), cuRating); break;
        case gopStarClear:
        case gopStarReset: heard(SetItemRating(list, 0), cuRating); break;
        case gopDeleteReserveOn:
        case gopDeleteReserveOff:
        case gopDeleteReserveToggle:
            heard(SetDeleteReservation(list, markChange(gopDeleteReserveOff, gopDeleteReserveOn)), cuDeleteReservation);
            break;
        case gopPrintPlus:
        case gopPrintMinus:
        case gopPrintReset: {
            TPrintChange change = code == gopPrintPlus ? TPrintChange::Plus : code == gopPrintMinus ? TPrintChange::Minus : TPrintChange::Reset;
            heard(ChangePrintReservation(list, change), cuPrintReservation);
            break;
        }
        default: break;
    }
    QApplication::restoreOverrideCursor();
    if (FFavouriteHighlight) {
        FFavouriteHighlight = false;
        viewport()->update();
    }
}

QString DeleteConfirmationText(const std::vector<TCatalogItem*>& items, bool trash) {
    QString list;
    for (size_t i = 0; i < items.size() && i < 10; ++i) list += QString::fromStdString(items[i]->GetFullPath()) + QStringLiteral("\r\n");
    if (items.size() > 10)
        list += QStringLiteral("\t\t\t・\r\n\t\t\t・\r\n\t\t\t・\r\n\t\t(合計 %1 枚の写真)\r\n").arg(items.size());
    return (trash ? QStringLiteral("以下の画像ファイルをゴミ箱へ移します\r\n\r\n%1") : QStringLiteral("以下の画像ファイルを削除します\r\n\r\n%1")).arg(list);
}

void TFrameCatalogDG::DeleteOrTrash(const std::vector<TCatalogItem*>& items, bool trash) {
    QString title = trash ? QStringLiteral("写真をゴミ箱へ") : QStringLiteral("写真の削除");
    if (!FDialogs.Ask || !FDialogs.Ask(title, DeleteConfirmationText(items, trash))) return;
    std::vector<std::string> paths;
    for (TCatalogItem* it : items) paths.push_back(it->GetFullPath());
    std::vector<std::string> failed;
    std::vector<char> gone(items.size(), 0);
    RunFileWork([&] {
        for (size_t i = 0; i < paths.size(); ++i) {
            if (FileExists(paths[i])) {
                try {
                    if (trash) MoveToTrash(paths[i]);
                    else std::filesystem::remove(paths[i]);
                } catch (const std::exception&) {
                    failed.push_back(paths[i]);
                }
            }
            gone[i] = !FileExists(paths[i]);
        }
    });
    // every photo whose file is gone leaves the library; its folder is counted again
    std::vector<TCatalogItem*> removed;
    for (size_t i = 0; i < items.size(); ++i)
        if (gone[i]) removed.push_back(items[i]);
    DropDeletedItems(removed);
    RemoveItems(removed);
    if (!failed.empty() && FDialogs.Error) {
        QString text = (trash ? QStringLiteral("ゴミ箱へ移せなかったファイルがあります。\r\n\r\n")
                              : QStringLiteral("削除できなかったファイルがあります。\r\n\r\n"));
        for (const auto& f : failed) text += QString::fromStdString(f) + QStringLiteral("\r\n");
        FDialogs.Error(text);
    }
}

void TFrameCatalogDG::RemoveFromAlbum(const std::vector<TCatalogItem*>& items) {
    if (!FFolder) return;
    if (FFolder->GetAlbumType() != atTray) {
        QString text = QStringLiteral("写真を%1タグから外します。\r\n\r\nこの処理では、タグが外されるだけで\r\nファイル自体は削除されません。\r\n\r\nよろしいですか？")
                           .arg(QString::fromStdString(FFolder->GetCaption()));
        if (!FDialogs.Ask || !FDialogs.Ask(QString::fromUtf8("FolvaneBrowser"), text)) return;
    }
    if (!FDialogs.RemoveFromAlbum) return;
    std::vector<TCatalogItem*> removed;
    for (TCatalogItem* it : items)
        if (FDialogs.RemoveFromAlbum(FFolder, it)) removed.push_back(it);
    RemoveItems(removed);
}

void TFrameCatalogDG::CopyOrMove(const std::vector<TCatalogItem*>& items, bool move) {
    QString prompt = move ? QStringLiteral("移動先フォルダを指定してください。") : QStringLiteral("コピー先フォルダを指定してください。");
    QString start = FLastFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) : FLastFolder;
    QString dest = FDialogs.ChooseFolder ? FDialogs.ChooseFolder(prompt, start) : QString();
    if (dest.isEmpty()) return;
    FLastFolder = dest;
    std::string target = dest.toStdString();
    std::vector<std::string> failed;
    if (FCopyMove) {
        failed = FCopyMove(items, target, move);
    } else {
        // the engine copies or moves the files and keeps the library in step, on a worker
        RunFileWork([&] {
            try {
                TItemCopyResult r = move ? CorvaEngineMoveItems(items, target) : CorvaEngineCopyItems(items, target);
                failed = std::move(r.Failed);
            } catch (const std::exception& e) {
                failed = {e.what()};
            }
        });
    }
    if (move) {
        // moved photos leave a disk folder's grid; albums and calendar days keep them
        bool disk = FFolder && FFolder->GetCategory() == fcDiskFolder;
        std::vector<TCatalogItem*> gone;
        for (TCatalogItem* it : items) {
            TFolder* owner = it->GetOwner();
            bool away = disk && owner && static_cast<TCustomFolder*>(owner) != FFolder && !owner->IsChildOf(FFolder);
            if (IsItemGone(it) || away) gone.push_back(it);
        }
        RemoveItems(gone);
    }
    if (!failed.empty() && FDialogs.Error) {
        QString text = move ? QStringLiteral("移動できなかったファイルがあります。\r\n\r\n") : QStringLiteral("コピーできなかったファイルがあります。\r\n\r\n");
        for (const auto& f : failed) text += QString::fromStdString(f) + QStringLiteral("\r\n");
        FDialogs.Error(text);
    }
}

void TFrameCatalogDG::ShowPropertySheet() {
    TCatalogItem* item = FocusedItem();
    if (!item) return;
    QString path = QString::fromStdString(item->GetFullPath());
    // the desktop's file manager with the file selected, else the folder opened
    QStringList args = {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.FileManager1"),
                        QStringLiteral("--type=method_call"), QStringLiteral("/org/freedesktop/FileManager1"),
                        QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                        QStringLiteral("array:string:") + QUrl::fromLocalFile(path).toString(), QStringLiteral("string:")};
    if (!QProcess::startDetached(QStringLiteral("dbus-send"), args))
        QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(path).absolutePath()});
}

// ---------------------------------------------------------------------------------------------
// change events

void TFrameCatalogDG::CatalogItemChanged(TCatalogItem* item, int code) {
    if (!item || !IsLoaded(item)) return;
    switch (code) {
        case cuChanged: case cuRenamed: case cuDeleted: case cuCopiedOrMoved: case cuLeftFolder: case cuShootingDate:
        case cuFileDate: case cuPictureRewritten:
            FPendingChanges.emplace_back(item, code);
            FChangeTimer.start();  // (re)started: a burst is handled once
            break;
        case cuOrientation:
        case cuCorrections:
        case cuThumbnailStored: {
            // the picture changes: read it again from the cache
            ForgetThumbnail(item);
            // the maker read the photo's camera data on the way: a new shooting date puts the
            // list in order again (with the next burst of changes)
            if (DateMoved(item)) {
                FPendingChanges.emplace_back(item, cuShootingDate);
                if (!FChangeTimer.isActive()) FChangeTimer.start();  // not put off by the next picture
            }
            RepaintItem(item);
            RequestThumbnails(false);
            break;
        }
        default:
            FInfoPictures.erase(item);
            RepaintItem(item);
            break;
    }
}

void TFrameCatalogDG::OnChangeTimer() {
    std::vector<std::pair<TCatalogItem*, int>> queue;
    queue.swap(FPendingChanges);
    bool resort = false;
    std::vector<TCatalogItem*> remove, repaint;
    for (auto [item, code] : queue) {
        // a photo whose date was read since the list was put in order (the thumbnail maker reads
        // the camera data of the photos it decodes) goes to its day: the list is put in order again
        if (code != cuDeleted && !resort && DateMoved(item)) resort = true;
        switch (code) {
            case cuRenamed: if (FSortType == stFileName) resort = true; else repaint.push_back(item); break;
            case cuDeleted: remove.push_back(item); break;
            case cuCopiedOrMoved:
                if (FFolder && FFolder->GetCategory() == fcDiskFolder && static_cast<TCustomFolder*>(item->GetOwner()) != FFolder) remove.push_back(item);
                else repaint.push_back(item);
                break;
            case cuLeftFolder: {
                TFolder* owner = item->GetOwner();
                bool inside = owner && FFolder && (static_cast<TCustomFolder*>(owner) == FFolder || owner->IsChildOf(FFolder));
                if (!inside) remove.push_back(item);
                break;
            }
            case cuShootingDate: if (FGrouping || FSortType == stShootingDate) resort = true; else repaint.push_back(item); break;
            case cuFileDate: if (FSortType == stFileTime) resort = true; else repaint.push_back(item); break;
            case cuPictureRewritten: {
                ForgetThumbnail(item);
                if (FThumbRequest) FThumbRequest({item}, DeviceThumbSize());
                repaint.push_back(item);
                break;
            }
            default: repaint.push_back(item); break;
        }
        FInfoPictures.erase(item);
    }
    if (!remove.empty()) {
        RemoveItems(remove);
        if (resort) Resort();
        return;
    }
    if (resort) {
        Resort();
        return;
    }
    if (repaint.size() > 9) {
        viewport()->update();
    } else {
        for (TCatalogItem* it : repaint) RepaintItem(it);
    }
    RequestThumbnails(false);
}

void TFrameCatalogDG::ForgetThumbnail(TCatalogItem* item) {
    FInfoPictures.erase(item);
    auto found = FThumbs.find(item);
    if (found != FThumbs.end()) {
        FThumbBytes -= static_cast<size_t>(found->second.Image.sizeInBytes());
        FThumbLru.erase(found->second.Lru);
        FThumbs.erase(found);
    }
    FThumbAsked.erase(item);
}

void TFrameCatalogDG::RemoveItems(const std::vector<TCatalogItem*>& items) {
    if (items.empty()) return;
    std::unordered_set<TCatalogItem*> gone(items.begin(), items.end());
    TCatalogItem* focus = FocusedItem();
    if (focus && gone.count(focus)) {
        // the focus moves to the next photo in sorted order, or the previous one
        TCatalogItem* next = nullptr;
        auto pos = std::find(FOrdered.Items.begin(), FOrdered.Items.end(), focus);
        for (auto it = pos; it != FOrdered.Items.end() && !next; ++it)
            if (!gone.count(*it)) next = *it;
        for (auto it = pos; it != FOrdered.Items.begin() && !next;)
            if (!gone.count(*--it)) next = *it;
        FFocusCell = -1;
        if (next) {
            FSelection = {next};
            FSelected = {next};
            FFocusCell = CellOf(next);
        }
    }
    auto drop = [&](std::vector<TCatalogItem*>& v) { v.erase(std::remove_if(v.begin(), v.end(), [&](TCatalogItem* i) { return gone.count(i) != 0; }), v.end()); };
    drop(FLoaded);
    drop(FSelection);
    {
        // the shown list keeps its order and each photo's date; its index is made again
        size_t n = 0;
        const bool dated = FOrdered.ShootingDates.size() == FOrdered.Items.size();
        for (size_t i = 0; i < FOrdered.Items.size(); ++i) {
            if (gone.count(FOrdered.Items[i])) continue;
            if (dated) FOrdered.ShootingDates[n] = FOrdered.ShootingDates[i];
            FOrdered.Items[n++] = FOrdered.Items[i];
        }
        FOrdered.Items.resize(n);
        if (dated) FOrdered.ShootingDates.resize(n);
        FOrdered.BuildIndex();
    }
    for (TCatalogItem* it : items) {
        FSelected.erase(it);
        ForgetThumbnail(it);
    }
    Relayout(true);
    NotifyFocus();
    if (FSortPending) Resort();  // the sort on its way had the photos that went
}

}  // namespace fv
