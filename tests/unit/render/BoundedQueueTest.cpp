// The queue between the renderer's threads: its bounds, its order, and how a failure or
// a stop reaches the other side.
#include "core/BoundedQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace pelldrin::render {
namespace {

using namespace std::chrono_literals;

// Pushes from a thread of its own; pushed turns true once the push returned.
struct LatePush {
    LatePush(BoundedQueue<int>& queue, int item, std::size_t bytes)
        : thread([&queue, item, bytes, this] {
              accepted = queue.Push(item, bytes);
              pushed = true;
          }) {}
    ~LatePush() { Join(); }
    // Waits for the push to return; true when the item was taken.
    bool Join() {
        if (thread.joinable()) {
            thread.join();
        }
        return accepted;
    }
    std::atomic<bool> pushed{false};
    std::atomic<bool> accepted{false};
    std::thread thread;
};

TEST(BoundedQueue, HoldsToItsBudgetAndHandsItemsOutInOrder) {
    BoundedQueue<int> queue(3, 100);
    EXPECT_TRUE(queue.Push(1, 500)) << "a queue that holds nothing takes any item";
    {
        LatePush second(queue, 2, 10);
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(second.pushed) << "over the budget, the producer waits";
        EXPECT_EQ(queue.Pop(), 1);
        EXPECT_TRUE(second.Join());
    }
    EXPECT_TRUE(queue.Push(3, 10));
    EXPECT_TRUE(queue.Push(4, 10));
    {
        LatePush fourth(queue, 5, 0);
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(fourth.pushed) << "three items are the most it holds";
        EXPECT_EQ(queue.Pop(), 2);
    }
    queue.Close();
    EXPECT_EQ(queue.Pop(), 3);
    EXPECT_EQ(queue.Pop(), 4);
    EXPECT_EQ(queue.Pop(), 5);
    EXPECT_EQ(queue.Pop(), std::nullopt);

    // Items held until released count after they are popped.
    BoundedQueue<int> held(2, 100, BoundedQueue<int>::Hold::UntilReleased);
    EXPECT_TRUE(held.Push(1, 60));
    EXPECT_EQ(held.Pop(), 1);
    LatePush next(held, 2, 60);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(next.pushed);
    held.Release(60);
    EXPECT_EQ(held.Pop(), 2);

    // Items over the budget still reach as many consumers as asked.
    BoundedQueue<int> roomy(10, 100, BoundedQueue<int>::Hold::UntilPopped, 2);
    EXPECT_TRUE(roomy.Push(1, 500));
    EXPECT_TRUE(roomy.Push(2, 500));
    LatePush third(roomy, 3, 500);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(third.pushed);
    EXPECT_EQ(roomy.Pop(), 1);
    EXPECT_TRUE(third.Join());
}

TEST(BoundedQueue, FailureComesAfterTheItemsAndAStopFreesAWaitingProducer) {
    BoundedQueue<std::string> queue(10, 100);
    EXPECT_TRUE(queue.Push("a", 1));
    EXPECT_TRUE(queue.Push("b", 1));
    queue.Fail(std::make_exception_ptr(std::runtime_error("drawing failed")));
    EXPECT_FALSE(queue.Push("c", 1));
    EXPECT_EQ(queue.Pop(), "a");
    EXPECT_EQ(queue.Pop(), "b");
    EXPECT_THROW(queue.Pop(), std::runtime_error);

    BoundedQueue<int> full(1, 100);
    EXPECT_TRUE(full.Push(1, 1));
    LatePush waiting(full, 2, 1);
    std::this_thread::sleep_for(20ms);
    full.Stop(std::make_exception_ptr(std::runtime_error("encoder failed")));
    EXPECT_FALSE(waiting.Join());
    EXPECT_EQ(full.Pop(), std::nullopt) << "a stopped queue's items are dropped";
    EXPECT_NE(full.Error(), nullptr);
}

} // namespace
} // namespace pelldrin::render
