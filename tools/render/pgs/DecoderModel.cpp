#include "pgs/DecoderModel.h"

namespace pelldrin::pgs {

namespace {

std::int64_t CeilTicks(std::int64_t pixels, std::int64_t rate) {
    return (pixels * kClock + rate - 1) / rate;
}

} // namespace

std::int64_t DrawTicks(std::int64_t pixels) {
    return CeilTicks(pixels, kDrawRate);
}

std::int64_t DecodeTicks(std::int64_t pixels) {
    return CeilTicks(pixels, kDecodeRate);
}

std::int64_t DecodeDuration(const SetWork& work) {
    std::int64_t draw = 0;
    for (const std::int64_t area : work.drawnWindows) {
        draw += DrawTicks(area);
    }
    if (work.paletteOnly) {
        return draw;
    }
    std::int64_t clearPixels = work.planePixels;
    if (!work.epochStart) {
        clearPixels = 0;
        for (const std::int64_t area : work.emptyWindows) {
            clearPixels += area;
        }
    }
    std::int64_t decode = 0;
    for (const std::int64_t area : work.decodedObjects) {
        decode += DecodeTicks(area);
    }
    const std::int64_t clear = DrawTicks(clearPixels);
    return (clear > decode ? clear : decode) + draw;
}

std::int64_t FramePts(std::int64_t frame, std::int64_t rateNum, std::int64_t rateDen) {
    return frame * kClock * rateDen / rateNum;
}

} // namespace pelldrin::pgs
