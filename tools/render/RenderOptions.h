// The renderer's command line: options, video formats and frame rates.
#pragma once

#include "script/VideoFormats.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// A command line the renderer cannot run with; the program exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using pelldrin::FindFrameRate;
using pelldrin::FindVideoFormat;
using pelldrin::FrameRate;
using pelldrin::VideoFormat;

// Everything the command line sets.
struct RenderOptions {
    std::string title;
    std::string language = "und";
    const VideoFormat* format = nullptr;
    const FrameRate* rate = nullptr;
    bool crop = true;     // -a
    bool palette = false; // -p
    bool split = false;   // -b
    int minGap = 3;       // -m
    bool forced = false;  // -F
    std::string xmlPath;
    std::string supPath; // empty without a second -o
    std::string scriptPath;
};

// Parses the arguments (args[0] is the program). Values may follow the
// option letter directly ("-a1") or come as the next argument ("-a 1").
// Throws UsageError.
RenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// The usage summary printed after a usage error.
std::string UsageText();

} // namespace pelldrin::render
