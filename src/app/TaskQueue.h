// The queue of subtitle files waiting for conversion: per task its path and
// its TaskLine, always kept together behind one lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// Field positions inside a TaskLine.
enum TaskField : int {
    FormatIndex = 0,
    RateIndex = 1,
    MakeSup = 2,
    FirstBlack = 3,
    CommandTemplate = 4,
    NameTag = 5,
    StyleFile = 6,
    EndBlack = 7,
};
inline constexpr int kTaskFieldCount = 8;

inline constexpr const char* kDefaultCommandTemplate =
    "%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3";

// A TaskLine field that would break the record ("|" in it, or a bad index).
class TaskLineError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// The per-task controls of the window, as plain values.
struct TaskControls {
    int formatIndex = 0;
    int rateIndex = 0;
    bool makeSup = true;
    bool firstBlack = true;
    std::string commandTemplate = kDefaultCommandTemplate;
    std::string styleFile; // empty when no style is chosen
    bool endBlack = true;
};

// The second "_"-piece of the file's base name, or empty.
std::string NameTagFor(const std::string& path);

// The TaskLine for a file added with the given control values.
std::string BuildTaskLine(const std::string& path, const TaskControls& controls);

// One field of a TaskLine; throws TaskLineError for a field number outside 0..7.
std::string TaskLineField(const std::string& taskLine, int field);

// A snapshot of one task.
struct TaskEntry {
    std::uint64_t id = 0;       // unique for the life of the queue
    std::string path;
    std::string taskLine;
    bool failed = false;        // the last run could not convert it
    std::string failureReason;  // why, when failed
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

    // The current index of the task with the given id, if it is still queued.
    std::optional<std::size_t> IndexOf(std::uint64_t id) const;

  private:
    void CheckIndex(std::size_t i) const;

    mutable std::mutex mutex_;
    std::vector<TaskEntry> tasks_;
    std::uint64_t nextId_ = 1;
};

} // namespace pelldrin
