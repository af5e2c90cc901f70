#pragma once
// The library part of the engine: the folder tree list, the album list, the shared calendar root
// and the navigation history, created, loaded, started, stopped, saved and freed inside the
// engine's steps (core/engine), with the library's data files in the data folder. The program
// installs it before InitCorvaEngine.
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"

namespace fv {

class TFolderTreeList;
class TAlbumList;
class TCalendarRoot;
class THistoryList;
class TCustomFolder;
class TFolder;
class TCatalogItem;

// A piece of the engine from a layer above the library: the image layer's thumbnail cache and
// catalog updater. It is told the catalog (every item by its item number) after the folder data is
// loaded and after it is saved, when the numbers are those the file holds.
class TEngineLibraryPart {
public:
    virtual ~TEngineLibraryPart() = default;
    virtual void Create(TFolvaneConfigItem& config, const std::string& dataFolder) = 0;
    virtual void Load(const std::vector<TCatalogItem*>& catalog) = 0;
    virtual void StartAfterThreads() = 0;
    virtual void StopAfterThreads() = 0;
    virtual void Save(const std::vector<TCatalogItem*>& catalog) = 0;
    virtual void Free() = 0;
};

// Installs the library body into the engine (nothing when one is installed already).
void InstallLibraryEngine();
// Joins the part to the library engine (installing that first); only while no engine exists.
void SetLibraryEnginePart(std::unique_ptr<TEngineLibraryPart> part);
TEngineLibraryPart* LibraryEnginePart();

// engine objects; null outside InitCorvaEngine .. FinalCorvaEngine
TFolderTreeList* CorvaFolders();
TAlbumList* CorvaAlbums();
TCalendarRoot* CorvaCalendars();
THistoryList* CorvaHistorys();

constexpr int kCorvaHistoryCapacity = 50;

// For a folder chosen in a folder-browse dialog: the folder object of an existing directory.
// Raises ECorvaEngineError "セットされたFolderPath( %S )は存在しません。" for a missing directory and
// "%S のフォルダオブジェクトの取得に失敗しました。" when no object can be made for it.
TFolder* GetFolderFromPath(const std::string& path);

}  // namespace fv
