// Every row the window lists: per task its path, its TaskLine, its state (queued, running,
// failed with the reason, stopped, converted with warnings) and what a conversion left,
// always kept together behind one lock. The worker converts the rows that are not
// converted; the window is a view of all of them.
#pragma once

#include "script/TaskRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

enum class TaskState {
    Queued,    // waiting for a run
    Running,   // being converted
    Failed,    // the last run could not convert it; still queued, with the reason
    Stopped,   // a stop (or the end of the program) interrupted it; still queued
    Converted, // done with warnings: kept so they can be read, not converted again
};

// A snapshot of one row.
struct TaskEntry {
    std::uint64_t id = 0; // unique for the life of the queue
    std::string path;
    std::string taskLine;
    TaskState state = TaskState::Queued;
    std::string failureReason;         // why, when failed
    std::vector<std::string> warnings; // when converted
    std::string folder;                // the folder it was converted into, when converted

    bool Pending() const { return state != TaskState::Converted; }
};

// The text a row shows for its entry.
std::string RowText(const TaskEntry& entry);

class TaskQueue {
  public:
    // Appends a task; throws TaskLineError when the TaskLine is not eight
    // fields. Returns the new task's index.
    std::size_t Append(const std::string& path, const std::string& taskLine);
    // Builds the TaskLine from the controls and appends the task.
    std::size_t AppendNew(const std::string& path, const TaskControls& controls);
    // Appends a row as it was kept (state, reason, warnings); it gets a new id.
    std::size_t AppendEntry(TaskEntry entry);

    // What adding a file did: a file is never listed twice.
    enum class AddOutcome {
        Added,         // a new row, with the template's settings
        AlreadyQueued, // its row waits already: nothing changed
        Requeued,      // its converted row waits again, with its own settings
    };
    struct AddResult {
        AddOutcome outcome;
        std::uint64_t id;
    };
    // Adds the file with templateLine's settings (its name tag its own), unless a row has it.
    AddResult AddFile(const std::string& path, const std::string& templateLine);

    // Field k of task i; throws std::out_of_range for a bad index.
    std::string GetField(std::size_t i, int k) const;
    // Sets field k of task i; the value may not hold "|".
    void SetField(std::size_t i, int k, const std::string& value);

    void Remove(std::size_t i);
    void Clear();
    // Every row, converted ones too.
    std::size_t Count() const;
    // The rows a run converts: every row but the converted ones.
    std::size_t PendingCount() const;

    std::optional<TaskEntry> Get(std::size_t i) const;
    std::vector<TaskEntry> Snapshot() const;

    // The state changes of a run, for task i.
    void MarkRunning(std::size_t i);
    void MarkFailed(std::size_t i, const std::string& reason);
    void MarkStopped(std::size_t i);
    void MarkConverted(std::size_t i, std::vector<std::string> warnings, std::string folder);

    // Whether a task for this file is queued (converted rows do not count).
    bool HasPath(const std::string& path) const;

    // The current index of the task with the given id, if it is still listed.
    std::optional<std::size_t> IndexOf(std::uint64_t id) const;

    // Called after every change, on the thread that made it and outside the lock; the
    // window keeps the queue file with it.
    void SetOnChanged(std::function<void()> onChanged);

  private:
    void CheckIndex(std::size_t i) const;
    void SetState(std::size_t i, TaskState state, const std::string& reason);
    void Changed() const;

    mutable std::mutex mutex_;
    std::vector<TaskEntry> tasks_;
    std::uint64_t nextId_ = 1;
    std::function<void()> onChanged_; // set before any other thread uses the queue
};

} // namespace pelldrin
