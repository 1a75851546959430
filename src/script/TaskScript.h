// Builds one task's AviSynth script and the converter's command line.
#pragma once

#include "script/VideoFormats.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pelldrin {

// A task that cannot be built from its record or paths; the message names the
// field or path and the cause. File failures come as FileError instead.
class TaskScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The format for a FormatIndex (0 to 4); nullptr outside.
const VideoFormat* VideoFormatFor(std::int64_t formatIndex);

// The rate for the RateIndex texts "0" to "3"; nullptr for any other text.
const FrameRate* FrameRateFor(std::string_view rateIndex);

// What the batch worker needs to run one task.
struct TaskScript {
    std::string scriptPath;  // F + sep + N + ".avs"
    std::string commandLine; // the expanded template plus outputs and script
    std::string taskFolder;  // F, the converter's working folder
};

// Measures the subtitle, creates the task folder under outputFolder (every
// missing level), copies the SRT style beside an SRT file, writes the script
// atomically and returns its path with the command line. Throws
// TaskScriptError for a bad record or a path the script or command line cannot
// carry, and FileError when the subtitle cannot be read or a folder or the
// script cannot be written.
TaskScript BuildTaskScript(const std::string& sourcePath, const std::string& taskLine,
                           const std::string& currentFolder, const std::string& converterPath,
                           const std::string& pluginPath, const std::string& outputFolder);

} // namespace pelldrin
