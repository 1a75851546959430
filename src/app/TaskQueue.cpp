#include "app/TaskQueue.h"

#include "script/TextHelpers.h"

namespace pelldrin {

namespace {

void CheckFieldNumber(int k) {
    if (k < 0 || k >= kTaskFieldCount) {
        throw TaskLineError("There is no task field " + std::to_string(k));
    }
}

void CheckFieldValue(const std::string& value) {
    if (value.find('|') != std::string::npos) {
        throw TaskLineError("A task setting cannot contain \"|\": " + value);
    }
}

std::string Flag(bool on) {
    return on ? "1" : "0";
}

} // namespace

std::string NameTagFor(const std::string& path) {
    const auto pieces = SplitByDelimiter(StripExtension(FileNamePart(path)), '_');
    if (pieces.size() < 2) {
        return {};
    }
    std::string tag = pieces[1];
    // A file name may hold "|" on some systems; the tag is informational, so
    // the character is replaced rather than refusing the file.
    for (char& c : tag) {
        if (c == '|') {
            c = '_';
        }
    }
    return tag;
}

std::string BuildTaskLine(const std::string& path, const TaskControls& c) {
    CheckFieldValue(c.commandTemplate);
    CheckFieldValue(c.styleFile);
    const std::vector<std::string> fields = {
        std::to_string(c.formatIndex), std::to_string(c.rateIndex), Flag(c.makeSup),
        Flag(c.firstBlack),           c.commandTemplate,            NameTagFor(path),
        c.styleFile,                  Flag(c.endBlack)};
    return JoinWith(fields, '|');
}

std::string TaskLineField(const std::string& taskLine, int field) {
    CheckFieldNumber(field);
    const auto pieces = SplitByDelimiter(taskLine, '|');
    if (static_cast<std::size_t>(field) >= pieces.size()) {
        throw TaskLineError("The task record \"" + taskLine + "\" has no field " +
                            std::to_string(field));
    }
    return pieces[static_cast<std::size_t>(field)];
}

std::size_t TaskQueue::Append(const std::string& path, const std::string& taskLine) {
    if (SplitByDelimiter(taskLine, '|').size() != kTaskFieldCount) {
        throw TaskLineError("A task record needs eight fields: \"" + taskLine + "\"");
    }
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
    CheckFieldNumber(k);
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    return TaskLineField(tasks_[i].taskLine, k);
}

void TaskQueue::SetField(std::size_t i, int k, const std::string& value) {
    CheckFieldNumber(k);
    CheckFieldValue(value);
    std::lock_guard lock(mutex_);
    CheckIndex(i);
    auto pieces = SplitByDelimiter(tasks_[i].taskLine, '|');
    pieces[static_cast<std::size_t>(k)] = value;
    tasks_[i].taskLine = JoinWith(pieces, '|');
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

} // namespace pelldrin

namespace pelldrin {

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
