// The renderer's command line: options, video formats and frame rates.
#pragma once

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

// One of the video formats the renderer writes.
struct VideoFormat {
    std::string_view label;
    int width = 0; // the output frame
    int height = 0;
    int renderWidth = 0; // the picture as drawn before the anamorphic squeeze
    int renderHeight = 0;
};

// One of the frame rates, exact: frames per second = num / den.
struct FrameRate {
    std::string_view text;
    std::int64_t num = 0;
    std::int64_t den = 1;
    int timecodeBase = 0; // frames per second of the non-drop timecodes
};

// The format with this label ("1080p", "480i", ...), or nullptr.
const VideoFormat* FindVideoFormat(std::string_view label);

// The rate written exactly as this text ("23.976", "25", ...), or nullptr.
const FrameRate* FindFrameRate(std::string_view text);

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
