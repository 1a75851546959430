#include "pgs/PgsPalette.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pelldrin::pgs {

namespace {

std::uint8_t ClampRound(double v, int lo, int hi) {
    const double r = std::floor(v + 0.5);
    return static_cast<std::uint8_t>(std::clamp(static_cast<int>(r), lo, hi));
}

std::uint32_t Key(YCbCrA c) {
    return (std::uint32_t{c.y} << 24) | (std::uint32_t{c.cr} << 16) | (std::uint32_t{c.cb} << 8) |
           c.a;
}

int Distance(YCbCrA a, YCbCrA b) {
    const int dy = a.y - b.y, dr = a.cr - b.cr, db = a.cb - b.cb, da = a.a - b.a;
    return dy * dy + dr * dr + db * db + da * da;
}

// Merges the closest pair of colours until they fit the written indices.
void MergeClosest(PaletteMap& map, std::size_t count) {
    while (static_cast<int>(map.entries.size()) - 1 > kMaxVisibleColors) {
        std::size_t keep = 1, drop = 2;
        int best = Distance(map.entries[1], map.entries[2]);
        for (std::size_t a = 1; a < map.entries.size(); ++a) {
            for (std::size_t b = a + 1; b < map.entries.size(); ++b) {
                const int d = Distance(map.entries[a], map.entries[b]);
                if (d < best) {
                    best = d;
                    keep = a;
                    drop = b;
                }
            }
        }
        map.entries.erase(map.entries.begin() + static_cast<std::ptrdiff_t>(drop));
        for (std::size_t i = 0; i < count; ++i) {
            std::uint16_t& r = map.remap[i];
            if (r == drop) {
                r = static_cast<std::uint16_t>(keep);
            } else if (r > drop && r != kUndefinedIndex) {
                --r;
            }
        }
    }
}

// The matrix's red and blue weights of luma.
struct LumaWeights {
    double kr, kb;
};
LumaWeights WeightsOf(ColorMatrix matrix) {
    switch (matrix) {
    case ColorMatrix::Bt601:
        return {0.299, 0.114};
    case ColorMatrix::Bt2020:
        return {0.2627, 0.0593};
    case ColorMatrix::Bt709:
        break;
    }
    return {0.2126, 0.0722};
}

// The code of a visible colour (alpha as given); ToYCbCr keeps the last ones found.
YCbCrA NearestCode(Rgba color, ColorMatrix matrix) {
    const LumaWeights weights = WeightsOf(matrix);
    const double kr = weights.kr, kb = weights.kb;
    const double kg = 1.0 - kr - kb;
    const double r = color.r, g = color.g, b = color.b;
    const double luma = kr * r + kg * g + kb * b; // 0..255
    const double y = 16.0 + luma * 219.0 / 255.0;
    const double cb = 128.0 + (b - luma) / (2.0 * (1.0 - kb)) * 224.0 / 255.0;
    const double cr = 128.0 + (r - luma) / (2.0 * (1.0 - kr)) * 224.0 / 255.0;
    // The limited range has fewer steps than RGB, so rounding each component on its own can
    // land a level or two off once decoded. Of the eight codes around the exact one, the one a
    // decoder turns back into the nearest colour is written.
    const auto decoded = [&](int yc, int cbc, int crc) {
        const double l = (yc - 16) * 255.0 / 219.0;
        const double u = (cbc - 128) * 255.0 / 224.0, v = (crc - 128) * 255.0 / 224.0;
        const double back[3] = {
            l + 2.0 * (1.0 - kr) * v,
            l - 2.0 * (1.0 - kb) * kb / kg * u - 2.0 * (1.0 - kr) * kr / kg * v,
            l + 2.0 * (1.0 - kb) * u};
        const double want[3] = {r, g, b};
        double far = 0;
        for (int c = 0; c < 3; ++c) {
            const double d = std::clamp(std::floor(back[c] + 0.5), 0.0, 255.0) - want[c];
            far += d * d;
        }
        return far;
    };
    YCbCrA out{ClampRound(y, 16, 235), ClampRound(cr, 16, 240), ClampRound(cb, 16, 240), color.a};
    double best = decoded(out.y, out.cb, out.cr);
    for (int i = 0; i < 8 && best > 0; ++i) {
        const int yc = std::clamp(static_cast<int>(std::floor(y)) + (i & 1), 16, 235);
        const int cbc = std::clamp(static_cast<int>(std::floor(cb)) + (i >> 1 & 1), 16, 240);
        const int crc = std::clamp(static_cast<int>(std::floor(cr)) + (i >> 2 & 1), 16, 240);
        const double far = decoded(yc, cbc, crc);
        if (far < best) {
            best = far;
            out.y = static_cast<std::uint8_t>(yc);
            out.cb = static_cast<std::uint8_t>(cbc);
            out.cr = static_cast<std::uint8_t>(crc);
        }
    }
    return out;
}

} // namespace

YCbCrA ToYCbCr(Rgba color, ColorMatrix matrix) {
    if (color.a == 0) {
        return {16, 128, 128, 0};
    }
    // Every picture's palette is converted, and pictures one after another mostly share their
    // colours: the codes found last are kept, a slot for each colour's hash.
    struct Slot {
        std::uint32_t key = 0; // colour and matrix, 0 when empty
        YCbCrA code{};
    };
    thread_local std::array<Slot, 1024> found{};
    const std::uint32_t key = (std::uint32_t{color.r} | std::uint32_t{color.g} << 8 |
                               std::uint32_t{color.b} << 16) +
                              ((static_cast<std::uint32_t>(matrix) + 1) << 24);
    Slot& slot = found[(key * 2654435761u) >> 22];
    if (slot.key != key) {
        slot = {key, NearestCode(color, matrix)};
    }
    YCbCrA code = slot.code;
    code.a = color.a;
    return code;
}

PaletteMap BuildPaletteMap(const std::vector<Rgba>& palette, ColorMatrix matrix,
                           const std::vector<const IndexedObject*>& objects) {
    const std::size_t count = std::min<std::size_t>(palette.size(), 256);
    std::vector<YCbCrA> converted(count);
    for (std::size_t i = 0; i < count; ++i) {
        converted[i] = ToYCbCr(palette[i], matrix);
    }

    // Which input entries take part; all of them unless the colours do not fit.
    std::array<bool, 256> used{};
    std::fill(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(count), true);

    auto assign = [&](PaletteMap& map) {
        map.remap.fill(kUndefinedIndex);
        map.entries.assign(1, YCbCrA{16, 128, 128, 0});
        // Small open-addressing table from colour to written index.
        std::array<std::uint32_t, 512> keys{};
        std::array<std::uint16_t, 512> values{};
        std::array<bool, 512> taken{};
        for (std::size_t i = 0; i < count; ++i) {
            const YCbCrA c = converted[i];
            if (c.a == 0 || !used[i]) {
                map.remap[i] = kTransparentIndex; // unused entries never reach the image
                continue;
            }
            const std::uint32_t key = Key(c);
            std::size_t slot = (key * 2654435761u) >> 23;
            while (taken[slot] && keys[slot] != key) {
                slot = (slot + 1) & 511;
            }
            if (!taken[slot]) {
                taken[slot] = true;
                keys[slot] = key;
                values[slot] = static_cast<std::uint16_t>(map.entries.size());
                map.entries.push_back(c);
            }
            map.remap[i] = values[slot];
        }
    };

    PaletteMap map;
    assign(map);
    if (static_cast<int>(map.entries.size()) - 1 <= kMaxVisibleColors) {
        return map;
    }

    // Too many colours: only those the images use count.
    used.fill(false);
    for (const IndexedObject* object : objects) {
        for (const std::uint8_t p : object->pixels) {
            used[p] = true;
        }
    }
    assign(map);
    MergeClosest(map, count);
    return map;
}

} // namespace pelldrin::pgs
