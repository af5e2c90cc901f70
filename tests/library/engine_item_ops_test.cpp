#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "core/engine.h"
#include "library/catalog_item.h"
#include "library/engine_item_ops.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library_test_util.h"

using namespace fv;
using namespace fvtest;

namespace {

struct ItemOps : TwoFoldersTest {
    void SetUp() override {
        TwoFoldersTest::SetUp();
        StartWith({{"a.jpg", "aaaa"}, {"b.jpg", "bb"}, {"c.jpg", "ccc"}});
    }
};

}  // namespace

TEST_F(ItemOps, ACopyTakesTheMarksAlongAndAnExistingFileIsListedNotReplaced) {
    TCatalogItem* a = src->FindItem("a.jpg");
    TCatalogItem* b = src->FindItem("b.jpg");
    ASSERT_TRUE(a && b);
    a->SetRating(2);
    a->SetMarked(true);
    WriteFile(dir / "lib/Other/b.jpg", "someone else's");
    TItemCopyResult r = CorvaEngineCopyItems({a, b}, Path("lib/Other"));
    ASSERT_EQ(r.Done, std::vector<TCatalogItem*>{a});
    ASSERT_EQ(r.Failed.size(), 1u);
    EXPECT_EQ(r.Failed[0].rfind(b->GetFullPath() + ": ", 0), 0u) << r.Failed[0];
    EXPECT_EQ(ReadFile(dir / "lib/Other/b.jpg"), "someone else's");  // never overwritten
    EXPECT_TRUE(fs::exists(dir / "lib/Trip/a.jpg"));
    TCatalogItem* twin = dst->FindItem("a.jpg");
    ASSERT_NE(twin, nullptr);
    EXPECT_NE(twin, a);
    EXPECT_EQ(twin->GetRating(), 2);
    EXPECT_TRUE(twin->IsMarked());
    EXPECT_EQ(a->GetOwner(), src);
}

TEST_F(ItemOps, AMovedPhotoKeepsItsItemInTheNewFolder) {
    TCatalogItem* a = src->FindItem("a.jpg");
    TCatalogItem* c = src->FindItem("c.jpg");
    a->SetRating(3);
    // the destination knew an earlier file of that name, gone since
    WriteFile(dir / "lib/Other/a.jpg", "old");
    dst->SearchFiles(nullptr);
    TCatalogItem* stale = dst->FindItem("a.jpg");
    ASSERT_NE(stale, nullptr);
    fs::remove(dir / "lib/Other/a.jpg");

    TItemCopyResult r = CorvaEngineMoveItems({a, c}, Path("lib/Other"));
    EXPECT_TRUE(r.Failed.empty());
    EXPECT_EQ(r.Done.size(), 2u);
    EXPECT_FALSE(fs::exists(dir / "lib/Trip/a.jpg"));
    EXPECT_EQ(ReadFile(dir / "lib/Other/a.jpg"), "aaaa");
    EXPECT_EQ(dst->FindItem("a.jpg"), a);  // the same item, with its rating
    EXPECT_EQ(a->GetOwner(), dst);
    EXPECT_EQ(a->GetRating(), 3);
    EXPECT_EQ(a->GetState(), isPresent);
    EXPECT_EQ(stale->GetState(), isDeleted);
    EXPECT_EQ(src->FindItem("a.jpg"), nullptr);
    EXPECT_EQ(src->FindItem("c.jpg"), nullptr);
    EXPECT_EQ(src->FindItem("b.jpg")->GetOwner(), src);
}

TEST_F(ItemOps, AMissingDestinationIsRefusedAndNothingMoves) {
    TCatalogItem* a = src->FindItem("a.jpg");
    EXPECT_THROW(CorvaEngineMoveItems({a}, Path("lib/Nowhere")), ECorvaEngineError);
    EXPECT_THROW(CorvaEngineCopyItems({a}, ""), ECorvaEngineError);
    EXPECT_TRUE(fs::exists(dir / "lib/Trip/a.jpg"));
    EXPECT_EQ(a->GetOwner(), src);
    // an item whose file vanished is listed; the others go on
    fs::remove(dir / "lib/Trip/b.jpg");
    TItemCopyResult r = CorvaEngineMoveItems({src->FindItem("b.jpg"), a, nullptr}, Path("lib/Other"));
    EXPECT_EQ(r.Failed.size(), 1u);
    EXPECT_EQ(r.Done, std::vector<TCatalogItem*>{a});
}
