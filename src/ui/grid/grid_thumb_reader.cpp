#include "ui/grid/grid_thumb_reader.h"
#include "platform/os_thread.h"

#include "image/bitmap.h"
#include "thumbs/catalog_image_cache.h"
#include "ui/viewer/bitmap_qimage.h"

namespace fv {

QImage ReadCachedThumbnail(TCatalogImageCacheMaster* cache, TCatalogItem* item, int& size, int maxEdge) {
    if (!cache || !item) return {};
    TBitmap b;
    int32_t s = 0;
    try {
        if (!cache->GetCatalogImageFitted(item, &b, s, maxEdge)) return {};
    } catch (...) {
        return {};  // a damaged record reads as "not cached"
    }
    size = s;
    return BitmapToQImage(b);
}

void TGridThumbReader::Request(std::vector<TCatalogItem*> items, int size) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.assign(items.begin(), items.end());
        FSize = size;
    }
    FCond.notify_one();
}

void TGridThumbReader::Cancel() {
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.clear();
}

void TGridThumbReader::Execute() {
    SetCurrentThreadName("TGridThumbReader");
    LowerCurrentThreadPriority(kBackgroundNice);
    while (!Terminated()) {
        std::vector<TCatalogItem*> batch;
        int size;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FCond.wait_for(lock, std::chrono::milliseconds(100), [&] { return !FQueue.empty() || Terminated(); });
            if (Terminated()) break;
            // small batches keep the first screen quick and the deliveries few
            while (!FQueue.empty() && batch.size() < 32) {
                batch.push_back(FQueue.front());
                FQueue.pop_front();
            }
            size = FSize;
        }
        if (batch.empty()) continue;
        std::vector<std::pair<TCatalogItem*, QImage>> pictures;
        std::vector<TCatalogItem*> missing;
        for (TCatalogItem* item : batch) {
            int cached = 0;
            QImage img = ReadCachedThumbnail(FCache, item, cached, size);
            if (img.isNull()) missing.push_back(item);
            else pictures.emplace_back(item, std::move(img));
            // a smaller picture is drawn stretched until one of this size is made; a larger one
            // (made for a screen of a higher pixel ratio) was reduced above and serves as it is
            if (cached != 0 && cached < size) missing.push_back(item);
        }
        FDeliver(std::move(pictures), size, std::move(missing));
    }
}

}  // namespace fv
