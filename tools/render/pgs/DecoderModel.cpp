#include "pgs/DecoderModel.h"

#include <algorithm>
#include <limits>

namespace pelldrin::pgs {

namespace {

std::int64_t CeilTicks(std::int64_t pixels, std::int64_t rate) {
    return (pixels * kClock + rate - 1) / rate;
}

constexpr std::int64_t kInputCap = kInputBufferBytes * kClock;

} // namespace

std::int64_t DrawTicks(std::int64_t pixels) {
    return CeilTicks(pixels, kDrawRate);
}

std::int64_t DecodeTicks(std::int64_t pixels) {
    return CeilTicks(pixels, kDecodeRate);
}

std::int64_t WindowsTicks(const std::vector<std::int64_t>& windows) {
    std::int64_t ticks = 0;
    for (const std::int64_t area : windows) {
        ticks += DrawTicks(area);
    }
    return ticks;
}

std::int64_t MaxDecodeLead(std::int64_t planePixels) {
    return 2 * DrawTicks(planePixels);
}

std::int64_t DecodeDuration(const SetWork& work) {
    std::int64_t duration = 0;
    if (work.epochStart) {
        duration = DrawTicks(work.planePixels);
    } else {
        for (std::size_t i = 0; i < work.windows.size(); ++i) {
            const bool empty = std::none_of(work.shown.begin(), work.shown.end(),
                                            [i](const SetWork::Shown& s) { return s.window == i; });
            duration += empty ? DrawTicks(work.windows[i]) : 0;
        }
    }
    std::int64_t decoded = 0;
    for (std::size_t k = 0; k < work.shown.size(); ++k) {
        const SetWork::Shown& s = work.shown[k];
        decoded += DecodeTicks(s.decodedPixels);
        if (k + 1 < work.shown.size() && work.shown[k + 1].window == s.window) {
            continue;
        }
        const std::int64_t area = s.window < work.windows.size() ? work.windows[s.window] : 0;
        duration = std::max(duration, decoded) + DrawTicks(area);
    }
    return std::max(duration, WindowsTicks(work.windows) + 1);
}

std::int64_t FramePts(std::int64_t frame, std::int64_t rateNum, std::int64_t rateDen) {
    return frame * kClock * rateDen / rateNum;
}

std::int64_t InputBudget::Available(std::int64_t dts) const {
    if (lastDts_ < 0) {
        return kInputBufferBytes;
    }
    const std::int64_t refill = std::max<std::int64_t>(0, dts - lastDts_) * kInputBytesPerSecond;
    return std::min(kInputCap, scaled_ + std::min(refill, kInputCap)) / kClock;
}

bool InputBudget::Take(std::int64_t dts, std::size_t payload) {
    if (lastDts_ >= 0 && dts > lastDts_) {
        scaled_ = std::min(kInputCap,
                           scaled_ + std::min((dts - lastDts_) * kInputBytesPerSecond, kInputCap));
    }
    lastDts_ = std::max(lastDts_, dts);
    scaled_ -= (static_cast<std::int64_t>(payload) + kSegmentInputOverhead) * kClock;
    if (scaled_ < 0) {
        scaled_ = 0;
        return false;
    }
    return true;
}

std::int64_t InputBudget::EarliestFor(std::int64_t bytes) const {
    if (bytes > kInputBufferBytes) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (lastDts_ < 0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    const std::int64_t missing = bytes * kClock - scaled_;
    if (missing <= 0) {
        return lastDts_;
    }
    return lastDts_ + (missing + kInputBytesPerSecond - 1) / kInputBytesPerSecond;
}

} // namespace pelldrin::pgs
