#include "batch/TaskQueue.h"

#include <algorithm>

namespace pelldrin {

std::string RowText(const TaskEntry& entry) {
    return entry.path;
}

void TaskQueue::SetOnChanged(std::function<void()> onChanged) {
    std::lock_guard lock(mutex_);
    onChanged_ = std::move(onChanged);
}

void TaskQueue::Changed() const {
    std::function<void()> notify;
    {
        std::lock_guard lock(mutex_);
        notify = onChanged_;
    }
    if (notify) {
        notify();
    }
}

std::size_t TaskQueue::Append(const std::string& path, const std::string& taskLine) {
    TaskEntry entry;
    entry.path = path;
    entry.taskLine = taskLine;
    return AppendEntry(std::move(entry));
}

std::size_t TaskQueue::AppendNew(const std::string& path, const TaskControls& controls) {
    return Append(path, BuildTaskLine(path, controls));
}

std::size_t TaskQueue::AppendEntry(TaskEntry entry) {
    SplitTaskLine(entry.taskLine); // refuses a record without eight fields
    std::size_t index = 0;
    {
        std::lock_guard lock(mutex_);
        entry.id = nextId_++;
        tasks_.push_back(std::move(entry));
        index = tasks_.size() - 1;
    }
    Changed();
    return index;
}

TaskQueue::AddResult TaskQueue::AddFile(const std::string& path, const std::string& templateLine) {
    const std::string taskLine = WithTaskLineField(templateLine, NameTag, NameTagFor(path));
    AddResult result{AddOutcome::Added, 0};
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(tasks_.begin(), tasks_.end(),
                                     [&](const TaskEntry& t) { return t.path == path; });
        if (it == tasks_.end()) {
            TaskEntry entry;
            entry.id = nextId_++;
            entry.path = path;
            entry.taskLine = taskLine;
            tasks_.push_back(std::move(entry));
            result.id = tasks_.back().id;
        } else if (it->state == TaskState::Converted) {
            // Its own settings stay: the user chose them for this file.
            it->state = TaskState::Queued;
            it->warnings.clear();
            result = {AddOutcome::Requeued, it->id};
        } else {
            return {AddOutcome::AlreadyQueued, it->id};
        }
    }
    Changed();
    return result;
}

void TaskQueue::CheckIndex(std::size_t i) const {
    if (i >= tasks_.size()) {
        throw std::out_of_range("There is no task " + std::to_string(i));
    }
}

std::string TaskQueue::GetField(std::size_t i, int k) const {
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    return TaskLineField(tasks_[i].taskLine, k);
}

void TaskQueue::SetField(std::size_t i, int k, const std::string& value) {
    {
        std::lock_guard lock(mutex_);
        CheckIndex(i);
        tasks_[i].taskLine = WithTaskLineField(tasks_[i].taskLine, k, value);
    }
    Changed();
}

void TaskQueue::Remove(std::size_t i) {
    {
        std::lock_guard lock(mutex_);
        CheckIndex(i);
        tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    Changed();
}

void TaskQueue::Clear() {
    {
        std::lock_guard lock(mutex_);
        tasks_.clear();
    }
    Changed();
}

bool TaskQueue::HasPath(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return std::any_of(tasks_.begin(), tasks_.end(),
                       [&](const TaskEntry& t) { return t.Pending() && t.path == path; });
}

std::size_t TaskQueue::Count() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

std::size_t TaskQueue::PendingCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(tasks_.begin(), tasks_.end(),
                                                  [](const TaskEntry& t) { return t.Pending(); }));
}

std::optional<TaskEntry> TaskQueue::Get(std::size_t i) const {
    std::lock_guard lock(mutex_);
    if (i >= tasks_.size()) {
        return std::nullopt;
    }
    return tasks_[i];
}

std::vector<TaskEntry> TaskQueue::Snapshot() const {
    std::lock_guard lock(mutex_);
    return tasks_;
}

void TaskQueue::SetState(std::size_t i, TaskState state, const std::string& reason) {
    {
        std::lock_guard lock(mutex_);
        CheckIndex(i);
        tasks_[i].state = state;
        tasks_[i].failureReason = reason;
    }
    Changed();
}

void TaskQueue::MarkRunning(std::size_t i) {
    SetState(i, TaskState::Running, {});
}

void TaskQueue::MarkFailed(std::size_t i, const std::string& reason) {
    SetState(i, TaskState::Failed, reason);
}

void TaskQueue::MarkStopped(std::size_t i) {
    SetState(i, TaskState::Stopped, {});
}

void TaskQueue::MarkConverted(std::size_t i, std::vector<std::string> warnings,
                              std::string folder) {
    {
        std::lock_guard lock(mutex_);
        CheckIndex(i);
        tasks_[i].state = TaskState::Converted;
        tasks_[i].failureReason.clear();
        tasks_[i].warnings = std::move(warnings);
        tasks_[i].folder = std::move(folder);
    }
    Changed();
}

std::optional<std::size_t> TaskQueue::IndexOf(std::uint64_t id) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
        if (tasks_[i].id == id) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace pelldrin
