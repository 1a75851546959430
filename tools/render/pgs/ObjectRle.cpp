#include "pgs/ObjectRle.h"

#include "base/Simd.h"
#include "base/ThreadCache.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace pelldrin::pgs {

namespace {

constexpr int kMaxRun = 16383; // the 14-bit run length

// One run, at most kMaxRun long. Every case is one four-byte store, and the pointer moves
// by the code's real length: the run lengths and colours of anti-aliased text change too
// often for branches to be predicted.
inline std::uint8_t* EmitShortRun(std::uint8_t* out, unsigned color, unsigned run) {
    const bool zero = color == 0;
    const bool isLong = run >= 64;
    const bool plain = !zero && run <= 2; // one or two pixels are cheaper as colour bytes
    const unsigned hi = run >> 8, lo = run & 0xFF;
    const unsigned longFlag = zero ? 0x40u : 0xC0u;
    const unsigned shortFlag = zero ? 0x00u : 0x80u;
    std::uint8_t code[4];
    code[0] = static_cast<std::uint8_t>(plain ? color : 0);
    code[1] = static_cast<std::uint8_t>(plain ? color : (isLong ? longFlag | hi : shortFlag | run));
    code[2] = static_cast<std::uint8_t>(isLong ? lo : color);
    code[3] = static_cast<std::uint8_t>(color);
    std::memcpy(out, code, 4);
    return out + (plain ? run : 2u + isLong + !zero);
}

inline std::uint8_t* EmitRun(std::uint8_t* out, unsigned color, int length) {
    while (length > kMaxRun) {
        out = EmitShortRun(out, color, kMaxRun);
        length -= kMaxRun;
    }
    return length > 0 ? EmitShortRun(out, color, static_cast<unsigned>(length)) : out;
}

inline std::uint8_t* EndLine(std::uint8_t* out) {
    *out++ = 0;
    *out++ = 0;
    return out;
}

// Collects the runs of one line: runs of input indices that map to the same written index
// are joined, and an undefined index is remembered rather than branched on.
struct LineCoder {
    std::uint8_t* out;
    const std::uint16_t* remap;
    unsigned pendingColor = 0;
    int pendingLength = 0;
    unsigned undefined = 0;

    void Run(std::uint8_t index, int length) {
        const unsigned color = remap[index];
        undefined |= color >> 8;
        if (color == pendingColor) {
            pendingLength += length;
        } else {
            out = EmitRun(out, pendingColor, pendingLength);
            pendingColor = color & 0xFF;
            pendingLength = length;
        }
    }
};

// Finds where each run of equal indices ends and hands it to the coder.
inline void CodeLine(const std::uint8_t* p, int width, LineCoder& coder) {
    int start = 0;
    int i = 1;
#ifdef PELLDRIN_SSE2
    // A bit for every pixel that differs from its left neighbour, 64 pixels at a time so
    // that the loop over the bits ends rarely.
    auto changes16 = [p](int at) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at - 1));
        return std::uint64_t{~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, left))) &
                             0xFFFFu};
    };
    while (i + 64 <= width) {
        std::uint64_t mask = changes16(i) | changes16(i + 16) << 16 | changes16(i + 32) << 32 |
                             changes16(i + 48) << 48;
        while (mask != 0) {
            const int at = i + std::countr_zero(mask);
            coder.Run(p[start], at - start);
            start = at;
            mask &= mask - 1;
        }
        i += 64;
    }
    while (i + 16 <= width) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i - 1));
        unsigned mask =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, left))) & 0xFFFFu;
        while (mask != 0) {
            const int at = i + std::countr_zero(mask);
            coder.Run(p[start], at - start);
            start = at;
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    for (; i < width; ++i) {
        if (p[i] != p[i - 1]) {
            coder.Run(p[start], i - start);
            start = i;
        }
    }
    coder.Run(p[start], width - start);
}

} // namespace

std::size_t RleWorstCase(int width, int height) {
    // An isolated pixel of colour 0 costs two bytes; each line ends with two more; the last
    // code may store two bytes beyond its end.
    return (static_cast<std::size_t>(width) * 2 + 2) * static_cast<std::size_t>(height) + 2;
}

std::uint8_t* EncodeRle(const RleSource& s, std::uint8_t* out) {
    const int fullWidth = s.padLeft + s.width + s.padRight;
    for (int i = 0; i < s.padTop; ++i) {
        out = EndLine(EmitRun(out, 0, fullWidth));
    }
    LineCoder coder{out, s.remap};
    const std::uint8_t* row = s.pixels;
    for (int y = 0; y < s.height; ++y, row += s.width) {
        coder.pendingColor = 0;
        coder.pendingLength = s.padLeft;
        CodeLine(row, s.width, coder);
        if (coder.pendingColor == 0) {
            coder.out = EmitRun(coder.out, 0, coder.pendingLength + s.padRight);
        } else {
            coder.out =
                EmitRun(EmitRun(coder.out, coder.pendingColor, coder.pendingLength), 0, s.padRight);
        }
        coder.out = EndLine(coder.out);
    }
    if (coder.undefined != 0) {
        return nullptr;
    }
    out = coder.out;
    for (int i = 0; i < s.padBottom; ++i) {
        out = EndLine(EmitRun(out, 0, fullWidth));
    }
    return out;
}

namespace {

struct RleBuffer {
    std::vector<std::uint8_t> bytes;
};

} // namespace

std::string EncodeObject(const PictureObject& object) {
    static const std::array<std::uint16_t, 256> identity = [] {
        std::array<std::uint16_t, 256> a{};
        for (int i = 0; i < 256; ++i) {
            a[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i);
        }
        return a;
    }();
    // Coded into a buffer kept between calls: the worst case is far larger than the code.
    std::vector<std::uint8_t>& buffer = ThreadCache<RleBuffer>().bytes;
    buffer.resize(std::max(buffer.size(), RleWorstCase(object.area.w, object.area.h)));
    RleSource source;
    source.pixels = object.indices.data();
    source.width = object.area.w;
    source.height = object.area.h;
    source.remap = identity.data();
    const std::uint8_t* end = EncodeRle(source, buffer.data());
    return std::string(reinterpret_cast<const char*>(buffer.data()),
                       static_cast<std::size_t>(end - buffer.data()));
}

} // namespace pelldrin::pgs
