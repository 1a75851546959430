// The encoder's working form of an event: its objects as written palette indices.
#pragma once

#include "pgs/PgsPalette.h"

#include <cstdint>
#include <vector>

namespace pelldrin::pgs {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    std::int64_t Area() const { return std::int64_t{w} * h; }
    bool Overlaps(const Rect& o) const {
        return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h;
    }
    bool Contains(const Rect& o) const {
        return o.x >= x && o.y >= y && o.x + o.w <= x + w && o.y + o.h <= y + h;
    }
    bool operator==(const Rect&) const = default;
};

// The smallest rectangle holding both.
Rect Union(const Rect& a, const Rect& b);

// An object: area.w*area.h written indices, row-major; index 0 is transparent.
struct PictureObject {
    Rect area;
    std::vector<std::uint8_t> indices;
};

struct Picture {
    std::int64_t inFrame = 0, outFrame = 0;
    std::int64_t eventNumber = 0; // for messages
    bool forced = false;
    std::vector<YCbCrA> palette;        // by written index; palette[0] is transparent
    std::vector<PictureObject> objects; // 1 or 2, never overlapping
};

} // namespace pelldrin::pgs
