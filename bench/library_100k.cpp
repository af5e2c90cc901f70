// A library of 100,000 items in 2,000 folders, 200 albums holding 50,000 entries, every
// item registered in the calendar. Measures
//   save: SaveTree + album save (to files)
//   load: LoadTree + album load + SetupFromIDList + calendar registration (from files)
// and the heap the loaded library takes per item beyond the bytes of its texts. Times are
// the CPU time of the thread doing the work (median of three); the wall clock is printed
// beside them.
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder_tree_list.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 2000, kItemsPerFolder = 50, kAlbums = 200, kEntriesPerAlbum = 250;
constexpr int kItems = kFolders * kItemsPerFolder;

double Ms(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of the calling thread: the figures do not depend on how busy the shared machine is
double ThreadCpuMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// the heap plus the items, which come from a pool of their own
size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd + CatalogItemPoolBytes(); }

void Build(TFolderTreeList& tree, TAlbumList& albums) {
    std::mt19937 rng(7);
    TDriveInfoRec info;
    info.Drive = "/";
    info.SerialNumber = 1;
    std::vector<TCatalogItem*> items;
    items.reserve(kItems);
    for (int f = 0; f < kFolders; ++f) {
        char path[64];
        std::snprintf(path, sizeof path, "/home/user/Pictures/%04d/%02d-%03d", 2010 + f / 200, f % 12 + 1, f);
        TFolder* folder = tree.FindOrCreateFolder(info, path);
        for (int i = 0; i < kItemsPerFolder; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%05d.JPG", f * kItemsPerFolder + i);
            TCatalogItem* it = folder->FindOrCreateItem(name, nullptr);
            it->SetKind(1);
            it->SetShootingDate(EncodeDateTime(2010 + static_cast<int>(rng() % 15), 1 + static_cast<int>(rng() % 12),
                                               1 + static_cast<int>(rng() % 28), static_cast<int>(rng() % 24)));
            it->SetInCalendar(true);
            items.push_back(it);
        }
    }
    for (int a = 0; a < kAlbums; ++a) {
        TAlbum* album = albums.GetAlbumFromPathEx(atAlbum, "Year " + std::to_string(a / 20) + "\\Album " + std::to_string(a));
        for (int e = 0; e < kEntriesPerAlbum; ++e) {
            TAlbumItem* entry = album->AddItem(items[rng() % items.size()], 0);
            entry->Position = static_cast<int16_t>(e);
        }
    }
}

// bytes of the texts the loaded library holds (names and comments of items and folders)
size_t TextBytes(TFolderTreeList& tree) {
    size_t n = 0;
    std::vector<TFolder*> todo;
    for (TFolderRoot* r : tree.GetRoots()) todo.push_back(r);
    while (!todo.empty()) {
        TFolder* f = todo.back();
        todo.pop_back();
        n += f->GetName().size() + f->GetFullName().size();
        TItemList items;
        f->GetItems(items);
        for (TCatalogItem* it : items) n += it->GetFileName().size() + it->GetComment().size() + it->GetTitle().size();
        TFolderList subs;
        f->GetSubFolders(subs);
        for (TCustomFolder* s : subs) todo.push_back(static_cast<TFolder*>(s));
    }
    return n;
}

struct TLoaded {
    std::unique_ptr<TFolderTreeList> Tree = std::make_unique<TFolderTreeList>();
    std::unique_ptr<TAlbumList> Albums = std::make_unique<TAlbumList>();
    std::unique_ptr<TCalendarRoot> Calendar = std::make_unique<TCalendarRoot>(Now());
};

// phases of the last load: tree, albums, index and setup, calendar
double gPhase[4];

void Load(TLoaded& l, const std::string& treeFile, const std::string& albumFile) {
    auto t0 = std::chrono::steady_clock::now();
    TMemoryStream t;
    t.LoadFromFile(treeFile);
    l.Tree->LoadTree(t);
    gPhase[0] = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    TMemoryStream a;
    a.LoadFromFile(albumFile);
    l.Albums->LoadFromStream(a);
    gPhase[1] = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    auto index = l.Tree->BuildItemIndex();
    l.Albums->SetupFromIDList(*index);
    gPhase[2] = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    l.Calendar->RegisterItems(*index);
    gPhase[3] = Ms(t0);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/fv-bench-library-XXXXXX";
    std::string dir = ::mkdtemp(tmpl);
    std::string treeFile = dir + "/CorvaData.body", albumFile = dir + "/CorvaGroup.body";
    std::vector<double> saves, loads, savesWall, loadsWall;
    {
        TFolderTreeList tree;
        TAlbumList albums;
        Build(tree, albums);
        for (int round = 0; round < 3; ++round) {
            auto t0 = std::chrono::steady_clock::now();
            double c0 = ThreadCpuMs();
            {
                TFileStream tf(treeFile, TFileStream::fmCreate);
                int32_t count;
                tree.SaveTree(tf, count);
                TFileStream af(albumFile, TFileStream::fmCreate);
                albums.SaveToStream(af);
            }
            saves.push_back(ThreadCpuMs() - c0);
            savesWall.push_back(Ms(t0));
        }
    }
    double bytesPerItem = 0;
    for (int round = 0; round < 3; ++round) {
        malloc_trim(0);
        size_t before = HeapInUse();
        auto l = std::make_unique<TLoaded>();
        auto t0 = std::chrono::steady_clock::now();
        double c0 = ThreadCpuMs();
        Load(*l, treeFile, albumFile);
        loads.push_back(ThreadCpuMs() - c0);
        loadsWall.push_back(Ms(t0));
        std::printf("load phases: tree %.1f ms, albums %.1f ms, index and album setup %.1f ms, calendar %.1f ms\n", gPhase[0],
                    gPhase[1], gPhase[2], gPhase[3]);
        if (round == 0) {
            size_t after = HeapInUse();
            size_t texts = TextBytes(*l->Tree);
            bytesPerItem = (static_cast<double>(after - before) - static_cast<double>(texts)) / kItems;
            std::printf("loaded: %d items, %d calendar items, %zu heap bytes, %zu text bytes, tree body %jd bytes, album body %jd bytes\n",
                        l->Tree->GetTotalItemCount(), l->Calendar->GetTotalItemCount(), after - before, texts,
                        static_cast<intmax_t>(fs::file_size(treeFile)), static_cast<intmax_t>(fs::file_size(albumFile)));
        }
    }
    fs::remove_all(dir);
    std::printf("wall clock (machine load dependent): save %.1f ms, load %.1f ms\n", Median(savesWall), Median(loadsWall));
    std::printf("bench: library_100k_save_ms = %.1f ms\n", Median(saves));
    std::printf("bench: library_100k_load_ms = %.1f ms\n", Median(loads));
    std::printf("bench: library_100k_bytes_per_item = %.0f bytes\n", bytesPerItem);
    return 0;
}
