#include "core/Hdr10Conversion.h"

#include "base/Simd.h"
#include "base/ThreadCache.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

namespace pelldrin::render {

namespace {

// Pixels are taken four bytes at a time as R | G << 8 | B << 16 | A << 24.
static_assert(std::endian::native == std::endian::little);

// The PQ curve's constants.
constexpr double kM1 = 2610.0 / 16384.0;
constexpr double kM2 = 2523.0 / 4096.0 * 128.0;
constexpr double kC1 = 3424.0 / 4096.0;
constexpr double kC2 = 2413.0 / 4096.0 * 32.0;
constexpr double kC3 = 2392.0 / 4096.0 * 32.0;
constexpr double kPeakNits = 10000.0;

constexpr std::uint32_t kEmpty = 0xFFFFFFFFu; // no colour (colours have 24 bits)

} // namespace

// The codes of the colours a thread met last, for one conversion: a picture's pixels share
// few colours (a line's fill and outline, with the edges between them), and pictures one
// after another mostly share theirs.
struct Hdr10Conversion::ColorCache {
    static constexpr std::size_t kSlots = 16384;
    std::uint64_t owner = 0; // the conversion's serial number, 0 before any
    std::array<std::uint32_t, kSlots> keys{};
    std::array<std::uint32_t, kSlots> values{};

    // The code of a colour (R | G << 8 | B << 16) as R | G << 8 | B << 16.
    std::uint32_t Find(std::uint32_t key, const Hdr10Conversion& conversion) {
        const std::size_t slot = (key * 2654435761u) >> 18;
        if (keys[slot] != key) {
            const auto coded = conversion.Convert(static_cast<std::uint8_t>(key),
                                                  static_cast<std::uint8_t>(key >> 8),
                                                  static_cast<std::uint8_t>(key >> 16));
            keys[slot] = key;
            values[slot] = coded[0] | coded[1] << 8 | std::uint32_t{coded[2]} << 16;
        }
        return values[slot];
    }
};

Hdr10Conversion::ColorCache& Hdr10Conversion::Cache() const {
    // Made on a thread's first conversion, so that threads that never convert do not carry it.
    ColorCache& cache = ThreadCache<ColorCache>();
    if (cache.owner != serial_) {
        cache.keys.fill(kEmpty);
        cache.owner = serial_;
    }
    return cache;
}

double PqEncode(double nits) {
    const double y = std::pow(std::clamp(nits / kPeakNits, 0.0, 1.0), kM1);
    return std::pow((kC1 + kC2 * y) / (1.0 + kC3 * y), kM2);
}

double PqDecode(double code) {
    const double p = std::pow(std::clamp(code, 0.0, 1.0), 1.0 / kM2);
    return kPeakNits * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1.0 / kM1);
}

Hdr10Conversion::Hdr10Conversion(double whiteNits) {
    static std::atomic<std::uint64_t> conversions{0};
    serial_ = ++conversions;
    for (std::size_t v = 0; v < 256; ++v) {
        const double linear = std::pow(static_cast<double>(v) / 255.0, 2.4) * whiteNits / kPeakNits;
        for (std::size_t c = 0; c < 3; ++c) {
            for (std::size_t from = 0; from < 3; ++from) {
                shares_[c][from][v] = kBt709ToBt2020[c][from] * linear;
            }
        }
    }
    for (int code = 1; code < 256; ++code) {
        steps_[static_cast<std::size_t>(code - 1)] = PqDecode((code - 0.5) / 255.0) / kPeakNits;
    }
    for (std::size_t bin = 0; bin < binCodes_.size(); ++bin) {
        const double low = std::bit_cast<double>((bin + kFirstBin) << kBinShift);
        binCodes_[bin] = static_cast<std::uint8_t>(
            std::upper_bound(steps_.begin(), steps_.end(), low) - steps_.begin());
    }
    for (int v = 0; v < 256; ++v) {
        const auto u = static_cast<std::uint8_t>(v);
        const auto coded = Convert(u, u, u);
        greys_[static_cast<std::size_t>(v)] =
            coded[0] | coded[1] << 8 | std::uint32_t{coded[2]} << 16;
    }
}

std::uint8_t Hdr10Conversion::Code(double light) const {
    const auto bits = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(light) >> kBinShift);
    const std::int64_t bin =
        std::clamp<std::int64_t>(bits - static_cast<std::int64_t>(kFirstBin), 0, kBins - 1);
    // A bin's code is where it begins; light below the first bin has code 0 all the same.
    int code = binCodes_[static_cast<std::size_t>(bin)];
    while (code < 255 && steps_[static_cast<std::size_t>(code)] <= light) {
        ++code;
    }
    while (code > 0 && steps_[static_cast<std::size_t>(code - 1)] > light) {
        --code;
    }
    return static_cast<std::uint8_t>(code);
}

std::array<std::uint8_t, 3> Hdr10Conversion::Convert(std::uint8_t r, std::uint8_t g,
                                                     std::uint8_t b) const {
    std::array<std::uint8_t, 3> out{};
    for (std::size_t c = 0; c < 3; ++c) {
        out[c] = Code(shares_[c][0][r] + shares_[c][1][g] + shares_[c][2][b]);
    }
    return out;
}

RgbaImage Hdr10Conversion::Convert(const RgbaImage& image) const {
    // Rows that share the blank row are transparent, so the pixels are taken whole.
    RgbaImage out = image;
    ColorCache& cache = Cache();
    std::uint32_t lastKey = kEmpty, lastValue = 0; // the colour met last, and its code
    const auto convert = [&](std::uint8_t* at) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, at, 4);
        if ((pixel & 0xFF000000u) == 0) {
            return;
        }
        const std::uint32_t key = pixel & 0x00FFFFFFu;
        if (key != lastKey && (key & 0xFFFF) == key >> 8) {
            // A grey: the edges between a white fill and a black outline are all greys.
            pixel = (pixel & 0xFF000000u) | greys_[key & 0xFF];
            std::memcpy(at, &pixel, 4);
            return;
        }
        if (key != lastKey) {
            lastKey = key;
            lastValue = cache.Find(key, *this);
        }
        pixel = (pixel & 0xFF000000u) | lastValue;
        std::memcpy(at, &pixel, 4);
    };
    std::uint8_t* p = out.pixels.data();
    std::uint8_t* const end = p + out.pixels.size() / 4 * 4;
#ifdef PELLDRIN_SSE2
    // Four pixels at once: left as they are when all are transparent, given the code met last
    // when each is transparent or has its colour.
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i rgbMask = _mm_set1_epi32(0x00FFFFFF);
    for (; end - p >= 16; p += 16) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i alpha = _mm_and_si128(four, alphaMask);
        const __m128i clear = _mm_cmpeq_epi32(alpha, _mm_setzero_si128());
        if (_mm_movemask_epi8(clear) == 0xFFFF) {
            continue;
        }
        const __m128i same = _mm_cmpeq_epi32(_mm_and_si128(four, rgbMask),
                                             _mm_set1_epi32(static_cast<int>(lastKey)));
        if (_mm_movemask_epi8(_mm_or_si128(clear, same)) == 0xFFFF) {
            const __m128i coded = _mm_or_si128(alpha, _mm_set1_epi32(static_cast<int>(lastValue)));
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(p),
                _mm_or_si128(_mm_and_si128(clear, four), _mm_andnot_si128(clear, coded)));
            continue;
        }
        const __m128i low = _mm_set1_epi32(0xFFFF);
        const __m128i grey =
            _mm_cmpeq_epi32(_mm_and_si128(four, low), _mm_and_si128(_mm_srli_epi32(four, 8), low));
        if (_mm_movemask_epi8(_mm_or_si128(clear, grey)) == 0xFFFF) {
            // Greys and transparent pixels, without a branch a pixel.
            for (int k = 0; k < 16; k += 4) {
                std::uint32_t pixel = 0;
                std::memcpy(&pixel, p + k, 4);
                const std::uint32_t coded = (pixel & 0xFF000000u) | greys_[pixel & 0xFF];
                pixel = (pixel & 0xFF000000u) == 0 ? pixel : coded;
                std::memcpy(p + k, &pixel, 4);
            }
            continue;
        }
        for (int k = 0; k < 16; k += 4) {
            convert(p + k);
        }
    }
#endif
    for (; p != end; p += 4) {
        convert(p);
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
