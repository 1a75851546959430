// The queue of subtitle files waiting for conversion: per task its path and
// its TaskLine, always kept together behind one lock.
#pragma once

#include "script/TaskRecord.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// A snapshot of one task.
struct TaskEntry {
    std::uint64_t id = 0; // unique for the life of the queue
    std::string path;
    std::string taskLine;
    bool failed = false;       // the last run could not convert it
    std::string failureReason; // why, when failed
};

class TaskQueue {
  public:
    // Appends a task; throws TaskLineError when the TaskLine is not eight
    // fields. Returns the new task's index.
    std::size_t Append(const std::string& path, const std::string& taskLine);
    // Builds the TaskLine from the controls and appends the task.
    std::size_t AppendNew(const std::string& path, const TaskControls& controls);

    // Field k of task i; throws std::out_of_range for a bad index.
    std::string GetField(std::size_t i, int k) const;
    // Sets field k of task i; the value may not hold "|".
    void SetField(std::size_t i, int k, const std::string& value);

    void Remove(std::size_t i);
    void Clear();
    std::size_t Count() const;

    std::optional<TaskEntry> Get(std::size_t i) const;
    std::vector<TaskEntry> Snapshot() const;

    // Marks task i failed with a reason, or clears the mark.
    void MarkFailed(std::size_t i, const std::string& reason);
    void ClearFailed(std::size_t i);

    // Whether a task for this file is queued.
    bool HasPath(const std::string& path) const;

    // The current index of the task with the given id, if it is still queued.
    std::optional<std::size_t> IndexOf(std::uint64_t id) const;

  private:
    void CheckIndex(std::size_t i) const;

    mutable std::mutex mutex_;
    std::vector<TaskEntry> tasks_;
    std::uint64_t nextId_ = 1;
};

} // namespace pelldrin
