// PNG encoding of the pictures, into memory.
#pragma once

#include "core/RenderErrors.h"
#include "core/RgbaImage.h"
#include "encoding/Palette.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// How hard zlib works. The fast settings suit subtitle pictures: long runs of
// transparent pixels that run-length matching catches at once. With run-length matching
// and no filters, the picture is written by the program's own run-length deflater instead
// of libpng and zlib (the same kind of stream, about twice as fast).
struct PngSettings {
    int level = 1;
    bool runLengthOnly = true; // zlib's Z_RLE strategy
    bool filters = false;      // libpng's adaptive filters instead of none
};

// The settings that match zlib's and libpng's defaults.
PngSettings DefaultPngSettings();

// A 32-bit RGBA PNG (straight alpha).
std::vector<std::uint8_t> EncodePngRgba(const RgbaImage& image, const PngSettings& settings);

// An 8-bit palette PNG with a transparency chunk.
std::vector<std::uint8_t> EncodePngIndexed(const IndexedImage& image, const PngSettings& settings);

// Decodes a PNG of either kind into straight RGBA (for checks and tests).
RgbaImage DecodePng(const std::vector<std::uint8_t>& bytes);

// Writes bytes to path; throws PngError naming the file.
void WriteFileBytes(std::string_view path, const std::vector<std::uint8_t>& bytes);

} // namespace pelldrin::render
