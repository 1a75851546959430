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

// The bounds of one run and the threads that draw it, each set by a long option.
struct RenderLimits {
    std::int64_t memoryMb = 1024;                      // --max-memory MB
    double frameSeconds = 10;                          // --max-frame-time SECONDS
    std::int64_t events = 200'000;                     // --max-events N
    std::int64_t outputBytes = std::int64_t{20} << 30; // --max-output SIZE (20G)
    int threads = 0;                                   // --threads N; 0: one per processor
};

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
    RenderLimits limits;
};

// Parses the arguments (args[0] is the program). Values may follow the
// option letter directly ("-a1") or come as the next argument ("-a 1"); a long
// option takes "--name=VALUE" or "--name VALUE".
// Throws UsageError.
RenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// The usage summary printed after a usage error.
std::string UsageText();

} // namespace pelldrin::render
