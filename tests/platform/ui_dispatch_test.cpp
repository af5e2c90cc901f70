#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ui_dispatch.h"

using namespace fv;

TEST(UiDispatch, WorkersAskWhileTheUiThreadRebinds) {
    // the UI-thread id is read by every thread while the UI side rebinds it (ThreadSanitizer checks the race)
    TQueueDispatcher d;
    std::atomic<bool> stop{false};
    std::atomic<int> claims{0};
    std::thread worker([&] {
        while (!stop) claims += d.IsUiThread() ? 1 : 0;
    });
    for (int i = 0; i < 2000; ++i) d.RebindToCurrentThread();
    stop = true;
    worker.join();
    EXPECT_EQ(claims, 0);  // the worker is never taken for the UI thread
    EXPECT_TRUE(d.IsUiThread());
    std::thread other([&] { d.RebindToCurrentThread(); });
    other.join();
    EXPECT_FALSE(d.IsUiThread());
}
