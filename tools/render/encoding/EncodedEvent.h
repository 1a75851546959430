// The encode step of a shown picture: its graphics as PNG bytes (one, or two for a picture with
// two separate parts) and, for the PGS stream, the same picture quantized.
#pragma once

#include "core/EncodedGraphic.h"
#include "core/Hdr10Conversion.h"
#include "core/RgbaImage.h"
#include "encoding/Palette.h"
#include "encoding/PngWriter.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pelldrin::render {

// How each shown picture is encoded.
struct EncodeSettings {
    bool palette = false; // 8-bit palette PNGs instead of RGBA
    bool split = false;   // two graphics for a picture with two separate parts
    int minGap = 3;       // transparent rows that make two parts
    bool stream = false;  // also quantize the picture for the PGS stream
    PngSettings png;
    // For an HDR10 run: everything is made from the picture's colours converted by it.
    const Hdr10Conversion* hdr10 = nullptr;
};

// A picture prepared for the PGS stream: one palette shared by its parts, which hold every
// visible pixel in one box, or in two when they lie apart, whatever the graphics are.
struct IndexedEvent {
    std::int64_t inFrame = 0;
    std::int64_t outFrame = 0;
    std::vector<IndexedImage> parts;
    QuantizeStray stray; // how far the pixels are from their palette colours
};

struct EncodedEvent {
    std::int64_t inFrame = 0;
    std::int64_t outFrame = 0;
    std::vector<EncodedGraphic> graphics; // top first
    IndexedEvent indexed;                 // no parts without settings.stream
    // With settings.stream, the picture as encoded (in the run's colours), which the stream's
    // palette reuse compares with the next one.
    std::shared_ptr<const RgbaImage> picture;
};

// Encodes the picture; its pixels are read, and kept only as picture.
EncodedEvent EncodeEvent(const ShownImage& shown, const EncodeSettings& settings);

} // namespace pelldrin::render
