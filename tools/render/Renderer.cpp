#include "render/Renderer.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/ThreadCache.h"
#include "base/Utf8.h"
#include "core/BoundedQueue.h"
#include "drawing/FrameScan.h"
#include "encoding/EventGraphics.h"
#include "encoding/PaletteReuse.h"
#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "input/RenderOptions.h"
#include "input/RenderScript.h"
#include "input/SubtitleTrack.h"
#include "output/BdnWriter.h"
#include "output/OutputGuard.h"
#include "pgs/PgsPalette.h"
#include "pgs/SupWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <thread>

namespace pelldrin::render {

namespace {

// Two encoders beside the scan keep both cores busy whichever side is heavier.
constexpr int kEncoderThreads = 2;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Encodes pictures on worker threads while the scan goes on, and hands the results
// over one at a time in the order the pictures came.
class EncoderPool {
  public:
    using Work = std::function<void(const ShownImage&, int number)>;

    EncoderPool(int threads, Work encode, std::function<void(int number)> commit)
        : encode_(std::move(encode)), commit_(std::move(commit)),
          // A picture holds its place from the scan until its commit, so that results
          // waiting for an earlier picture's turn count as well; full-frame pictures, each
          // about the whole budget, still keep every encoder busy with one waiting.
          pictures_(2 * kQueueItems, kQueueBytes, BoundedQueue<Item>::Hold::UntilReleased,
                    static_cast<std::size_t>(threads) + 1) {
        for (int i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { Loop(); });
        }
    }
    ~EncoderPool() {
        pictures_.Stop();
        for (auto& t : threads_) {
            t.join();
        }
    }
    EncoderPool(const EncoderPool&) = delete;
    EncoderPool& operator=(const EncoderPool&) = delete;

    // Blocks while enough pictures wait; false once an encoder has failed.
    bool Push(ShownImage&& image) {
        const std::size_t bytes = image.image->pixels.size();
        return pictures_.Push(Item{nextNumber_++, std::move(image)}, bytes);
    }

    // Waits until every picture is done; rethrows the first failure.
    void Finish() {
        pictures_.Close();
        for (auto& t : threads_) {
            t.join();
        }
        threads_.clear();
        if (const auto error = pictures_.Error()) {
            std::rethrow_exception(error);
        }
    }

    std::exception_ptr Error() const { return pictures_.Error(); }

  private:
    struct Item {
        int number;
        ShownImage image;
    };

    void Loop() {
        const ThreadCacheScope caches;
        while (std::optional<Item> item = pictures_.Pop()) {
            try {
                encode_(item->image, item->number);
                CommitReady(item->number, item->image.image->pixels.size());
            } catch (...) {
                pictures_.Stop(std::current_exception());
                return;
            }
        }
    }

    // Marks a picture encoded and, unless another thread is at it, commits every encoded
    // picture whose turn has come: a thread never waits for an earlier picture's turn, it
    // goes on encoding, and the thread that commits that picture commits this one too.
    void CommitReady(int number, std::size_t bytes) {
        std::unique_lock lock(mutex_);
        encoded_.emplace(number, bytes);
        if (committing_) {
            return;
        }
        committing_ = true;
        while (!encoded_.empty() && encoded_.begin()->first == nextCommit_ && !pictures_.Error()) {
            lock.unlock();
            try {
                commit_(nextCommit_);
            } catch (...) {
                lock.lock();
                committing_ = false;
                throw;
            }
            lock.lock();
            pictures_.Release(encoded_.begin()->second);
            encoded_.erase(encoded_.begin());
            ++nextCommit_;
        }
        committing_ = false;
    }

    Work encode_;
    std::function<void(int)> commit_;
    BoundedQueue<Item> pictures_;
    std::mutex mutex_;
    std::map<int, std::size_t> encoded_; // encoded, not yet committed: their pixel bytes
    bool committing_ = false;
    int nextNumber_ = 1;
    int nextCommit_ = 1;
    std::vector<std::thread> threads_; // last: they start once the rest is ready
};

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

// Standard-definition streams use the BT.601 colours, the others BT.709.
pgs::StreamInfo SupStreamInfo(const RenderScript& script) {
    pgs::StreamInfo info;
    info.width = script.width;
    info.height = script.height;
    info.rateNum = static_cast<int>(script.rate->num);
    info.rateDen = static_cast<int>(script.rate->den);
    info.matrix = script.height == 480 || script.height == 576 ? pgs::ColorMatrix::Bt601
                                                               : pgs::ColorMatrix::Bt709;
    return info;
}

void AddSupEvent(pgs::SupWriter& sup, IndexedEvent& indexed, const std::string& supPath) {
    pgs::SupEvent event;
    event.inFrame = indexed.inFrame;
    event.outFrame = indexed.outFrame;
    event.forced = indexed.forced;
    for (const PaletteColor& c : indexed.parts.front().palette) {
        event.palette.push_back(pgs::Rgba{c.r, c.g, c.b, c.a});
    }
    for (IndexedImage& part : indexed.parts) {
        event.objects.push_back(
            pgs::IndexedObject{part.x, part.y, part.width, part.height, std::move(part.indices)});
    }
    try {
        sup.Add(event);
    } catch (const pgs::SupError& e) {
        throw pgs::SupError(supPath + ": " + e.what());
    }
}

// Adds the events to the PGS stream on a thread of its own, in the order given, so that the
// stream's work overlaps the palette reuse of the pictures after them.
class SupFeeder {
  public:
    SupFeeder(pgs::SupWriter& sup, std::string path)
        : sup_(sup), path_(std::move(path)), thread_([this] { Loop(); }) {}
    ~SupFeeder() {
        events_.Stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    SupFeeder(const SupFeeder&) = delete;
    SupFeeder& operator=(const SupFeeder&) = delete;

    // Waits while enough events wait; rethrows the stream's failure.
    void Add(IndexedEvent&& event) {
        const std::size_t bytes = Bytes(event);
        if (!events_.Push(std::move(event), bytes)) {
            if (const auto error = events_.Error()) {
                std::rethrow_exception(error);
            }
            throw std::runtime_error("the PGS stream stopped");
        }
    }

    // Waits until every event is in the stream; rethrows the stream's failure.
    void Finish() {
        events_.Close();
        thread_.join();
        if (const auto error = events_.Error()) {
            std::rethrow_exception(error);
        }
    }

  private:
    static std::size_t Bytes(const IndexedEvent& event) {
        std::size_t bytes = 0;
        for (const IndexedImage& part : event.parts) {
            bytes += part.indices.size();
        }
        return bytes;
    }

    void Loop() {
        const ThreadCacheScope caches;
        while (std::optional<IndexedEvent> event = events_.Pop()) {
            try {
                AddSupEvent(sup_, *event, path_);
            } catch (...) {
                events_.Stop(std::current_exception());
                return;
            }
        }
    }

    pgs::SupWriter& sup_;
    std::string path_;
    // Indices, a byte a pixel: half the budget holds twice the pixels of a picture queue.
    BoundedQueue<IndexedEvent> events_{kQueueItems, kQueueBytes / 2};
    std::thread thread_; // last: it starts once the rest is ready
};

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

GraphicSettings MakeGraphicSettings(const RenderOptions& options, const OutputLayout& layout) {
    GraphicSettings settings;
    settings.palette = options.palette;
    settings.split = options.split && options.crop;
    settings.minGap = options.minGap;
    settings.forced = options.forced;
    settings.layout = layout;
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

// Takes the scan's pictures: encodes them on the pool's threads, then adds them in order
// to the document and the PGS stream, keeping count of the bytes written.
class EventOutput {
  public:
    EventOutput(const RenderOptions& options, const OutputLayout& layout,
                const RenderScript& script, std::function<std::string(std::int64_t ms)> describe)
        : options_(options), settings_(MakeGraphicSettings(options, layout)),
          document_(MakeDocument(options, script)),
          describe_(std::move(describe)), clock_{script.rate->num, script.rate->den} {
        if (!options.supPath.empty()) {
            sup_ = std::make_unique<pgs::SupWriter>(options.supPath, SupStreamInfo(script));
            feeder_.emplace(*sup_, options.supPath);
        }
        pool_.emplace(
            kEncoderThreads, [this](const ShownImage& shown, int number) { Encode(shown, number); },
            [this](int number) { Commit(number); });
    }

    // Queues a picture; rethrows an encoder's failure.
    void Push(ShownImage&& shown) {
        if (!pool_->Push(std::move(shown))) {
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
        if (sup_) {
            feeder_->Finish();
            try {
                sup_->Finish();
            } catch (const pgs::SupError& e) {
                throw pgs::SupError(options_.supPath + ": " + e.what());
            }
        }
        return document_;
    }

    std::size_t EventCount() const { return document_.events.size(); }

    // What the PGS stream had to show late or leave out to keep the decoder model, or
    // nothing.
    std::string SupNote() const { return sup_ ? pgs::DescribeReport(sup_->Report()) : ""; }

  private:
    // Results wait here between encoding (any order) and commit (in order).
    struct Encoded {
        BdnEventOut event;
        IndexedEvent indexed;
        std::uint64_t bytes = 0;
        // Kept for the stream until the commit compares it with the previous picture.
        std::shared_ptr<const RgbaImage> image;
    };

    void Encode(const ShownImage& shown, int number) {
        Encoded result;
        result.event = WriteEventGraphics(shown, number, settings_,
                                          sup_ ? &result.indexed : nullptr, &result.bytes);
        if (sup_) {
            result.image = shown.image;
        }
        std::lock_guard lock(doneMutex_);
        done_.emplace(number, std::move(result));
    }

    void Commit(int number) {
        Encoded result;
        {
            std::lock_guard lock(doneMutex_);
            auto it = done_.find(number);
            result = std::move(it->second);
            done_.erase(it);
        }
        bytesWritten_ += result.bytes;
        if (bytesWritten_ > static_cast<std::uint64_t>(options_.limits.outputBytes)) {
            throw LimitError(describe_(clock_.MsOfFrame(result.event.inFrame)) +
                             ": the run's pictures pass " +
                             std::to_string(options_.limits.outputBytes) +
                             " bytes; the limit is set by --max-output");
        }
        if (sup_) {
            // Only here, in time order, is the previous picture known.
            reuse_.Apply(*result.image, result.indexed.inFrame, result.indexed.outFrame,
                         result.indexed.parts, result.indexed.stray);
            result.image.reset();
            feeder_->Add(std::move(result.indexed));
        }
        document_.events.push_back(std::move(result.event));
    }

    const RenderOptions& options_;
    GraphicSettings settings_;
    BdnDocumentOut document_;
    std::function<std::string(std::int64_t)> describe_;
    FrameClock clock_;
    std::unique_ptr<pgs::SupWriter> sup_;
    std::optional<SupFeeder> feeder_; // after the stream: it stops before the stream goes
    PaletteReuse reuse_;
    std::mutex doneMutex_;
    std::map<int, Encoded> done_;
    std::uint64_t bytesWritten_ = 0;
    std::optional<EncoderPool> pool_; // last: its threads stop before the rest goes
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
