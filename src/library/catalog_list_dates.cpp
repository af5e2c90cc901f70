#include "library/catalog_list_dates.h"
#include "platform/os_thread.h"

#include "core/log.h"
#include "library/catalog_item.h"
#include "library/ext_items.h"

namespace fv {

namespace {
bool DateUnread(const TCatalogItem* item) {
    return item && item->GetKind() != ikNotImage && item->GetCameraState() == cdNotRead &&
           (item->GetState() == isUnknown || item->GetState() == isPresent);
}
}  // namespace

bool NeedsShootingDates(const std::vector<TCatalogItem*>& items) {
    for (const TCatalogItem* item : items)
        if (DateUnread(item)) return true;
    return false;
}

TShootingDateReader::TShootingDateReader(std::vector<TCatalogItem*> items) : FItems(std::move(items)) {}

TShootingDateReader::~TShootingDateReader() { TerminateAndWait(); }

void TShootingDateReader::Execute() {
    SetThreadName();
    LowerCurrentThreadPriority(kBackgroundNice);
    try {
        for (TCatalogItem* item : FItems) {
            if (Terminated()) break;
            if (!DateUnread(item)) continue;
            const TDateTime before = item->GetShootingDate();
            item->ReadImageInfo();
            // without camera data the file's date stands in, as the thumbnail maker has it; a file
            // time not known yet never takes a date's place (the photo would leave the calendar)
            if (item->GetCameraState() == cdNone && item->GetFileTime() > 0) item->SetShootingDate(item->GetFileTime());
            ++FRead;
            if (item->GetShootingDate() != before) ++FChanged;
        }
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Execute", e);
    }
}

}  // namespace fv
