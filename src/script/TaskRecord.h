// The task record (TaskLine): eight fields joined by "|", as the queue keeps them and the
// script builder reads them.
#pragma once

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

// A name for each field, in field order, as files that keep tasks name them.
inline constexpr const char* kTaskFieldNames[kTaskFieldCount] = {
    "Format", "Rate", "Sup", "FirstBlack", "Command", "NameTag", "Style", "EndBlack"};

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

// The eight fields of a TaskLine; throws TaskLineError for any other number.
std::vector<std::string> SplitTaskLine(const std::string& taskLine);

// The TaskLine with field k set to value; throws TaskLineError for a bad field number,
// a value holding "|" or a record without eight fields.
std::string WithTaskLineField(const std::string& taskLine, int field, const std::string& value);

} // namespace pelldrin
