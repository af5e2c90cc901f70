#pragma once
// One disk folder's files read again, as `fvb scan` and the live folders do it: the directory is
// listed, new and changed photos get their picture facts (and with them their shooting day), and
// what was there before and is not now ends deleted. Runs on a worker; never on the UI thread.
#include <functional>
#include <vector>

#include "library/ext_items.h"

namespace fv {

class TFolder;
class TCatalogItem;

struct TFolderRescan {
    std::vector<TCatalogItem*> Found;    // every item of the kinds seen in the folder now
    std::vector<TCatalogItem*> Fresh;    // items made by this scan
    std::vector<TCatalogItem*> Changed;  // known items whose file changed (size, time, or back from missing)
    std::vector<TCatalogItem*> Gone;     // items present before whose file is no longer there
    bool Offline = false;                // the folder could not be read (its items were kept missing)
};

// registerInCalendar: photos with a shooting date join the calendar on their day (the folder is
// one the user registered). cancelled (optional) is asked between photos; the listing itself is
// always finished, so the folder never stays half-scanned.
void RescanFolderItems(TFolder* folder, TKindSet kinds, bool registerInCalendar, TFolderRescan& out,
                       const std::function<bool()>& cancelled = {});

}  // namespace fv
