#pragma once
// The engine's thumbnail cache and catalog updater: the image layer's part of the library
// engine (library/library_engine). The program installs it with the library engine.
#include "library/library_engine.h"

namespace fv {

class TCatalogImageCacheMaster;

// Joins the catalog image cache ("CorvaImageCache") and the catalog updater to the engine's steps.
void InstallEngineImageCache();
// the engine's cache; null outside InitCorvaEngine .. FinalCorvaEngine
TCatalogImageCacheMaster* CorvaImageCache();

}  // namespace fv
