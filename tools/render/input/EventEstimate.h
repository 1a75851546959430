// The bounds a run keeps to, and the estimate of what libass needs to draw a line.
#pragma once

#include "core/FrameGeometry.h"
#include "core/RenderErrors.h"
#include "core/RunLimits.h"

#include <ass/ass.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin::render {

// A generous estimate of the bytes libass allocates to draw the event at one moment: its
// glyph, outline, shadow and blur bitmaps over the box that its text lines (each glyph
// at most its font size wide, Latin ones less) and drawings (the box of their
// coordinates) fill, at the largest scale, border, shadow and blur that its style and
// override tags (\t included) reach, turned as its angles say (to the diagonal's square
// when \t animates a turn), for the track's script resolution scaled to the frame, plus
// per-character bookkeeping. A \clip is left out: it makes nothing smaller to draw.
std::uint64_t EstimateEventBytes(const ASS_Track* track, const ASS_Event& event,
                                 const FrameGeometry& geometry);

// The share of the memory limit one event's drawing may take (a quarter): the rest is
// libass's caches, the pictures waiting for the encoders, other events showing at the
// same time and the estimate's own error.
std::uint64_t EventMemoryBudget(const RenderLimits& limits);

// The size of libass's bitmap cache for each of `renderers` renderers: together a
// hundred-and-twenty-eighth of the memory limit (8 MB at the default), at most 16 MB, so a
// conversion and a preview draw with the same caches. Real files draw no faster with more:
// animated lines change their bitmaps on every frame.
int LibassCacheMegabytes(const RenderLimits& limits, int renderers = 1);

// Throws LimitError for the first event (named by its line in eventLines, or by its
// number) whose drawing would pass the memory budget, or when the track has more events
// than the event limit.
void CheckTrackWithinLimits(const ASS_Track* track, const std::vector<int>& eventLines,
                            const FrameGeometry& geometry, const RenderLimits& limits,
                            const std::string& path);

// "line 12" or, without a known line, "event 3" (from 1).
std::string EventPlace(const std::vector<int>& eventLines, int index);

} // namespace pelldrin::render
