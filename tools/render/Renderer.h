// The whole run of pelldrin-render: command line in, PNGs and BDN XML out.
#pragma once

#include "render/BdnWriter.h"
#include "render/FrameScan.h"
#include "render/Palette.h"
#include "render/PngWriter.h"

#include <ostream>
#include <string>
#include <vector>

namespace pelldrin::render {

// How each shown picture becomes graphics on disk.
struct GraphicSettings {
    bool palette = false; // 8-bit palette PNGs instead of RGBA
    bool split = false;   // two graphics for a picture with two separate parts
    int minGap = 3;       // transparent rows that make two parts
    bool forced = false;
    std::string folder;   // where the PNGs go
    std::string baseName; // PNG names start with it
    PngSettings png;
};

// A picture prepared for the PGS stream: one palette shared by its parts.
struct IndexedEvent {
    std::int64_t inFrame = 0;
    std::int64_t outFrame = 0;
    bool forced = false;
    std::vector<IndexedImage> parts;
    ColorStray stray; // the farthest any pixel is from its palette colour
};

// Writes the PNG(s) of the eventNumber-th event (from 1) and returns its BDN event.
// With indexed, it receives the picture quantized for the PGS stream; bytesWritten, when
// given, grows by the bytes of the PNGs.
BdnEventOut WriteEventGraphics(const ShownImage& shown, int eventNumber,
                               const GraphicSettings& settings, IndexedEvent* indexed,
                               std::uint64_t* bytesWritten = nullptr);

// Runs the renderer with the arguments (args[0] is the program). Progress lines go
// to out, messages to err. Returns the exit status: 0 done, 1 failed, 2 bad usage.
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace pelldrin::render
