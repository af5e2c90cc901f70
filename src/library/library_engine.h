#pragma once
// The library part of the engine: the folder tree list and the navigation history, created,
// loaded, started, stopped, saved and freed inside the engine's steps (core/engine), with the
// library's data files in the data folder. The program installs it before InitCorvaEngine.
#include <string>

#include "core/engine.h"

namespace fv {

class TFolderTreeList;
class THistoryList;
class TCustomFolder;
class TFolder;

// Installs the library body into the engine (nothing when one is installed already).
void InstallLibraryEngine();

// engine objects; null outside InitCorvaEngine .. FinalCorvaEngine
TFolderTreeList* CorvaFolders();
THistoryList* CorvaHistorys();

constexpr int kCorvaHistoryCapacity = 50;

// For a folder chosen in a folder-browse dialog: the folder object of an existing directory.
// Raises ECorvaEngineError "セットされたFolderPath( %S )は存在しません。" for a missing directory and
// "%S のフォルダオブジェクトの取得に失敗しました。" when no object can be made for it.
TFolder* GetFolderFromPath(const std::string& path);

}  // namespace fv
