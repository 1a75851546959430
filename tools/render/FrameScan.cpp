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
// After this many frames of an animated span, the rate of new pictures so far is
// projected over the rest of it too (animation that changes every other frame).
constexpr std::int64_t kProjectRateAfterFrames = 1000;

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

namespace {

std::string Where(const ScanLimits& limits, std::int64_t ms) {
    return limits.describe ? limits.describe(ms) : std::string("the subtitle file");
}

// Draws frames through libass, timing each, and hands out the latest picture again
// while nothing changes, so that equal pictures are one object.
class FrameDrawer {
  public:
    FrameDrawer(ASS_Renderer* renderer, ASS_Track* track, const FrameGeometry& geometry,
                const FrameClock& clock, bool crop, const ScanLimits& limits)
        : renderer_(renderer), track_(track), geometry_(geometry), clock_(clock), crop_(crop),
          limits_(limits) {}

    std::shared_ptr<const RgbaImage> Draw(std::int64_t frame) {
        int change = 0;
        const std::int64_t ms = clock_.MsOfFrame(frame);
        const auto started = std::chrono::steady_clock::now();
        const ASS_Image* images = ass_render_frame(renderer_, track_, ms, &change);
        // libass cannot be interrupted: a frame is measured once it is drawn.
        CheckTime(frame, ms, started);
        if (change == 0 && last_) {
            return last_;
        }
        RgbaImage picture = CompositeVisible(images, geometry_.width, geometry_.height);
        if (!crop_ && !picture.Empty()) {
            picture = PlaceOnFrame(picture, geometry_.width, geometry_.height);
        }
        if (picture.Empty()) {
            last_ = empty_;
        } else if (!last_ || *last_ != picture) {
            last_ = std::make_shared<const RgbaImage>(std::move(picture));
        }
        return last_;
    }

  private:
    void CheckTime(std::int64_t frame, std::int64_t ms,
                   std::chrono::steady_clock::time_point started) const {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (limits_.frameSeconds > 0 && seconds > limits_.frameSeconds) {
            char text[96];
            std::snprintf(text, sizeof text, "%.3g s; the limit is %g s (--max-frame-time)",
                          seconds, limits_.frameSeconds);
            throw LimitError(Where(limits_, ms) + ": frame " + std::to_string(frame) + " took " +
                             text);
        }
    }

    ASS_Renderer* renderer_;
    ASS_Track* track_;
    FrameGeometry geometry_;
    FrameClock clock_;
    bool crop_;
    const ScanLimits& limits_;
    const std::shared_ptr<const RgbaImage> empty_ = std::make_shared<const RgbaImage>();
    std::shared_ptr<const RgbaImage> last_;
};

// Gathers runs of frames with the same picture and reports each, counting them against
// the picture limit.
class RunCollector {
  public:
    RunCollector(const FrameClock& clock, const ScanLimits& limits,
                 const std::function<void(ShownImage&&)>& onImage)
        : clock_(clock), limits_(limits), onImage_(onImage) {}

    // Adds the frames [frame, next) showing image; animated frames count towards the
    // projection of a picture that changes on every frame until spanEnd.
    void Add(std::int64_t frame, std::int64_t next, std::shared_ptr<const RgbaImage> image,
             bool animated, std::int64_t spanEnd) {
        if (spanEnd != spanEnd_) {
            spanEnd_ = spanEnd;
            spanFrames_ = spanPictures_ = 0;
        }
        ++spanFrames_;
        if (open_ && image == run_.image) {
            run_.out = next;
            changingFrames_ = 0;
            return;
        }
        ++spanPictures_;
        if (animated && limits_.events > 0) {
            Project(frame, spanEnd);
        }
        Finish();
        run_ = ShownImage{frame, next, std::move(image)};
        open_ = true;
    }

    // Stops early when the pictures of an animated span, at their rate so far, would
    // pass the limit.
    void Project(std::int64_t frame, std::int64_t spanEnd) {
        const std::int64_t rest = spanEnd - frame;
        std::int64_t projected = 0;
        if (++changingFrames_ >= kProjectAfterFrames) {
            projected = given_ + rest;
        } else if (spanFrames_ >= kProjectRateAfterFrames) {
            projected = given_ + static_cast<std::int64_t>(static_cast<double>(spanPictures_) /
                                                           static_cast<double>(spanFrames_) *
                                                           static_cast<double>(rest));
        }
        if (projected > limits_.events) {
            throw LimitError(Where(limits_, clock_.MsOfFrame(frame)) +
                             ": the picture keeps changing and would give about " +
                             std::to_string(projected) + " pictures; the limit is " +
                             std::to_string(limits_.events) + " (--max-events)");
        }
    }

    // Ends the open run unless the next frames continue it.
    void Break(std::int64_t frame) {
        if (open_ && run_.out != frame) {
            Finish();
        }
    }

    void Finish() {
        if (open_ && !run_.image->Empty()) {
            if (limits_.events > 0 && ++given_ > limits_.events) {
                throw LimitError(Where(limits_, clock_.MsOfFrame(run_.in)) + ": more than " +
                                 std::to_string(limits_.events) + " pictures; the limit is " +
                                 std::to_string(limits_.events) + " (--max-events)");
            }
            onImage_(std::move(run_));
        }
        open_ = false;
    }

  private:
    FrameClock clock_;
    const ScanLimits& limits_;
    const std::function<void(ShownImage&&)>& onImage_;
    ShownImage run_;
    bool open_ = false;
    std::int64_t given_ = 0;
    std::int64_t changingFrames_ = 0; // frames in a row that each gave a new picture
    std::int64_t spanEnd_ = -1;       // the span being scanned, its frames and pictures
    std::int64_t spanFrames_ = 0;
    std::int64_t spanPictures_ = 0;
};

} // namespace

void ScanFrames(ASS_Renderer* renderer, ASS_Track* track, const FrameGeometry& geometry,
                const FrameClock& clock, std::int64_t frames, bool crop,
                const std::function<void(ShownImage&&)>& onImage,
                const std::function<void(std::int64_t)>& progress, const ScanLimits& limits) {
    FrameDrawer drawer(renderer, track, geometry, clock, crop, limits);
    RunCollector runs(clock, limits, onImage);
    for (const Span& span : PlanSpans(TrackTimings(track), clock, frames)) {
        runs.Break(span.begin);
        for (std::int64_t frame = span.begin; frame < span.end;) {
            const std::int64_t next = span.animated ? frame + 1 : span.end;
            runs.Add(frame, next, drawer.Draw(frame), span.animated, span.end);
            frame = next;
            if (progress) {
                progress(frame);
            }
        }
    }
    runs.Finish();
    if (progress) {
        progress(frames);
    }
}

} // namespace pelldrin::render
