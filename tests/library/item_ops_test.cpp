// The rules that change a photo's marks, without a window: what changes, what is left alone, and
// which catalog event each change raises.
#include "library/item_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "library/album.h"
#include "library/catalog_item.h"
#include "library/catalog_updater.h"
#include "metadata/correction_record.h"
#include "library/folder.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

struct ItemRules : ::testing::Test {
    TQueueDispatcher ui;
    TFolder folder{"/photos"};
    std::vector<TCatalogItem*> items;
    std::mutex lock;
    std::vector<std::pair<TCatalogItem*, uint8_t>> heard;
    int owner = 0;

    void SetUp() override {
        SetUiDispatcher(&ui);
        for (int i = 0; i < 3; ++i) {
            auto* it = new TCatalogItem();
            it->SetFileNameRaw("p" + std::to_string(i) + ".jpg");
            EXPECT_TRUE(folder.AddItem(it));
            items.push_back(it);
        }
        InitializeCatalogUpdater();
        RegisterCatalogUpdateEvent(&owner, "TItemRulesTest", false, [this](TCatalogItem* item, uint8_t type) {
            std::lock_guard g(lock);
            heard.emplace_back(item, type);
        });
    }
    void TearDown() override {
        FinalizeCatalogUpdater();
        SetUiDispatcher(nullptr);
    }
    // the events delivered once the watcher has had its turns
    std::vector<std::pair<TCatalogItem*, uint8_t>> Heard(size_t count) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard g(lock);
                if (heard.size() >= count) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // and nothing more after them
        std::lock_guard g(lock);
        return std::exchange(heard, {});
    }
};

}  // namespace

TEST_F(ItemRules, OnlyTheItemsThatChangeAreTouchedAndEachRaisesItsEvent) {
    items[1]->SetMarked(true);
    TItemVector changed = SetFavourite(items, TMarkChange::On);
    EXPECT_EQ(changed, (TItemVector{items[0], items[2]}));
    auto events = Heard(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], std::make_pair(items[0], uint8_t(cuFavourite)));
    EXPECT_EQ(events[1], std::make_pair(items[2], uint8_t(cuFavourite)));

    // a toggle changes every item; off then leaves the unmarked ones alone
    EXPECT_EQ(SetFavourite(items, TMarkChange::Toggle).size(), 3u);
    EXPECT_FALSE(items[0]->IsMarked());
    EXPECT_EQ(SetFavourite(items, TMarkChange::Off).size(), 0u);
    EXPECT_EQ(Heard(3).size(), 3u);

    EXPECT_EQ(SetItemRating(items, 1).size(), 3u);
    EXPECT_EQ(SetItemRating(items, 1).size(), 0u);
    EXPECT_EQ(SetItemRating({items[0]}, 0), TItemVector{items[0]});
    auto ratings = Heard(4);
    ASSERT_EQ(ratings.size(), 4u);
    for (auto& e : ratings) EXPECT_EQ(e.second, cuRating);

    EXPECT_EQ(SetDeleteReservation({items[0]}, TMarkChange::Toggle).size(), 1u);
    EXPECT_TRUE(items[0]->HasFlag(ifDeleteReservation));
    EXPECT_EQ(SetDeleteReservation(items, TMarkChange::On).size(), 2u);
    auto reservations = Heard(3);
    ASSERT_EQ(reservations.size(), 3u);
    EXPECT_EQ(reservations[0].second, cuDeleteReservation);
}

TEST_F(ItemRules, PrintReservationsStopAtTheCapAndAtNone) {
    TItemVector one{items[0]};
    for (int i = 0; i < 10; ++i) ChangePrintReservation(one, TPrintChange::Plus);
    EXPECT_EQ(items[0]->GetPrintReservation(), kMaxPrintReservation);
    EXPECT_TRUE(ChangePrintReservation(one, TPrintChange::Plus).empty());
    EXPECT_EQ(ChangePrintReservation(one, TPrintChange::Minus).size(), 1u);
    EXPECT_EQ(items[0]->GetPrintReservation(), kMaxPrintReservation - 1);
    EXPECT_EQ(ChangePrintReservation(items, TPrintChange::Reset), one);
    EXPECT_TRUE(ChangePrintReservation(items, TPrintChange::Minus).empty());
    auto events = Heard(kMaxPrintReservation + 2);
    EXPECT_EQ(events.size(), size_t(kMaxPrintReservation + 2));
    for (auto& e : events) EXPECT_EQ(e.second, cuPrintReservation);
}

TEST_F(ItemRules, TurnsChangeEveryPhotoButTheResetLeavesUprightOnes) {
    EXPECT_TRUE(TurnItems(items, TTurn::Reset).empty());
    EXPECT_EQ(TurnItems({items[1]}, TTurn::Right).size(), 1u);
    EXPECT_NE(items[1]->GetOrientation(), 1);
    EXPECT_EQ(TurnItems(items, TTurn::Reset), TItemVector{items[1]});
    EXPECT_EQ(items[1]->GetOrientation(), 1);
    EXPECT_EQ(TurnItems(items, TTurn::Mirror).size(), 3u);
    auto events = Heard(5);
    ASSERT_EQ(events.size(), 5u);
    for (auto& e : events) EXPECT_EQ(e.second, cuOrientation);

    // a correction always makes the picture again
    TCorrectionRecord r = items[2]->GetCorrection();
    r.Brightness = 10;
    SetItemCorrection(items[2], r);
    EXPECT_EQ(items[2]->GetCorrection().Brightness, 10);
    SetItemCorrection(nullptr, r);
    auto corrected = Heard(1);
    ASSERT_EQ(corrected.size(), 1u);
    EXPECT_EQ(corrected[0], std::make_pair(items[2], uint8_t(cuCorrections)));
}

TEST_F(ItemRules, AnItemIsGoneWithoutAnOwnerOrWhenMissingOrDeleted) {
    EXPECT_FALSE(IsItemGone(items[0]));
    items[0]->SetState(isDeleted);
    EXPECT_TRUE(IsItemGone(items[0]));
    TCatalogItem loose;
    EXPECT_TRUE(IsItemGone(&loose));
    EXPECT_TRUE(IsItemGone(nullptr));
}

TEST_F(ItemRules, DeletedPhotosLeaveTheirFolderAndRaiseTheDeletedEvent) {
    TCatalogItem* gone = items[1];
    DropDeletedItems({gone, nullptr});
    EXPECT_EQ(gone->GetState(), isDeleted);
    EXPECT_EQ(folder.FindItem("p1.jpg"), nullptr);
    EXPECT_NE(folder.FindItem("p0.jpg"), nullptr);
    auto events = Heard(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(gone, uint8_t(cuDeleted)));
}

TEST(ItemRulesNames, AChildNameIsTheBaseUntilTakenThenTheFirstFreeNumber) {
    TQueueDispatcher ui;
    SetUiDispatcher(&ui);
    {
        TAlbumList list;
        TAlbum* root = list.GetRootAlbum(atAlbum);
        EXPECT_EQ(UniqueChildName(root, "新しいアルバム"), "新しいアルバム");
        list.CreateAlbum(root, atAlbum, "", "新しいアルバム");
        EXPECT_EQ(UniqueChildName(root, "新しいアルバム"), "新しいアルバム(2)");
        list.CreateAlbum(root, atAlbum, "", "新しいアルバム(2)");
        EXPECT_EQ(UniqueChildName(root, "新しいアルバム"), "新しいアルバム(3)");
        EXPECT_EQ(UniqueChildName(nullptr, "x"), "x");
    }
    SetUiDispatcher(nullptr);
}
