// The catalog grid's own producers: the listing thread of the folder shown and the thumbnail
// maker that fills the catalog image cache for the visible range, both wired to the grid.
#include <QMetaObject>
#include <memory>

#include "thumbs/cache_image_maker.h"
#include "thumbs/engine_image_cache.h"
#include "library/catalog_item.h"
#include "library/catalog_updater.h"
#include "ui/grid/catalog_grid.h"

namespace fv {

void TFrameCatalogDG::UseEngineProducers() {
    FUseEngine = true;
    SetListingStarter([this](TCustomFolder* folder, uint64_t ticket) { StartListingThread(folder, ticket); });
    SetThumbnailRequest([this](const std::vector<TCatalogItem*>& items, int size) {
        if (FMaker) FMaker->Request(items, size);
    });
    if (!FCache && CorvaImageCache()) SetImageCache(CorvaImageCache());
    else if (FCache) StartMaker();
}

void TFrameCatalogDG::StartMaker() {
    FMaker.reset();
    if (!FCache) return;
    // Without the catalog updater (or before this grid registered with it) the stored pictures
    // reach the grid through the maker's own reports. The maker ends before the grid does.
    FMaker = std::make_unique<TGridMakerFeed>(FCache, Post(), [this](TCatalogItem* item, bool stored) {
        // a file that could not be read shows its type icon now
        if (!stored) RepaintItem(item);
        else if (!FRegistered || !CatalogUpdaterRunning()) CatalogItemChanged(item, cuThumbnailStored);
    });
    FRequests.ForgetMakeRange();
}

void TFrameCatalogDG::StartListingThread(TCustomFolder* folder, uint64_t ticket) {
    if (!FLister)
        FLister = std::make_unique<TGridLister>(
            Post(), [this](uint64_t t) { DeliverListing(t, {}, 0, true); },
            [this](uint64_t t, std::vector<TCatalogItem*> items, TOrderedList&& ordered, const TViewOrder& order,
                   int needsDates) { DeliverOrderedListing(t, std::move(items), std::move(ordered), order, 2, needsDates); });
    // the listing thread puts the list in the grid's order as it is now
    if (!FLister->Start(folder, ticket, FListingDepth, FListingOptions, CurrentOrder()) && folder)
        DeliverHeldItems(folder, ticket);
}

}  // namespace fv
