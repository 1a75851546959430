#include "support/LineMemory.h"

#include "core/RunLimits.h"
#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "support/MallocMeter.h"

#include <algorithm>

namespace pelldrin::test {

std::int64_t MeasureEventDrawing(const std::string& subtitlePath, int eventIndex,
                                 const render::FrameGeometry& geometry, int samples) {
    if (!MallocMeterAvailable()) {
        return -1;
    }
    render::LibassSession session(subtitlePath);
    ASS_Track* t = session.Track();
    for (int i = 0; i < t->n_events; ++i) {
        if (i != eventIndex) {
            t->events[i].Duration = 0; // never shown
        }
    }
    ASS_Renderer* renderer =
        session.StartRenderer(geometry, render::LibassCacheMegabytes(render::RenderLimits{}));
    const ASS_Event& event = t->events[eventIndex];
    const auto draw = [&](int k) {
        int changed = 0;
        ass_render_frame(renderer, t, event.Start + event.Duration * k / samples, &changed);
    };
    for (int k = 0; k < samples; ++k) {
        draw(k); // loads the fonts
    }
    std::int64_t most = 0;
    for (int k = 0; k < samples; ++k) {
        // A new frame size empties the outline and bitmap caches but keeps the fonts, so
        // each moment is drawn from nothing, as the first frame of a line is.
        ass_set_frame_size(renderer, geometry.width + 2, geometry.height);
        ass_set_frame_size(renderer, geometry.width, geometry.height);
        const std::int64_t before = MallocResetPeak();
        draw(k);
        most = std::max(most, MallocPeakBytes() - before);
    }
    return most;
}

} // namespace pelldrin::test
