#include "encoding/Palette.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <queue>

namespace pelldrin::render {

namespace {

constexpr int kMaxVisible = 255; // entry 0 is the transparent one

// Open-addressing table from packed RGBA to a dense colour number (from 1).
class ColorTable {
  public:
    ColorTable() { Resize(1024); }

    // The number of key, given the next free number when new.
    std::uint32_t Find(std::uint32_t key) {
        std::size_t slot = Hash(key);
        while (ids_[slot] != 0) {
            if (keys_[slot] == key) {
                return ids_[slot];
            }
            slot = (slot + 1) & mask_;
        }
        keys_[slot] = key;
        ids_[slot] = ++size_;
        if (size_ * 2 > keys_.size()) {
            Grow();
        }
        return size_;
    }

    std::uint32_t Size() const { return size_; }

    // The key of every number, index 0 unused.
    std::vector<std::uint32_t> KeysByNumber() const {
        std::vector<std::uint32_t> keys(size_ + 1, 0);
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (ids_[i] != 0) {
                keys[ids_[i]] = keys_[i];
            }
        }
        return keys;
    }

  private:
    // Multiplicative hashing: the high bits of the product mix every channel.
    std::size_t Hash(std::uint32_t key) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >>
                                        shift_);
    }
    void Resize(std::size_t capacity) {
        keys_.assign(capacity, 0);
        ids_.assign(capacity, 0);
        mask_ = capacity - 1;
        shift_ = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1) {
            --shift_;
        }
    }
    void Grow() {
        std::vector<std::uint32_t> keys = std::move(keys_);
        std::vector<std::uint32_t> ids = std::move(ids_);
        Resize(keys.size() * 2);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (ids[i] != 0) {
                std::size_t slot = Hash(keys[i]);
                while (ids_[slot] != 0) {
                    slot = (slot + 1) & mask_;
                }
                keys_[slot] = keys[i];
                ids_[slot] = ids[i];
            }
        }
    }

    std::vector<std::uint32_t> keys_;
    std::vector<std::uint32_t> ids_; // 0: free slot
    std::size_t mask_ = 0;
    int shift_ = 64;
    std::uint32_t size_ = 0;
};

inline std::uint32_t Pack(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A distinct colour with its weight, in alpha-weighted coordinates.
struct Entry {
    std::array<int, 4> v; // premultiplied r, g, b, and a
    std::uint32_t count;
    std::uint32_t slot; // the colour's number
};

struct Box {
    std::size_t begin, end;
    int axis = 0;
    double score = 0; // weighted squared spread along axis
};

void Measure(const std::vector<Entry>& entries, Box& box) {
    double sum[4] = {0, 0, 0, 0};
    double sq[4] = {0, 0, 0, 0};
    double weight = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        const double w = entries[i].count;
        weight += w;
        for (int c = 0; c < 4; ++c) {
            sum[c] += w * entries[i].v[c];
            sq[c] += w * entries[i].v[c] * entries[i].v[c];
        }
    }
    box.score = -1;
    if (box.end - box.begin < 2) {
        return;
    }
    for (int c = 0; c < 4; ++c) {
        const double spread = sq[c] - sum[c] * sum[c] / weight;
        if (spread > box.score) {
            box.score = spread;
            box.axis = c;
        }
    }
}

PaletteColor Average(const std::vector<Entry>& entries, const Box& box) {
    double sum[4] = {0, 0, 0, 0};
    double weight = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        const double w = entries[i].count;
        weight += w;
        for (int c = 0; c < 4; ++c) {
            sum[c] += w * entries[i].v[c];
        }
    }
    // v[3] is alpha * 255 and v[0..2] colour * alpha, so the ratio gives straight colour.
    const double alpha255 = std::max(sum[3], 1.0);
    PaletteColor color;
    color.a = static_cast<std::uint8_t>(std::clamp(sum[3] / weight / 255.0 + 0.5, 1.0, 255.0));
    color.r = static_cast<std::uint8_t>(std::clamp(sum[0] * 255.0 / alpha255 + 0.5, 0.0, 255.0));
    color.g = static_cast<std::uint8_t>(std::clamp(sum[1] * 255.0 / alpha255 + 0.5, 0.0, 255.0));
    color.b = static_cast<std::uint8_t>(std::clamp(sum[2] * 255.0 / alpha255 + 0.5, 0.0, 255.0));
    return color;
}

// Orders the box's entries along its axis by a counting sort on the value's top
// byte: linear time, and close enough for finding the median.
void SortByAxis(std::vector<Entry>& entries, const Box& box, std::vector<Entry>& scratch) {
    std::array<std::uint32_t, 257> start{};
    for (std::size_t i = box.begin; i < box.end; ++i) {
        ++start[(entries[i].v[box.axis] >> 8) + 1];
    }
    for (std::size_t b = 1; b < start.size(); ++b) {
        start[b] += start[b - 1];
    }
    for (std::size_t i = box.begin; i < box.end; ++i) {
        scratch[box.begin + start[entries[i].v[box.axis] >> 8]++] = entries[i];
    }
    std::copy(scratch.begin() + static_cast<std::ptrdiff_t>(box.begin),
              scratch.begin() + static_cast<std::ptrdiff_t>(box.end),
              entries.begin() + static_cast<std::ptrdiff_t>(box.begin));
}

// Median cut: splits the box with the most spread at its weighted median until
// there are `colors` boxes or no box can be split.
std::vector<Box> MedianCut(std::vector<Entry>& entries, int colors) {
    std::vector<Entry> scratch(entries.size());
    std::vector<Box> boxes;
    boxes.push_back({0, entries.size()});
    Measure(entries, boxes[0]);
    // The box with the most spread is split next; among equals, the first in the list.
    const auto before = [&](std::size_t a, std::size_t b) {
        return boxes[a].score < boxes[b].score || (boxes[a].score == boxes[b].score && a > b);
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(before)> next(before);
    next.push(0);
    while (static_cast<int>(boxes.size()) < colors) {
        const std::size_t worst = next.top();
        if (boxes[worst].score <= 0) {
            break;
        }
        next.pop();
        Box box = boxes[worst];
        SortByAxis(entries, box, scratch);
        std::uint64_t total = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            total += entries[i].count;
        }
        std::uint64_t running = 0;
        std::size_t cut = box.begin + 1;
        for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
            running += entries[i].count;
            cut = i + 1;
            if (running * 2 >= total) {
                break;
            }
        }
        Box low{box.begin, cut};
        Box high{cut, box.end};
        Measure(entries, low);
        Measure(entries, high);
        boxes[worst] = low;
        boxes.push_back(high);
        next.push(worst);
        next.push(boxes.size() - 1);
    }
    return boxes;
}

} // namespace

namespace {

PaletteColor ColorOfKey(std::uint32_t key) {
    return {static_cast<std::uint8_t>(key & 0xFF), static_cast<std::uint8_t>((key >> 8) & 0xFF),
            static_cast<std::uint8_t>((key >> 16) & 0xFF), static_cast<std::uint8_t>(key >> 24)};
}

// Numbers the distinct visible colours of runs of pixels given one after another, from 1 in
// the table; each pixel gets its colour's number (0 for transparent), and counts how often each
// number occurs. Add is false when the numbers outgrow Number; the table is then incomplete.
template <class Number> class ColorNumbering {
  public:
    ColorNumbering(ColorTable& table, std::vector<std::uint32_t>& counts)
        : table_(table), counts_(counts) {}

    bool Add(const std::uint8_t* p, std::size_t count, Number* numbers) {
        constexpr std::uint64_t kAlphas = 0xFF000000FF000000ull;
        std::size_t i = 0;
        while (i < count) {
            // Transparent pixels go four at a time: most of a picture's box is empty.
            for (std::uint64_t two[2]; i + 4 <= count; i += 4, p += 16) {
                std::memcpy(two, p, 16);
                if (((two[0] | two[1]) & kAlphas) != 0) {
                    break;
                }
                std::fill_n(numbers + i, 4, Number{0});
            }
            if (i == count) {
                break;
            }
            if (p[3] == 0) {
                numbers[i++] = 0;
                p += 4;
                continue;
            }
            const std::uint32_t key = Pack(p);
            if (lastNumber_ == 0 || key != lastKey_) {
                const std::uint32_t found = table_.Find(key);
                if (found > std::numeric_limits<Number>::max()) {
                    return false;
                }
                if (found == counts_.size()) {
                    counts_.push_back(0);
                }
                Flush();
                lastKey_ = key;
                lastNumber_ = static_cast<Number>(found);
            }
            // The pixels like this one that follow share its number without a lookup: flat
            // areas (a full-frame flash, the inside of a glyph) cost a comparison a pixel.
            std::size_t n = 1;
            while (i + n < count && Pack(p + n * 4) == key) {
                ++n;
            }
            std::fill_n(numbers + i, n, lastNumber_);
            pending_ += static_cast<std::uint32_t>(n);
            i += n;
            p += n * 4;
        }
        return true;
    }

    // Counts the pixels not yet counted.
    void Flush() {
        counts_[lastNumber_] += pending_;
        pending_ = 0;
    }

  private:
    ColorTable& table_;
    std::vector<std::uint32_t>& counts_;
    std::uint32_t lastKey_ = 0;
    Number lastNumber_ = 0;
    std::uint32_t pending_ = 0; // pixels of lastNumber_ not yet counted
};

// Numbers the pixels of the parts of an image, part after part and row after row, into
// numbers (the parts' pixels one after another).
template <class Number>
bool NumberParts(const RgbaImage& image, const std::vector<PixelRect>& parts, ColorTable& table,
                 std::vector<std::uint32_t>& counts, Number* numbers) {
    ColorNumbering<Number> numbering(table, counts);
    for (const PixelRect& r : parts) {
        const std::size_t width = static_cast<std::size_t>(r.right - r.left);
        for (int row = r.top; row < r.bottom; ++row, numbers += width) {
            if (!numbering.Add(image.Row(row) + static_cast<std::size_t>(r.left) * 4, width,
                               numbers)) {
                return false;
            }
        }
    }
    numbering.Flush();
    return true;
}

// The pixels' palette indices from their colour numbers; indices starts out all 0, which
// transparent pixels keep.
template <class Number>
void MapNumbers(const Number* numbers, const std::vector<std::uint8_t>& indexOfNumber,
                std::uint8_t* indices, std::size_t count) {
    const std::uint8_t* map = indexOfNumber.data();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Number four[4];
        std::memcpy(four, numbers + i, sizeof four);
        if ((four[0] | four[1] | four[2] | four[3]) != 0) {
            for (int k = 0; k < 4; ++k) {
                indices[i + k] = map[four[k]];
            }
        }
    }
    for (; i < count; ++i) {
        indices[i] = map[numbers[i]];
    }
}

// At most kMaxVisible colours for the entries (each colour exactly when they fit);
// colorOfEntry gets the colour that stands for each entry.
std::vector<PaletteColor> ChooseColors(std::vector<Entry>& entries,
                                       const std::vector<std::uint32_t>& keys,
                                       std::vector<std::uint8_t>& colorOfEntry) {
    std::vector<PaletteColor> colors;
    colorOfEntry.assign(entries.size(), 0);
    if (entries.size() <= static_cast<std::size_t>(kMaxVisible)) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            colors.push_back(ColorOfKey(keys[entries[i].slot]));
            colorOfEntry[i] = static_cast<std::uint8_t>(i);
        }
        return colors;
    }
    const auto boxes = MedianCut(entries, kMaxVisible);
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        colors.push_back(Average(entries, boxes[b]));
        for (std::size_t i = boxes[b].begin; i < boxes[b].end; ++i) {
            colorOfEntry[i] = static_cast<std::uint8_t>(b);
        }
    }
    return colors;
}

// Appends the colours to the palette, translucent ones first so that the PNG
// transparency chunk stays short; returns each colour's palette index.
std::array<std::uint8_t, 256> AppendPalette(const std::vector<PaletteColor>& colors,
                                            std::vector<PaletteColor>& palette) {
    std::vector<std::uint8_t> order(colors.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<std::uint8_t>(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint8_t a, std::uint8_t b) {
        return (colors[a].a == 255) < (colors[b].a == 255);
    });
    std::array<std::uint8_t, 256> finalIndex{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        finalIndex[order[i]] = static_cast<std::uint8_t>(i + 1);
        palette.push_back(colors[order[i]]);
    }
    return finalIndex;
}

} // namespace

std::vector<IndexedImage> QuantizeParts(const RgbaImage& image, const std::vector<PixelRect>& parts,
                                        ColorStray* worst) {
    std::vector<IndexedImage> out(parts.size());
    std::size_t count = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const PixelRect& r = parts[k];
        out[k].x = image.x + r.left;
        out[k].y = image.y + r.top;
        out[k].width = r.right - r.left;
        out[k].height = r.bottom - r.top;
        out[k].indices.assign(static_cast<std::size_t>(out[k].width) * out[k].height, 0);
        count += out[k].indices.size();
    }
    std::vector<PaletteColor> palette{PaletteColor{}};
    // One pass numbers the distinct colours; the pixels keep their numbers, in 16 bits
    // unless a picture has more colours than that.
    ColorTable table;
    std::vector<std::uint32_t> counts(1, 0);
    std::unique_ptr<std::uint16_t[]> shortNumbers(new std::uint16_t[count]);
    std::unique_ptr<std::uint32_t[]> longNumbers;
    if (!NumberParts(image, parts, table, counts, shortNumbers.get())) {
        shortNumbers.reset();
        table = ColorTable();
        counts.assign(1, 0);
        longNumbers.reset(new std::uint32_t[count]);
        NumberParts(image, parts, table, counts, longNumbers.get());
    }
    if (table.Size() > 0) {
        const std::vector<std::uint32_t> keys = table.KeysByNumber();
        std::vector<Entry> entries;
        entries.reserve(table.Size());
        for (std::uint32_t n = 1; n <= table.Size(); ++n) {
            const PaletteColor c = ColorOfKey(keys[n]);
            entries.push_back({{c.r * c.a, c.g * c.a, c.b * c.a, c.a * 255}, counts[n], n});
        }
        std::vector<std::uint8_t> colorOfEntry;
        const std::vector<PaletteColor> colors = ChooseColors(entries, keys, colorOfEntry);
        const auto finalIndex = AppendPalette(colors, palette);

        std::vector<std::uint8_t> indexOfNumber(table.Size() + 1, 0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            indexOfNumber[entries[i].slot] = finalIndex[colorOfEntry[i]];
        }
        // Every pixel has one of the distinct colours, so their strays are all there are.
        if (worst != nullptr) {
            for (std::uint32_t n = 1; n <= table.Size(); ++n) {
                const PaletteColor c = ColorOfKey(keys[n]);
                const std::uint8_t rgba[4] = {c.r, c.g, c.b, c.a};
                const ColorStray stray = StrayOf(rgba, palette[indexOfNumber[n]]);
                worst->alpha = std::max(worst->alpha, stray.alpha);
                worst->color = std::max(worst->color, stray.color);
            }
        }
        std::size_t offset = 0;
        for (IndexedImage& part : out) {
            if (shortNumbers) {
                MapNumbers(shortNumbers.get() + offset, indexOfNumber, part.indices.data(),
                           part.indices.size());
            } else {
                MapNumbers(longNumbers.get() + offset, indexOfNumber, part.indices.data(),
                           part.indices.size());
            }
            offset += part.indices.size();
        }
    }
    for (IndexedImage& part : out) {
        part.palette = palette;
    }
    return out;
}

IndexedImage QuantizeImage(const RgbaImage& image) {
    return std::move(QuantizeParts(image, {PixelRect{0, 0, image.width, image.height}}).front());
}

} // namespace pelldrin::render
