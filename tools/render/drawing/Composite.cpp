#include "drawing/Composite.h"

#include "base/Simd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pelldrin::render {

namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline std::uint32_t Div255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return left >= right || top >= bottom; }
};

inline void BlendRun(const unsigned char* src, std::uint8_t* d, int n, std::uint32_t r,
                     std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    for (int i = 0; i < n; ++i, d += 4) {
        const std::uint32_t k = Div255(src[i] * a);
        const std::uint32_t inv = 255 - k;
        d[0] = static_cast<std::uint8_t>(Div255(r * k + d[0] * inv));
        d[1] = static_cast<std::uint8_t>(Div255(g * k + d[1] * inv));
        d[2] = static_cast<std::uint8_t>(Div255(b * k + d[2] * inv));
        d[3] = static_cast<std::uint8_t>(k + Div255(d[3] * inv));
    }
}

#ifdef PELLDRIN_SSE2
// Div255 on eight 16-bit lanes; every sum here stays below 2^16.
inline __m128i Div255x8(__m128i x) {
    x = _mm_add_epi16(x, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
}

// colour * k + pixel * (255 - k), per channel, for two pixels in 16-bit lanes. Alpha is
// the fourth channel with colour 255, which gives k + pixel * (255 - k) / 255.
inline __m128i BlendTwo(__m128i pixels, __m128i k, __m128i inv, __m128i colour) {
    return Div255x8(_mm_add_epi16(_mm_mullo_epi16(colour, k), _mm_mullo_epi16(pixels, inv)));
}

// BlendRun for exactly eight pixels, with the same results.
inline void BlendEight(const unsigned char* src, std::uint8_t* d, __m128i colour, __m128i alpha) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)), zero);
    const __m128i k = Div255x8(_mm_mullo_epi16(c, alpha));
    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(255), k);
    const __m128i kLow = _mm_unpacklo_epi16(k, k);
    const __m128i kHigh = _mm_unpackhi_epi16(k, k);
    const __m128i iLow = _mm_unpacklo_epi16(inv, inv);
    const __m128i iHigh = _mm_unpackhi_epi16(inv, inv);
    auto* out = reinterpret_cast<__m128i*>(d);
    const __m128i d0 = _mm_loadu_si128(out);
    const __m128i d1 = _mm_loadu_si128(out + 1);
    const __m128i p01 = BlendTwo(_mm_unpacklo_epi8(d0, zero), _mm_unpacklo_epi32(kLow, kLow),
                                 _mm_unpacklo_epi32(iLow, iLow), colour);
    const __m128i p23 = BlendTwo(_mm_unpackhi_epi8(d0, zero), _mm_unpackhi_epi32(kLow, kLow),
                                 _mm_unpackhi_epi32(iLow, iLow), colour);
    const __m128i p45 = BlendTwo(_mm_unpacklo_epi8(d1, zero), _mm_unpacklo_epi32(kHigh, kHigh),
                                 _mm_unpacklo_epi32(iHigh, iHigh), colour);
    const __m128i p67 = BlendTwo(_mm_unpackhi_epi8(d1, zero), _mm_unpackhi_epi32(kHigh, kHigh),
                                 _mm_unpackhi_epi32(iHigh, iHigh), colour);
    _mm_storeu_si128(out, _mm_packus_epi16(p01, p23));
    _mm_storeu_si128(out + 1, _mm_packus_epi16(p45, p67));
}
#endif


bool AllZero(const std::uint8_t* p, std::size_t bytes) {
    std::uint64_t any = 0;
    for (std::size_t i = 0; i < bytes; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p + i, 8);
        any |= word;
    }
    return any == 0;
}

#ifdef PELLDRIN_AVX2_TWINS
// Two 16-byte blocks as the low and high lanes of one register: each AVX2 step below works
// within its lanes, so a lane holding what BlendEight holds gets what BlendEight computes.
PELLDRIN_AVX2 inline __m256i LoadLanes(const std::uint8_t* low, const std::uint8_t* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}
PELLDRIN_AVX2 inline void StoreLanes(std::uint8_t* low, std::uint8_t* high, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(low), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(high), _mm256_extracti128_si256(v, 1));
}
PELLDRIN_AVX2 inline __m256i Div255x16(__m256i x) {
    x = _mm256_add_epi16(x, _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
}
PELLDRIN_AVX2 inline __m256i BlendTwoLanes(__m256i pixels, __m256i k, __m256i inv, __m256i colour) {
    return Div255x16(
        _mm256_add_epi16(_mm256_mullo_epi16(colour, k), _mm256_mullo_epi16(pixels, inv)));
}

// BlendEight for pixels 0-7 in the low lanes and 8-15 in the high lanes.
PELLDRIN_AVX2 inline void BlendSixteen(const unsigned char* src, std::uint8_t* d, __m256i colour,
                                       __m256i alpha) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    const __m256i k = Div255x16(_mm256_mullo_epi16(c, alpha));
    const __m256i inv = _mm256_sub_epi16(_mm256_set1_epi16(255), k);
    const __m256i kLow = _mm256_unpacklo_epi16(k, k);
    const __m256i kHigh = _mm256_unpackhi_epi16(k, k);
    const __m256i iLow = _mm256_unpacklo_epi16(inv, inv);
    const __m256i iHigh = _mm256_unpackhi_epi16(inv, inv);
    const __m256i d0 = LoadLanes(d, d + 32);
    const __m256i d1 = LoadLanes(d + 16, d + 48);
    const __m256i p01 =
        BlendTwoLanes(_mm256_unpacklo_epi8(d0, zero), _mm256_unpacklo_epi32(kLow, kLow),
                      _mm256_unpacklo_epi32(iLow, iLow), colour);
    const __m256i p23 =
        BlendTwoLanes(_mm256_unpackhi_epi8(d0, zero), _mm256_unpackhi_epi32(kLow, kLow),
                      _mm256_unpackhi_epi32(iLow, iLow), colour);
    const __m256i p45 =
        BlendTwoLanes(_mm256_unpacklo_epi8(d1, zero), _mm256_unpacklo_epi32(kHigh, kHigh),
                      _mm256_unpacklo_epi32(iHigh, iHigh), colour);
    const __m256i p67 =
        BlendTwoLanes(_mm256_unpackhi_epi8(d1, zero), _mm256_unpackhi_epi32(kHigh, kHigh),
                      _mm256_unpackhi_epi32(iHigh, iHigh), colour);
    StoreLanes(d, d + 32, _mm256_packus_epi16(p01, p23));
    StoreLanes(d + 16, d + 48, _mm256_packus_epi16(p45, p67));
}

// The sixteen-pixel groups of one row of a mask, as BlendMask's eight-pixel loop does them;
// returns how many pixels it did.
PELLDRIN_AVX2 int BlendGroupsAvx2(const unsigned char* src, std::uint8_t* dst, int count,
                                  const std::uint8_t* solid, std::uint32_t r, std::uint32_t g,
                                  std::uint32_t b, std::uint32_t a) {
    const __m256i colour = _mm256_setr_epi16(
        static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255,
        static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255,
        static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255,
        static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255);
    const __m256i alpha = _mm256_set1_epi16(static_cast<short>(a));
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const int full = _mm_movemask_epi8(_mm_cmpeq_epi8(group, _mm_set1_epi8(-1)));
        const int empty = _mm_movemask_epi8(_mm_cmpeq_epi8(group, _mm_setzero_si128()));
        std::uint8_t* d = dst + x * 4;
        if (full == 0xFFFF && (a == 255 || AllZero(d, 64))) {
            std::memcpy(d, solid, 32);
            std::memcpy(d + 32, solid, 32);
        } else if (empty != 0xFFFF) {
            BlendSixteen(src + x, d, colour, alpha);
        }
    }
    return x;
}
#endif

// Blends one mask over premultiplied pixels; canvas covers the frame box `box`, and holds
// every row the mask covers.
void BlendMask(const ASS_Image& img, RgbaImage& canvas, const Box& box) {
    const std::uint32_t r = (img.color >> 24) & 0xFF;
    const std::uint32_t g = (img.color >> 16) & 0xFF;
    const std::uint32_t b = (img.color >> 8) & 0xFF;
    const std::uint32_t a = 255 - (img.color & 0xFF);
    if (a == 0) {
        return;
    }
    const int x0 = std::max(img.dst_x, box.left);
    const int y0 = std::max(img.dst_y, box.top);
    const int x1 = std::min(img.dst_x + img.w, box.right);
    const int y1 = std::min(img.dst_y + img.h, box.bottom);
    const int count = x1 - x0;
    if (count <= 0) {
        return;
    }
#ifdef PELLDRIN_SSE2
    const __m128i colour =
        _mm_setr_epi16(static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255,
                       static_cast<short>(r), static_cast<short>(g), static_cast<short>(b), 255);
    const __m128i alpha = _mm_set1_epi16(static_cast<short>(a));
#endif
    // Full coverage of an opaque colour, or over transparent pixels, gives one colour: the
    // inside of an opaque glyph and a filled shape's first layer (a full-frame flash) are
    // stored, not blended.
    std::uint8_t solid[32] = {};
    const unsigned char full = 255;
    BlendRun(&full, solid, 1, r, g, b, a);
    for (int i = 4; i < 32; ++i) {
        solid[i] = solid[i % 4];
    }
#ifdef PELLDRIN_AVX2_TWINS
    const bool avx2 = HasAvx2() && count >= 16;
#endif
    for (int y = y0; y < y1; ++y) {
        const unsigned char* src =
            img.bitmap + static_cast<std::ptrdiff_t>(y - img.dst_y) * img.stride + (x0 - img.dst_x);
        std::uint8_t* dst = canvas.Row(y - box.top) + static_cast<std::size_t>(x0 - box.left) * 4;
        // Glyph masks are mostly empty: eight pixels of zero coverage are skipped at
        // once. The rest runs without branches so the compiler can vectorise it; zero
        // coverage leaves a pixel as it was and full coverage stores the colour, exactly.
        int x = 0;
#ifdef PELLDRIN_AVX2_TWINS
        if (avx2) {
            x = BlendGroupsAvx2(src, dst, count, solid, r, g, b, a);
        }
#endif
        for (; x + 8 <= count; x += 8) {
            std::uint64_t group = 0;
            std::memcpy(&group, src + x, 8);
            if (group == ~std::uint64_t{0} && (a == 255 || AllZero(dst + x * 4, 32))) {
                std::memcpy(dst + x * 4, solid, 32);
            } else if (group != 0) {
#ifdef PELLDRIN_SSE2
                BlendEight(src + x, dst + x * 4, colour, alpha);
#else
                BlendRun(src + x, dst + x * 4, 8, r, g, b, a);
#endif
            }
        }
        BlendRun(src + x, dst + x * 4, count - x, r, g, b, a);
    }
}

// ceil(2^32 / a): (v * kReciprocal[a]) >> 32 is v / a rounded down, exactly, for
// every v below 2^16; index 0 gives 0.
struct Reciprocals {
    std::uint64_t value[256];
    constexpr Reciprocals() : value{} {
        for (std::uint64_t a = 1; a < 256; ++a) {
            value[a] = ((std::uint64_t{1} << 32) + a - 1) / a;
        }
    }
};
constexpr Reciprocals kReciprocal;

#ifdef PELLDRIN_SSE2
// The division below for four pixels. n = c * 255 + a / 2 is below 2^17 and a at most 255, so
// n * (1 / a) in floats is within 2^-15 of n / a, while a quotient that is not whole lies at least
// 1 / 255 below the next whole number: adding 2^-10 and truncating gives n / a rounded down,
// exactly. A quotient above 255 is clamped by the packing; transparent pixels stay as they are.
inline __m128i UnpremultiplyFour(__m128i pixels, __m128i alphas) {
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128 reciprocal =
        _mm_div_ps(_mm_set1_ps(1.0f), _mm_cvtepi32_ps(_mm_max_epi16(alphas, _mm_set1_epi32(1))));
    const __m128i half = _mm_srli_epi32(alphas, 1);
    const __m128 bias = _mm_set1_ps(1.0f / 1024.0f);
    __m128i channel[3];
    for (int c = 0; c < 3; ++c) {
        const __m128i v = _mm_and_si128(_mm_srli_epi32(pixels, 8 * c), low);
        const __m128i n = _mm_add_epi32(_mm_sub_epi32(_mm_slli_epi32(v, 8), v), half);
        channel[c] = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(n), reciprocal), bias));
    }
    // r and g as 16-bit lanes, then b and alpha, then each pair packed to bytes with
    // saturation: a quotient above 255 becomes 255.
    const __m128i rb = _mm_packs_epi32(channel[0], channel[2]); // r0..r3 b0..b3
    const __m128i ga = _mm_packs_epi32(channel[1], alphas);     // g0..g3 a0..a3
    const __m128i bytes = _mm_packus_epi16(rb, ga);             // r0..3 b0..3 g0..3 a0..3
    // Bytes r b g a of each pixel: interleave r with g and b with a, then the pairs.
    const __m128i rg =
        _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 8)); // r0 g0 r1 g1 .. b0 a0 ..
    const __m128i straight = _mm_unpacklo_epi16(rg, _mm_srli_si128(rg, 8));
    const __m128i clear = _mm_cmpeq_epi32(alphas, _mm_setzero_si128());
    return _mm_or_si128(_mm_and_si128(clear, pixels), _mm_andnot_si128(clear, straight));
}
#endif

#ifdef PELLDRIN_AVX2_TWINS
// UnpremultiplyFour for pixels 0-3 in the low lanes and 4-7 in the high lanes.
PELLDRIN_AVX2 inline __m256i UnpremultiplyEight(__m256i pixels, __m256i alphas) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256 reciprocal = _mm256_div_ps(
        _mm256_set1_ps(1.0f),
        _mm256_cvtepi32_ps(_mm256_max_epi16(alphas, _mm256_set1_epi32(1))));
    const __m256i half = _mm256_srli_epi32(alphas, 1);
    const __m256 bias = _mm256_set1_ps(1.0f / 1024.0f);
    __m256i channel[3];
    for (int c = 0; c < 3; ++c) {
        const __m256i v = _mm256_and_si256(_mm256_srli_epi32(pixels, 8 * c), low);
        const __m256i n = _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(v, 8), v), half);
        channel[c] = _mm256_cvttps_epi32(
            _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(n), reciprocal), bias));
    }
    const __m256i rb = _mm256_packs_epi32(channel[0], channel[2]);
    const __m256i ga = _mm256_packs_epi32(channel[1], alphas);
    const __m256i bytes = _mm256_packus_epi16(rb, ga);
    const __m256i rg = _mm256_unpacklo_epi8(bytes, _mm256_srli_si256(bytes, 8));
    const __m256i straight = _mm256_unpacklo_epi16(rg, _mm256_srli_si256(rg, 8));
    const __m256i clear = _mm256_cmpeq_epi32(alphas, _mm256_setzero_si256());
    return _mm256_or_si256(_mm256_and_si256(clear, pixels), _mm256_andnot_si256(clear, straight));
}

// Unpremultiply's four-pixel steps eight pixels at a time; returns how many pixels it did.
PELLDRIN_AVX2 std::size_t UnpremultiplyGroupsAvx2(std::uint8_t* p, std::size_t count) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8, p += 32) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i alphas = _mm256_srli_epi32(pixels, 24);
        const __m256i settled =
            _mm256_or_si256(_mm256_cmpeq_epi32(alphas, _mm256_setzero_si256()),
                            _mm256_cmpeq_epi32(alphas, _mm256_set1_epi32(255)));
        if (_mm256_movemask_epi8(settled) != -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), UnpremultiplyEight(pixels, alphas));
        }
    }
    return i;
}
#endif

} // namespace

// A pixel like the one before it gets that one's result without the arithmetic, and transparent
// and opaque pixels are passed several at a time: flat areas (a full-frame flash, the inside of a
// glyph) and empty ones cost little.
void Unpremultiply(std::uint8_t* p, std::size_t count) {
    std::uint32_t lastIn = 0;
    std::uint32_t lastOut = 0;
    std::size_t i = 0;
#ifdef PELLDRIN_AVX2_TWINS
    if (HasAvx2()) {
        i = UnpremultiplyGroupsAvx2(p, count);
        p += i * 4;
    }
#endif
    while (i < count) {
#ifdef PELLDRIN_SSE2
        // Four pixels at once: those that are each transparent or opaque stay as they are,
        // others are divided as below, all four together.
        if (i + 4 <= count) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i alphas = _mm_srli_epi32(pixels, 24);
            const __m128i settled = _mm_or_si128(_mm_cmpeq_epi32(alphas, _mm_setzero_si128()),
                                                 _mm_cmpeq_epi32(alphas, _mm_set1_epi32(255)));
            if (_mm_movemask_epi8(settled) != 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(p), UnpremultiplyFour(pixels, alphas));
            }
            i += 4;
            p += 16;
            continue;
        }
#else
        if (i + 2 <= count) {
            std::uint64_t two = 0;
            std::memcpy(&two, p, 8);
            if (two == 0) {
                i += 2;
                p += 8;
                continue;
            }
        }
#endif
        std::uint32_t in = 0;
        std::memcpy(&in, p, 4);
        const std::uint32_t a = p[3];
        if (in == lastIn) {
            std::memcpy(p, &lastOut, 4);
        } else if (a != 255 && a != 0) {
            // Opaque stays, and transparent pixels are all zero already.
            // Worked out in a local copy and stored once: storing bytes and reading them back
            // as a word would stall.
            const std::uint64_t m = kReciprocal.value[a];
            std::uint8_t out[4] = {p[0], p[1], p[2], p[3]};
            for (int c = 0; c < 3; ++c) {
                const std::uint64_t v = (out[c] * 255u + a / 2) * m >> 32;
                out[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
            }
            std::memcpy(p, out, 4);
            lastIn = in;
            std::memcpy(&lastOut, out, 4);
        }
        ++i;
        p += 4;
    }
}

namespace {

// For each row of the box, the columns [first, end) that some mask covers; a row no mask
// covers has first >= end.
struct RowSpan {
    int first, end;
};

std::vector<RowSpan> CoveredSpans(const ASS_Image* images, const Box& box) {
    const int width = box.right - box.left;
    std::vector<RowSpan> spans(static_cast<std::size_t>(box.bottom - box.top), RowSpan{width, 0});
    for (const ASS_Image* img = images; img != nullptr; img = img->next) {
        const int x0 = std::max(img->dst_x, box.left) - box.left;
        const int x1 = std::min(img->dst_x + img->w, box.right) - box.left;
        const int y0 = std::max(img->dst_y, box.top);
        const int y1 = std::min(img->dst_y + img->h, box.bottom);
        if ((img->color & 0xFF) == 0xFF || x0 >= x1) {
            continue;
        }
        for (int y = y0; y < y1; ++y) {
            RowSpan& span = spans[static_cast<std::size_t>(y - box.top)];
            span.first = std::min(span.first, x0);
            span.end = std::max(span.end, x1);
        }
    }
    return spans;
}

// A transparent canvas over the box. With onlyCovered, rows that no span covers are blank
// (one shared row of zeros): they stay transparent whatever is blended.
RgbaImage Canvas(const Box& box, const std::vector<RowSpan>& spans, bool onlyCovered) {
    RgbaImage out;
    out.x = box.left;
    out.y = box.top;
    out.width = box.right - box.left;
    out.height = box.bottom - box.top;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width) * 4;
    std::size_t covered = 0;
    for (const RowSpan& span : spans) {
        covered += span.first < span.end ? 1 : 0;
    }
    if (!onlyCovered || covered == spans.size()) {
        out.pixels.assign(rowBytes * static_cast<std::size_t>(out.height), 0);
        return out;
    }
    out.blankFrom = rowBytes * covered;
    out.pixels.assign(out.blankFrom + rowBytes, 0);
    out.rowStart.resize(spans.size());
    std::size_t next = 0;
    for (std::size_t row = 0; row < spans.size(); ++row) {
        if (spans[row].first < spans[row].end) {
            out.rowStart[row] = next;
            next += rowBytes;
        } else {
            out.rowStart[row] = out.blankFrom;
        }
    }
    return out;
}

RgbaImage Composite(const ASS_Image* images, const Box& box, bool onlyCovered) {
    // Only the pixels some mask covers can be other than transparent.
    const std::vector<RowSpan> spans = CoveredSpans(images, box);
    RgbaImage out = Canvas(box, spans, onlyCovered);
    for (const ASS_Image* img = images; img != nullptr; img = img->next) {
        BlendMask(*img, out, box);
    }
    for (int row = 0; row < out.height; ++row) {
        const RowSpan& span = spans[static_cast<std::size_t>(row)];
        if (span.first < span.end) {
            Unpremultiply(out.Row(row) + static_cast<std::size_t>(span.first) * 4,
                          static_cast<std::size_t>(span.end - span.first));
        }
    }
    return out;
}

} // namespace

RgbaImage CompositeVisible(const ASS_Image* images, int frameWidth, int frameHeight) {
    Box box{frameWidth, frameHeight, 0, 0};
    for (const ASS_Image* img = images; img != nullptr; img = img->next) {
        if (img->w <= 0 || img->h <= 0 || (img->color & 0xFF) == 0xFF) {
            continue;
        }
        box.left = std::min(box.left, img->dst_x);
        box.top = std::min(box.top, img->dst_y);
        box.right = std::max(box.right, img->dst_x + img->w);
        box.bottom = std::max(box.bottom, img->dst_y + img->h);
    }
    box.left = std::max(box.left, 0);
    box.top = std::max(box.top, 0);
    box.right = std::min(box.right, frameWidth);
    box.bottom = std::min(box.bottom, frameHeight);
    if (box.Empty()) {
        return RgbaImage{};
    }
    return CropToVisible(Composite(images, box, true));
}

RgbaImage CompositeFullFrame(const ASS_Image* images, int frameWidth, int frameHeight) {
    return Composite(images, Box{0, 0, frameWidth, frameHeight}, false);
}

} // namespace pelldrin::render
