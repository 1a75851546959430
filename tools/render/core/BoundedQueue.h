// The queue between the renderer's threads: items in order, bounded by a count and a
// memory budget, so that a fast producer waits instead of filling the memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace pelldrin::render {

// What one queue of pictures may hold: a full-frame 1080p picture is 8 MB.
inline constexpr std::size_t kQueueItems = 48;
inline constexpr std::size_t kQueueBytes = std::size_t{8} << 20;

template <class T> class BoundedQueue {
  public:
    // When an item's place and bytes come free: as it is popped, or only when the consumer
    // releases them (so that what consumers still work on counts too).
    enum class Hold { UntilPopped, UntilReleased };

    // Holds at most maxItems items and maxBytes bytes of them, except that it takes any item
    // while it holds fewer than anyItems (so that items larger than the budget still reach
    // each of that many consumers).
    explicit BoundedQueue(std::size_t maxItems = kQueueItems, std::size_t maxBytes = kQueueBytes,
                          Hold hold = Hold::UntilPopped, std::size_t anyItems = 1)
        : maxItems_(maxItems), maxBytes_(maxBytes), anyItems_(anyItems), hold_(hold) {}
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Adds an item that holds `bytes` of the budget, waiting while the queue is full. False,
    // and the item dropped, once the queue has stopped or failed.
    bool Push(T item, std::size_t bytes) {
        std::unique_lock lock(mutex_);
        space_.wait(lock, [&] {
            return stopped_ || error_ || heldItems_ < anyItems_ ||
                   (heldItems_ < maxItems_ && heldBytes_ + bytes <= maxBytes_);
        });
        if (stopped_ || error_) {
            return false;
        }
        ++heldItems_;
        heldBytes_ += bytes;
        items_.push_back({std::move(item), bytes});
        ready_.notify_one();
        return true;
    }

    // The next item, waiting for one; nothing once the queue is closed and empty, or
    // stopped. After Fail, the items pushed before it come first, then its error is thrown.
    std::optional<T> Pop() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return stopped_ || closed_ || error_ || !items_.empty(); });
        if (stopped_) {
            return std::nullopt;
        }
        if (items_.empty()) {
            if (error_) {
                std::rethrow_exception(error_);
            }
            return std::nullopt;
        }
        Entry entry = std::move(items_.front());
        items_.pop_front();
        if (hold_ == Hold::UntilPopped) {
            FreeLocked(entry.bytes);
        }
        return std::move(entry.item);
    }

    // Frees the place and bytes of a popped item (Hold::UntilReleased).
    void Release(std::size_t bytes) {
        std::lock_guard lock(mutex_);
        FreeLocked(bytes);
    }

    // No more items come: Pop hands out the rest, then nothing.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

    // The producer failed: Push refuses, Pop hands out the rest and then throws error.
    void Fail(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (!error_) {
            error_ = std::move(error);
        }
        Wake();
    }

    // The consumers are done, or failed with error: what the queue holds is dropped, Push
    // refuses and Pop gives nothing.
    void Stop(std::exception_ptr error = nullptr) {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        if (!error_) {
            error_ = std::move(error);
        }
        items_.clear();
        Wake();
    }

    // The first error given to Fail or Stop.
    std::exception_ptr Error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

  private:
    struct Entry {
        T item;
        std::size_t bytes;
    };

    void FreeLocked(std::size_t bytes) {
        --heldItems_;
        heldBytes_ -= bytes;
        space_.notify_all();
    }

    void Wake() {
        ready_.notify_all();
        space_.notify_all();
    }

    const std::size_t maxItems_;
    const std::size_t maxBytes_;
    const std::size_t anyItems_;
    const Hold hold_;
    mutable std::mutex mutex_;
    std::condition_variable space_;
    std::condition_variable ready_;
    std::deque<Entry> items_;
    std::size_t heldItems_ = 0;
    std::size_t heldBytes_ = 0;
    bool closed_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
};

} // namespace pelldrin::render
