#include "core/Hdr10Conversion.h"

#include <algorithm>
#include <cmath>

namespace pelldrin::render {

namespace {

// The PQ curve's constants.
constexpr double kM1 = 2610.0 / 16384.0;
constexpr double kM2 = 2523.0 / 4096.0 * 128.0;
constexpr double kC1 = 3424.0 / 4096.0;
constexpr double kC2 = 2413.0 / 4096.0 * 32.0;
constexpr double kC3 = 2392.0 / 4096.0 * 32.0;
constexpr double kPeakNits = 10000.0;

// Colours converted for a picture: a picture's pixels share few colours (a line's fill and
// outline, with the edges between them), so most are found here or equal the pixel before.
constexpr std::size_t kSlots = 1024;
constexpr std::uint32_t kEmpty = 0xFFFFFFFFu; // no colour (colours have 24 bits)

std::uint32_t Rgb(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | std::uint32_t{p[2]} << 16;
}

} // namespace

double PqEncode(double nits) {
    const double y = std::pow(std::clamp(nits / kPeakNits, 0.0, 1.0), kM1);
    return std::pow((kC1 + kC2 * y) / (1.0 + kC3 * y), kM2);
}

double PqDecode(double code) {
    const double p = std::pow(std::clamp(code, 0.0, 1.0), 1.0 / kM2);
    return kPeakNits * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1.0 / kM1);
}

Hdr10Conversion::Hdr10Conversion(double whiteNits) {
    for (int v = 0; v < 256; ++v) {
        linear_[static_cast<std::size_t>(v)] = std::pow(v / 255.0, 2.4) * whiteNits / kPeakNits;
    }
    for (int code = 1; code < 256; ++code) {
        steps_[static_cast<std::size_t>(code - 1)] = PqDecode((code - 0.5) / 255.0) / kPeakNits;
    }
}

std::array<std::uint8_t, 3> Hdr10Conversion::Convert(std::uint8_t r, std::uint8_t g,
                                                     std::uint8_t b) const {
    const double in[3] = {linear_[r], linear_[g], linear_[b]};
    std::array<std::uint8_t, 3> out{};
    for (int c = 0; c < 3; ++c) {
        const double light = kBt709ToBt2020[c][0] * in[0] + kBt709ToBt2020[c][1] * in[1] +
                             kBt709ToBt2020[c][2] * in[2];
        out[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(
            std::upper_bound(steps_.begin(), steps_.end(), light) - steps_.begin());
    }
    return out;
}

RgbaImage Hdr10Conversion::Convert(const RgbaImage& image) const {
    RgbaImage out = image;
    std::array<std::uint32_t, kSlots> keys;
    std::array<std::uint32_t, kSlots> values{};
    keys.fill(kEmpty);
    std::uint32_t lastKey = kEmpty, lastValue = 0;
    // Rows that share the blank row are transparent, so the buffer is taken whole.
    std::uint8_t* p = out.pixels.data();
    std::uint8_t* const end = p + out.pixels.size() / 4 * 4;
    for (; p != end; p += 4) {
        if (p[3] == 0) {
            continue;
        }
        const std::uint32_t key = Rgb(p);
        if (key != lastKey) {
            const std::size_t slot = (key * 2654435761u) >> 22;
            if (keys[slot] != key) {
                const auto coded = Convert(p[0], p[1], p[2]);
                keys[slot] = key;
                values[slot] = coded[0] | coded[1] << 8 | std::uint32_t{coded[2]} << 16;
            }
            lastKey = key;
            lastValue = values[slot];
        }
        p[0] = static_cast<std::uint8_t>(lastValue);
        p[1] = static_cast<std::uint8_t>(lastValue >> 8);
        p[2] = static_cast<std::uint8_t>(lastValue >> 16);
    }
    return out;
}

std::shared_ptr<const RgbaImage> PictureInColor(const std::shared_ptr<const RgbaImage>& image,
                                                const Hdr10Conversion* hdr10) {
    if (hdr10 == nullptr) {
        return image;
    }
    return std::make_shared<const RgbaImage>(hdr10->Convert(*image));
}

} // namespace pelldrin::render
