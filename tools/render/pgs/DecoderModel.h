// The decoder model that a player follows: buffer limits, rates, and the time a display set
// takes to decode. The encoder plans with it and the stream checker judges with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelldrin::pgs {

inline constexpr std::int64_t kClock = 90000;           // ticks per second
inline constexpr std::int64_t kDecodeRate = 16000000;   // object pixels per second
inline constexpr std::int64_t kDrawRate = 32000000;     // plane and window pixels per second
inline constexpr std::int64_t kMaxDecodeAhead = kClock; // PTS - DTS stays below this
inline constexpr std::int64_t kMaxTimestamp = 0xFFFFFFFFll;
inline constexpr int kMaxSetObjects = 2;
inline constexpr int kMaxWindows = 2;
inline constexpr int kMaxObjectIds = 64;                           // per epoch
inline constexpr int kMaxPaletteIds = 8;                           // per epoch
inline constexpr std::size_t kObjectBufferBytes = 4 * 1024 * 1024; // decoded objects of an epoch
inline constexpr std::size_t kSetBufferBytes = 1024 * 1024;        // segments of one display set

// Time to clear or draw this many pixels of the plane, rounded up.
std::int64_t DrawTicks(std::int64_t pixels);
// Time to decode an object of this many pixels, rounded up.
std::int64_t DecodeTicks(std::int64_t pixels);

// What a display set asks of the decoder.
struct SetWork {
    bool epochStart = false;
    bool paletteOnly = false;
    std::int64_t planePixels = 0;
    std::vector<std::int64_t> emptyWindows;   // window areas without an object in this set
    std::vector<std::int64_t> drawnWindows;   // window areas that hold an object
    std::vector<std::int64_t> decodedObjects; // areas of the objects defined in this set
};

// max(plane or window clearing, object decoding) + window drawing; a palette-only set only
// redraws its windows.
std::int64_t DecodeDuration(const SetWork& work);

// A frame's start in ticks, rounded down so that it is never later than the video frame.
std::int64_t FramePts(std::int64_t frame, std::int64_t rateNum, std::int64_t rateDen);

} // namespace pelldrin::pgs
