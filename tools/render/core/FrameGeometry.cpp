#include "core/FrameGeometry.h"

#include <algorithm>

namespace pelldrin::render {

namespace {

// Event times beyond this (about 31 years) are clamped, so the arithmetic cannot overflow.
constexpr std::int64_t kMaxMs = 1'000'000'000'000;

} // namespace

std::int64_t FrameClock::FirstFrameAtOrAfter(std::int64_t ms) const {
    if (ms <= 0) {
        return 0;
    }
    ms = std::min(ms, kMaxMs);
    const std::int64_t scale = 1000 * den;
    return (ms * num + scale - 1) / scale;
}

} // namespace pelldrin::render
