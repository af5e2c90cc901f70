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
#include <unordered_set>

#include "thumbs/cache_image_maker.h"
#include "library/album.h"
#include "library/catalog_updater.h"
#include "thumbs/engine_image_cache.h"
#include "library/catalog_item.h"
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
    // a sort on its way is dropped; the list on screen stays
    FModel.StopSorter();
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
    bool album = FModel.FolderIs(fcAlbum);
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
    TCustomFolder* folder = Folder();
    if (!folder) return;
    if (folder->GetAlbumType() != atTray) {
        QString text = QStringLiteral("写真を%1タグから外します。\r\n\r\nこの処理では、タグが外されるだけで\r\nファイル自体は削除されません。\r\n\r\nよろしいですか？")
                           .arg(QString::fromStdString(folder->GetCaption()));
        if (!FDialogs.Ask || !FDialogs.Ask(QString::fromUtf8("FolvaneBrowser"), text)) return;
    }
    if (!FDialogs.RemoveFromAlbum) return;
    std::vector<TCatalogItem*> removed;
    for (TCatalogItem* it : items)
        if (FDialogs.RemoveFromAlbum(folder, it)) removed.push_back(it);
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
        bool disk = FModel.FolderIs(fcDiskFolder);
        TCustomFolder* shown = Folder();
        std::vector<TCatalogItem*> gone;
        for (TCatalogItem* it : items) {
            TFolder* owner = it->GetOwner();
            bool away = disk && owner && static_cast<TCustomFolder*>(owner) != shown && !owner->IsChildOf(shown);
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
    if (!item || !FModel.IsLoaded(item)) return;
    if (TGridModel::IsBatchedChange(code)) {
        FModel.QueueChange(item, code);
        FChangeTimer.start();  // (re)started: a burst is handled once
    } else if (TGridModel::IsPictureChange(code)) {
        // the picture changes: read it again from the cache
        ForgetThumbnail(item);
        // the maker read the photo's camera data on the way: a new shooting date puts the
        // list in order again (with the next burst of changes)
        if (FModel.DateMoved(item)) {
            FModel.QueueChange(item, cuShootingDate);
            if (!FChangeTimer.isActive()) FChangeTimer.start();  // not put off by the next picture
        }
        RepaintItem(item);
        RequestThumbnails(false);
    } else {
        FInfoPictures.erase(item);
        RepaintItem(item);
    }
}

void TFrameCatalogDG::OnChangeTimer() {
    TGridChangeBatch batch = FModel.TakeChanges();
    for (TCatalogItem* item : batch.Rewritten) {
        ForgetThumbnail(item);
        if (FThumbRequest) FThumbRequest({item}, DeviceThumbSize());
    }
    for (TCatalogItem* item : batch.Touched) FInfoPictures.erase(item);
    if (!batch.Remove.empty()) {
        RemoveItems(batch.Remove);
        if (batch.Resort) Resort();
        return;
    }
    if (batch.Resort) {
        Resort();
        return;
    }
    if (batch.Repaint.size() > 9) {
        viewport()->update();
    } else {
        for (TCatalogItem* it : batch.Repaint) RepaintItem(it);
    }
    RequestThumbnails(false);
}

void TFrameCatalogDG::ForgetThumbnail(TCatalogItem* item) {
    FInfoPictures.erase(item);
    FThumbs.Forget(item);
    FRequests.Answered(item);
}

void TFrameCatalogDG::RemoveItems(const std::vector<TCatalogItem*>& items) {
    if (items.empty()) return;
    FModel.RemoveItems(std::unordered_set<TCatalogItem*>(items.begin(), items.end()));
    for (TCatalogItem* it : items) ForgetThumbnail(it);
    Relayout(true);
    NotifyFocus();
    if (FModel.IsSorting()) Resort();  // the sort on its way had the photos that went
}

}  // namespace fv
