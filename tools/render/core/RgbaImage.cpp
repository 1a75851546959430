#include "core/RgbaImage.h"

#include "base/Simd.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace pelldrin::render {

namespace {

constexpr std::uint64_t kAlphas = 0xFF000000FF000000ull;

#ifdef PELLDRIN_SSE2
// A bit for each of the four pixels at p whose alpha is above 0.
inline int VisibleMask(const std::uint8_t* p) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i alphas = _mm_srli_epi32(pixels, 24);
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(alphas, _mm_setzero_si128()))) ^ 0xF;
}

// Whether any of the eight pixels at p has alpha above 0.
inline bool AnyVisibleOfEight(const std::uint8_t* p) {
    const __m128i* q = reinterpret_cast<const __m128i*>(p);
    const __m128i any = _mm_or_si128(_mm_loadu_si128(q), _mm_loadu_si128(q + 1));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(any, 24), _mm_setzero_si128())) !=
           0xFFFF;
}
#endif

// The first pixel in [from, to) of a row with alpha above 0, or to; pixels are tested several at
// a time, as most of a picture's rows are mostly empty.
int FirstVisible(const std::uint8_t* row, int from, int to) {
    int x = from;
#ifdef PELLDRIN_SSE2
    while (x + 8 <= to && !AnyVisibleOfEight(row + x * 4)) {
        x += 8;
    }
    for (; x + 4 <= to; x += 4) {
        if (const int mask = VisibleMask(row + x * 4); mask != 0) {
            return x + std::countr_zero(static_cast<unsigned>(mask));
        }
    }
#endif
    for (; x + 2 <= to; x += 2) {
        std::uint64_t two = 0;
        std::memcpy(&two, row + x * 4, 8);
        if ((two & kAlphas) != 0) {
            return row[x * 4 + 3] != 0 ? x : x + 1;
        }
    }
    return x < to && row[x * 4 + 3] != 0 ? x : to;
}

// One past the last pixel in [from, to) with alpha above 0, or from.
int EndOfVisible(const std::uint8_t* row, int from, int to) {
    int x = to;
#ifdef PELLDRIN_SSE2
    while (x - 8 >= from && !AnyVisibleOfEight(row + (x - 8) * 4)) {
        x -= 8;
    }
    for (; x - 4 >= from; x -= 4) {
        if (const int mask = VisibleMask(row + (x - 4) * 4); mask != 0) {
            return x - 4 + std::bit_width(static_cast<unsigned>(mask));
        }
    }
#endif
    for (; x - 2 >= from; x -= 2) {
        std::uint64_t two = 0;
        std::memcpy(&two, row + (x - 2) * 4, 8);
        if ((two & kAlphas) != 0) {
            return row[(x - 1) * 4 + 3] != 0 ? x : x - 1;
        }
    }
    return x > from && row[(x - 1) * 4 + 3] != 0 ? x : from;
}

bool RowVisible(const RgbaImage& image, int row, int left, int right) {
    return !image.RowBlank(row) && FirstVisible(image.Row(row), left, right) < right;
}

// The visible box of the rows [top,bottom); empty when they hold no visible pixel.
PixelRect VisibleBox(const RgbaImage& image, int top, int bottom) {
    while (top < bottom && !RowVisible(image, top, 0, image.width)) {
        ++top;
    }
    while (bottom > top && !RowVisible(image, bottom - 1, 0, image.width)) {
        --bottom;
    }
    if (top == bottom) {
        return PixelRect{};
    }
    int left = image.width;
    int right = 0;
    for (int row = top; row < bottom; ++row) {
        if (!image.RowBlank(row)) {
            const std::uint8_t* p = image.Row(row);
            left = FirstVisible(p, 0, left);
            right = EndOfVisible(p, right, image.width);
        }
    }
    return PixelRect{left, top, right, bottom};
}

// Copies the rectangle; with keepBlank, its blank rows stay blank (sharing one row of zeros)
// instead of becoming rows of zeros each.
RgbaImage CopyRect(const RgbaImage& image, const PixelRect& rect, bool keepBlank) {
    RgbaImage out;
    out.x = image.x + rect.left;
    out.y = image.y + rect.top;
    out.width = rect.right - rect.left;
    out.height = rect.bottom - rect.top;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width) * 4;
    int stored = out.height;
    if (keepBlank) {
        for (int row = rect.top; row < rect.bottom; ++row) {
            stored -= image.RowBlank(row) ? 1 : 0;
        }
    }
    if (stored == out.height) {
        out.pixels.resize(rowBytes * static_cast<std::size_t>(out.height));
        for (int row = 0; row < out.height; ++row) {
            std::memcpy(out.Row(row),
                        image.Row(rect.top + row) + static_cast<std::size_t>(rect.left) * 4,
                        rowBytes);
        }
        return out;
    }
    out.blankFrom = rowBytes * static_cast<std::size_t>(stored);
    out.pixels.resize(out.blankFrom + rowBytes); // the stored rows, then the row of zeros
    out.rowStart.resize(static_cast<std::size_t>(out.height));
    std::size_t next = 0;
    for (int row = 0; row < out.height; ++row) {
        if (image.RowBlank(rect.top + row)) {
            out.rowStart[static_cast<std::size_t>(row)] = out.blankFrom;
        } else {
            out.rowStart[static_cast<std::size_t>(row)] = next;
            std::memcpy(out.pixels.data() + next,
                        image.Row(rect.top + row) + static_cast<std::size_t>(rect.left) * 4,
                        rowBytes);
            next += rowBytes;
        }
    }
    return out;
}

} // namespace

bool operator==(const RgbaImage& a, const RgbaImage& b) {
    if (a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height) {
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(a.width) * 4;
    for (int row = 0; row < a.height; ++row) {
        if (!(a.RowBlank(row) && b.RowBlank(row)) &&
            std::memcmp(a.Row(row), b.Row(row), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

RgbaImage CropToVisible(const RgbaImage& image) {
    return CropToVisible(RgbaImage(image));
}

RgbaImage CropToVisible(RgbaImage&& image) {
    const PixelRect box = image.Empty() ? PixelRect{} : VisibleBox(image, 0, image.height);
    if (box.left >= box.right) {
        return RgbaImage{};
    }
    if (box == PixelRect{0, 0, image.width, image.height}) {
        return std::move(image);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(box.right - box.left) * 4;
    std::size_t bytes = 0;
    for (int row = box.top; row < box.bottom; ++row) {
        bytes += image.RowBlank(row) ? 0 : rowBytes;
    }
    if (bytes < image.pixels.size() / 4 * 3) {
        return CopyRect(image, box, true); // a copy, not the larger buffer, is kept
    }
    // Mostly kept: the rows stay where they are and only where they start changes; without
    // rowStart, they move up in place, each to an address no later than its own.
    if (!image.rowStart.empty()) {
        std::vector<std::size_t> starts(static_cast<std::size_t>(box.bottom - box.top));
        for (int row = box.top; row < box.bottom; ++row) {
            starts[static_cast<std::size_t>(row - box.top)] =
                image.RowOffset(row) + static_cast<std::size_t>(box.left) * 4;
        }
        image.rowStart = std::move(starts);
    } else {
        for (int row = box.top; row < box.bottom; ++row) {
            std::memmove(image.pixels.data() + static_cast<std::size_t>(row - box.top) * rowBytes,
                         image.Row(row) + static_cast<std::size_t>(box.left) * 4, rowBytes);
        }
        image.pixels.resize(bytes);
    }
    image.x += box.left;
    image.y += box.top;
    image.width = box.right - box.left;
    image.height = box.bottom - box.top;
    return std::move(image);
}

RgbaImage CutImage(const RgbaImage& image, const PixelRect& rect) {
    return CopyRect(image, rect, false);
}

bool FindSplit(const RgbaImage& image, int minGap, PixelRect& top, PixelRect& bottom) {
    int bestStart = 0;
    int bestLength = 0;
    int runStart = -1;
    bool seenVisible = false;
    for (int row = 0; row < image.height; ++row) {
        if (RowVisible(image, row, 0, image.width)) {
            if (runStart >= 0 && seenVisible && row - runStart > bestLength) {
                bestStart = runStart;
                bestLength = row - runStart;
            }
            runStart = -1;
            seenVisible = true;
        } else if (runStart < 0) {
            runStart = row;
        }
    }
    if (bestLength < minGap || bestLength == 0) {
        return false;
    }
    top = VisibleBox(image, 0, bestStart);
    bottom = VisibleBox(image, bestStart + bestLength, image.height);
    return top.left < top.right && bottom.left < bottom.right;
}

std::vector<PixelRect> VisibleParts(const RgbaImage& image) {
    // Each row's visible span; the boxes of the rows above and below each row.
    struct Span {
        int left, right;
    };
    const int h = image.height;
    std::vector<Span> rows(static_cast<std::size_t>(h));
    for (int row = 0; row < h; ++row) {
        if (image.RowBlank(row)) {
            rows[row] = {image.width, image.width};
            continue;
        }
        const std::uint8_t* p = image.Row(row);
        const int left = FirstVisible(p, 0, image.width);
        rows[row] = {left, left < image.width ? EndOfVisible(p, left, image.width) : left};
    }
    const auto visible = [&](int row) { return rows[row].left < rows[row].right; };
    std::vector<PixelRect> above(static_cast<std::size_t>(h) + 1), below(above.size());
    for (int row = 0; row < h; ++row) {
        PixelRect box = above[row];
        if (visible(row)) {
            box = box.left < box.right ? PixelRect{std::min(box.left, rows[row].left), box.top,
                                                   std::max(box.right, rows[row].right), row + 1}
                                       : PixelRect{rows[row].left, row, rows[row].right, row + 1};
        }
        above[row + 1] = box;
    }
    for (int row = h; row-- > 0;) {
        PixelRect box = below[row + 1];
        if (visible(row)) {
            box = box.left < box.right ? PixelRect{std::min(box.left, rows[row].left), row,
                                                   std::max(box.right, rows[row].right), box.bottom}
                                       : PixelRect{rows[row].left, row, rows[row].right, row + 1};
        }
        below[row] = box;
    }
    const auto area = [](const PixelRect& r) {
        return std::int64_t{r.right - r.left} * (r.bottom - r.top);
    };
    const PixelRect whole = above[h];
    if (whole.left >= whole.right) {
        return {};
    }
    std::int64_t best = area(whole) * 7 / 8;
    std::vector<PixelRect> parts{whole};
    for (int row = whole.top + 1; row < whole.bottom; ++row) {
        // The first transparent row of a band: the boxes above it and below the band.
        if (!visible(row) && visible(row - 1)) {
            const PixelRect& top = above[row];
            const PixelRect& bottom = below[row];
            if (area(top) + area(bottom) <= best) {
                best = area(top) + area(bottom);
                parts = {top, bottom};
            }
        }
    }
    return parts;
}

RgbaImage PlaceOnFrame(const RgbaImage& image, int frameWidth, int frameHeight) {
    RgbaImage out;
    out.width = frameWidth;
    out.height = frameHeight;
    out.pixels.assign(static_cast<std::size_t>(frameWidth) * frameHeight * 4, 0);
    for (int row = 0; row < image.height; ++row) {
        const int y = image.y + row;
        if (y < 0 || y >= frameHeight) {
            continue;
        }
        const int x0 = std::max(0, image.x);
        const int x1 = std::min(frameWidth, image.x + image.width);
        if (x0 >= x1) {
            continue;
        }
        std::memcpy(out.Row(y) + x0 * 4, image.Row(row) + (x0 - image.x) * 4,
                    static_cast<std::size_t>(x1 - x0) * 4);
    }
    return out;
}

} // namespace pelldrin::render
