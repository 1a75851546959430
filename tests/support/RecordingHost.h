// A batch host for tests: records what the worker tells the window, and lets a
// test act at the moment a task starts, reports progress or finishes.
#pragma once

#include "batch/BatchWorker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pelldrin::test {

// Records what the worker tells the window.
class RecordingHost : public IBatchHost {
  public:
    void SetTotalProgress(int position, int maximum) override {
        std::lock_guard lock(mutex_);
        totals.emplace_back(position, maximum);
    }
    // Comes from the runner's reading thread while a converter runs.
    void SetCurrentProgress(int position, int maximum) override {
        std::function<void(std::uint64_t, int, int)> hook;
        std::uint64_t task = 0;
        {
            std::lock_guard lock(mutex_);
            ++currentCalls;
            lastCurrent = {position, maximum};
            hook = onProgress;
            task = started.empty() ? 0 : started.back();
        }
        if (hook) {
            hook(task, position, maximum);
        }
    }
    void TaskStarted(std::uint64_t id) override { Record(started, onStarted, id); }
    void TaskFinished(std::uint64_t id) override { Record(finished, onFinished, id); }
    void TaskFailed(std::uint64_t id, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        failed.emplace_back(id, reason);
    }
    void RunStateChanged(bool running) override {
        {
            std::lock_guard lock(mutex_);
            states.push_back(running);
        }
        changed_.notify_all();
    }
    void RunMessage(const std::string& message) override {
        std::lock_guard lock(mutex_);
        messages.push_back(message);
    }

    // Waits until the worker has switched back to idle `runs` times.
    bool WaitForIdle(int runs = 1, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(
            lock, limit, [&] { return std::count(states.begin(), states.end(), false) >= runs; });
    }

    // The reason a task failed with, or empty.
    std::string ReasonFor(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        for (const auto& [taskId, reason] : failed) {
            if (taskId == id) {
                return reason;
            }
        }
        return {};
    }

    std::vector<std::pair<int, int>> totals;
    std::pair<int, int> lastCurrent{-1, -1};
    int currentCalls = 0;
    std::vector<std::uint64_t> started, finished;
    std::vector<std::pair<std::uint64_t, std::string>> failed;
    std::vector<bool> states;
    std::vector<std::string> messages;
    std::function<void(std::uint64_t)> onStarted, onFinished;
    // The task being converted, and the progress it reports.
    std::function<void(std::uint64_t, int, int)> onProgress;

  private:
    // Notes the task, then runs the hook outside the lock: a hook may call back into the run.
    void Record(std::vector<std::uint64_t>& list,
                const std::function<void(std::uint64_t)>& hookSlot, std::uint64_t id) {
        std::function<void(std::uint64_t)> hook;
        {
            std::lock_guard lock(mutex_);
            list.push_back(id);
            hook = hookSlot;
        }
        if (hook) {
            hook(id);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
};

} // namespace pelldrin::test
