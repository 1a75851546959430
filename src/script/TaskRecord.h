// The task record (TaskLine): ten fields joined by "|", as the queue keeps them and the
// script builder reads them. A record of the first eight fields alone (written before a task
// had a colour) reads as an SDR task at the default white.
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
    Colour = 8, // kSdrColour or kHdr10Colour
    White = 9,  // the subtitle's full white in cd/m², for HDR10
};
inline constexpr int kTaskFieldCount = 10;
// The fields every record has; the later ones take their defaults when missing.
inline constexpr int kOldTaskFieldCount = 8;

// A name for each field, in field order, as files that keep tasks name them.
inline constexpr const char* kTaskFieldNames[kTaskFieldCount] = {
    "Format",  "Rate",  "Sup",      "FirstBlack", "Command",
    "NameTag", "Style", "EndBlack", "Colour",     "White"};

// A task's colours: its pictures as authored, or converted for a UHD disc with HDR10 video
// (the renderer's --colour values).
inline constexpr const char* kSdrColour = "sdr";
inline constexpr const char* kHdr10Colour = "hdr10";
// The subtitle's full white of an HDR10 task, in cd/m²: the reference white that players
// mapping HDR subtitles assume, and the range the renderer takes.
inline constexpr int kDefaultWhite = 203;
inline constexpr int kMinWhite = 80;
inline constexpr int kMaxWhite = 1000;

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
    std::string colour = kSdrColour;
    int white = kDefaultWhite;
};

// The second "_"-piece of the file's base name, or empty.
std::string NameTagFor(const std::string& path);

// The TaskLine for a file added with the given control values.
std::string BuildTaskLine(const std::string& path, const TaskControls& controls);

// One field of a TaskLine (a later field's default when the record lacks it); throws
// TaskLineError for a field number outside 0..9 or a record of another length.
std::string TaskLineField(const std::string& taskLine, int field);

// The ten fields of a TaskLine, the later ones' defaults added to a record of eight; throws
// TaskLineError for any other number.
std::vector<std::string> SplitTaskLine(const std::string& taskLine);

// The TaskLine (of ten fields) with field k set to value; throws TaskLineError for a bad
// field number, a value holding "|" or a record of neither eight nor ten fields.
std::string WithTaskLineField(const std::string& taskLine, int field, const std::string& value);

} // namespace pelldrin
