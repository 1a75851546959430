// Builds one task's AviSynth script and the converter's command line.
#pragma once

#include "base/VideoFormats.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// A task that cannot be built from its record or paths; the message names the
// field or path and the cause. File failures come as FileError instead.
class TaskScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The format for a FormatIndex (a position in kVideoFormats); nullptr outside.
const VideoFormat* VideoFormatFor(std::int64_t formatIndex);

// The rate for a RateIndex text (a position in kFrameRates); nullptr for any other text.
const FrameRate* FrameRateFor(std::string_view rateIndex);

// What the batch worker needs to run one task.
struct TaskScript {
    std::string scriptPath;            // F + sep + N + ".avs"
    std::string commandLine;           // the expanded template plus outputs and script
    std::string taskFolder;            // F, the converter's working folder
    std::vector<std::string> warnings; // what the user should know about the task's inputs
};

// The first line of every SRT style copy the program writes beside a subtitle: only a file
// that starts with it is replaced or removed, never a style file of the user's own.
inline constexpr std::string_view kStyleCopyMarker = "; written by Pelldrin";

// The name of the folder under outputFolder that the subtitle's task writes into: the
// subtitle's name, or "name (2)", "name (3)"... when a folder of that name already holds
// another subtitle's results, so two files of the same name never overwrite each other.
// A folder is the subtitle's own when it is missing, empty, or its script names this
// subtitle. Throws TaskScriptError when the subtitle has no usable name.
std::string ChooseTaskFolderName(const std::string& sourcePath, const std::string& currentFolder,
                                 const std::string& outputFolder);

// Measures the subtitle, creates the task folder taskFolderName (the subtitle's name when
// empty) under outputFolder (every missing level), copies the SRT style beside an SRT file
// (keeping a style file of the user's own, with a warning), writes the script
// atomically and returns its path with the command line. Throws
// TaskScriptError for a bad record or a path the script or command line cannot
// carry, and FileError when the subtitle cannot be read or a folder or the
// script cannot be written.
TaskScript BuildTaskScript(const std::string& sourcePath, const std::string& taskLine,
                           const std::string& currentFolder, const std::string& converterPath,
                           const std::string& pluginPath, const std::string& outputFolder,
                           const std::string& taskFolderName = {});

} // namespace pelldrin
