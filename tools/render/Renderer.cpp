#include "render/Renderer.h"

#include "render/RenderOptions.h"
#include "render/RenderScript.h"
#include "render/SubtitleTrack.h"
#include "script/FileUtil.h"
#include "script/TextHelpers.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#ifdef PELLDRIN_RENDER_HAVE_PGS
#include "pgs/SupWriter.h"
#endif

namespace pelldrin::render {

namespace {

constexpr std::size_t kQueueLimit = 48; // pictures waiting for an encoder
// ... and at most this many bytes of them (full-frame pictures are 8 MB each).
constexpr std::size_t kQueueBytes = std::size_t{64} << 20;
// Two encoders beside the scan keep both cores busy whichever side is heavier.
constexpr int kEncoderThreads = 2;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::string GraphicName(const GraphicSettings& settings, int eventNumber, int part) {
    char number[32];
    std::snprintf(number, sizeof number, "_%05d", eventNumber);
    std::string name = settings.baseName + number;
    if (part > 0) {
        name += '_';
        name += std::to_string(part);
    }
    return name + ".png";
}

void SaveGraphic(const GraphicSettings& settings, const std::string& name,
                 const std::vector<std::uint8_t>& bytes) {
    WriteFileBytes(JoinPath(settings.folder, name), bytes);
}

// Encodes pictures on worker threads while the scan goes on, and hands the results
// over one at a time in the order the pictures came.
class EncoderPool {
  public:
    using Work = std::function<void(const ShownImage&, int number)>;

    EncoderPool(int threads, Work encode, std::function<void(int number)> commit)
        : encode_(std::move(encode)), commit_(std::move(commit)) {
        for (int i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { Loop(); });
        }
    }
    ~EncoderPool() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            failed_ = true;
        }
        Wake();
        for (auto& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }

    // Blocks while enough pictures wait; false once an encoder has failed.
    bool Push(ShownImage&& image) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] {
            return (items_.size() < kQueueLimit && queuedBytes_ < kQueueBytes) || failed_;
        });
        if (failed_) {
            return false;
        }
        queuedBytes_ += image.image->pixels.size();
        items_.push_back({nextNumber_++, std::move(image)});
        notEmpty_.notify_one();
        return true;
    }

    // Waits until every picture is done; rethrows the first failure.
    void Finish() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        Wake();
        for (auto& t : threads_) {
            t.join();
        }
        threads_.clear();
        if (error_) {
            std::rethrow_exception(error_);
        }
    }

    std::exception_ptr Error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

  private:
    struct Item {
        int number;
        ShownImage image;
    };

    void Wake() {
        notEmpty_.notify_all();
        notFull_.notify_all();
        turn_.notify_all();
    }

    void Fail() {
        {
            std::lock_guard lock(mutex_);
            if (!error_) {
                error_ = std::current_exception();
            }
            failed_ = true;
        }
        Wake();
    }

    void Loop() {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex_);
                notEmpty_.wait(lock, [&] { return !items_.empty() || closed_ || failed_; });
                if (failed_ || items_.empty()) {
                    return;
                }
                item = std::move(items_.front());
                items_.pop_front();
                queuedBytes_ -= item.image.image->pixels.size();
                notFull_.notify_one();
            }
            try {
                encode_(item.image, item.number);
                {
                    std::unique_lock lock(mutex_);
                    turn_.wait(lock, [&] { return nextCommit_ == item.number || failed_; });
                    if (failed_) {
                        return;
                    }
                }
                // Only the thread whose turn it is gets here, so commits never overlap.
                commit_(item.number);
                {
                    std::lock_guard lock(mutex_);
                    ++nextCommit_;
                }
                turn_.notify_all();
            } catch (...) {
                Fail();
                return;
            }
        }
    }

    Work encode_;
    std::function<void(int)> commit_;
    std::vector<std::thread> threads_;
    mutable std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::condition_variable turn_;
    std::deque<Item> items_;
    std::size_t queuedBytes_ = 0;
    int nextNumber_ = 1;
    int nextCommit_ = 1;
    bool closed_ = false;
    bool failed_ = false;
    std::exception_ptr error_;
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

#ifdef PELLDRIN_RENDER_HAVE_PGS
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
#endif

} // namespace

BdnEventOut WriteEventGraphics(const ShownImage& shown, int eventNumber,
                               const GraphicSettings& settings, IndexedEvent* indexed) {
    const RgbaImage& image = *shown.image;
    BdnEventOut event;
    event.inFrame = shown.in;
    event.outFrame = shown.out;
    event.forced = settings.forced;

    std::vector<PixelRect> parts;
    PixelRect top;
    PixelRect bottom;
    if (settings.split && FindSplit(image, settings.minGap, top, bottom)) {
        parts = {top, bottom};
    } else {
        parts = {PixelRect{0, 0, image.width, image.height}};
    }
    const bool whole = parts.size() == 1;

    IndexedImage quantized;
    if (settings.palette || indexed != nullptr) {
        quantized = QuantizeImage(image);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PixelRect& r = parts[i];
        const std::string name = GraphicName(settings, eventNumber, whole ? 0 : int(i) + 1);
        IndexedImage indexedPart;
        if (settings.palette || indexed != nullptr) {
            indexedPart = whole ? std::move(quantized)
                                : CutIndexed(quantized, r.left, r.top, r.right, r.bottom);
        }
        try {
            if (settings.palette) {
                SaveGraphic(settings, name, EncodePngIndexed(indexedPart, settings.png));
            } else {
                SaveGraphic(settings, name,
                            EncodePngRgba(whole ? image : CutImage(image, r), settings.png));
            }
        } catch (const PngError& e) {
            const std::string what = e.what();
            if (what.find(name) != std::string::npos) {
                throw;
            }
            throw PngError(JoinPath(settings.folder, name) + ": " + what);
        }
        event.graphics.push_back(BdnGraphic{r.right - r.left, r.bottom - r.top, image.x + r.left,
                                            image.y + r.top, name});
        if (indexed != nullptr) {
            indexed->parts.push_back(std::move(indexedPart));
        }
    }
    if (indexed != nullptr) {
        indexed->inFrame = shown.in;
        indexed->outFrame = shown.out;
        indexed->forced = settings.forced;
    }
    return event;
}

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string program = "pelldrin-render";
    RenderOptions options;
    RenderScript script;
    try {
        options = ParseRenderOptions(args);
        script = ReadRenderScript(options.scriptPath);
        CheckScriptMatchesOptions(script, options);
#ifndef PELLDRIN_RENDER_HAVE_PGS
        if (!options.supPath.empty()) {
            throw UsageError("this build cannot write a PGS stream (second -o \"" +
                             options.supPath + "\"); leave it out to write the BDN XML alone");
        }
#endif
    } catch (const UsageError& e) {
        err << program << ": " << e.what() << '\n' << UsageText();
        return 2;
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
        return 1;
    }

    try {
        // A stale document from an earlier run must not pass for this run's result.
        std::error_code ignored;
        std::filesystem::remove(ToFsPath(options.xmlPath), ignored);
        if (!options.supPath.empty()) {
            std::filesystem::remove(ToFsPath(options.supPath), ignored);
        }

        AssLibrary library(
            [&](const std::string& message) { err << program << ": libass: " << message << '\n'; });
        SubtitleTrack track(library, script.subtitlePath);
        const FrameGeometry geometry{script.width, script.height, script.renderWidth,
                                     script.renderHeight};
        ASS_Renderer* renderer = CreateRenderer(library.Get(), geometry);
        struct RendererGuard {
            ASS_Renderer* r;
            ~RendererGuard() { ass_renderer_done(r); }
        } rendererGuard{renderer};

        GraphicSettings settings;
        settings.palette = options.palette;
        settings.split = options.split && options.crop;
        settings.minGap = options.minGap;
        settings.forced = options.forced;
        settings.folder = FolderOf(options.xmlPath);
        settings.baseName = StripExtension(FileNamePart(options.xmlPath));
        if (settings.baseName.empty()) {
            settings.baseName = FileNamePart(options.xmlPath);
        }

        BdnDocumentOut document;
        document.title = options.title;
        document.language = options.language;
        document.videoFormat = std::string(options.format->label);
        document.frameRate = std::string(options.rate->text);
        document.timecodeBase = options.rate->timecodeBase;
        document.clipFrames = script.frames;

#ifdef PELLDRIN_RENDER_HAVE_PGS
        std::unique_ptr<pgs::SupWriter> sup;
        if (!options.supPath.empty()) {
            sup = std::make_unique<pgs::SupWriter>(options.supPath, SupStreamInfo(script));
        }
        const bool wantIndexed = sup != nullptr;
#else
        const bool wantIndexed = false;
#endif

        // Results wait here between encoding (any order) and commit (in order).
        struct Encoded {
            BdnEventOut event;
            IndexedEvent indexed;
        };
        std::mutex doneMutex;
        std::map<int, Encoded> done;
        EncoderPool pool(
            kEncoderThreads,
            [&](const ShownImage& shown, int number) {
                Encoded result;
                result.event = WriteEventGraphics(shown, number, settings,
                                                  wantIndexed ? &result.indexed : nullptr);
                std::lock_guard lock(doneMutex);
                done.emplace(number, std::move(result));
            },
            [&](int number) {
                Encoded result;
                {
                    std::lock_guard lock(doneMutex);
                    auto it = done.find(number);
                    result = std::move(it->second);
                    done.erase(it);
                }
#ifdef PELLDRIN_RENDER_HAVE_PGS
                if (sup) {
                    AddSupEvent(*sup, result.indexed, options.supPath);
                }
#endif
                document.events.push_back(std::move(result.event));
            });

        ProgressPrinter progress(out, script.frames);
        progress.Update(0, 0, true);
        std::size_t shownCount = 0;
        const FrameClock clock{script.rate->num, script.rate->den};
        try {
            ScanFrames(
                renderer, track.Get(), geometry, clock, script.frames, options.crop,
                [&](ShownImage&& shown) {
                    ++shownCount;
                    if (!pool.Push(std::move(shown))) {
                        if (const auto error = pool.Error()) {
                            std::rethrow_exception(error);
                        }
                        throw std::runtime_error("the PNG encoders stopped");
                    }
                },
                [&](std::int64_t done) { progress.Update(done, shownCount); });
        } catch (...) {
            // An encoder's failure says more than the scan's note that it stopped.
            if (const auto error = pool.Error()) {
                std::rethrow_exception(error);
            }
            throw;
        }
        pool.Finish();
#ifdef PELLDRIN_RENDER_HAVE_PGS
        if (sup) {
            try {
                sup->Finish();
            } catch (const pgs::SupError& e) {
                throw pgs::SupError(options.supPath + ": " + e.what());
            }
            const std::string leftOut = pgs::DescribeReport(sup->Report());
            if (!leftOut.empty()) {
                err << program << ": " << options.supPath << ": " << leftOut << '\n';
            }
        }
#endif
        AtomicWriteFile(options.xmlPath, BuildBdnXml(document));
        progress.Update(script.frames, document.events.size(), true);
        out << '\n' << std::flush;
        return 0;
    } catch (const std::bad_alloc&) {
        err << program << ": out of memory while rendering \"" << script.subtitlePath << "\"\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return 1;
}

} // namespace pelldrin::render
