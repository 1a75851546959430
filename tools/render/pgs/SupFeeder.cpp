#include "pgs/SupFeeder.h"

#include "base/ThreadCache.h"
#include "core/BoundedQueue.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <thread>

namespace pelldrin::pgs {

namespace {

std::size_t Bytes(const SupEvent& event) {
    std::size_t bytes = 0;
    for (const IndexedObject& o : event.objects) {
        bytes += o.pixels.size();
    }
    return bytes;
}

} // namespace

struct SupFeeder::State {
    std::string path;
    SupWriter writer;
    // Indices, a byte a pixel: half the budget holds twice the pixels of a picture queue.
    render::BoundedQueue<SupEvent> events{render::kQueueItems, render::kQueueBytes / 2};
    std::thread thread; // last: it starts once the rest is ready

    State(std::string p, const StreamInfo& info)
        : path(std::move(p)), writer(path, info), thread([this] { Loop(); }) {}
    ~State() {
        events.Stop();
        if (thread.joinable()) {
            thread.join();
        }
    }

    // The stream's messages name the file, as the renderer's do.
    void Named(const auto& write) {
        try {
            write();
        } catch (const SupError& e) {
            throw SupError(path + ": " + e.what());
        }
    }

    void Loop() {
        const ThreadCacheScope caches;
        while (std::optional<SupEvent> event = events.Pop()) {
            try {
                Named([&] { writer.Add(*event); });
            } catch (...) {
                events.Stop(std::current_exception());
                return;
            }
        }
    }
};

SupFeeder::SupFeeder(std::string path, const StreamInfo& info)
    : state_(std::make_unique<State>(std::move(path), info)) {}

SupFeeder::~SupFeeder() = default;

void SupFeeder::Add(SupEvent&& event) {
    const std::size_t bytes = Bytes(event);
    if (!state_->events.Push(std::move(event), bytes)) {
        if (const auto error = state_->events.Error()) {
            std::rethrow_exception(error);
        }
        throw std::runtime_error("the PGS stream stopped");
    }
}

void SupFeeder::Finish() {
    State& s = *state_;
    s.events.Close();
    if (s.thread.joinable()) {
        s.thread.join();
    }
    if (const auto error = s.events.Error()) {
        std::rethrow_exception(error);
    }
    s.Named([&] { s.writer.Finish(); });
}

const SupReport& SupFeeder::Report() const {
    return state_->writer.Report();
}

} // namespace pelldrin::pgs
