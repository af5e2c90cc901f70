// The catalog grid's producers: the listing thread of the folder shown and the thumbnail maker
// that fills the catalog image cache for the visible range.
#include <QMetaObject>
#include <memory>

#include "thumbs/cache_image_maker.h"
#include "library/catalog_updater.h"
#include "thumbs/engine_image_cache.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "library/folder.h"
#include "library/listup_thread.h"
#include "ui/grid/catalog_grid.h"

namespace fv {

void TFrameCatalogDG::UseEngineProducers() {
    FUseEngine = true;
    SetListingStarter([this](TCustomFolder* folder, uint64_t ticket) { StartListingThread(folder, ticket); });
    SetThumbnailRequest([this](const std::vector<TCatalogItem*>& items, int size) {
        if (!FMaker) return;
        // one item (its file changed) joins the queue; a range replaces it
        if (items.size() == 1 && FMaker->GetSize() == size) FMaker->RequestOne(items.front());
        else FMaker->Request(items, size, true);
    });
    if (!FCache && CorvaImageCache()) SetImageCache(CorvaImageCache());
    else if (FCache) StartMaker();
}

void TFrameCatalogDG::StartMaker() {
    FMaker.reset();
    if (!FCache) return;
    FMaker = std::make_unique<TCacheImageMaker>(FCache, true);
    // Without the catalog updater (or before this grid registered with it) the stored pictures
    // reach the grid through the maker's own reports. The maker ends before the grid does.
    FMaker->SetObserver([this](TCatalogItem* item, TCacheWorkerType, TCacheImageSource stored, bool failed) {
        if (stored == csNone && !failed) return;
        QMetaObject::invokeMethod(
            this,
            [this, item, stored] {
                // a file that could not be read shows its type icon now
                if (stored == csNone) RepaintItem(item);
                else if (!FRegistered || !CatalogUpdaterRunning()) CatalogItemChanged(item, cuThumbnailStored);
            },
            Qt::QueuedConnection);
    });
    FMaker->Start();
    FLastMakeRange = {~0ull, -1, 0, false};
}

void TFrameCatalogDG::StartListingThread(TCustomFolder* folder, uint64_t ticket) {
    // the running listing is told to stop and forgotten; it ends on its own
    if (FLister) {
        FLister->Terminate();
        FAbandoned.push_back(std::move(FLister));
    }
    std::erase_if(FAbandoned, [](const std::unique_ptr<TListupItemsThreadEx>& t) { return t->Finished(); });
    if (!folder) return;
    if (!dynamic_cast<TFolder*>(folder) && !dynamic_cast<TAlbum*>(folder) && !dynamic_cast<TCalendar*>(folder)) {
        // a list made in memory (a tray's): nothing to read from the disk
        TItemList items;
        folder->GetItemsOfKinds(static_cast<TKindSet>(FListingOptions), items);
        DeliverListing(ticket, items, 2, true);
        return;
    }
    auto t = std::make_unique<TListupItemsThreadEx>();
    t->SetTarget(folder);
    int category = folder->GetCategory();
    bool sibling = category == fcAlbum && folder->GetAlbumType() == atMirabelo;
    t->SetDepthCode(static_cast<uint8_t>(category == fcAlbum ? 0 : category == fcCalendar ? 3 : FListingDepth));
    t->SetKinds(static_cast<TKindSet>(FListingOptions));
    t->SetOrderFlag(FSortType == stManual || sibling);
    // The report runs on the listing thread: the list is copied and put in the grid's order there
    // (a sort of 100,000 photos takes a good part of a second), then handed to the UI thread,
    // where a report of a thread no longer current is ignored by its ticket and a list sorted
    // in an order the grid no longer has is sorted again.
    const TViewOrder order = CurrentOrder();
    t->SetReportProc(
        [this, ticket, order](void*, TListupItemsThreadEx*, TItemList& list, uint8_t stage, int) {
            if (stage == lsTerminated) return;
            if (stage == lsStarted) {
                QMetaObject::invokeMethod(
                    this, [this, ticket] { DeliverListing(ticket, {}, 0, true); }, Qt::QueuedConnection);
                return;
            }
            auto items = std::make_shared<std::vector<TCatalogItem*>>(list.begin(), list.end());
            auto ordered = std::make_shared<TOrderedList>();
            OrderItems(*items, order, *ordered);
            // whether the shooting dates are to be read: a look at every photo, here rather than
            // on the UI thread once the list is shown
            const int needsDates = NeedsShootingDates(*items) ? 1 : 0;
            QMetaObject::invokeMethod(
                this,
                [this, ticket, items, ordered, order, needsDates] {
                    DeliverOrderedListing(ticket, std::move(*items), std::move(*ordered), order, 2, needsDates);
                },
                Qt::QueuedConnection);
        },
        nullptr);
    FLister = std::move(t);
    FLister->Start();
}

}  // namespace fv
