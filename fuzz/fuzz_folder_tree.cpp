// libFuzzer target: the folder data body (TFolderTreeList::LoadTree), the item-number index
// built from what loaded, and the promise that what loaded saves and loads again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "library/folder_tree_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    TBytesStream s(data, size);
    TFolderTreeList tree;
    try {
        tree.LoadTree(s);
    } catch (const Exception&) {
        return 0;
    }
    auto index = tree.BuildItemIndex();
    if (!index || index->Count() != tree.GetTotalItemCount()) abort();
    for (int32_t n = 0; n < index->Count(); ++n)
        if (TCatalogItem* it = index->Get(n); it && it->GetItemNumber() != n) abort();
    TMemoryStream saved;
    int32_t count = 0;
    tree.SaveTree(saved, count);
    if (count != tree.GetTotalItemCount()) abort();
    saved.SetPosition(0);
    TFolderTreeList again;
    again.LoadTree(saved);  // must not raise: we wrote it
    if (again.GetTotalItemCount() != count) abort();
    return 0;
}
