// libFuzzer target: the history body (THistoryList::LoadAndResolve) resolved against a real
// folder tree, album list and calendar, then saved and loaded again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "library/album.h"
#include "library/calendar.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    static TAlbumList* albums = [] {
        auto* l = new TAlbumList();
        l->GetAlbumFromPathEx(atAlbum, "Trip\\Day 1");
        return l;
    }();
    static TCalendarRoot* calendar = [] {
        auto* c = new TCalendarRoot(45000);
        c->FindOrCreateNode(true, EncodeDateTime(2026, 12, 8));
        return c;
    }();
    TFolderTreeList tree;
    THistoryList history(50);
    TBytesStream s(data, size);
    history.LoadAndResolve(s, THistoryList::LibraryResolver(&tree, calendar, albums));
    if (history.Count() > 50) abort();
    for (int i = 0; i < history.Count(); ++i)
        if (!history.GetFolder(i)) abort();
    TMemoryStream saved;
    history.SaveToStream(saved);
    saved.SetPosition(0);
    THistoryList again(50);
    if (!again.LoadFromStream(saved) || again.Count() != history.Count()) abort();
    return 0;
}
