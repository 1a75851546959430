// Keeps the previous picture's palette indices for a picture of the same shape, so that the
// PGS stream shows a fade or a recolouring as new palettes for one set of objects.
#pragma once

#include "core/RgbaImage.h"
#include "encoding/Palette.h"

#include <cstdint>
#include <vector>

namespace pelldrin::render {

// How far a re-expressed pixel may be from what was drawn, unless the fresh quantization of
// the picture strays further (see kReuseSplitStrays): alpha in levels, and each colour channel in
// levels as the pixel shows over black (colour times alpha over 255). Alpha gets more room because
// a fade moves the layers of an outlined line (fill over outline over shadow) apart by a few
// levels; an index per such pixel would overflow the palette within a few frames.
inline constexpr int kReuseAlphaTolerance = 6;
inline constexpr int kReuseColorTolerance = 3;
// How much further than the fresh quantization's, on average, the re-expressed pixels may be
// from what was drawn (PixelError levels): a fade keeps its indices while they still fit it.
inline constexpr double kReuseMeanSlack = 0.75;
// A pixel of a picture with many colours keeps its index while it strays no more than this
// many times as far as the farthest pixel of the picture's fresh quantization.
inline constexpr int kReuseSplitStrays = 3;

// Fed with the stream's pictures in time order; holds only the last picture's indices.
class PaletteReuse {
  public:
    // parts: the fresh quantization of image, one shared palette. When the previous picture
    // ended at inFrame with parts of the same places and sizes, rewrites them over the previous
    // indices with a palette averaged from image: indices whose colours now look alike are
    // joined, and pixels that stray from their index's colour split off into new ones (pixels
    // that appear or vanish included), while the visible colours still fit a stream picture
    // (kStreamVisibleColors). Every pixel stays within the tolerances (or kReuseSplitStrays
    // times the fresh quantization's farthest stray), and on average the pixels stray no more
    // than kReuseMeanSlack further than those of the fresh quantization. Returns whether it
    // did. The palette then keeps no translucent-first order: it is meant for the stream only.
    // fresh: how far the image's pixels stray from the colours of parts.
    bool Apply(const RgbaImage& image, std::int64_t inFrame, std::int64_t outFrame,
               std::vector<IndexedImage>& parts, const QuantizeStray& fresh);

  private:
    std::vector<IndexedImage> previous_; // palettes dropped, only their size kept
    std::size_t previousPaletteSize_ = 0;
    std::int64_t previousOut_ = -1;
};

} // namespace pelldrin::render
