#include "batch/TaskQueue.h"

#include <algorithm>

namespace pelldrin {

std::size_t TaskQueue::Append(const std::string& path, const std::string& taskLine) {
    SplitTaskLine(taskLine); // refuses a record without eight fields
    std::lock_guard lock(mutex_);
    tasks_.push_back(TaskEntry{nextId_++, path, taskLine, false, {}});
    return tasks_.size() - 1;
}

std::size_t TaskQueue::AppendNew(const std::string& path, const TaskControls& controls) {
    return Append(path, BuildTaskLine(path, controls));
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
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    tasks_[i].taskLine = WithTaskLineField(tasks_[i].taskLine, k, value);
}

void TaskQueue::Remove(std::size_t i) {
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TaskQueue::Clear() {
    std::lock_guard lock(mutex_);
    tasks_.clear();
}

bool TaskQueue::HasPath(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return std::any_of(tasks_.begin(), tasks_.end(),
                       [&](const TaskEntry& t) { return t.path == path; });
}

std::size_t TaskQueue::Count() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
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

void TaskQueue::MarkFailed(std::size_t i, const std::string& reason) {
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    tasks_[i].failed = true;
    tasks_[i].failureReason = reason;
}

void TaskQueue::ClearFailed(std::size_t i) {
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    tasks_[i].failed = false;
    tasks_[i].failureReason.clear();
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
