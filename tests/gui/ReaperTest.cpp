// The reaper: what a row lets go of is destroyed on a thread of its own; the owner can wait a
// bounded time for a row and is told when the row's last object is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "station/Reaper.h"

namespace tarvo::station {
namespace {

using namespace std::chrono_literals;

// An object whose destructor blocks until it is let go.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void Open()
    {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};
struct Blocker {
    Gate& gate;
    std::atomic<int>& destroyed;
    ~Blocker()
    {
        std::unique_lock lock(gate.mutex);
        gate.cv.wait(lock, [&] { return gate.open; });
        ++destroyed;
    }
};

TEST(Reaper, DestroysOffTheOwnersThreadAndTellsWhenTheRowIsIdle)
{
    Gate first;
    Gate second;
    std::atomic<int> destroyed{0};
    std::mutex mutex;
    std::vector<int> idle;
    Reaper reaper([&](int row) {
        std::lock_guard lock(mutex);
        idle.push_back(row);
    });
    const auto start = std::chrono::steady_clock::now();
    reaper.Retire(3, std::make_shared<Blocker>(first, destroyed));
    reaper.Retire(3, std::make_shared<Blocker>(second, destroyed));
    reaper.Retire(5, std::shared_ptr<void>());  // nothing to destroy: idle at once
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // Retire never waits for a destructor

    EXPECT_TRUE(reaper.WaitFor(5, 1s));
    EXPECT_FALSE(reaper.WaitFor(3, 20ms));  // both still being destroyed
    EXPECT_TRUE(reaper.Busy(3));
    first.Open();
    EXPECT_FALSE(reaper.WaitFor(3, 20ms));  // one left
    second.Open();
    EXPECT_TRUE(reaper.WaitFor(3, 1s));
    EXPECT_FALSE(reaper.Busy(3));
    EXPECT_EQ(destroyed.load(), 2);
    reaper.WaitAll();
    std::lock_guard lock(mutex);
    // Row 5 once, row 3 once: only when its last object was gone.
    ASSERT_EQ(idle.size(), 2u);
    EXPECT_EQ(std::count(idle.begin(), idle.end(), 3), 1);
    EXPECT_EQ(std::count(idle.begin(), idle.end(), 5), 1);
}

TEST(Reaper, DestructionWaitsForEverythingRetired)
{
    Gate gate;
    std::atomic<int> destroyed{0};
    {
        Reaper reaper;
        for (int row = 1; row <= 8; ++row)
            reaper.Retire(row, std::make_shared<Blocker>(gate, destroyed));
        gate.Open();
    }
    EXPECT_EQ(destroyed.load(), 8);
}

}  // namespace
}  // namespace tarvo::station
