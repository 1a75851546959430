// The renderer's command line: options, video formats and frame rates.
#pragma once

#include "base/VideoFormats.h"
#include "core/Hdr10Conversion.h"
#include "core/RenderErrors.h"
#include "core/RunLimits.h"
#include "input/RenderScript.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

using pelldrin::FindFrameRate;
using pelldrin::FindVideoFormat;
using pelldrin::FrameRate;
using pelldrin::VideoFormat;

// What the command line asks for: a run, or only the usage or the version.
enum class RenderRequest { Render, Help, Version };

// Everything the command line sets.
struct RenderOptions {
    RenderRequest request = RenderRequest::Render;
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
    std::string charset;  // --charset: the subtitle file's encoding; empty: recognised
    ColorSettings colour; // --colour, --white
    RenderLimits limits;
};

// Parses the arguments (args[0] is the program). Values may follow the
// option letter directly ("-a1") or come as the next argument ("-a 1"); a long
// option takes "--name=VALUE" or "--name VALUE".
// "--help" or "--version" as an option asks for that alone: the arguments after it are not
// read, and nothing is required.
// Throws UsageError.
RenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// The usage summary, printed for --help and after a usage error.
std::string UsageText();

// Throws UsageError when the command line's format or rate differs from the script's.
void CheckScriptMatchesOptions(const RenderScript& script, const RenderOptions& options);

} // namespace pelldrin::render
