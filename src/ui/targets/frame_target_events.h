#pragma once
// The library's three update masters on the interface side: one for the folder tree, one for the
// album list and one for the calendar. Views subscribe to them (Add/Remove) instead of taking the
// single subscriber slot of a tree's relay, so the side frames, the catalog and the main window can
// all follow the same model. The folder and album events arrive on the UI thread (through the
// trees' relays); the calendar's arrive on its watcher thread, and subscribers pass the work on.
#include "library/custom_folder.h"

namespace fv {

class TLibraryEvents {
public:
    // subscribes the masters to the running engine's trees (again after a new engine); UI thread
    static void Install();
    // detaches the masters from the trees
    static void Uninstall();
    static TFolderUpdateMaster& Folders();
    static TFolderUpdateMaster& Albums();
    static TFolderUpdateMaster& Calendar();
};

}  // namespace fv
