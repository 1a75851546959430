// Objects kept per thread: one a thread, kept between uses, freed as the thread's scope ends
// (under Wine too, where a thread_local with a destructor could crash at a thread's end).
#include "base/ThreadCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

std::atomic<int> alive{0};

struct Counted {
    Counted() { ++alive; }
    ~Counted() { --alive; }
    std::vector<int> values;
};

} // namespace

TEST(ThreadCache, EachThreadKeepsItsOwnUntilItsScopeEnds) {
    const int before = alive;
    std::mutex mutex;
    std::set<const Counted*> seen;
    std::vector<std::thread> threads;
    // Every thread holds its object until all have been seen: a freed object's address may
    // be handed to the next thread's (Windows' heap does so).
    std::latch allSeen(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const pelldrin::ThreadCacheScope scope;
            Counted& first = pelldrin::ThreadCache<Counted>();
            for (int i = 0; i < 1000; ++i) {
                Counted& again = pelldrin::ThreadCache<Counted>();
                EXPECT_EQ(&again, &first);
                again.values.push_back(t);
            }
            EXPECT_EQ(first.values.size(), 1000u);
            {
                const std::lock_guard lock(mutex);
                seen.insert(&first);
            }
            allSeen.arrive_and_wait();
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(alive, before);

    // After a scope, the thread's next use starts afresh.
    std::thread([] {
        {
            const pelldrin::ThreadCacheScope scope;
            pelldrin::ThreadCache<Counted>().values.push_back(1);
        }
        const pelldrin::ThreadCacheScope scope;
        EXPECT_TRUE(pelldrin::ThreadCache<Counted>().values.empty());
    }).join();
    EXPECT_EQ(alive, before);
}
