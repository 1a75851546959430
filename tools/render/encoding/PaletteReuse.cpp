#include "encoding/PaletteReuse.h"

#include "base/Simd.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace pelldrin::render {

namespace {

// The stream shows the palettes: its transparent entry and the visible colours it allows.
constexpr std::size_t kMaxEntries = kStreamVisibleColors + 1;
constexpr int kSplitRounds = 4;

inline std::uint32_t PixelValue(const std::uint8_t* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

// A run of pixels in a row of one part that share their colour and their index: the unit of
// every pass over a picture, found once.
struct PixelRun {
    std::uint32_t offset = 0; // in its part
    std::uint32_t length = 0;
    std::uint32_t colour = 0; // RGBA bytes
};

struct PictureRuns {
    std::vector<PixelRun> runs;
    std::vector<std::size_t> partEnds; // runs [partEnds[k - 1], partEnds[k]) are in part k

    // Calls visit(part, offset, length, RGBA pixel) for every run.
    template <class Visit> void ForEach(Visit visit) const {
        std::size_t r = 0;
        for (std::size_t k = 0; k < partEnds.size(); ++k) {
            for (; r < partEnds[k]; ++r) {
                const PixelRun& run = runs[r];
                visit(k, run.offset, run.length,
                      reinterpret_cast<const std::uint8_t*>(&run.colour));
            }
        }
    }
};

// The runs of the parts' pixels that share their colour and their index: a flat picture (a
// full-frame flash) is a few runs a row, so the work per picture follows its detail, not its
// size.
PictureRuns FindRuns(const RgbaImage& image, const std::vector<IndexedImage>& parts,
                     const std::vector<std::vector<std::uint8_t>>& indices) {
    PictureRuns found;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const IndexedImage& part = parts[k];
        for (int row = 0; row < part.height; ++row) {
            const std::uint8_t* p = image.Row(part.y - image.y + row) + (part.x - image.x) * 4;
            const std::size_t start = static_cast<std::size_t>(row) * part.width;
            const std::uint8_t* rowIndex = indices[k].data() + start;
            int col = 0;
            while (col < part.width) {
                const std::uint32_t colour = PixelValue(p + col * 4);
                const std::uint8_t first = rowIndex[col];
                int end = col + 1;
#ifdef PELLDRIN_SSE2
                // Four pixels and their indices at a time while they all match.
                const __m128i colours = _mm_set1_epi32(static_cast<int>(colour));
                const std::uint32_t firsts = first * 0x01010101u;
                while (end + 4 <= part.width) {
                    const __m128i four =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + end * 4));
                    std::uint32_t indices4 = 0;
                    std::memcpy(&indices4, rowIndex + end, 4);
                    if (_mm_movemask_epi8(_mm_cmpeq_epi32(four, colours)) != 0xFFFF ||
                        indices4 != firsts) {
                        break;
                    }
                    end += 4;
                }
#endif
                while (end < part.width && PixelValue(p + end * 4) == colour &&
                       rowIndex[end] == first) {
                    ++end;
                }
                found.runs.push_back({static_cast<std::uint32_t>(start + col),
                                      static_cast<std::uint32_t>(end - col), colour});
                col = end;
            }
        }
        found.partEnds.push_back(found.runs.size());
    }
    return found;
}

bool SameShape(const std::vector<IndexedImage>& a, const std::vector<IndexedImage>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].x != b[k].x || a[k].y != b[k].y || a[k].width != b[k].width ||
            a[k].height != b[k].height) {
            return false;
        }
    }
    return true;
}

bool Within(const std::uint8_t* p, const PaletteColor& c, const ColorStray& allowed) {
    const ColorStray s = StrayOf(p, c);
    return s.alpha <= allowed.alpha && s.color <= allowed.color;
}

// Premultiplied sums of the pixels given one index.
struct Sums {
    std::uint64_t r = 0, g = 0, b = 0, a = 0, count = 0;
};

PaletteColor AverageOf(const Sums& s) {
    if (s.a == 0) { // no pixels, or only transparent ones
        return PaletteColor{};
    }
    const auto channel = [&](std::uint64_t sum) {
        return static_cast<std::uint8_t>(
            std::clamp(static_cast<double>(sum) / static_cast<double>(s.a) + 0.5, 0.0, 255.0));
    };
    return {channel(s.r), channel(s.g), channel(s.b),
            static_cast<std::uint8_t>(std::clamp(
                static_cast<double>(s.a) / static_cast<double>(s.count) + 0.5, 1.0, 255.0))};
}

using PartIndices = std::vector<std::vector<std::uint8_t>>;

// Each index's colour: the average of the image's pixels given it, premultiplied so that
// faint pixels weigh little in the colour.
std::vector<PaletteColor> AveragePalette(const PictureRuns& runs, const PartIndices& indices,
                                         std::size_t size) {
    std::vector<Sums> sums(size);
    runs.ForEach([&](std::size_t k, std::size_t i, std::size_t n, const std::uint8_t* p) {
        Sums& s = sums[indices[k][i]];
        s.r += std::uint64_t{p[0]} * p[3] * n;
        s.g += std::uint64_t{p[1]} * p[3] * n;
        s.b += std::uint64_t{p[2]} * p[3] * n;
        s.a += std::uint64_t{p[3]} * n;
        s.count += n;
    });
    std::vector<PaletteColor> palette(size);
    for (std::size_t e = 1; e < size; ++e) {
        palette[e] = AverageOf(sums[e]);
    }
    return palette;
}

// Gives the pixels that stray from their index's colour new indices, one per colour they
// share within an index. Returns the palette size, or 0 when it would pass kMaxEntries (the
// indices are then left part way, to be given up).
std::size_t SplitStrays(const PictureRuns& runs, const std::vector<PaletteColor>& palette,
                        const ColorStray& allowed, PartIndices& indices) {
    std::size_t next = palette.size();
    struct Seed {
        std::uint8_t from, index;
        std::array<std::uint8_t, 4> colour;
    };
    std::vector<Seed> seeds;
    // A pixel like the one before it, with the index it had, goes where that one went: the
    // pixels of a run, and a row's first pixel like the last one of the row before.
    std::uint32_t before = 0;
    bool haveBefore = false;
    std::uint8_t beforeFrom = 0;
    std::uint8_t beforeTo = 0;
    runs.ForEach([&](std::size_t k, std::size_t i, std::size_t n, const std::uint8_t* p) {
        if (next == 0) {
            return; // the palette is full: the rest need no look
        }
        std::uint8_t* run = indices[k].data() + i;
        const std::uint8_t from = run[0];
        std::uint8_t index = from;
        if (haveBefore && from == beforeFrom && PixelValue(p) == before) {
            index = beforeTo;
        } else if (next != 0 && !Within(p, palette[from], allowed)) {
            const auto seed = std::find_if(seeds.begin(), seeds.end(), [&](const Seed& s) {
                return s.from == from &&
                       Within(p, {s.colour[0], s.colour[1], s.colour[2], s.colour[3]}, allowed);
            });
            if (seed != seeds.end()) {
                index = seed->index;
            } else if (next == kMaxEntries) {
                next = 0;
            } else {
                seeds.push_back({from, static_cast<std::uint8_t>(next), {p[0], p[1], p[2], p[3]}});
                index = static_cast<std::uint8_t>(next++);
            }
        }
        if (index != from) {
            std::fill_n(run, n, index);
        }
        before = PixelValue(p);
        haveBefore = true;
        beforeFrom = from;
        beforeTo = index;
    });
    return next;
}

// Joins indices whose colours now look alike (within half the allowance), leaving room for
// later splits; an index now fully transparent joins index 0. Returns the new size.
std::size_t JoinAlike(const std::vector<PaletteColor>& palette, const ColorStray& allowed,
                      PartIndices& indices) {
    const ColorStray half{allowed.alpha / 2, allowed.color / 2};
    std::vector<std::uint8_t> map(palette.size(), 0);
    std::vector<std::size_t> kept{0};
    for (std::size_t e = 1; e < palette.size(); ++e) {
        if (palette[e].a == 0) {
            continue;
        }
        const PaletteColor& c = palette[e];
        const std::array<std::uint8_t, 4> p{c.r, c.g, c.b, c.a};
        const auto alike = std::find_if(kept.begin() + 1, kept.end(), [&](std::size_t k) {
            return Within(p.data(), palette[k], half);
        });
        map[e] = static_cast<std::uint8_t>(alike - kept.begin());
        if (alike == kept.end()) {
            kept.push_back(e);
        }
    }
    bool same = true; // nothing joined: the indices stay
    for (std::size_t e = 0; e < map.size() && same; ++e) {
        same = map[e] == e;
    }
    for (std::size_t k = 0; !same && k < indices.size(); ++k) {
        for (std::uint8_t& index : indices[k]) {
            index = map[index];
        }
    }
    return kept.size();
}

// The mean PixelError of the visible pixels from their indices' colours.
double MeanError(const PictureRuns& runs, const std::vector<PaletteColor>& palette,
                 const PartIndices& indices) {
    double sum = 0, pixels = 0;
    runs.ForEach([&](std::size_t k, std::size_t i, std::size_t n, const std::uint8_t* p) {
        const PaletteColor& c = palette[indices[k][i]];
        if (p[3] != 0 || c.a != 0) {
            sum += static_cast<double>(n) * PixelError(p, c);
            pixels += static_cast<double>(n);
        }
    });
    return pixels > 0 ? sum / pixels : 0;
}

} // namespace

bool PaletteReuse::Apply(const RgbaImage& image, std::int64_t inFrame, std::int64_t outFrame,
                         std::vector<IndexedImage>& parts, const QuantizeStray& fresh) {
    const bool follows = inFrame == previousOut_ && SameShape(previous_, parts);
    previousOut_ = outFrame;
    bool reused = false;
    if (follows) {
        // A pixel splits off where it strays beyond the tolerances or a few times as far as
        // the fresh quantization's farthest pixel; indices join where they come within half
        // the tolerances or half that farthest stray. The mean check below keeps the whole
        // picture close.
        const auto scaled = [&](int factor, int divisor) {
            return ColorStray{
                std::max(kReuseAlphaTolerance, fresh.worst.alpha * factor / divisor),
                std::max(kReuseColorTolerance * 255, fresh.worst.color * factor / divisor)};
        };
        const ColorStray splitAllowed = scaled(kReuseSplitStrays, 1);
        const ColorStray joinAllowed = scaled(1, 2);
        // The previous indices, split where pixels that shared one now differ.
        PartIndices indices; // taken over: previous_ is replaced below
        for (IndexedImage& part : previous_) {
            indices.push_back(std::move(part.indices));
        }
        // Joins and splits keep the pixels of such a run together, so the runs of the previous
        // indices serve every pass.
        const PictureRuns runs = FindRuns(image, parts, indices);
        std::vector<PaletteColor> palette = AveragePalette(runs, indices, previousPaletteSize_);
        // Each pass over the picture counts on a full frame, so the averages are taken again
        // only when indices changed.
        if (const std::size_t joined = JoinAlike(palette, joinAllowed, indices);
            joined != palette.size()) {
            palette = AveragePalette(runs, indices, joined);
        }
        // A split moves the averages, so a few rounds may be needed.
        for (int round = 0; round < kSplitRounds && !reused; ++round) {
            const std::size_t size = SplitStrays(runs, palette, splitAllowed, indices);
            if (size == 0) {
                break;
            }
            reused = size == palette.size();
            if (!reused) {
                palette = AveragePalette(runs, indices, size);
            }
        }
        reused = reused && MeanError(runs, palette, indices) <= fresh.mean + kReuseMeanSlack;
        for (std::size_t k = 0; reused && k < parts.size(); ++k) {
            parts[k].indices = std::move(indices[k]);
            parts[k].palette = palette;
        }
    }
    previous_ = parts;
    previousPaletteSize_ = parts.front().palette.size();
    for (IndexedImage& part : previous_) {
        part.palette = {};
    }
    return reused;
}

} // namespace pelldrin::render
