// Reads the task script: which subtitle file to draw, at what size, rate and length.
#pragma once

#include "base/VideoFormats.h"
#include "core/RenderErrors.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace pelldrin::render {

// What a script asks for.
struct RenderScript {
    std::string subtitlePath;
    int renderWidth = 0; // the MaskSub clip
    int renderHeight = 0;
    const FrameRate* rate = nullptr;
    std::int64_t frames = 0;
    int width = 0; // the final frame, after an optional resize
    int height = 0;
};

// Parses script text; scriptPath only names the file in errors. Accepts LoadPlugin
// lines, one MaskSub line, an optional LanczosResize(720,480|576) after it, blank
// lines and "#" comments; lines end with CR LF or LF. Throws ScriptError.
RenderScript ParseRenderScript(std::string_view text, std::string_view scriptPath);

// Reads and parses the script file; throws ScriptError or FileError.
RenderScript ReadRenderScript(std::string_view scriptPath);

} // namespace pelldrin::render
