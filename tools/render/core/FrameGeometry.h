// The video frame the subtitles are drawn on, and the time each frame shows.
#pragma once

#include <cstdint>

namespace pelldrin::render {

// How libass draws into the output frame.
struct FrameGeometry {
    int width = 1920; // the output frame
    int height = 1080;
    int renderWidth = 1920; // the picture before an anamorphic squeeze to width
    int renderHeight = 1080;
};

// Frame n is shown at exactly n * den / num seconds. libass takes whole
// milliseconds; frame n is drawn at the floor of its time, which shows exactly the
// events whose whole-millisecond span holds the frame's exact time.
struct FrameClock {
    std::int64_t num = 24;
    std::int64_t den = 1;

    std::int64_t MsOfFrame(std::int64_t frame) const { return frame * 1000 * den / num; }
    // The first frame whose time is at or after ms.
    std::int64_t FirstFrameAtOrAfter(std::int64_t ms) const;
};

} // namespace pelldrin::render
