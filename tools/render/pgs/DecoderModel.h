// The decoder model that a player follows, as the encoder plans with it: buffer limits, rates,
// the time a display set takes to decode, and the input buffer that the stream fills. (The
// stream checker reads the model on its own, so that the two readings meet.)
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
// The input buffer: full at the start, refilled at 16 Mbit/s up to its size.
inline constexpr std::int64_t kInputBufferBytes = 1024 * 1024;
inline constexpr std::int64_t kInputBytesPerSecond = 2000000;
// What a segment takes from the input buffer beyond its payload: its header but the "PG"
// marker.
inline constexpr std::int64_t kSegmentInputOverhead = 11;

// Time to clear or draw this many pixels of the plane, rounded up.
std::int64_t DrawTicks(std::int64_t pixels);
// Time to decode an object of this many pixels, rounded up.
std::int64_t DecodeTicks(std::int64_t pixels);

// What a display set asks of the decoder.
struct SetWork {
    bool epochStart = false;
    std::int64_t planePixels = 0;
    std::vector<std::int64_t> windows; // areas of the epoch's windows
    struct Shown {
        std::size_t window = 0;
        std::int64_t decodedPixels = 0; // of its object when the set defines it, else 0
    };
    std::vector<Shown> shown; // the set's objects in composition order
};

// The plane (at an epoch start) or the windows left without an object are cleared; each
// object's decoding adds to a running time, and its window is drawn once both the draw
// before and the decoding so far are done (two objects in one window: once, after both).
// Never less than drawing every window, plus a tick.
std::int64_t DecodeDuration(const SetWork& work);

// Drawing every window of the epoch: a set with a window segment presents them this long
// after that segment's PTS.
std::int64_t WindowsTicks(const std::vector<std::int64_t>& windows);

// The most a set with windows may decode before its windows begin to be drawn: twice the
// time to clear the plane, the worst case of an epoch start that a decoder is built for.
std::int64_t MaxDecodeLead(std::int64_t planePixels);

// A frame's start in ticks, rounded down so that it is never later than the video frame.
std::int64_t FramePts(std::int64_t frame, std::int64_t rateNum, std::int64_t rateDen);

// The input buffer as segments arrive at their DTS; exact, in bytes times ticks per second.
class InputBudget {
  public:
    // What is left after the segments so far, refilled up to dts (no earlier than the last).
    std::int64_t Available(std::int64_t dts) const;
    // Takes a segment of this payload at dts; false when the buffer would run dry (it is
    // then left empty).
    bool Take(std::int64_t dts, std::size_t payload);
    // The first time from which bytes of input are there, given that nothing is taken before.
    std::int64_t EarliestFor(std::int64_t bytes) const;
    std::int64_t LastDts() const { return lastDts_; }

  private:
    std::int64_t scaled_ = kInputBufferBytes * kClock; // bytes * kClock
    std::int64_t lastDts_ = -1;                        // -1: nothing taken yet
};

} // namespace pelldrin::pgs
