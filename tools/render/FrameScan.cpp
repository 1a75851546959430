#include "render/FrameScan.h"

#include "render/Composite.h"
#include "render/RenderLimits.h"
#include "render/SrtConvert.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace pelldrin::render {

namespace {

// After this many frames in a row that each gave a new picture, the scan projects the
// rest of the span and stops at once when it would pass the event limit.
constexpr std::int64_t kProjectAfterFrames = 100;

// Event times beyond this (about 31 years) are clamped, so the arithmetic cannot overflow.
constexpr std::int64_t kMaxMs = 1'000'000'000'000;

struct Boundary {
    std::int64_t frame;
    int active;   // change in showing events
    int animated; // change in showing animated events
};

} // namespace

std::int64_t FrameClock::FirstFrameAtOrAfter(std::int64_t ms) const {
    if (ms <= 0) {
        return 0;
    }
    ms = std::min(ms, kMaxMs);
    const std::int64_t scale = 1000 * den;
    return (ms * num + scale - 1) / scale;
}

std::vector<Span> PlanSpans(const std::vector<EventTiming>& events, const FrameClock& clock,
                            std::int64_t frames) {
    std::vector<Boundary> bounds;
    bounds.reserve(events.size() * 2);
    for (const EventTiming& e : events) {
        const std::int64_t first = std::min(clock.FirstFrameAtOrAfter(e.startMs), frames);
        const std::int64_t end = std::min(clock.FirstFrameAtOrAfter(e.endMs), frames);
        if (first >= end) {
            continue; // shows on no frame
        }
        bounds.push_back({first, 1, e.animated ? 1 : 0});
        bounds.push_back({end, -1, e.animated ? -1 : 0});
    }
    std::sort(bounds.begin(), bounds.end(),
              [](const Boundary& a, const Boundary& b) { return a.frame < b.frame; });
    std::vector<Span> spans;
    int active = 0;
    int animated = 0;
    for (std::size_t i = 0; i < bounds.size();) {
        const std::int64_t frame = bounds[i].frame;
        for (; i < bounds.size() && bounds[i].frame == frame; ++i) {
            active += bounds[i].active;
            animated += bounds[i].animated;
        }
        if (active > 0 && i < bounds.size()) {
            spans.push_back({frame, bounds[i].frame, animated > 0});
        }
    }
    return spans;
}

ASS_Renderer* CreateRenderer(ASS_Library* library, const FrameGeometry& geometry, int cacheMb) {
    ASS_Renderer* renderer = ass_renderer_init(library);
    if (renderer == nullptr) {
        throw SubtitleError("libass: cannot create a renderer");
    }
    ass_set_frame_size(renderer, geometry.width, geometry.height);
    ass_set_storage_size(renderer, geometry.width, geometry.height);
    // An anamorphic frame is the wide picture squeezed to the frame's width: libass
    // scales everything horizontally by this factor.
    ass_set_pixel_aspect(renderer,
                         static_cast<double>(geometry.width) * geometry.renderHeight /
                             (static_cast<double>(geometry.renderWidth) * geometry.height));
    ass_set_fonts(renderer, nullptr, "DejaVu Sans", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    // Modest caches keep a long film within a small, steady amount of memory.
    ass_set_cache_limits(renderer, 2000, cacheMb);
    return renderer;
}

void ScanFrames(ASS_Renderer* renderer, ASS_Track* track, const FrameGeometry& geometry,
                const FrameClock& clock, std::int64_t frames, bool crop,
                const std::function<void(ShownImage&&)>& onImage,
                const std::function<void(std::int64_t)>& progress, const ScanLimits& limits) {
    const std::vector<Span> spans = PlanSpans(TrackTimings(track), clock, frames);

    const auto where = [&](std::int64_t ms) {
        return limits.describe ? limits.describe(ms) : std::string("the subtitle file");
    };
    const auto empty = std::make_shared<const RgbaImage>();
    std::shared_ptr<const RgbaImage> last; // the latest drawn picture
    ShownImage run;
    bool open = false;
    std::int64_t given = 0;
    const auto finish = [&] {
        if (open && !run.image->Empty()) {
            if (limits.events > 0 && ++given > limits.events) {
                throw LimitError(where(clock.MsOfFrame(run.in)) + ": more than " +
                                 std::to_string(limits.events) + " pictures; the limit is " +
                                 std::to_string(limits.events) + " (--max-events)");
            }
            onImage(std::move(run));
        }
        open = false;
    };
    std::int64_t changingFrames = 0; // frames in a row that each gave a new picture
    const auto draw = [&](std::int64_t frame) {
        int change = 0;
        const std::int64_t ms = clock.MsOfFrame(frame);
        const auto started = std::chrono::steady_clock::now();
        const ASS_Image* images = ass_render_frame(renderer, track, ms, &change);
        // libass cannot be interrupted: a frame is measured once it is drawn.
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (limits.frameSeconds > 0 && seconds > limits.frameSeconds) {
            char text[96];
            std::snprintf(text, sizeof text, "%.3g s; the limit is %g s (--max-frame-time)",
                          seconds, limits.frameSeconds);
            throw LimitError(where(ms) + ": frame " + std::to_string(frame) + " took " + text);
        }
        if (change == 0 && last) {
            return last;
        }
        RgbaImage picture = CompositeVisible(images, geometry.width, geometry.height);
        if (!crop && !picture.Empty()) {
            picture = PlaceOnFrame(picture, geometry.width, geometry.height);
        }
        if (picture.Empty()) {
            last = empty;
        } else if (!last || *last != picture) {
            last = std::make_shared<const RgbaImage>(std::move(picture));
        }
        return last;
    };
    for (const Span& span : spans) {
        if (open && run.out != span.begin) {
            finish();
        }
        for (std::int64_t frame = span.begin; frame < span.end;) {
            const std::int64_t next = span.animated ? frame + 1 : span.end;
            auto image = draw(frame);
            if (open && image == run.image) {
                run.out = next;
                changingFrames = 0;
            } else {
                if (span.animated && ++changingFrames >= kProjectAfterFrames && limits.events > 0 &&
                    given + (span.end - frame) > limits.events) {
                    throw LimitError(where(clock.MsOfFrame(frame)) +
                                     ": the picture changes on every frame and would give about " +
                                     std::to_string(given + (span.end - frame)) +
                                     " pictures; the limit is " + std::to_string(limits.events) +
                                     " (--max-events)");
                }
                finish();
                run = ShownImage{frame, next, std::move(image)};
                open = true;
            }
            frame = next;
            if (progress) {
                progress(frame);
            }
        }
    }
    finish();
    if (progress) {
        progress(frames);
    }
}

} // namespace pelldrin::render
