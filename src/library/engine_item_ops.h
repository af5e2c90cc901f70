#pragma once
// The engine's copy and move of single photos into a disk folder (the grid's copy and move
// commands). Besides the files it keeps the library in step: a copy's catalog item in the
// destination takes the source item's marks, ratings, comments and corrections; a moved photo
// keeps its own catalog item, re-homed to the destination folder, so albums, the calendar and
// the views keep it. Runs on the caller's thread (a worker of the view).
#include <string>
#include <vector>

#include "library/engine_folder_ops.h"

namespace fv {

class TCatalogItem;

struct TItemCopyResult {
    std::vector<TCatalogItem*> Done;  // copied or moved, in the given order
    std::vector<std::string> Failed;  // "path: reason" of each file that could not be copied or moved
};

// Raises ECorvaEngineError when the destination is not an existing directory; a single file that
// fails (an existing file of the same name, a read error) is listed and the others go on. Items
// without a folder (or in an offline one) are skipped and listed as failed.
TItemCopyResult CorvaEngineCopyItems(const std::vector<TCatalogItem*>& items, const std::string& targetFolder,
                                     const TFolderOpProgress& progress = {});
TItemCopyResult CorvaEngineMoveItems(const std::vector<TCatalogItem*>& items, const std::string& targetFolder,
                                     const TFolderOpProgress& progress = {});

}  // namespace fv
