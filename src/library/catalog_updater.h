#pragma once
// The catalog updater: an event bus for changes of catalog items. Any thread raises an event
// (item, type); a watcher thread delivers the queued events every 100 ms to the registered
// handlers, last registered first, on the user-interface thread for handlers that ask for it.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/exception.h"

namespace fv {

class TCatalogItem;

FV_DECLARE_EXCEPTION(ECatalogUpdaterError, Exception);

// event types (0, 5 and 16 are never raised)
enum : uint8_t {
    cuRenamed = 1,
    cuDeleted = 2,
    cuCopiedOrMoved = 3,
    cuAddedToAlbum = 4,
    cuFavourite = 6,
    cuRating = 7,
    cuPrintReservation = 8,
    cuDeleteReservation = 9,
    cuShootingDate = 10,
    cuFileDate = 11,
    cuOrientation = 12,
    cuComment = 13,
    cuCorrections = 14,
    cuThumbnailStored = 15,
    cuPictureRewritten = 17,
    cuUploadState = 18,
};
// codes a view still takes though nothing raises them: a plain change, and an item that left its folder
enum : uint8_t { cuChanged = 0, cuLeftFolder = 5 };

using TCatalogUpdateHandler = std::function<void(TCatalogItem* item, uint8_t eventType)>;

// Starts the watcher; nothing when it runs already.
void InitializeCatalogUpdater();
// Stops the watcher, waiting in 50 ms slices while pending user-interface calls run.
void FinalizeCatalogUpdater();
bool CatalogUpdaterRunning();
// owner: the view that registers (its class name is kept for error reports); handlerId tells
// apart several handlers of one owner. "AOwner = nil", "AEvent = nil", and before
// InitializeCatalogUpdater "CatalogUpdateWatcher が初期化されていません。", each wrapped under the
// function's name.
void RegisterCatalogUpdateEvent(const void* owner, const std::string& ownerClassName, bool synchronize,
                                TCatalogUpdateHandler handler, int handlerId = 0);
// Retires every registration of that owner and handler id; a delivery cycle that already
// copied it may still call it once, so the handler must stay callable until the view's
// unregistration has returned and the current cycle ended (FinalizeCatalogUpdater waits for that).
void UnRegisterCatalogUpdateEvent(const void* owner, int handlerId = 0);
// Queues the event; ignored for a missing item or when the updater is not running.
void RaiseCatalogUpdateEvent(TCatalogItem* item, uint8_t eventType);

}  // namespace fv
