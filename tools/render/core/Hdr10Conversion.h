// The colours of a task's pictures: SDR as authored, or HDR10 for a UHD disc whose video is
// HDR, where the graphics' colours are PQ-coded BT.2020 R'G'B' at a chosen subtitle white.
#pragma once

#include "core/RgbaImage.h"

#include <array>
#include <bit>
#include <cstdint>
#include <memory>

namespace pelldrin::render {

enum class ColorKind { Sdr, Hdr10 };

// The subtitle's full white on an HDR10 disc, in cd/m²: the reference white that players
// which map HDR subtitles assume, and the range a user may choose from (below it a subtitle
// is dimmer than on an SDR display, above it brighter than most HDR10 masters' peak).
inline constexpr int kDefaultWhiteNits = 203;
inline constexpr int kMinWhiteNits = 80;
inline constexpr int kMaxWhiteNits = 1000;

// What the pictures' colour values mean.
struct ColorSettings {
    ColorKind kind = ColorKind::Sdr;
    int whiteNits = kDefaultWhiteNits; // HDR10 only
};

// Linear BT.709 RGB to linear BT.2020 RGB, as the broadcast standards publish it (rows
// sum to 1, so white stays white).
inline constexpr double kBt709ToBt2020[3][3] = {
    {0.6274, 0.3293, 0.0433},
    {0.0691, 0.9195, 0.0114},
    {0.0164, 0.0880, 0.8956},
};

// The PQ curve's code (0 to 1) of a luminance in cd/m² (10000 cd/m² is 1).
double PqEncode(double nits);
// The luminance in cd/m² that a PQ code (0 to 1) stands for.
double PqDecode(double code);

// An SDR colour (BT.709 R'G'B' shown through a 2.4 power curve, full white at the chosen white)
// as 8-bit PQ-coded BT.2020 R'G'B'. Built once for a run; const and shared by its threads.
class Hdr10Conversion {
  public:
    explicit Hdr10Conversion(double whiteNits);

    // The coded R'G'B' of one colour.
    std::array<std::uint8_t, 3> Convert(std::uint8_t r, std::uint8_t g, std::uint8_t b) const;

    // The picture with the colour of every visible pixel converted; alpha, place, size and the
    // transparent pixels stay as they are.
    RgbaImage Convert(const RgbaImage& image) const;

  private:
    struct ColorCache;
    ColorCache& Cache() const;

    // The code of linear light (1 is 10000 cd/m²).
    std::uint8_t Code(double light) const;

    // Bins of light by the top bits of its double: 256 an octave from 2^-48 (far below the
    // first code's light) to 1.
    static constexpr int kBinsPerOctave = 256;
    static constexpr int kOctaves = 48;
    static constexpr int kBins = kBinsPerOctave * kOctaves + 1;
    static constexpr int kBinShift = 44; // leaves a double's exponent and 8 bits of mantissa
    static constexpr std::uint64_t kFirstBin =
        (std::bit_cast<std::uint64_t>(1.0) >> kBinShift) - kBinsPerOctave * kOctaves;

    std::uint64_t serial_ = 0; // tells the caches of one conversion from another's
    // Each 8-bit value of each input channel as its share of each output channel's linear
    // light, scaled to the white: [output][input][value].
    std::array<std::array<std::array<double, 256>, 3>, 3> shares_{};
    // The linear light at which each coded value from 1 to 255 begins: a colour's code is
    // the number of these at or below it, exactly as rounding the curve would give.
    std::array<double, 255> steps_{};
    // The code where each bin of light begins, from which the exact code is a step away at
    // most (a bin is a 256th of an octave, a code more).
    std::array<std::uint8_t, kBins> binCodes_{};
    // The code of each grey (R | G << 8 | B << 16): greys stay grey, and are most of the
    // colours of a white line with a black outline.
    std::array<std::uint32_t, 256> greys_{};
};

// The picture in the colours of the settings: itself for SDR, converted for HDR10.
std::shared_ptr<const RgbaImage> PictureInColor(const std::shared_ptr<const RgbaImage>& image,
                                                const Hdr10Conversion* hdr10);

} // namespace pelldrin::render
