#include "library/catalog_updater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/catalog_item.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

struct CatalogUpdater : ::testing::Test {
    TQueueDispatcher dispatcher;
    void SetUp() override { SetUiDispatcher(&dispatcher); }
    void TearDown() override {
        FinalizeCatalogUpdater();
        SetUiDispatcher(nullptr);
    }
};

struct TLogBook {
    std::mutex Lock;
    std::vector<std::string> Lines;
    void Add(const std::string& s) {
        std::lock_guard g(Lock);
        Lines.push_back(s);
    }
    size_t Count() {
        std::lock_guard g(Lock);
        return Lines.size();
    }
};

}  // namespace

TEST_F(CatalogUpdater, RegisteringBeforeStartIsRefusedWithTheWrappedMessage) {
    int owner = 0;
    try {
        RegisterCatalogUpdateEvent(&owner, "TView", false, [](TCatalogItem*, uint8_t) {});
        FAIL();
    } catch (const ECatalogUpdaterError& e) {
        EXPECT_EQ(e.Message(),
                  "RegisterCatalogUpdateEvent\r\n\r\nECatalogUpdaterError\r\nCatalogUpdateWatcher が初期化されていません。\r\n");
    }
    InitializeCatalogUpdater();
    EXPECT_THROW(RegisterCatalogUpdateEvent(nullptr, "TView", false, [](TCatalogItem*, uint8_t) {}),
                 ECatalogUpdaterError);
    EXPECT_THROW(RegisterCatalogUpdateEvent(&owner, "TView", false, nullptr), ECatalogUpdaterError);
    // raising without an item, or without a running updater, is ignored
    RaiseCatalogUpdateEvent(nullptr, 15);
    FinalizeCatalogUpdater();
    TCatalogItem item;
    RaiseCatalogUpdateEvent(&item, 15);
}

// Handlers hear each event in arrival order, last registered first; a synchronising handler
// runs on the user-interface thread; a failing handler is left out for the rest of the cycle
// while the others go on.
TEST_F(CatalogUpdater, DeliversInOrderOnTheRightThreads) {
    InitializeCatalogUpdater();
    TLogBook log;
    int a = 0, b = 0, bad = 0;
    const auto ui = std::this_thread::get_id();
    std::atomic<bool> syncOnUi{true};
    RegisterCatalogUpdateEvent(&a, "TA", true, [&](TCatalogItem*, uint8_t type) {
        if (std::this_thread::get_id() != ui) syncOnUi = false;
        log.Add("A" + std::to_string(type));
    });
    RegisterCatalogUpdateEvent(&bad, "TBad", false, [&](TCatalogItem*, uint8_t type) {
        log.Add("X" + std::to_string(type));
        throw std::runtime_error("broken view");
    });
    RegisterCatalogUpdateEvent(&b, "TB", false, [&](TCatalogItem*, uint8_t type) {
        EXPECT_NE(std::this_thread::get_id(), ui);
        log.Add("B" + std::to_string(type));
    });
    TCatalogItem item;
    RaiseCatalogUpdateEvent(&item, 12);
    RaiseCatalogUpdateEvent(&item, 15);
    WaitPumping([&] { return log.Count() >= 5; }, 10);
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"B12", "X12", "A12", "B15", "A15"}));
    EXPECT_TRUE(syncOnUi);
    // the next cycle gives the failed handler another chance
    RaiseCatalogUpdateEvent(&item, 7);
    WaitPumping([&] { return log.Count() >= 8; }, 10);
    EXPECT_EQ(log.Lines[5], "B7");
    EXPECT_EQ(log.Lines[6], "X7");
}

TEST_F(CatalogUpdater, UnregisteredHandlersAreNeverCalledAgain) {
    InitializeCatalogUpdater();
    std::atomic<int> calls{0}, after{0};
    std::atomic<bool> gone{false};
    int owner = 0, other = 0;
    RegisterCatalogUpdateEvent(&owner, "TView", false, [&](TCatalogItem*, uint8_t) {
        ++calls;
        if (gone) ++after;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    RegisterCatalogUpdateEvent(&other, "TOther", false, [](TCatalogItem*, uint8_t) {}, 1);
    TCatalogItem item;
    std::atomic<bool> stop{false};
    std::thread raiser([&] {
        while (!stop) {
            RaiseCatalogUpdateEvent(&item, 15);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    WaitPumping([&] { return calls.load() > 5; }, 10);
    UnRegisterCatalogUpdateEvent(&owner);
    gone = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    raiser.join();
    EXPECT_EQ(after.load(), 0);
    EXPECT_THROW(UnRegisterCatalogUpdateEvent(nullptr), ECatalogUpdaterError);
}
