#include "ui/targets/frame_target_events.h"

#include "library/album.h"
#include "library/calendar.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"

namespace fv {

namespace {
struct TInstalled {
    TFolderTreeList* Folders = nullptr;
    TAlbumList* Albums = nullptr;
    TCalendarRoot* Calendar = nullptr;
};
TInstalled& Installed() {
    static TInstalled installed;
    return installed;
}
}  // namespace

TFolderUpdateMaster& TLibraryEvents::Folders() {
    static TFolderUpdateMaster master;
    return master;
}

TFolderUpdateMaster& TLibraryEvents::Albums() {
    static TFolderUpdateMaster master;
    return master;
}

TFolderUpdateMaster& TLibraryEvents::Calendar() {
    static TFolderUpdateMaster master;
    return master;
}

void TLibraryEvents::Install() {
    TInstalled& in = Installed();
    if (TFolderTreeList* f = CorvaFolders(); f && f != in.Folders) {
        f->SetUpdateEvent(Folders().AsUpdateEvent());
        in.Folders = f;
    }
    if (TAlbumList* a = CorvaAlbums(); a && a != in.Albums) {
        a->SetAlbumUpdatedProc(Albums().AsUpdateEvent());
        in.Albums = a;
    }
    if (TCalendarRoot* c = CorvaCalendars(); c && c != in.Calendar) {
        c->SetUpdateEvent(Calendar().AsUpdateEvent());
        in.Calendar = c;
    }
}

void TLibraryEvents::Uninstall() {
    TInstalled& in = Installed();
    // only trees that are still the engine's: a stopped engine has detached and freed its own
    if (in.Folders && in.Folders == CorvaFolders()) in.Folders->SetUpdateEvent(TFolderUpdateEvent{});
    if (in.Albums && in.Albums == CorvaAlbums()) in.Albums->SetAlbumUpdatedProc(TFolderUpdateEvent{});
    if (in.Calendar && in.Calendar == CorvaCalendars()) in.Calendar->SetUpdateEvent(TFolderUpdateEvent{});
    in = TInstalled{};
}

}  // namespace fv
