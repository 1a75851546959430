// Work on items in parallel, results taken in the items' order: the renderer's pictures are
// encoded on worker threads while the scan goes on, and come out in time order.
#pragma once

#include "base/ThreadCache.h"
#include "core/BoundedQueue.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace pelldrin::render {

// Items wait in a bounded queue and hold their place (count and bytes) until their result is
// committed, so that results waiting for an earlier item's turn count as well.
struct PoolBudget {
    std::size_t items = 2 * kQueueItems;
    std::size_t bytes = kQueueBytes;
};

template <class In, class Out> class EncoderPool {
  public:
    // Runs on the workers, any number at once; number counts the items pushed, from 1.
    using Encode = std::function<Out(const In& item, int number)>;
    // Gets each result in the order the items came, one at a time, on whichever worker
    // finished the result whose turn it is.
    using Commit = std::function<void(Out&& result, int number)>;

    EncoderPool(int threads, Encode encode, Commit commit, PoolBudget budget = {})
        : encode_(std::move(encode)), commit_(std::move(commit)),
          // Items larger than the budget (full-frame pictures) still keep every worker busy
          // with one waiting.
          items_(budget.items, budget.bytes, BoundedQueue<Entry>::Hold::UntilReleased,
                 static_cast<std::size_t>(threads) + 1) {
        for (int i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { Loop(); });
        }
    }
    ~EncoderPool() {
        items_.Stop();
        Join();
    }
    EncoderPool(const EncoderPool&) = delete;
    EncoderPool& operator=(const EncoderPool&) = delete;

    // Queues an item that holds `bytes` of the budget until its result is committed; waits
    // while the budget is spent. False once a worker has failed.
    bool Push(In&& item, std::size_t bytes) {
        return items_.Push(Entry{nextNumber_++, bytes, std::move(item)}, bytes);
    }

    // Waits until every result is committed; rethrows the first failure of an encode or a
    // commit.
    void Finish() {
        items_.Close();
        Join();
        if (const auto error = items_.Error()) {
            std::rethrow_exception(error);
        }
    }

    // The first failure, or none.
    std::exception_ptr Error() const { return items_.Error(); }

  private:
    struct Entry {
        int number = 0;
        std::size_t bytes = 0;
        In item;
    };
    struct Done {
        Out result;
        std::size_t bytes = 0;
    };

    void Join() {
        for (auto& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }

    void Loop() {
        const ThreadCacheScope caches;
        while (true) {
            try {
                std::optional<Entry> entry = items_.Pop();
                if (!entry) {
                    return;
                }
                Out result = encode_(entry->item, entry->number);
                const std::size_t bytes = entry->bytes;
                const int number = entry->number;
                entry.reset(); // the item goes as soon as it is encoded
                CommitReady(number, Done{std::move(result), bytes});
            } catch (...) {
                items_.Stop(std::current_exception());
                return;
            }
        }
    }

    // Keeps a result and, unless another worker is at it, commits every result whose turn
    // has come: a worker never waits for an earlier item's turn, it goes on encoding, and the
    // worker that commits that item commits this one too.
    void CommitReady(int number, Done&& done) {
        std::unique_lock lock(mutex_);
        done_.emplace(number, std::move(done));
        if (committing_) {
            return;
        }
        committing_ = true;
        while (!done_.empty() && done_.begin()->first == nextCommit_ && !items_.Error()) {
            auto node = done_.extract(done_.begin());
            lock.unlock();
            try {
                commit_(std::move(node.mapped().result), node.key());
            } catch (...) {
                lock.lock();
                committing_ = false;
                throw;
            }
            items_.Release(node.mapped().bytes);
            lock.lock();
            ++nextCommit_;
        }
        committing_ = false;
    }

    Encode encode_;
    Commit commit_;
    BoundedQueue<Entry> items_;
    std::mutex mutex_;
    std::map<int, Done> done_; // encoded, not yet committed
    bool committing_ = false;
    int nextNumber_ = 1; // the producer's alone
    int nextCommit_ = 1;
    std::vector<std::thread> threads_; // last: they start once the rest is ready
};

} // namespace pelldrin::render
