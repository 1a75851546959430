#include "encoding/Palette.h"

#include "base/Simd.h"
#include "base/ThreadCache.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <queue>

namespace pelldrin::render {

namespace {

// k-means passes after the variance cut, when its boxes' mean squared distance (premultiplied,
// alpha times 255) passes a level squared.
constexpr int kRefinePasses = 1;
constexpr double kRefineError = 255.0 * 255.0;

// Open-addressing table from packed RGBA to a dense colour number (from 1). A slot holds the
// number and the key together, so that a lookup reads one place; it starts at the size the
// last picture on this thread needed, since pictures one after another have about as many
// colours, and grows when a quarter full: a lookup then mostly reads one slot (at half full,
// numbering the opening's pictures took a tenth longer). A table past a million slots grows
// only when half full, so that a picture of millions of colours does not take twice the memory.
class ColorTable {
  public:
    ColorTable() {
        std::size_t capacity = kLeastCapacity;
        while (Crowded(lastSize_, capacity)) {
            capacity *= 2;
        }
        Resize(capacity);
    }
    ~ColorTable() { lastSize_ = size_; }
    ColorTable(const ColorTable&) = delete;
    ColorTable& operator=(const ColorTable&) = delete;

    // The number of key, given the next free number when new.
    std::uint32_t Find(std::uint32_t key) {
        std::size_t slot = Hash(key);
        for (std::uint64_t held; (held = slots_[slot]) != 0; slot = (slot + 1) & mask_) {
            if (static_cast<std::uint32_t>(held) == key) {
                return static_cast<std::uint32_t>(held >> 32);
            }
        }
        keys_.push_back(key);
        slots_[slot] = std::uint64_t{++size_} << 32 | key;
        if (Crowded(size_, slots_.size())) {
            Resize(slots_.size() * 2);
        }
        return size_;
    }

    std::uint32_t Size() const { return size_; }

    // The key of every number, index 0 unused.
    const std::vector<std::uint32_t>& KeysByNumber() const { return keys_; }

  private:
    static constexpr std::size_t kLeastCapacity = 1024;
    static constexpr std::size_t kRoomyCapacity = std::size_t{1} << 20;

    static bool Crowded(std::size_t size, std::size_t capacity) {
        return size * (capacity <= kRoomyCapacity ? 4 : 2) > capacity;
    }

    // Multiplicative hashing: the high bits of the product mix every channel.
    std::size_t Hash(std::uint32_t key) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >>
                                        shift_);
    }
    // Empties the slots into a capacity of their own and puts every key back.
    void Resize(std::size_t capacity) {
        slots_.assign(capacity, 0);
        mask_ = capacity - 1;
        shift_ = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1) {
            --shift_;
        }
        for (std::uint32_t number = 1; number < keys_.size(); ++number) {
            std::size_t slot = Hash(keys_[number]);
            while (slots_[slot] != 0) {
                slot = (slot + 1) & mask_;
            }
            slots_[slot] = std::uint64_t{number} << 32 | keys_[number];
        }
    }

    static thread_local std::size_t lastSize_;
    std::vector<std::uint64_t> slots_;   // number << 32 | key; 0: free (a number is never 0)
    std::vector<std::uint32_t> keys_{0}; // by number
    std::size_t mask_ = 0;
    int shift_ = 64;
    std::uint32_t size_ = 0;
};

thread_local std::size_t ColorTable::lastSize_ = 0;

inline std::uint32_t Pack(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A distinct colour with its weight, in alpha-weighted coordinates.
struct Entry {
    std::array<std::uint16_t, 4> v; // premultiplied r, g, b, and a (alpha times 255): at most 65025
    std::uint32_t count;
    std::uint32_t slot; // the colour's number
};

// Weighted sums over a set of entries: enough for their mean and their squared error. Exact
// in integers: a picture's pixels times 65025 squared stay far below 2^63.
struct Moments {
    std::int64_t w = 0;
    std::array<std::int64_t, 4> s{}, sq{}; // weighted sums of each channel and of its square

    void Add(const Entry& e) {
        w += e.count;
#ifdef PELLDRIN_SSE2
        // Two channels a register, as products of unsigned 32-bit halves, exact in 64 bits: a
        // value is at most 65025, so even its square fits 32 bits.
        const __m128i v = _mm_unpacklo_epi16(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(e.v.data())), _mm_setzero_si128());
        const __m128i vOdd = _mm_srli_epi64(v, 32);
        const __m128i count = _mm_set1_epi32(static_cast<int>(e.count));
        const __m128i sEven = _mm_mul_epu32(v, count), sOdd = _mm_mul_epu32(vOdd, count);
        const __m128i qEven = _mm_mul_epu32(_mm_mul_epu32(v, v), count);
        const __m128i qOdd = _mm_mul_epu32(_mm_mul_epu32(vOdd, vOdd), count);
        AddTwo(&s[0], _mm_unpacklo_epi64(sEven, sOdd));
        AddTwo(&s[2], _mm_unpackhi_epi64(sEven, sOdd));
        AddTwo(&sq[0], _mm_unpacklo_epi64(qEven, qOdd));
        AddTwo(&sq[2], _mm_unpackhi_epi64(qEven, qOdd));
#else
        for (int c = 0; c < 4; ++c) {
            const std::int64_t wv = std::int64_t{e.count} * e.v[c];
            s[c] += wv;
            sq[c] += wv * e.v[c];
        }
#endif
    }
    // The weighted squared distance of the entries from their mean along one channel.
    double Spread(int c) const {
        return w > 0 ? double(sq[c]) - double(s[c]) * double(s[c]) / double(w) : 0;
    }
    double Error() const {
        return Spread(0) + Spread(1) + Spread(2) + Spread(3);
    }
    // What the squared error falls short of the sum of squares: a split keeps the error least
    // where the two sides' shortfalls add up most.
    static double Shortfall(std::int64_t w, const std::array<std::int64_t, 4>& s) {
        const double sum = double(s[0]) * double(s[0]) + double(s[1]) * double(s[1]) +
                           double(s[2]) * double(s[2]) + double(s[3]) * double(s[3]);
        return w > 0 ? sum / double(w) : 0;
    }
    Moments& operator+=(const Moments& o) {
        w += o.w;
        for (int c = 0; c < 4; ++c) {
            s[c] += o.s[c];
            sq[c] += o.sq[c];
        }
        return *this;
    }
#ifdef PELLDRIN_SSE2
    static void AddTwo(std::int64_t* to, __m128i two) {
        __m128i* p = reinterpret_cast<__m128i*>(to);
        _mm_storeu_si128(p, _mm_add_epi64(_mm_loadu_si128(p), two));
    }
#endif
    Moments operator-(const Moments& o) const {
        Moments m{w - o.w, s, sq};
        for (int c = 0; c < 4; ++c) {
            m.s[c] -= o.s[c];
            m.sq[c] -= o.sq[c];
        }
        return m;
    }
};

// The second buffer a thread parts boxes' entries into, kept from one picture to the next.
struct PartedEntries {
    std::vector<Entry> entries;
};

struct Box {
    std::size_t begin, end;
    Moments moments;
    double error = 0;   // moments.Error(), kept for the queue
    bool spare = false; // its entries are in the spare buffer
};

Moments MomentsOf(const std::vector<Entry>& entries, std::size_t begin, std::size_t end) {
    Moments m;
    for (std::size_t i = begin; i < end; ++i) {
        m.Add(entries[i]);
    }
    return m;
}

// Splits the box along the axis where its entries spread most, at the place that leaves the
// least squared error on the two sides; false when its entries are all alike. The entries are
// counted into at most 256 steps of the axis (exact for a box narrower than that), the cut falls
// between steps, and the entries are then parted around it into the same places of `to`.
bool SplitBox(const Entry* from, Entry* to, const Box& box, Box& low, Box& high) {
    const Moments& m = box.moments;
    int axis = 0;
    for (int c = 1; c < 4; ++c) {
        axis = m.Spread(c) > m.Spread(axis) ? c : axis;
    }
    int lo = from[box.begin].v[axis], hi = lo;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        lo = std::min<int>(lo, from[i].v[axis]);
        hi = std::max<int>(hi, from[i].v[axis]);
    }
    if (lo == hi) {
        return false;
    }
    // About two steps an entry: a small box is split in a few steps.
    const int stepCount = static_cast<int>(std::min<std::size_t>(256, 2 * (box.end - box.begin)));
    int shift = 0;
    while (((hi - lo) >> shift) >= stepCount) {
        ++shift;
    }
    const int last = (hi - lo) >> shift;
    // The steps start out empty and are emptied again as they are read; only those that
    // hold entries are read.
    thread_local std::array<Moments, 256> steps;
    std::array<std::uint64_t, 4> held{};
    for (std::size_t i = box.begin; i < box.end; ++i) {
        const int step = (from[i].v[axis] - lo) >> shift;
        steps[step].Add(from[i]);
        held[step >> 6] |= std::uint64_t{1} << (step & 63);
    }
    // The last step holds hi, so any cut below it leaves entries on both sides.
    Moments below;
    double best = -1;
    int cutStep = 0;
    for (int word = 0; word < 4; ++word) {
        for (std::uint64_t bits = held[word]; bits != 0; bits &= bits - 1) {
            const int b = word * 64 + std::countr_zero(bits);
            below += steps[b];
            steps[b] = Moments{};
            if (b == last) {
                continue;
            }
            std::array<std::int64_t, 4> above;
            for (int c = 0; c < 4; ++c) {
                above[c] = m.s[c] - below.s[c];
            }
            const double shortfall =
                Moments::Shortfall(below.w, below.s) + Moments::Shortfall(m.w - below.w, above);
            if (shortfall > best) {
                best = shortfall;
                cutStep = b;
                low.moments = below;
            }
        }
    }
    // Each entry is written to the next place of both sides, and only its own side's count
    // moves on: no branch, for which side an entry goes to is as good as random. The other
    // write lands between the sides, where a later entry takes its place. The order within a
    // side does not matter.
    Entry* const out = to + box.begin;
    std::size_t lowCount = 0, highStart = box.end - box.begin;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        const Entry e = from[i];
        const std::size_t isLow = ((e.v[axis] - lo) >> shift) <= cutStep;
        out[lowCount] = e;
        out[highStart - 1] = e;
        lowCount += isLow;
        highStart -= 1 - isLow;
    }
    low.begin = box.begin;
    low.end = box.begin + lowCount;
    low.error = low.moments.Error();
    high = {low.end, box.end, m - low.moments};
    high.error = high.moments.Error();
    return true;
}

// Greedy variance cut: splits the box with the most squared error until there are `colors`
// boxes or none can be split. A split parts its box's entries into a second buffer and back
// again at the next, so each box ends in one of the two; they come back to entries at the end.
std::vector<Box> VarianceCut(std::vector<Entry>& entries, int colors) {
    std::vector<Box> boxes{{0, entries.size(), MomentsOf(entries, 0, entries.size())}};
    boxes[0].error = boxes[0].moments.Error();
    std::vector<Entry>& spare = ThreadCache<PartedEntries>().entries;
    spare.resize(std::max(spare.size(), entries.size()));
    Entry* const buffers[2] = {entries.data(), spare.data()};
    // Among equals, the first box in the list goes first, so the result does not depend on
    // the heap's order.
    const auto before = [&](std::size_t a, std::size_t b) {
        const double ea = boxes[a].error, eb = boxes[b].error;
        return ea < eb || (ea == eb && a > b);
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(before)> next(before);
    next.push(0);
    while (static_cast<int>(boxes.size()) < colors && !next.empty()) {
        const std::size_t worst = next.top();
        next.pop();
        if (boxes[worst].error <= 0) {
            break;
        }
        const int in = boxes[worst].spare ? 1 : 0;
        Box low, high;
        if (!SplitBox(buffers[in], buffers[1 - in], boxes[worst], low, high)) {
            continue;
        }
        low.spare = high.spare = in == 0;
        boxes[worst] = low;
        boxes.push_back(high);
        next.push(worst);
        next.push(boxes.size() - 1);
    }
    for (const Box& box : boxes) {
        if (box.spare) {
            std::copy(spare.begin() + static_cast<std::ptrdiff_t>(box.begin),
                      spare.begin() + static_cast<std::ptrdiff_t>(box.end),
                      entries.begin() + static_cast<std::ptrdiff_t>(box.begin));
        }
    }
    return boxes;
}

double Distance(const std::array<double, 4>& a, const std::array<double, 4>& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
           (a[2] - b[2]) * (a[2] - b[2]) + (a[3] - b[3]) * (a[3] - b[3]);
}

// Centres in premultiplied space, and for each entry the nearest one. An entry within half the
// distance from its centre to the next centre keeps it; otherwise the centres are searched in
// the order of their places along the direction they spread most, outwards from the entry's
// place, stopping where that place alone is farther than the best so far, so an entry looks at
// a few neighbours rather than at every centre.
class NearestCentre {
  public:
    explicit NearestCentre(const std::vector<std::array<double, 4>>& centres) : centres_(centres) {
        direction_ = Spread(centres);
        keys_.resize(centres.size());
        order_.resize(centres.size());
        std::vector<double> along(centres.size());
        for (std::size_t i = 0; i < centres.size(); ++i) {
            along[i] = Along(centres[i][0], centres[i][1], centres[i][2], centres[i][3]);
            order_[i] = static_cast<std::uint32_t>(i);
        }
        std::sort(order_.begin(), order_.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return along[a] < along[b]; });
        placeOf_.resize(centres.size());
        for (std::size_t i = 0; i < order_.size(); ++i) {
            keys_[i] = along[order_[i]];
            placeOf_[order_[i]] = static_cast<std::uint32_t>(i);
        }
        // A quarter of the squared distance to the nearest other centre, found by walking
        // the order outwards until the places alone are farther.
        keep_.assign(centres.size(), std::numeric_limits<double>::max());
        for (std::size_t i = 0; i < order_.size(); ++i) {
            const std::array<double, 4>& a = centres[order_[i]];
            double nearest = std::numeric_limits<double>::max();
            for (std::size_t j = i + 1; j < order_.size(); ++j) {
                if (Apart(keys_[j] - keys_[i], nearest)) {
                    break;
                }
                nearest = std::min(nearest, Distance(a, centres[order_[j]]));
            }
            for (std::size_t j = i; j-- > 0;) {
                if (Apart(keys_[i] - keys_[j], nearest)) {
                    break;
                }
                nearest = std::min(nearest, Distance(a, centres[order_[j]]));
            }
            keep_[order_[i]] = nearest / 4;
        }
    }

    std::uint32_t Find(const Entry& e, std::uint32_t guess) const {
        const double v0 = e.v[0], v1 = e.v[1], v2 = e.v[2], v3 = e.v[3];
        const auto distance = [&](std::uint32_t c) {
            const std::array<double, 4>& m = centres_[c];
            return (v0 - m[0]) * (v0 - m[0]) + (v1 - m[1]) * (v1 - m[1]) +
                   (v2 - m[2]) * (v2 - m[2]) + (v3 - m[3]) * (v3 - m[3]);
        };
        std::uint32_t best = guess;
        double bestDistance = distance(guess);
        if (bestDistance <= keep_[guess]) {
            return guess;
        }
        // The first place not before the entry's, walked to from its centre's (near by).
        const double key = Along(v0, v1, v2, v3);
        std::size_t at = placeOf_[guess];
        while (at > 0 && keys_[at - 1] >= key) {
            --at;
        }
        while (at < keys_.size() && keys_[at] < key) {
            ++at;
        }
        bool up = true, down = true;
        for (std::size_t step = 0; up || down; ++step) {
            if (up) {
                const std::size_t i = at + step;
                up = i < keys_.size() && !Apart(keys_[i] - key, bestDistance);
                if (up) {
                    const double d = distance(order_[i]);
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = order_[i];
                    }
                }
            }
            if (down) {
                down = step < at && !Apart(key - keys_[at - step - 1], bestDistance);
                if (down) {
                    const std::uint32_t c = order_[at - step - 1];
                    const double d = distance(c);
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = c;
                    }
                }
            }
        }
        return best;
    }

  private:
    // The unit direction along which the centres spread most: the largest eigenvector of
    // their scatter, by power iteration from the widest channel.
    static std::array<double, 4> Spread(const std::vector<std::array<double, 4>>& centres) {
        std::array<double, 4> mean{}, lo, hi;
        lo.fill(std::numeric_limits<double>::max());
        hi.fill(std::numeric_limits<double>::lowest());
        for (const auto& c : centres) {
            for (int k = 0; k < 4; ++k) {
                mean[k] += c[k] / double(centres.size());
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
        }
        std::array<double, 4> u{};
        int widest = 0;
        for (int k = 1; k < 4; ++k) {
            widest = hi[k] - lo[k] > hi[widest] - lo[widest] ? k : widest;
        }
        u[widest] = 1;
        double scatter[4][4] = {};
        for (const auto& c : centres) {
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b < 4; ++b) {
                    scatter[a][b] += (c[a] - mean[a]) * (c[b] - mean[b]);
                }
            }
        }
        for (int round = 0; round < 16; ++round) {
            std::array<double, 4> next{};
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b < 4; ++b) {
                    next[a] += scatter[a][b] * u[b];
                }
            }
            const double length = std::sqrt(next[0] * next[0] + next[1] * next[1] +
                                            next[2] * next[2] + next[3] * next[3]);
            if (!(length > 0)) {
                break;
            }
            for (int a = 0; a < 4; ++a) {
                u[a] = next[a] / length;
            }
        }
        return u;
    }
    double Along(double v0, double v1, double v2, double v3) const {
        return direction_[0] * v0 + direction_[1] * v1 + direction_[2] * v2 + direction_[3] * v3;
    }
    // Whether two points whose places are gap apart are at least distance (squared) apart.
    // The places are rounded, and the direction's length may be off 1 by as much: the gap
    // is taken a little short, so that no nearer centre is passed by.
    static bool Apart(double gap, double distance) {
        const double shorter = std::abs(gap) * (1 - 1e-9) - 1e-6;
        return shorter > 0 && shorter * shorter >= distance;
    }

    const std::vector<std::array<double, 4>>& centres_;
    std::array<double, 4> direction_{};
    std::vector<std::uint32_t> order_, placeOf_;
    std::vector<double> keys_, keep_;
};

// Moves each centre to the mean of the entries nearest to it, and each entry to its nearest
// centre, a few times (k-means passes); a centre that keeps no entry goes.
void RefineCentres(const std::vector<Entry>& entries, std::vector<Moments>& groups,
                   std::vector<std::uint32_t>& groupOf) {
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        std::vector<std::array<double, 4>> centres;
        std::vector<std::uint32_t> renumber(groups.size(), 0);
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (groups[g].w > 0) {
                renumber[g] = static_cast<std::uint32_t>(centres.size());
                const double w = double(groups[g].w);
                centres.push_back({double(groups[g].s[0]) / w, double(groups[g].s[1]) / w,
                                   double(groups[g].s[2]) / w, double(groups[g].s[3]) / w});
            }
        }
        const NearestCentre nearest(centres);
        std::vector<Moments> moved(centres.size());
        bool changed = false;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::uint32_t was = renumber[groupOf[i]];
            const std::uint32_t now = nearest.Find(entries[i], was);
            changed = changed || now != was || centres.size() != groups.size();
            groupOf[i] = now;
            moved[now].Add(entries[i]);
        }
        groups = std::move(moved);
        if (!changed) {
            break;
        }
    }
    // The last pass may have emptied a centre.
    std::vector<std::uint32_t> renumber(groups.size(), 0);
    std::size_t kept = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].w > 0) {
            renumber[g] = static_cast<std::uint32_t>(kept);
            groups[kept++] = groups[g];
        }
    }
    groups.resize(kept);
    for (std::uint32_t& g : groupOf) {
        g = renumber[g];
    }
}

PaletteColor ColorOfMoments(const Moments& m) {
    // v[3] is alpha * 255 and v[0..2] colour * alpha. The colour is taken against the alpha as
    // written, so that colour times alpha comes back as the mean even where rounding moved
    // a faint alpha by a good part of itself.
    const auto channel = [](double v, double low) {
        return static_cast<std::uint8_t>(std::clamp(v + 0.5, low, 255.0));
    };
    PaletteColor color;
    color.a = channel(double(m.s[3]) / double(m.w) / 255.0, 1.0);
    const double alpha = double(m.w) * color.a;
    color.r = channel(double(m.s[0]) / alpha, 0.0);
    color.g = channel(double(m.s[1]) / alpha, 0.0);
    color.b = channel(double(m.s[2]) / alpha, 0.0);
    return color;
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

// At most maxColors colours for the entries (each colour exactly when they fit);
// colorOfEntry gets the colour that stands for each entry.
std::vector<PaletteColor> ChooseColors(std::vector<Entry>& entries,
                                       const std::vector<std::uint32_t>& keys, int maxColors,
                                       std::vector<std::uint8_t>& colorOfEntry) {
    std::vector<PaletteColor> colors;
    colorOfEntry.assign(entries.size(), 0);
    if (entries.size() <= static_cast<std::size_t>(maxColors)) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            colors.push_back(ColorOfKey(keys[entries[i].slot]));
            colorOfEntry[i] = static_cast<std::uint8_t>(i);
        }
        return colors;
    }
    const std::vector<Box> boxes = VarianceCut(entries, maxColors);
    std::vector<Moments> groups;
    std::vector<std::uint32_t> groupOf(entries.size());
    double error = 0, weight = 0;
    for (const Box& box : boxes) {
        for (std::size_t i = box.begin; i < box.end; ++i) {
            groupOf[i] = static_cast<std::uint32_t>(groups.size());
        }
        groups.push_back(box.moments);
        error += box.error;
        weight += double(box.moments.w);
    }
    // Boxes that already hold their colours within a level (most anti-aliased text) are
    // left as they are.
    if (error > kRefineError * weight) {
        RefineCentres(entries, groups, groupOf);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        colorOfEntry[i] = static_cast<std::uint8_t>(groupOf[i]);
    }
    for (const Moments& m : groups) {
        colors.push_back(ColorOfMoments(m));
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
                                        QuantizeStray* stray, int maxColors) {
    maxColors = std::clamp(maxColors, 1, kPngVisibleColors);
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
    std::optional<ColorTable> table(std::in_place);
    std::vector<std::uint32_t> counts(1, 0);
    std::unique_ptr<std::uint16_t[]> shortNumbers(new std::uint16_t[count]);
    std::unique_ptr<std::uint32_t[]> longNumbers;
    if (!NumberParts(image, parts, *table, counts, shortNumbers.get())) {
        shortNumbers.reset();
        table.emplace();
        counts.assign(1, 0);
        longNumbers.reset(new std::uint32_t[count]);
        NumberParts(image, parts, *table, counts, longNumbers.get());
    }
    if (table->Size() > 0) {
        const std::vector<std::uint32_t>& keys = table->KeysByNumber();
        std::vector<Entry> entries;
        entries.reserve(table->Size());
        for (std::uint32_t n = 1; n <= table->Size(); ++n) {
            const PaletteColor c = ColorOfKey(keys[n]);
            const auto times = [](int u, int v) { return static_cast<std::uint16_t>(u * v); };
            entries.push_back(
                {{times(c.r, c.a), times(c.g, c.a), times(c.b, c.a), times(c.a, 255)}, counts[n], n});
        }
        std::vector<std::uint8_t> colorOfEntry;
        const std::vector<PaletteColor> colors =
            ChooseColors(entries, keys, maxColors, colorOfEntry);
        const auto finalIndex = AppendPalette(colors, palette);

        std::vector<std::uint8_t> indexOfNumber(table->Size() + 1, 0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            indexOfNumber[entries[i].slot] = finalIndex[colorOfEntry[i]];
        }
        // Every pixel has one of the distinct colours, so their strays are all there are.
        if (stray != nullptr) {
            double sum = 0, pixels = 0;
            for (std::uint32_t n = 1; n <= table->Size(); ++n) {
                const PaletteColor c = ColorOfKey(keys[n]);
                const std::uint8_t rgba[4] = {c.r, c.g, c.b, c.a};
                const PaletteColor& to = palette[indexOfNumber[n]];
                const ColorStray one = StrayOf(rgba, to);
                stray->worst.alpha = std::max(stray->worst.alpha, one.alpha);
                stray->worst.color = std::max(stray->worst.color, one.color);
                sum += counts[n] * PixelError(rgba, to);
                pixels += counts[n];
            }
            stray->mean = sum / pixels;
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
