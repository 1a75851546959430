// Reduces an RGBA picture to at most 256 colours for palette PNGs and PGS.
#pragma once

#include "core/RgbaImage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace pelldrin::render {

// A palette entry, straight alpha.
struct PaletteColor {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const PaletteColor&, const PaletteColor&) = default;
};

// A picture as palette indices. Entry 0 is fully transparent and only fully
// transparent pixels use it; entries that are not opaque come before opaque ones.
struct IndexedImage {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<PaletteColor> palette; // 1 to 256 entries
    std::vector<std::uint8_t> indices; // width * height, row-major
};

// How far a pixel strays from a palette colour: alpha in levels, and colour as the pixel
// shows over black, in levels times 255 (the largest channel's difference).
struct ColorStray {
    int alpha = 0, color = 0;
};
inline ColorStray StrayOf(const std::uint8_t* rgba, const PaletteColor& c) {
    const auto channel = [&](int u, int v) { return std::abs(u * rgba[3] - v * c.a); };
    return {std::abs(rgba[3] - c.a),
            std::max({channel(rgba[0], c.r), channel(rgba[1], c.g), channel(rgba[2], c.b)})};
}

// How far a pixel is from a palette colour on average over its channels, premultiplied
// (alpha as alpha times 255), in levels.
inline double PixelError(const std::uint8_t* rgba, const PaletteColor& c) {
    const auto channel = [&](int u, int v) { return std::abs(u * rgba[3] - v * c.a); };
    return (channel(rgba[0], c.r) + channel(rgba[1], c.g) + channel(rgba[2], c.b) +
            255 * std::abs(rgba[3] - c.a)) /
           (4.0 * 255.0);
}

// How far a quantized picture's pixels are from their palette colours: the farthest one, and
// the mean PixelError over the visible pixels.
struct QuantizeStray {
    ColorStray worst;
    double mean = 0;
};

// Visible colours of a palette PNG (entry 0 is the transparent one), and of a picture of the PGS
// stream, whose decoders may reserve index 0xFF.
inline constexpr int kPngVisibleColors = 255;
inline constexpr int kStreamVisibleColors = 254;

// Quantizes the image. A picture with at most 255 visible colours keeps them exactly; otherwise
// 255 are picked in premultiplied space (so faint pixels weigh little): a variance cut that
// splits where the squared error falls most, then a k-means pass where its boxes stay coarse.
IndexedImage QuantizeImage(const RgbaImage& image);

// QuantizeImage over the parts of an image that hold all its visible pixels (the rest being
// transparent), without the rest: the same palette and, part by part, the same indices. stray,
// when given, gets how far the pixels are from their palette colours. maxColors (at most 255)
// takes the place of 255 above.
std::vector<IndexedImage> QuantizeParts(const RgbaImage& image, const std::vector<PixelRect>& parts,
                                        QuantizeStray* stray = nullptr,
                                        int maxColors = kPngVisibleColors);

} // namespace pelldrin::render
