#pragma once
// The engine's checked folder operations (copy, move, delete, rename, create a child folder or
// album, a new work tray) and the album utilities. Called by the views on the user-interface
// thread. Every refusal or failure is logged and raised as ECorvaEngineError in the layout
// "%s でエラーが発生しました。..." of the operation; checks are operations themselves, so a refusal
// reaches the caller wrapped twice.
#include <cstdint>
#include <functional>
#include <string>

#include "library/custom_folder.h"
#include "platform/file_ops.h"

namespace fv {

class TAlbum;
class TCatalogItem;

// the progress of a disk copy or move (the desktop's own dialog is not ours to show)
using TFolderOpProgress = std::function<bool(const TFileOpProgress&)>;

void CheckCopyMoveToFolder(TCustomFolder* source, TCustomFolder* target, bool copy);
void CheckDeleteFolder(TCustomFolder* folder);
void CheckRenameFolder(TCustomFolder* folder);
void CheckCreateFolder(TCustomFolder* parent);

void CorvaEngineCopyFolder(TCustomFolder* source, TCustomFolder* target, const TFolderOpProgress& progress = {});
void CorvaEngineMoveFolder(TCustomFolder* source, TCustomFolder* target, const TFolderOpProgress& progress = {});
// a disk folder goes to the desktop's trash
void CorvaEngineDeleteFolder(TCustomFolder* folder);
// name in: the wanted name; out: the name given
void CorvaEngineRenameFolder(TCustomFolder* folder, std::string& name);
// the new folder or album (none when the directory could not be made); name out: its name
TCustomFolder* CorvaEngineCreateChild(TCustomFolder* parent, std::string& name);
TAlbum* CreateNewTrayAlbum();

// Album utilities: never raise; failures are logged and answered with false.
bool CorvaAddItemToAlbum(TAlbum* album, TCatalogItem* item, int32_t groupNumber, bool notify, bool raiseUpdate);
bool CorvaDelItemFromAlbum(TAlbum* album, TCatalogItem* item, bool raiseUpdate, bool notify);
bool CorvaAddItemsToAlbum(TAlbum* album, const TItemList* items, int32_t groupNumber, bool notify, bool raiseUpdate);
bool CorvaDelItemsFromAlbum(TAlbum* album, const TItemList* items, bool raiseUpdate, bool notify);
bool CorvaGetFolderPathWithOutRoot(TCustomFolder* folder, std::string& path);

// How the album utilities raise the catalog's change event (event 4, album membership): the
// catalog updater lives in the image layer and installs itself here.
void SetCatalogUpdateRaiser(std::function<void(TCatalogItem* item, uint8_t eventType)> raiser);

}  // namespace fv
