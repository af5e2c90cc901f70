// libFuzzer target: the album data body (TAlbumList::LoadFromStream, every layout), the
// resolution of its entries through an item index, and saving what loaded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "library/album.h"
#include "library/folder_tree_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    // a small library the entries resolve against: item numbers 0..15 (freed after the lists)
    std::vector<std::unique_ptr<TCatalogItem>> items;
    TItemIndex index(16);
    for (int i = 0; i < 16; ++i) {
        items.push_back(std::make_unique<TCatalogItem>());
        items.back()->SetItemNumber(i);
        items.back()->SetKind(static_cast<uint8_t>(i % 8));
        index.Set(i, items.back().get());
    }
    TBytesStream s(data, size);
    {
        TAlbumList list;
        try {
            list.LoadFromStream(s);
        } catch (const EAlbumListError&) {
            return 0;
        }
        list.SetupFromIDList(index);
        TMemoryStream saved;
        list.SaveToStream(saved);
        saved.SetPosition(0);
        TAlbumList again;
        again.LoadFromStream(saved);  // must not raise: we wrote it
        again.SetupFromIDList(index);
        for (int t = 0; t < kAlbumTypeCount; ++t) again.DeleteAlbumEx(again.GetRootAlbum(t), atUnknown);
    }
    return 0;
}
