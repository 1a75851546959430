// PNG encoding of the pictures, into memory: the chunks written here, the pixels deflated
// by libdeflate (or by the run-length deflater).
#pragma once

#include "core/RenderErrors.h"
#include "core/RgbaImage.h"
#include "encoding/Palette.h"

#include <cstdint>
#include <vector>

namespace pelldrin::render {

// How the pixels are deflated.
struct PngSettings {
    // libdeflate's level, from 1 (fastest) to 12 (smallest). Subtitle pictures are long runs
    // of transparent pixels and few colours, which the fastest level already catches.
    int level = 1;
    // The program's own run-length deflater instead: for full-frame pictures, mostly
    // transparent, it is about twice as fast as libdeflate, for about a third more bytes.
    bool runLength = false;
};

// The settings for a picture written once, where its size counts more than the time.
PngSettings DefaultPngSettings();

// A 32-bit RGBA PNG (straight alpha).
std::vector<std::uint8_t> EncodePngRgba(const RgbaImage& image, const PngSettings& settings);

// An 8-bit palette PNG with a transparency chunk.
std::vector<std::uint8_t> EncodePngIndexed(const IndexedImage& image, const PngSettings& settings);

} // namespace pelldrin::render
