#pragma once
// The engine as the programs run it. The library body (library/library_engine) is joined by the
// thumbnail layer's part, the catalog image cache ("CorvaImageCache") and the catalog updater,
// and catalog items learn sizes, orientations and shooting dates through the image pipeline.
// AssembleEngine is the one place that puts these together: the browser, fvb, the benchmarks and
// the tests that run a whole engine call it before InitCorvaEngine, and DisassembleEngine after
// FinalCorvaEngine.
#include "library/library_engine.h"

namespace fv {

class TCatalogImageCacheMaster;

// installs every part (nothing twice when called again); only while no engine exists
void AssembleEngine();
// takes the parts out again (the body and the camera-data provider)
void DisassembleEngine();
// the engine's cache; null outside InitCorvaEngine .. FinalCorvaEngine
TCatalogImageCacheMaster* CorvaImageCache();

}  // namespace fv
