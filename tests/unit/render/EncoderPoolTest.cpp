// The pool that encodes pictures in parallel: results committed one at a time in the order
// the items came, items held until committed, and failures carried to the producer.
#include "core/EncoderPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pelldrin::render {
namespace {

using namespace std::chrono_literals;
using Pool = EncoderPool<int, int>;

TEST(EncoderPool, CommitsEveryResultOnceInOrderAndOneAtATime) {
    constexpr int kItems = 60;
    std::mutex mutex;
    std::set<std::thread::id> encoders;
    std::vector<std::pair<int, int>> committed; // number, result
    std::atomic<int> committing{0};
    bool overlapped = false;
    Pool pool(
        3,
        [&](const int& item, int number) {
            {
                std::lock_guard lock(mutex);
                encoders.insert(std::this_thread::get_id());
            }
            // Later items finish first, so results arrive out of order.
            std::this_thread::sleep_for(std::chrono::microseconds(200 * (3 - number % 4)));
            return item * 2;
        },
        [&](int&& result, int number) {
            overlapped = overlapped || committing.fetch_add(1) != 0;
            committed.emplace_back(number, result);
            std::this_thread::sleep_for(100us);
            committing.fetch_sub(1);
        });
    for (int i = 0; i < kItems; ++i) {
        ASSERT_TRUE(pool.Push(100 + i, 1));
    }
    pool.Finish();
    EXPECT_FALSE(overlapped) << "two commits ran at once";
    ASSERT_EQ(committed.size(), std::size_t{kItems});
    for (int i = 0; i < kItems; ++i) {
        EXPECT_EQ(committed[i], std::make_pair(i + 1, 2 * (100 + i)));
    }
    EXPECT_GT(encoders.size(), 1u) << "the items were encoded on one thread";
}

TEST(EncoderPool, ItemsHoldTheBudgetUntilCommittedAndFailuresReachTheProducer) {
    // A commit that waits: the item stays counted although it has been encoded.
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    Pool held(
        1, [](const int& item, int) { return item; },
        [&](int&&, int) {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return open; });
        },
        PoolBudget{10, 100});
    EXPECT_TRUE(held.Push(1, 60));
    EXPECT_TRUE(held.Push(2, 60)) << "one item waits beside the worker's whatever its size";
    std::atomic<bool> pushed{false};
    std::thread third([&] {
        held.Push(3, 60);
        pushed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(pushed) << "an item encoded but not committed no longer counted";
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    cv.notify_all();
    third.join();
    held.Finish();

    // An encode that fails: the items before it are committed, none after it, and the
    // producer learns of it. (One worker, so that the items before it are surely done.)
    std::vector<int> committed;
    Pool failing(
        1,
        [](const int& item, int) {
            if (item == 5) {
                throw std::runtime_error("encoder failed at 5");
            }
            return item;
        },
        [&](int&& result, int) { committed.push_back(result); });
    bool refused = false;
    for (int i = 1; i <= 200 && !refused; ++i) {
        refused = !failing.Push(int{i}, 1);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(refused) << "the producer went on pushing after the failure";
    EXPECT_NE(failing.Error(), nullptr);
    EXPECT_THROW(failing.Finish(), std::runtime_error);
    EXPECT_EQ(committed, (std::vector<int>{1, 2, 3, 4}));

    // A commit that fails stops the pool just as well.
    Pool badCommit(
        1, [](const int& item, int) { return item; },
        [](int&&, int number) {
            if (number == 2) {
                throw std::runtime_error("disk full");
            }
        });
    for (int i = 0; i < 3; ++i) {
        badCommit.Push(int{i}, 1);
    }
    EXPECT_THROW(badCommit.Finish(), std::runtime_error);
}

} // namespace
} // namespace pelldrin::render
