#include "ObjectRle.h"

#include <bit>
#include <cstring>

namespace pelldrin::pgs {

namespace {

constexpr int kMaxRun = 16383; // the 14-bit run length

// Length of the run of equal bytes that starts at p, at most n (n >= 1).
inline int RunLength(const std::uint8_t* p, int n) {
    const std::uint8_t v = p[0];
    int i = 1;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time: long transparent runs dominate subtitle images.
        const std::uint64_t pattern = 0x0101010101010101ull * v;
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            const std::uint64_t diff = word ^ pattern;
            if (diff != 0) {
                return i + (std::countr_zero(diff) >> 3);
            }
            i += 8;
        }
    }
    while (i < n && p[i] == v) {
        ++i;
    }
    return i;
}

inline std::uint8_t* EmitRun(std::uint8_t* out, unsigned color, int length) {
    while (length > 0) {
        const int run = length > kMaxRun ? kMaxRun : length;
        length -= run;
        if (color == 0) {
            *out++ = 0;
            if (run < 64) {
                *out++ = static_cast<std::uint8_t>(run);
            } else {
                *out++ = static_cast<std::uint8_t>(0x40 | (run >> 8));
                *out++ = static_cast<std::uint8_t>(run & 0xFF);
            }
        } else if (run <= 2) {
            // One or two pixels are cheaper as plain colour bytes.
            *out++ = static_cast<std::uint8_t>(color);
            if (run == 2) {
                *out++ = static_cast<std::uint8_t>(color);
            }
        } else {
            *out++ = 0;
            if (run < 64) {
                *out++ = static_cast<std::uint8_t>(0x80 | run);
            } else {
                *out++ = static_cast<std::uint8_t>(0xC0 | (run >> 8));
                *out++ = static_cast<std::uint8_t>(run & 0xFF);
            }
            *out++ = static_cast<std::uint8_t>(color);
        }
    }
    return out;
}

inline std::uint8_t* EndLine(std::uint8_t* out) {
    *out++ = 0;
    *out++ = 0;
    return out;
}

} // namespace

std::size_t RleWorstCase(int width, int height) {
    // An isolated pixel of colour 0 costs two bytes; each line ends with two more.
    return (static_cast<std::size_t>(width) * 2 + 2) * static_cast<std::size_t>(height);
}

std::uint8_t* EncodeRle(const RleSource& s, std::uint8_t* out) {
    const int fullWidth = s.padLeft + s.width + s.padRight;
    for (int i = 0; i < s.padTop; ++i) {
        out = EndLine(EmitRun(out, 0, fullWidth));
    }
    const std::uint16_t* remap = s.remap;
    const std::uint8_t* row = s.pixels;
    for (int y = 0; y < s.height; ++y, row += s.width) {
        // Runs of input indices that map to the same written index are joined.
        unsigned pendingColor = 0;
        int pendingLength = s.padLeft;
        int x = 0;
        while (x < s.width) {
            const int length = RunLength(row + x, s.width - x);
            const unsigned color = remap[row[x]];
            if (color > 0xFF) {
                return nullptr;
            }
            if (color == pendingColor) {
                pendingLength += length;
            } else {
                out = EmitRun(out, pendingColor, pendingLength);
                pendingColor = color;
                pendingLength = length;
            }
            x += length;
        }
        if (pendingColor == 0) {
            pendingLength += s.padRight;
            out = EmitRun(out, pendingColor, pendingLength);
        } else {
            out = EmitRun(EmitRun(out, pendingColor, pendingLength), 0, s.padRight);
        }
        out = EndLine(out);
    }
    for (int i = 0; i < s.padBottom; ++i) {
        out = EndLine(EmitRun(out, 0, fullWidth));
    }
    return out;
}

} // namespace pelldrin::pgs
