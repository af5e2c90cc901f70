#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "library/catalog_list.h"
#include "library/folder.h"
#include "library_test_util.h"

using namespace fv;
using fvtest::WriteFile;

namespace {
struct FolderThreads : fvtest::TempDirTest {};
}  // namespace

// A listing thread rescans while the user-interface side reads, sorts, renames and
// marks the same items: no deadlock, no lost item, every list copy consistent.
TEST_F(FolderThreads, RescansRunBesideReadersAndRenames) {
    for (int i = 0; i < 200; ++i) WriteFile(dir / ("IMG_" + std::to_string(i) + ".JPG"), "x");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    ASSERT_EQ(f.GetItemCount(), 200);
    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        for (int round = 0; round < 30; ++round) f.SearchFiles(nullptr);
        stop = true;
    });
    std::thread counter([&] {
        while (!stop) {
            f.UpdateTotals(false);
            f.CheckExists(false, false);
        }
    });
    int reads = 0;
    while (!stop) {
        TItemList items;
        f.GetItems(items);
        TCorvaSortList l;
        for (auto* it : items) {
            l.Add(it);
            it->SetMarked(!it->IsMarked());
        }
        l.SetOrder(reads % 4, reads % 2 == 0, reads % 3 == 0, false);
        // renaming to the same name in another case and back keeps the item in place
        if (!items.empty()) {
            TCatalogItem* it = items[static_cast<size_t>(reads) % items.size()];
            std::string name = it->GetFileName();
            it->SetFileName(name + ".tmp");
            it->SetFileName(name);
        }
        ++reads;
    }
    scanner.join();
    counter.join();
    f.SearchFiles(nullptr);
    EXPECT_EQ(f.GetItemCount(), 200);
    EXPECT_GT(reads, 0);
}
