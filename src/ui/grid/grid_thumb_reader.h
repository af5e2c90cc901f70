#pragma once
// Reads cached thumbnails for the grid off the user-interface thread: the catalog image cache
// decodes the stored JPEG and applies the item's orientation and corrections; the reader turns
// the result into a Qt picture and hands batches back. A new request list replaces the queue,
// so scrolling fast reads only what is on screen now.
#include <QImage>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "core/threads.h"

namespace fv {

class TCatalogItem;
class TCatalogImageCacheMaster;

class TGridThumbReader : public TThreadObject {
public:
    // (pictures read, the size they were asked for, items the cache does not hold or holds
    // smaller than asked). Sizes are device pixels: the cell size times the screen's pixel ratio.
    using TDeliver = std::function<void(std::vector<std::pair<TCatalogItem*, QImage>> pictures, int size,
                                        std::vector<TCatalogItem*> missing)>;
    // The items must outlive the reader's work on them: library items live as long as their
    // owner folder, which outlives every view.
    TGridThumbReader(TCatalogImageCacheMaster* cache, TDeliver deliver) : FCache(cache), FDeliver(std::move(deliver)) {}
    ~TGridThumbReader() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TGridThumbReader"; }
    // replaces what is still queued
    void Request(std::vector<TCatalogItem*> items, int size);
    void Cancel();

protected:
    void DoTerminate() override { FCond.notify_all(); }
    void Execute() override;

private:
    TCatalogImageCacheMaster* FCache;
    TDeliver FDeliver;
    std::mutex FLock;
    std::condition_variable FCond;
    std::deque<TCatalogItem*> FQueue;
    int FSize = 80;
};

// the cached picture as a Qt image (null when the cache has none), reduced to fit maxEdge
// (device pixels) when it was made larger; size receives the edge it was made for
QImage ReadCachedThumbnail(TCatalogImageCacheMaster* cache, TCatalogItem* item, int& size, int maxEdge = 0);

}  // namespace fv
