#include "drawing/FrameScan.h"

#include "core/BoundedQueue.h"
#include "core/RenderErrors.h"
#include "drawing/Composite.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <thread>

namespace pelldrin::render {

namespace {

// After this many frames in a row that each gave a new picture, the scan projects the
// rest of the span and stops at once when it would pass the event limit.
constexpr std::int64_t kProjectAfterFrames = 100;
// After this many frames of an animated span, the rate of new pictures so far is
// projected over the rest of it too (animation that changes every other frame).
constexpr std::int64_t kProjectRateAfterFrames = 1000;

struct Boundary {
    std::int64_t frame;
    int active;   // change in showing events
    int animated; // change in showing animated events
};

} // namespace

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

namespace {

// One ass_render_frame call of the scan: the first frame of a static span or one frame of
// an animated span, with the frames it stands for.
struct DrawPoint {
    std::int64_t frame = 0;
    std::int64_t next = 0;
    std::int64_t spanEnd = 0;
    bool animated = false;
    bool spanStart = false;
};

std::vector<DrawPoint> PlanDraws(const std::vector<Span>& spans) {
    std::vector<DrawPoint> points;
    for (const Span& span : spans) {
        for (std::int64_t frame = span.begin; frame < span.end;) {
            const std::int64_t next = span.animated ? frame + 1 : span.end;
            points.push_back({frame, next, span.end, span.animated, frame == span.begin});
            frame = next;
        }
    }
    return points;
}

// Puts the drawn pictures, in frame order, into runs. A drawer hands out one object for
// equal pictures in a row; where the pictures come from another drawer (a new piece), the
// first is compared by pixels with the last one, so runs join as if one drawer drew all.
class DrawJoin {
  public:
    DrawJoin(RunCollector& runs, const std::function<void(std::int64_t)>& progress)
        : runs_(runs), progress_(progress) {}

    void Add(const DrawPoint& point, std::shared_ptr<const RgbaImage> drawn, bool pieceStart) {
        if (point.spanStart) {
            runs_.Break(point.frame);
        }
        std::shared_ptr<const RgbaImage> image = drawn;
        if (drawn == lastDrawn_ || (pieceStart && last_ && *drawn == *last_)) {
            image = last_;
        }
        lastDrawn_ = std::move(drawn);
        last_ = image;
        runs_.Add(point.frame, point.next, std::move(image), point.animated, point.spanEnd);
        if (progress_) {
            progress_(point.next);
        }
    }

  private:
    RunCollector& runs_;
    const std::function<void(std::int64_t)>& progress_;
    std::shared_ptr<const RgbaImage> lastDrawn_;
    std::shared_ptr<const RgbaImage> last_;
};

void FinishScan(RunCollector& runs, const std::function<void(std::int64_t)>& progress,
                std::int64_t frames) {
    runs.Finish();
    if (progress) {
        progress(frames);
    }
}

// Draw points per piece: small enough to share uneven work out evenly, large enough that
// the pixel comparison at each piece's start costs little.
constexpr std::size_t kPieceDraws = 24;
// The pictures one drawing thread hands to the join, in order, then perhaps its failure.
using DrawChannel = BoundedQueue<std::shared_ptr<const RgbaImage>>;

// Drawing threads: thread i draws pieces i, i + n, i + 2n, ... with its own source.
class DrawThreads {
  public:
    DrawThreads(int count, const FrameSourceMaker& makeSource, const std::vector<DrawPoint>& points,
                const FrameGeometry& geometry, const FrameClock& clock, bool crop,
                const ScanLimits& limits)
        : makeSource_(makeSource), points_(points), geometry_(geometry), clock_(clock), crop_(crop),
          limits_(limits) {
        for (int i = 0; i < count; ++i) {
            channels_.push_back(std::make_unique<DrawChannel>());
        }
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, i] { Run(i); });
        }
    }
    ~DrawThreads() {
        for (auto& channel : channels_) {
            channel->Stop();
        }
        for (auto& thread : threads_) {
            thread.join();
        }
    }
    DrawThreads(const DrawThreads&) = delete;
    DrawThreads& operator=(const DrawThreads&) = delete;

    // The picture of draw point i; points are taken in order. Rethrows the failure of the
    // thread that draws it.
    std::shared_ptr<const RgbaImage> Take(std::size_t i) {
        std::optional<std::shared_ptr<const RgbaImage>> image =
            channels_[i / kPieceDraws % channels_.size()]->Pop();
        if (!image) {
            throw std::logic_error("a drawing thread ended before its last frame");
        }
        return std::move(*image);
    }

  private:
    void Run(int index) {
        DrawChannel& channel = *channels_[static_cast<std::size_t>(index)];
        try {
            const std::shared_ptr<LibassSession> source = makeSource_(index);
            FrameDrawer drawer(source->Renderer(), source->Track(), geometry_, clock_, crop_,
                               limits_);
            const std::size_t step = kPieceDraws * channels_.size();
            std::shared_ptr<const RgbaImage> last;
            for (std::size_t first = kPieceDraws * static_cast<std::size_t>(index);
                 first < points_.size(); first += step) {
                const std::size_t end = std::min(first + kPieceDraws, points_.size());
                for (std::size_t i = first; i < end; ++i) {
                    std::shared_ptr<const RgbaImage> image = drawer.Draw(points_[i].frame);
                    // A repeated picture is the same object: it costs no memory.
                    const std::size_t bytes = image == last ? 0 : image->pixels.size();
                    last = image;
                    if (!channel.Push(std::move(image), bytes)) {
                        return;
                    }
                }
            }
            channel.Close();
        } catch (...) {
            channel.Fail(std::current_exception());
        }
    }

    const FrameSourceMaker& makeSource_;
    const std::vector<DrawPoint>& points_;
    FrameGeometry geometry_;
    FrameClock clock_;
    bool crop_;
    const ScanLimits& limits_;
    std::vector<std::unique_ptr<DrawChannel>> channels_;
    std::vector<std::thread> threads_; // last: they stop before the channels go
};

} // namespace

void ScanFrames(ASS_Renderer* renderer, ASS_Track* track, const FrameGeometry& geometry,
                const FrameClock& clock, std::int64_t frames, bool crop,
                const std::function<void(ShownImage&&)>& onImage,
                const std::function<void(std::int64_t)>& progress, const ScanLimits& limits) {
    FrameDrawer drawer(renderer, track, geometry, clock, crop, limits);
    RunCollector runs(clock, limits, onImage);
    DrawJoin join(runs, progress);
    for (const DrawPoint& point : PlanDraws(PlanSpans(TrackTimings(track), clock, frames))) {
        join.Add(point, drawer.Draw(point.frame), false);
    }
    FinishScan(runs, progress, frames);
}

void ScanFramesParallel(const FrameSourceMaker& makeSource, int threads,
                        const std::vector<EventTiming>& timings, const FrameGeometry& geometry,
                        const FrameClock& clock, std::int64_t frames, bool crop,
                        const std::function<void(ShownImage&&)>& onImage,
                        const std::function<void(std::int64_t)>& progress,
                        const ScanLimits& limits) {
    const std::vector<DrawPoint> points = PlanDraws(PlanSpans(timings, clock, frames));
    const std::size_t pieces = (points.size() + kPieceDraws - 1) / kPieceDraws;
    threads = static_cast<int>(std::clamp<std::size_t>(pieces, 1, std::max(threads, 1)));
    if (threads == 1) {
        const std::shared_ptr<LibassSession> source = makeSource(0);
        ScanFrames(source->Renderer(), source->Track(), geometry, clock, frames, crop, onImage,
                   progress, limits);
        return;
    }
    RunCollector runs(clock, limits, onImage);
    DrawJoin join(runs, progress);
    DrawThreads drawing(threads, makeSource, points, geometry, clock, crop, limits);
    for (std::size_t i = 0; i < points.size(); ++i) {
        join.Add(points[i], drawing.Take(i), i % kPieceDraws == 0);
    }
    FinishScan(runs, progress, frames);
}

} // namespace pelldrin::render
