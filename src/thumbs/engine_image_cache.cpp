#include "thumbs/engine_image_cache.h"

#include <filesystem>
#include <memory>

#include "core/config.h"
#include "core/file_functions.h"
#include "library/image_facts.h"
#include "thumbs/catalog_image_cache.h"
#include "thumbs/image_facts_provider.h"
#include "library/catalog_updater.h"
#include "library/catalog_item.h"
#include "library/engine_folder_ops.h"

namespace fv {

namespace {


class TEngineImageCache : public TEngineLibraryPart {
public:
    void Create(TFolvaneConfigItem& config, const std::string& dataFolder) override {
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaImageCache", [&] {
            FCache = CreateCatalogImageCache(dataFolder, config.GetCacheKind(), config.GetCacheMaxSizeMB());
        });
        // caches of an older layout, never read again
        for (const char* name : {"Images_LL.che", "Images_L.che", "Images_M.che", "Images_S.che", "Images_SS.che"}) {
            std::error_code ignored;
            std::filesystem::remove(IncludeTrailingPathDelimiter(dataFolder) + name, ignored);
        }
    }
    void Load(const std::vector<TCatalogItem*>& catalog) override {
        RunLabelled<ECorvaEngineError>(kEngineSetupFailed, "CorvaImageCache", [&] {
            if (FCache) FCache->LoadCacheData(catalog);
        });
    }
    void StartAfterThreads() override {
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "InitCatalogUpdater", [] { InitializeCatalogUpdater(); });
        // While thumbnails are made the index is saved again now and then under the item numbers
        // of the library file as loaded (or last saved), so that a run killed at any time costs
        // only the pictures made since. An item that has no number there yet fails the index's
        // check of its file at the next start and is made again.
        if (FCache) FCache->EnableAutoSave([](TCatalogItem* item) { return item->GetItemNumber(); }, CacheIndexSaveIntervalMs());
    }
    void StopAfterThreads() override {
        // before the library's save numbers the items anew
        if (FCache) FCache->DisableAutoSave();
        RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "FinalCatalogUpdater", [] { FinalizeCatalogUpdater(); });
    }
    void Save(const std::vector<TCatalogItem*>& catalog) override {
        RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaImageCache", [&] {
            if (FCache) FCache->SaveCacheData(catalog);
        });
    }
    void Free() override {
        RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaImageCache", [&] { FCache.reset(); });
    }

    std::unique_ptr<TCatalogImageCacheMaster> FCache;
};

}  // namespace

void AssembleEngine() {
    SetImageFactsProvider(MakeImageFactsProvider());
    InstallLibraryEngine();
    if (!dynamic_cast<TEngineImageCache*>(LibraryEnginePart())) SetLibraryEnginePart(std::make_unique<TEngineImageCache>());
    SetCatalogUpdateRaiser([](TCatalogItem* item, uint8_t type) { RaiseCatalogUpdateEvent(item, type); });
}

void DisassembleEngine() {
    SetCorvaEngineBody(nullptr);
    SetImageFactsProvider(nullptr);
}

TCatalogImageCacheMaster* CorvaImageCache() {
    auto* part = dynamic_cast<TEngineImageCache*>(LibraryEnginePart());
    return part ? part->FCache.get() : nullptr;
}

}  // namespace fv
