// Finds the frames whose picture changes and turns them into shown images.
#pragma once

#include "core/FrameGeometry.h"
#include "core/RgbaImage.h"
#include "input/LibassSession.h"
#include "input/SubtitleTrack.h"

#include <ass/ass.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelldrin::render {

// A run of frames [begin, end) in which the same events show; animated when one
// of them can change from frame to frame.
struct Span {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    bool animated = false;
};

// The spans of the clip (frames [0, frames)) in which at least one event shows.
std::vector<Span> PlanSpans(const std::vector<EventTiming>& events, const FrameClock& clock,
                            std::int64_t frames);

// Bounds on a scan; a zero leaves that bound off. The scan throws LimitError, naming
// what shows through describe(ms) (the file and the lines of the events at that time).
struct ScanLimits {
    double frameSeconds = 0; // the time one frame may take to draw
    std::int64_t events = 0; // the pictures the scan may give
    std::function<std::string(std::int64_t ms)> describe;
};

// Draws only the frames where something can change and reports one ShownImage per
// maximal run of frames with the same non-empty picture, in time order. With crop
// off, pictures fill the whole frame. progress(framesDone) is called as it goes.
void ScanFrames(ASS_Renderer* renderer, ASS_Track* track, const FrameGeometry& geometry,
                const FrameClock& clock, std::int64_t frames, bool crop,
                const std::function<void(ShownImage&&)>& onImage,
                const std::function<void(std::int64_t)>& progress, const ScanLimits& limits = {});

// Makes the libass session, its renderer started, that drawing thread `index` (from 0)
// draws with, on that thread: libass objects may be used by one thread at a time only.
using FrameSourceMaker = std::function<std::shared_ptr<LibassSession>(int index)>;

// ScanFrames with the frames shared out in pieces among `threads` drawing threads; the
// pictures, their runs and any limit error are the same as with one thread. timings are
// those of the track every session draws.
void ScanFramesParallel(const FrameSourceMaker& makeSource, int threads,
                        const std::vector<EventTiming>& timings, const FrameGeometry& geometry,
                        const FrameClock& clock, std::int64_t frames, bool crop,
                        const std::function<void(ShownImage&&)>& onImage,
                        const std::function<void(std::int64_t)>& progress,
                        const ScanLimits& limits = {});

} // namespace pelldrin::render
