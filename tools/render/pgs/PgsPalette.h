// Palette conversion for the stream: RGBA entries to limited-range YCbCr with alpha, and
// the mapping of the image's indices to the indices written.
#pragma once

#include "pgs/PgsTypes.h"

#include <array>
#include <cstdint>
#include <vector>

namespace pelldrin::pgs {

struct YCbCrA {
    std::uint8_t y, cr, cb, a;
};

// Index 0 is always the transparent entry; 0xFF is left unused because some decoders
// reserve it, so at most 254 visible colours remain.
inline constexpr int kTransparentIndex = 0;
inline constexpr int kMaxVisibleColors = 254;
// Marks an input index that the palette does not define.
inline constexpr std::uint16_t kUndefinedIndex = 0xFFFF;

// One RGBA colour as limited-range YCbCr (Y 16..235, Cb/Cr 16..240) under the given matrix.
YCbCrA ToYCbCr(Rgba color, ColorMatrix matrix);

struct PaletteMap {
    // Written index for each input index; kUndefinedIndex beyond the palette's size.
    std::array<std::uint16_t, 256> remap{};
    // The entries written, by written index (entries[0] is the transparent one).
    std::vector<YCbCrA> entries;
};

// Maps the event's palette: every fully transparent entry becomes index 0, equal colours
// share one index, and when more than kMaxVisibleColors remain, unused entries are dropped and
// then the closest colours merged.
PaletteMap BuildPaletteMap(const std::vector<Rgba>& palette, ColorMatrix matrix,
                           const std::vector<const IndexedObject*>& objects);

} // namespace pelldrin::pgs
