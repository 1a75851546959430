// What libass allocates to draw one line of a subtitle file on its own, against the
// estimate the renderer makes before drawing.
#pragma once

#include "core/FrameGeometry.h"

#include <cstdint>
#include <string>

namespace pelldrin::test {

// The most bytes libass allocates at once to draw event eventIndex (from 0) of the file
// alone at one moment, the largest of samples moments spread over its time, with the
// renderer's own settings. Each moment starts from empty outline and bitmap caches;
// loading the fonts is left out (they are loaded before). -1 where the allocation meter
// is not available.
std::int64_t MeasureEventDrawing(const std::string& subtitlePath, int eventIndex,
                                 const render::FrameGeometry& geometry, int samples = 24);

} // namespace pelldrin::test
