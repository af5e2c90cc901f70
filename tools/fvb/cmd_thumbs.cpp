// fvb thumbs: the photos of a folder (and its subfolders) through the thumbnail maker into a
// catalog cache, as the browser makes them; --export writes each cached thumbnail as drawn
// (upright, corrected).
//
// A folder the library holds (fvb scan) goes into the browser's own catalog cache, opened with
// the library through the engine's start and end under the data folder's lock: the browser shows
// those thumbnails without making them again. Any other folder gets a cache of its own below
// the data folder (or --cache).
//
// The cache folder keeps, next to "Cache.tdb" and the segments, "Catalog.txt": the files in the
// order whose positions "Cache.tdb" stores, each with its size and time, so that a file that
// changed or moved never gets another file's picture.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fnv_hash.h"
#include "../common/progress_line.h"
#include "commands.h"
#include "core/config.h"
#include "thumbs/cache_image_maker.h"
#include "thumbs/catalog_image_cache.h"
#include "image/image_io.h"
#include "library/catalog_item.h"
#include "thumbs/engine_image_cache.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library/listup_thread.h"
#include "library_session.h"
#include "core/file_functions.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "platform/ui_dispatch.h"

namespace fv::fvb {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxFolderDepth = 64;

int ThumbsUsage() {
    std::fprintf(stderr,
                 "usage: fvb thumbs DIR [--size N] [--threads N] [--export OUTDIR] [--cache DIR] [--max-mb N]\n"
                 "  --size N      thumbnail edge in pixels (16..1024, default 160)\n"
                 "  --threads N   workers of each kind (default: one per processor)\n"
                 "  --export OUT  writes every cached thumbnail, upright and corrected, as OUT/<name>.jpg\n"
                 "  --cache DIR   the cache folder (default: the browser's cache for a folder of the library,\n"
                 "                otherwise a folder per DIR below the data folder)\n"
                 "  --max-mb N    the cache's size limit in MiB (default 1000)\n");
    return 2;
}

std::string HexHash(const std::string& s) {
    const uint64_t h = Fnv1a64(s.data(), s.size());
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// every folder below root, root first, names in order; links to folders are not followed
void CollectFolders(TFolder* folder, int depth, std::vector<TFolder*>& out) {
    out.push_back(folder);
    if (depth >= kMaxFolderDepth) return;
    folder->ScanSubFolders(nullptr);
    TFolderList subs;
    folder->GetSubFolders(subs);
    std::vector<TFolder*> list;
    for (auto* f : subs) {
        auto* sub = dynamic_cast<TFolder*>(f);
        std::error_code ec;
        if (sub && !fs::is_symlink(sub->GetFullName(), ec)) list.push_back(sub);
    }
    std::sort(list.begin(), list.end(), [](TFolder* a, TFolder* b) { return a->GetName() < b->GetName(); });
    for (auto* sub : list) CollectFolders(sub, depth + 1, out);
}

struct TListed {
    TCatalogItem* Item;
    std::string Rel;  // path below DIR
};

std::string Stamp(TCatalogItem* item) { return Format("%d\t%.9f", item->GetFileSize(), item->GetFileTime()); }

// the catalog of the last run in its stored order; files that changed since are left empty
std::vector<TCatalogItem*> LoadCatalogOrder(const std::string& file, const std::map<std::string, TCatalogItem*>& byRel) {
    std::vector<TCatalogItem*> order;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto t1 = line.find('\t');
        const auto t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        TCatalogItem* item = nullptr;
        if (t2 != std::string::npos) {
            auto it = byRel.find(line.substr(t2 + 1));
            if (it != byRel.end() && Stamp(it->second) == line.substr(0, t2)) item = it->second;
        }
        order.push_back(item);
    }
    return order;
}

void SaveCatalogOrder(const std::string& file, const std::vector<TListed>& listed) {
    const std::string temp = file + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& l : listed) out << Stamp(l.Item) << '\t' << l.Rel << '\n';
        if (!out) throw Exception(Format("Cannot write \"%s\"", temp.c_str()));
    }
    fs::rename(temp, file);
}

// Makes the thumbnails of `listed` into `cache` and exports them when asked; the exit status.
int MakeThumbs(TCatalogImageCacheMaster& cache, const std::vector<TListed>& listed, const fs::path& root, int size,
               int threads, const std::string& exportDir, const std::string& cacheName,
               std::chrono::steady_clock::time_point started) {
    int cachedBefore = 0;
    for (const auto& l : listed)
        if (cache.CachedSizeOf(l.Item) == size) ++cachedBefore;
    std::error_code ec;
    std::mutex lock;
    std::map<TCacheImageSource, int> made;
    std::vector<std::string> failures;
    std::atomic<int> done{0};
    std::atomic<bool> finished{false};
    int stopped = 0;
    TCacheImageMaker maker(&cache, threads == 0);
    if (threads > 0) maker.SetProcessorCount(threads);
    maker.SetObserver([&](TCatalogItem* item, TCacheWorkerType worker, TCacheImageSource stored, bool failed) {
        std::lock_guard g(lock);
        if (stored != csNone) ++made[stored];
        if (failed) failures.push_back(item->GetFullPath());
        if (worker == cwtSource) ++done;
    });
    maker.SetFinishedCallbacks({}, [&] { finished = true; });
    std::vector<TCatalogItem*> request;
    for (const auto& l : listed) request.push_back(l.Item);
    std::printf("thumbs: %zu photos in %s, size %d, cache %s\n", listed.size(), root.c_str(), size, cacheName.c_str());
    TProgressLine progress;
    const int count = static_cast<int>(listed.size());
    maker.Start();
    if (!request.empty()) {
        maker.Request(request, size, true);
        auto* queue = dynamic_cast<TQueueDispatcher*>(&UiDispatcher());
        while (!finished) {
            if (DrainTerminationPipe()) {
                // the pictures made so far are kept: the caller saves the index as at the end
                stopped = LastTerminationSignal();
                break;
            }
            if (queue)
                queue->WaitAndProcess(50);
            else
                UiDispatcher().ProcessPending();
            progress.ShowCount("thumbs", done.load(), count);
        }
    }
    progress.Done();
    maker.TerminateAndWait();
    if (stopped != 0) {
        std::printf("fvb thumbs: stopped by a signal after %d of %d photos; the thumbnails made are kept\n",
                    done.load(), count);
        return 128 + stopped;
    }

    for (const auto& f : failures) std::printf("fvb thumbs: %s: no thumbnail (the picture cannot be read)\n", f.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int total = made[csExifThumbnail] + made[csRawPreview] + made[csFullPicture] + made[csRemote];
    std::printf("made %d pictures: %d from EXIF thumbnails, %d from raw previews, %d from full pictures; "
                "%d already cached, %zu unreadable; %.2f s\n",
                total, made[csExifThumbnail], made[csRawPreview], made[csFullPicture], cachedBefore,
                failures.size(), seconds);

    if (!exportDir.empty()) {
        fs::create_directories(exportDir, ec);
        int exported = 0;
        for (const auto& l : listed) {
            TBitmap pic;
            int32_t got = 0;
            if (!cache.GetCatalogImage(l.Item, &pic, got)) continue;
            std::string name = l.Rel;
            std::replace(name.begin(), name.end(), '/', '_');
            SaveJpegToFile(pic, exportDir + "/" + name + ".jpg", 90);
            ++exported;
        }
        std::printf("exported %d thumbnails to %s\n", exported, exportDir.c_str());
    }

    return failures.empty() ? 0 : 1;
}

// The folder `root` as the library holds it, with its subfolders: the photos that are there
// (in name order per folder), paths below root. Empty when the library does not hold root.
bool ListLibraryFolder(const fs::path& root, std::vector<TListed>& listed) {
    TFolderTreeList* tree = CorvaFolders();
    TFolder* top = tree ? tree->FindFolderByPath(root.string()) : nullptr;
    if (!top) return false;
    std::vector<TFolder*> stack{top};
    while (!stack.empty()) {
        TFolder* f = stack.back();
        stack.pop_back();
        std::error_code ec;
        const std::string rel = fs::relative(f->GetFullName(), root, ec).string();
        TItemList items;
        f->GetItems(items);
        std::sort(items.begin(), items.end(), [](TCatalogItem* a, TCatalogItem* b) { return a->GetFileName() < b->GetFileName(); });
        for (auto* item : items) {
            const uint8_t kind = item->GetKind();
            if (IsItemGone(item) || kind == ikSusie || kind >= ikNotImage) continue;
            listed.push_back({item, rel == "." || rel.empty() ? item->GetFileName() : rel + "/" + item->GetFileName()});
        }
        TFolderList subs;
        f->GetSubFolders(subs);
        std::vector<TFolder*> list;
        for (auto* c : subs)
            if (auto* sub = dynamic_cast<TFolder*>(c)) list.push_back(sub);
        std::sort(list.begin(), list.end(), [](TFolder* a, TFolder* b) { return a->GetName() > b->GetName(); });
        stack.insert(stack.end(), list.begin(), list.end());
    }
    return true;
}

// The library's folder into the browser's cache. -1 when the library does not hold the folder
// (nothing was opened then); otherwise the exit status.
int LibraryThumbs(const fs::path& root, int size, int threads, const std::string& exportDir,
                  std::chrono::steady_clock::time_point started) {
    {
        TFolvaneConfigItem config;  // only for its folder locations
        if (!FileExists(config.GetFolderDataFile())) return -1;
    }
    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    std::vector<TListed> listed;
    TCatalogImageCacheMaster* cache = CorvaImageCache();
    if (!cache || !ListLibraryFolder(root, listed)) {
        session.Close(false);
        return -1;
    }
    int status = MakeThumbs(*cache, listed, root, size, threads, exportDir, "of the library", started);
    // the engine's end saves the cache's index with the library, as the browser's end does
    if (!session.Close(true)) status = 1;
    return status;
}

}  // namespace

int CmdThumbs(const TArgs& args) {
    std::string dir, exportDir, cacheDir;
    int size = 160, threads = 0, maxMb = 1000;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size" && hasValue) {
            if (!ParseInt(args[++i], 16, 1024, size)) return ThumbsUsage();
        } else if (a == "--threads" && hasValue) {
            if (!ParseInt(args[++i], 1, 64, threads)) return ThumbsUsage();
        } else if (a == "--export" && hasValue) {
            exportDir = args[++i];
        } else if (a == "--cache" && hasValue) {
            cacheDir = args[++i];
        } else if (a == "--max-mb" && hasValue) {
            if (!ParseInt(args[++i], 1, static_cast<int>(kCacheMaxSizeLimitMB), maxMb)) return ThumbsUsage();
        } else if (!a.empty() && a[0] != '-' && dir.empty()) {
            dir = a;
        } else {
            return ThumbsUsage();
        }
    }
    if (dir.empty()) return ThumbsUsage();
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(fs::absolute(dir, ec), ec);
    if (ec || !fs::is_directory(root, ec)) {
        std::fprintf(stderr, "fvb thumbs: \"%s\" is not a folder\n", dir.c_str());
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    // SIGTERM and SIGINT stop the work and keep what was made (the index is saved as at the end)
    InstallTerminationPipe();
    if (cacheDir.empty()) {
        try {
            int status = LibraryThumbs(root, size, threads, exportDir, started);
            if (status >= 0) return status;
        } catch (const Exception& e) {
            std::fprintf(stderr, "fvb thumbs: %s: %s\n", e.ClassName(), e.Message().c_str());
            return 1;
        }
        TFolvaneConfigItem config;
        cacheDir = config.GetDataFolder() + "/FvbThumbs/" + HexHash(root.string());
    }
    try {
        // the photos
        TFolder top(root.string());
        std::vector<TFolder*> folders;
        CollectFolders(&top, 0, folders);
        std::vector<TListed> listed;
        for (TFolder* f : folders) {
            f->SearchFiles(nullptr);
            TItemList items;
            f->GetItems(items);
            const std::string rel = fs::relative(f->GetFullName(), root, ec).string();
            std::sort(items.begin(), items.end(),
                      [](TCatalogItem* a, TCatalogItem* b) { return a->GetFileName() < b->GetFileName(); });
            for (auto* item : items) {
                const uint8_t kind = item->GetKind();
                if (kind == ikSusie || kind >= ikNotImage) continue;  // no picture to make
                listed.push_back({item, rel == "." || rel.empty() ? item->GetFileName() : rel + "/" + item->GetFileName()});
            }
        }
        std::map<std::string, TCatalogItem*> byRel;
        for (const auto& l : listed) byRel[l.Rel] = l.Item;

        // the cache as the last run left it
        TCatalogImageCacheMaster cache;
        cache.Initialize(cmFiles, cacheDir, true, static_cast<int64_t>(maxMb) * 1024 * 1024);
        if (!cache.OwnsFiles())
            std::fprintf(stderr, "fvb thumbs: %s is used by another process; nothing is kept for the next run\n",
                         cacheDir.c_str());
        const std::string catalogFile = cacheDir + "/Catalog.txt";
        cache.LoadCacheData(LoadCatalogOrder(catalogFile, byRel));
        for (const auto& l : listed)
            if (cache.CachedSizeOf(l.Item) != 0) l.Item->SetFlag(ifThumbOutOfDate, false);  // Catalog.txt vouched for it

        // This run's order goes out first, then an index under it, which the work saves again
        // now and then: a run killed at any point leaves an index the next one can read (a
        // record whose number came to name another file fails its check there).
        std::vector<TCatalogItem*> order;
        std::map<TCatalogItem*, int32_t> numbers;
        for (const auto& l : listed) {
            numbers.emplace(l.Item, static_cast<int32_t>(order.size()));
            order.push_back(l.Item);
        }
        if (cache.OwnsFiles()) {
            SaveCatalogOrder(catalogFile, listed);
            cache.SaveCacheData(order);
            cache.EnableAutoSave(
                [&numbers](TCatalogItem* item) {
                    auto at = numbers.find(item);
                    return at == numbers.end() ? -1 : at->second;
                },
                CacheIndexSaveIntervalMs());
        }
        const int status = MakeThumbs(cache, listed, root, size, threads, exportDir, cacheDir, started);
        if (cache.OwnsFiles()) {
            cache.DisableAutoSave();
            cache.SaveCacheData(order);
        }
        return status;
    } catch (const Exception& e) {
        std::fprintf(stderr, "fvb thumbs: %s: %s\n", e.ClassName(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fvb thumbs: %s\n", e.what());
    }
    return 1;
}

}  // namespace fv::fvb
