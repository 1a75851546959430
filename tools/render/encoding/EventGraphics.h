// How a shown picture becomes PNG files and a BDN event, and, for the PGS stream, the
// same picture quantized.
#pragma once

#include "core/RgbaImage.h"
#include "encoding/Palette.h"
#include "encoding/PngWriter.h"
#include "output/BdnWriter.h"
#include "output/OutputLayout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin::render {

// How each shown picture becomes graphics on disk.
struct GraphicSettings {
    bool palette = false; // 8-bit palette PNGs instead of RGBA
    bool split = false;   // two graphics for a picture with two separate parts
    int minGap = 3;       // transparent rows that make two parts
    bool forced = false;
    OutputLayout layout; // where the PNGs go and their names
    PngSettings png;
};

// A picture prepared for the PGS stream: one palette shared by its parts, which hold every
// visible pixel in one box, or in two when they lie apart, whatever the graphics are.
struct IndexedEvent {
    std::int64_t inFrame = 0;
    std::int64_t outFrame = 0;
    bool forced = false;
    std::vector<IndexedImage> parts;
    QuantizeStray stray; // how far the pixels are from their palette colours
};

// Writes the PNG(s) of the eventNumber-th event (from 1) and returns its BDN event.
// With indexed, it receives the picture quantized for the PGS stream; bytesWritten, when
// given, grows by the bytes of the PNGs.
BdnEventOut WriteEventGraphics(const ShownImage& shown, int eventNumber,
                               const GraphicSettings& settings, IndexedEvent* indexed,
                               std::uint64_t* bytesWritten = nullptr);

} // namespace pelldrin::render
