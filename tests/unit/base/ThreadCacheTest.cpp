// Objects kept per thread: one a thread, kept between uses, freed as the thread's scope ends
// (under Wine too, where a thread_local with a destructor could crash at a thread's end).
#include "base/ThreadCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
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
    std::condition_variable allHaveOne;
    int arrived = 0;
    std::set<const Counted*> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const pelldrin::ThreadCacheScope scope;
            Counted& first = pelldrin::ThreadCache<Counted>();
            bool same = true;
            for (int i = 0; i < 1000; ++i) {
                Counted& again = pelldrin::ThreadCache<Counted>();
                same = same && &again == &first;
                again.values.push_back(t);
            }
            EXPECT_TRUE(same);
            EXPECT_EQ(first.values.size(), 1000u);
            // Each keeps its object until all four have theirs: one freed before another is
            // made may give the next the same address, which would pass for a shared one.
            std::unique_lock lock(mutex);
            seen.insert(&first);
            ++arrived;
            allHaveOne.notify_all();
            allHaveOne.wait(lock, [&] { return arrived == 4; });
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
