#include "render/Renderer.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "core/EncoderPool.h"
#include "drawing/FrameScan.h"
#include "encoding/EncodedEvent.h"
#include "encoding/PaletteReuse.h"
#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "input/RenderOptions.h"
#include "input/RenderScript.h"
#include "input/SubtitleTrack.h"
#include "output/BdnWriter.h"
#include "output/EventFiles.h"
#include "output/OutputGuard.h"
#include "pgs/PgsPalette.h"
#include "pgs/SupFeeder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>

namespace pelldrin::render {

namespace {

// Two encoders beside the scan keep both cores busy whichever side is heavier.
constexpr int kEncoderThreads = 2;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

class ProgressPrinter {
  public:
    ProgressPrinter(std::ostream& out, std::int64_t total) : out_(out), total_(total) {}
    void Update(std::int64_t done, std::size_t events, bool force = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < kProgressInterval) {
            return;
        }
        last_ = now;
        out_ << "Progress: " << done << '/' << total_ << " - Events: " << events << '\r'
             << std::flush;
    }

  private:
    std::ostream& out_;
    std::int64_t total_;
    std::chrono::steady_clock::time_point last_{};
};

static_assert(kStreamVisibleColors == pgs::kMaxVisibleColors,
              "the pictures are quantized to the colours a stream picture may show");

// Standard-definition streams use the BT.601 colours, the others BT.709, and HDR10 BT.2020.
pgs::StreamInfo SupStreamInfo(const RenderScript& script, const ColorSettings& colour) {
    pgs::StreamInfo info;
    info.width = script.width;
    info.height = script.height;
    info.rateNum = static_cast<int>(script.rate->num);
    info.rateDen = static_cast<int>(script.rate->den);
    info.matrix = colour.kind == ColorKind::Hdr10                ? pgs::ColorMatrix::Bt2020
                  : script.height == 480 || script.height == 576 ? pgs::ColorMatrix::Bt601
                                                                 : pgs::ColorMatrix::Bt709;
    return info;
}

// The picture as the stream takes it: its palette and objects move over.
pgs::SupEvent ToSupEvent(IndexedEvent&& indexed, bool forced) {
    pgs::SupEvent event;
    event.inFrame = indexed.inFrame;
    event.outFrame = indexed.outFrame;
    event.forced = forced;
    for (const PaletteColor& c : indexed.parts.front().palette) {
        event.palette.push_back(pgs::Rgba{c.r, c.g, c.b, c.a});
    }
    for (IndexedImage& part : indexed.parts) {
        event.objects.push_back(
            pgs::IndexedObject{part.x, part.y, part.width, part.height, std::move(part.indices)});
    }
    return event;
}

} // namespace

namespace {

// Where each event of the track shows in the file, for messages about a time: the file
// and the lines of the events that show at ms.
std::string DescribeTime(const LibassSession& session, const std::string& path, std::int64_t ms) {
    const ASS_Track* t = session.Track();
    std::string lines;
    int named = 0;
    for (int i = 0; i < t->n_events && named < 5; ++i) {
        const ASS_Event& e = t->events[i];
        if (e.Start <= ms && ms < e.Start + e.Duration) {
            lines += (named++ == 0 ? "" : ", ") + EventPlace(session.EventLines(), i);
        }
    }
    return path + (lines.empty() ? "" : ": " + lines);
}

EncodeSettings MakeEncodeSettings(const RenderOptions& options) {
    EncodeSettings settings;
    settings.palette = options.palette;
    settings.split = options.split && options.crop;
    settings.minGap = options.minGap;
    settings.stream = !options.supPath.empty();
    // Full-frame pictures are mostly transparent rows, which the run-length deflater
    // passes through fastest.
    settings.png.runLength = !options.crop;
    return settings;
}

BdnDocumentOut MakeDocument(const RenderOptions& options, const RenderScript& script) {
    BdnDocumentOut document;
    document.title = options.title;
    document.language = options.language;
    document.videoFormat = std::string(options.format->label);
    document.frameRate = std::string(options.rate->text);
    document.timecodeBase = options.rate->timecodeBase;
    document.clipFrames = script.frames;
    return document;
}

// Takes the scan's pictures: encodes and writes them on the pool's threads, then adds them in
// order to the document and the PGS stream, keeping count of the bytes written.
class EventOutput {
  public:
    EventOutput(const RenderOptions& options, const OutputLayout& layout,
                const RenderScript& script, std::function<std::string(std::int64_t ms)> describe)
        : options_(options), layout_(layout), settings_(MakeEncodeSettings(options)),
          document_(MakeDocument(options, script)),
          hdr10_(options.colour.kind == ColorKind::Hdr10
                     ? std::make_optional<Hdr10Conversion>(options.colour.whiteNits)
                     : std::nullopt),
          describe_(std::move(describe)), clock_{script.rate->num, script.rate->den} {
        // The encoders convert an HDR10 run's pictures first, once each.
        settings_.hdr10 = hdr10_ ? &*hdr10_ : nullptr;
        if (settings_.stream) {
            feeder_.emplace(options.supPath, SupStreamInfo(script, options.colour));
        }
        pool_.emplace(
            kEncoderThreads,
            [this](const ShownImage& shown, int number) { return Encode(shown, number); },
            [this](Encoded&& result, int) { Commit(std::move(result)); });
    }

    // Queues a picture; rethrows an encoder's failure.
    void Push(ShownImage&& shown) {
        const std::size_t bytes = shown.image->pixels.size();
        if (!pool_->Push(std::move(shown), bytes)) {
            RethrowEncoderError();
            throw std::runtime_error("the PNG encoders stopped");
        }
    }

    // An encoder's failure says more than the scan's note that it stopped.
    void RethrowEncoderError() const {
        if (const auto error = pool_->Error()) {
            std::rethrow_exception(error);
        }
    }

    // Waits for the encoders and completes the PGS stream; returns the finished document.
    const BdnDocumentOut& Finish() {
        pool_->Finish();
        if (feeder_) {
            feeder_->Finish();
        }
        return document_;
    }

    std::size_t EventCount() const { return document_.events.size(); }

    // What the PGS stream had to show late or leave out to keep the decoder model, or
    // nothing.
    std::string SupNote() const { return feeder_ ? pgs::DescribeReport(feeder_->Report()) : ""; }

  private:
    // What a picture leaves between its encoding (any order) and its commit (in order).
    struct Encoded {
        BdnEventOut event;
        IndexedEvent indexed;
        std::uint64_t bytes = 0;
        // Kept for the stream until the commit compares it with the previous picture.
        std::shared_ptr<const RgbaImage> image;
    };

    Encoded Encode(const ShownImage& shown, int number) {
        EncodedEvent encoded = EncodeEvent(shown, settings_);
        Encoded result;
        result.event = WriteEventFiles(encoded.graphics, shown.in, shown.out, options_.forced,
                                       number, layout_, &result.bytes);
        if (feeder_) {
            result.indexed = std::move(encoded.indexed);
            result.image = std::move(encoded.picture);
        }
        return result;
    }

    void Commit(Encoded&& result) {
        bytesWritten_ += result.bytes;
        if (bytesWritten_ > static_cast<std::uint64_t>(options_.limits.outputBytes)) {
            throw LimitError(describe_(clock_.MsOfFrame(result.event.inFrame)) +
                             ": the run's pictures pass " +
                             std::to_string(options_.limits.outputBytes) +
                             " bytes; the limit is set by --max-output");
        }
        if (feeder_) {
            // Only here, in time order, is the previous picture known.
            reuse_.Apply(*result.image, result.indexed.inFrame, result.indexed.outFrame,
                         result.indexed.parts, result.indexed.stray);
            result.image.reset();
            feeder_->Add(ToSupEvent(std::move(result.indexed), options_.forced));
        }
        document_.events.push_back(std::move(result.event));
    }

    const RenderOptions& options_;
    const OutputLayout& layout_;
    EncodeSettings settings_;
    BdnDocumentOut document_;
    std::optional<Hdr10Conversion> hdr10_; // for an HDR10 run
    std::function<std::string(std::int64_t)> describe_;
    FrameClock clock_;
    std::optional<pgs::SupFeeder> feeder_;
    PaletteReuse reuse_;
    std::uint64_t bytesWritten_ = 0;
    std::optional<EncoderPool<ShownImage, Encoded>> pool_; // last: its threads stop first
};

// Warnings from every drawing thread's library, one at a time. The first thread's library
// is the one the track was loaded with and speaks as before; a message of another thread's
// library that was already given is dropped, so each is given once.
class WarningSink {
  public:
    explicit WarningSink(std::ostream& err) : err_(err) {}
    void Give(const std::string& message) {
        std::lock_guard lock(mutex_);
        given_.insert(message);
        err_ << "Warning: " << message << '\n';
    }
    void GiveOnce(const std::string& message) {
        std::lock_guard lock(mutex_);
        if (given_.insert(message).second) {
            err_ << "Warning: " << message << '\n';
        }
    }

  private:
    std::ostream& err_;
    std::mutex mutex_;
    std::set<std::string> given_;
};

// Events that start after the clip's last frame are never drawn: a frame count short of
// the subtitles would otherwise lose them without a word.
void WarnOfEventsPastTheClip(const LibassSession& session, const RenderScript& script,
                             WarningSink& warnings) {
    const std::int64_t endMs =
        FrameClock{script.rate->num, script.rate->den}.MsOfFrame(script.frames);
    int count = 0;
    int first = -1;
    for (int i = 0; i < session.Track()->n_events; ++i) {
        const ASS_Event& e = session.Track()->events[i];
        if (e.Duration > 0 && e.Start >= endMs && count++ == 0) {
            first = i;
        }
    }
    if (count > 0) {
        warnings.Give(script.subtitlePath + ": " + std::to_string(count) +
                      (count == 1 ? " event starts" : " events start") +
                      " after the script's last frame (" + std::to_string(script.frames) +
                      " frames) and " + (count == 1 ? "is" : "are") + " not drawn, from " +
                      EventPlace(session.EventLines(), first));
    }
}

// Draws the subtitles and writes the pictures, the PGS stream and, last, the XML.
void RenderOutputs(const RenderOptions& options, const OutputLayout& layout,
                   const RenderScript& script, std::ostream& out, std::ostream& err) {
    WarningSink warnings(err);
    const auto session = std::make_shared<LibassSession>(
        script.subtitlePath, options.charset,
        [&](const std::string& message) { warnings.Give(message); });
    const FrameGeometry geometry{script.width, script.height, script.renderWidth,
                                 script.renderHeight};
    CheckTrackWithinLimits(session->Track(), session->EventLines(), geometry, options.limits,
                           script.subtitlePath);
    WarnOfEventsPastTheClip(*session, script, warnings);
    const int threads = options.limits.threads;
    const int cacheMb = LibassCacheMegabytes(options.limits, threads);
    // The first thread draws with the run's own session; the others load the same text
    // into sessions of their own quietly (the first load warned), and each of their
    // libraries' messages is given once.
    const FrameSourceMaker makeSource = [&](int index) {
        std::shared_ptr<LibassSession> source = session;
        if (index > 0) {
            auto loaded = std::make_shared<bool>(false);
            source = std::make_shared<LibassSession>(
                session->File(), [loaded, &warnings](const std::string& message) {
                    if (*loaded) {
                        warnings.GiveOnce(message);
                    }
                });
            *loaded = true;
        }
        source->StartRenderer(geometry, cacheMb);
        return source;
    };

    ScanLimits limits;
    limits.frameSeconds = options.limits.frameSeconds;
    limits.events = options.limits.events;
    limits.describe = [&](std::int64_t ms) {
        return DescribeTime(*session, script.subtitlePath, ms);
    };
    EventOutput output(options, layout, script, limits.describe);
    ProgressPrinter progress(out, script.frames);
    progress.Update(0, 0, true);
    std::size_t shownCount = 0;
    try {
        ScanFramesParallel(
            makeSource, threads, TrackTimings(session->Track()), geometry,
            FrameClock{script.rate->num, script.rate->den}, script.frames, options.crop,
            [&](ShownImage&& shown) {
                ++shownCount;
                output.Push(std::move(shown));
            },
            [&](std::int64_t done) { progress.Update(done, shownCount); }, limits);
    } catch (...) {
        output.RethrowEncoderError();
        throw;
    }
    const BdnDocumentOut& document = output.Finish();
    if (const std::string note = output.SupNote(); !note.empty()) {
        warnings.Give(options.supPath + ": " + note);
    }
    AtomicWriteFile(options.xmlPath, BuildBdnXml(document));
    progress.Update(script.frames, output.EventCount(), true);
    out << '\n' << std::flush;
}

// What the run reads; the subtitle file is known only once the script is read.
std::vector<std::string> InputsOfRun(const RenderOptions& options,
                                     const std::optional<RenderScript>& script) {
    std::vector<std::string> inputs{options.scriptPath};
    if (script) {
        inputs.push_back(script->subtitlePath);
        if (SameTextN(FileExtension(script->subtitlePath), ".srt", 4)) {
            inputs.push_back(StripExtension(script->subtitlePath) + ".srt.style");
        }
    }
    return inputs;
}

// Checks, locks and clears the outputs, then renders; a script that cannot be read is
// reported only after the outputs are cleared, so no earlier document remains.
void RunChecked(const RenderOptions& options, std::ostream& out, std::ostream& err) {
    std::optional<RenderScript> script;
    std::exception_ptr scriptError;
    try {
        script = ReadRenderScript(options.scriptPath);
    } catch (const std::exception&) {
        scriptError = std::current_exception();
    }
    const OutputLayout layout(options.xmlPath, options.supPath);
    CheckOutputPaths(layout, InputsOfRun(options, script));
    const auto locks = LockOutputFolders(layout);
    ClearEarlierRun(layout);
    if (scriptError) {
        std::rethrow_exception(scriptError);
    }
    CheckScriptMatchesOptions(*script, options);
    RenderOutputs(options, layout, *script, out, err);
}

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              std::string_view version) {
    const std::string program = "pelldrin-render";
    try {
        const RenderOptions options = ParseRenderOptions(args);
        if (options.request == RenderRequest::Help) {
            out << UsageText();
        } else if (options.request == RenderRequest::Version) {
            out << program << ' ' << version << '\n';
        } else {
            RunChecked(options, out, err);
        }
        return 0;
    } catch (const UsageError& e) {
        err << program << ": " << e.what() << '\n' << UsageText();
        return 2;
    } catch (const std::bad_alloc&) {
        err << program
            << ": out of memory; nothing was written (try a smaller --max-memory "
               "for an earlier, clearer stop)\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return 1;
}

} // namespace pelldrin::render
