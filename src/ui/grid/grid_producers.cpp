#include "ui/grid/grid_producers.h"

#include <memory>

#include "thumbs/cache_image_maker.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "library/folder.h"
#include "library/listup_thread.h"

namespace fv {

TGridLister::TGridLister(TGridPost post, TStarted started, TListed listed)
    : FPost(std::move(post)), FStarted(std::move(started)), FListed(std::move(listed)) {}

TGridLister::~TGridLister() { Stop(); }

void TGridLister::Stop() {
    FThread.reset();
    FAbandoned.clear();
}

bool TGridLister::Start(TCustomFolder* folder, uint64_t ticket, int diskDepth, int kinds, const TViewOrder& order) {
    // the running listing is told to stop and forgotten; it ends on its own
    if (FThread) {
        FThread->Terminate();
        FAbandoned.push_back(std::move(FThread));
    }
    std::erase_if(FAbandoned, [](const std::unique_ptr<TListupItemsThreadEx>& t) { return t->Finished(); });
    if (!folder) return false;
    // a list made in memory (a tray's): nothing to read from the disk
    if (!dynamic_cast<TFolder*>(folder) && !dynamic_cast<TAlbum*>(folder) && !dynamic_cast<TCalendar*>(folder))
        return false;
    auto t = std::make_unique<TListupItemsThreadEx>();
    t->SetTarget(folder);
    const int category = folder->GetCategory();
    t->SetDepthCode(static_cast<uint8_t>(category == fcAlbum ? 0 : category == fcCalendar ? 3 : diskDepth));
    t->SetKinds(static_cast<TKindSet>(kinds));
    t->SetOrderFlag(order.SortType == stManual || order.GroupByNumber);
    // The report runs on the listing thread: the list is copied and put in the grid's order there
    // (a sort of 100,000 photos takes a good part of a second), then handed to the owner's thread,
    // where a report of a thread no longer current is ignored by its ticket and a list sorted in
    // an order the grid no longer has is sorted again.
    TGridPost post = FPost;
    TStarted started = FStarted;
    TListed listed = FListed;
    t->SetReportProc(
        [post, started, listed, ticket, order](void*, TListupItemsThreadEx*, TItemList& list, uint8_t stage, int) {
            if (stage == lsTerminated) return;
            if (stage == lsStarted) {
                post([started, ticket] { started(ticket); });
                return;
            }
            auto items = std::make_shared<std::vector<TCatalogItem*>>(list.begin(), list.end());
            auto ordered = std::make_shared<TOrderedList>();
            OrderItems(*items, order, *ordered);
            // whether the shooting dates are to be read: a look at every photo, here rather than
            // on the owner's thread once the list is shown
            const int needsDates = NeedsShootingDates(*items) ? 1 : 0;
            post([listed, ticket, items, ordered, order, needsDates] {
                listed(ticket, std::move(*items), std::move(*ordered), order, needsDates);
            });
        },
        nullptr);
    FThread = std::move(t);
    FThread->Start();
    return true;
}

TGridMakerFeed::TGridMakerFeed(TCatalogImageCacheMaster* cache, TGridPost post, TReport report)
    : FMaker(std::make_unique<TCacheImageMaker>(cache, true)) {
    // Without the catalog updater the stored pictures reach the owner through the maker's own
    // reports. The maker ends before the feed does.
    FMaker->SetObserver([post = std::move(post), report = std::move(report)](TCatalogItem* item, TCacheWorkerType,
                                                                             TCacheImageSource stored, bool failed) {
        if (stored == csNone && !failed) return;
        const bool made = stored != csNone;
        post([report, item, made] { report(item, made); });
    });
    FMaker->Start();
}

TGridMakerFeed::~TGridMakerFeed() = default;

void TGridMakerFeed::Request(const std::vector<TCatalogItem*>& items, int size) {
    // one item (its file changed) joins the queue; a range replaces it
    if (items.size() == 1 && FMaker->GetSize() == size) FMaker->RequestOne(items.front());
    else FMaker->Request(items, size, true);
}

void TGridMakerFeed::CancelAll() { FMaker->CancelAll(); }

}  // namespace fv
