// The queue file: every row of the window (path, settings, state, reason, warnings) kept
// beside config.xml, so a quit or a crash loses no row.
#pragma once

#include "batch/TaskQueue.h"

#include <string>
#include <vector>

namespace pelldrin {

inline constexpr const char* kQueueFileName = "queue.xml";

// Writes the rows to path in one atomic step; throws FileError naming path.
void SaveQueueFile(const std::string& path, const std::vector<TaskEntry>& rows);

// What reading the queue file gave.
struct QueueFileRead {
    std::vector<TaskEntry> rows; // in their order; ids are not kept
    std::string error;           // why the file could not be read, when it could not
    std::string setAsidePath;    // where the unreadable file was moved, if it was
};

// Reads the rows kept in path. A missing file gives no rows. A file that cannot be read
// is renamed aside (the first free of "queue-unreadable.xml", "queue-unreadable-2.xml", ...
// beside it) so the next save does not overwrite it; the result says why and where.
// A row that was running when the program ended comes back stopped; unknown attributes
// are ignored and missing settings take the defaults of a new task.
QueueFileRead LoadQueueFile(const std::string& path);

} // namespace pelldrin
