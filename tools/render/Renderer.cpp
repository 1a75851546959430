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
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#ifdef PELLDRIN_RENDER_HAVE_PGS
#include "pgs/SupWriter.h"
#endif

namespace pelldrin::render {

namespace {

constexpr std::size_t kQueueLimit = 48; // pictures waiting for the encoder
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::string GraphicName(const GraphicSettings& settings, int eventNumber, int part) {
    char number[32];
    std::snprintf(number, sizeof number, "_%05d", eventNumber);
    std::string name = settings.baseName + number;
    if (part > 0) {
        name += "_" + std::to_string(part);
    }
    return name + ".png";
}

void SaveGraphic(const GraphicSettings& settings, const std::string& name,
                 const std::vector<std::uint8_t>& bytes) {
    WriteFileBytes(JoinPath(settings.folder, name), bytes);
}

// Pictures from the scanning thread to the encoding thread, in order.
class ImageQueue {
  public:
    // Blocks while the queue is full; false when the consumer has given up.
    bool Push(ShownImage&& image) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return items_.size() < kQueueLimit || stopped_; });
        if (stopped_) {
            return false;
        }
        items_.push_back(std::move(image));
        notEmpty_.notify_one();
        return true;
    }
    // False once the queue is closed and empty.
    bool Pop(ShownImage& image) {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
        if (items_.empty()) {
            return false;
        }
        image = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
    }
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        notFull_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<ShownImage> items_;
    bool closed_ = false;
    bool stopped_ = false;
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
            indexedPart =
                whole ? quantized : CutIndexed(quantized, r.left, r.top, r.right, r.bottom);
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

    ImageQueue queue;
    std::exception_ptr encoderError;
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
#endif

        // PNG encoding runs beside the scan; the guard ends it on every way out.
        std::thread encoder([&] {
            try {
                ShownImage shown;
                IndexedEvent indexed;
                while (queue.Pop(shown)) {
                    const int number = static_cast<int>(document.events.size()) + 1;
                    indexed.parts.clear();
#ifdef PELLDRIN_RENDER_HAVE_PGS
                    IndexedEvent* wanted = sup ? &indexed : nullptr;
#else
                    IndexedEvent* wanted = nullptr;
#endif
                    document.events.push_back(WriteEventGraphics(shown, number, settings, wanted));
#ifdef PELLDRIN_RENDER_HAVE_PGS
                    if (sup) {
                        AddSupEvent(*sup, indexed, options.supPath);
                    }
#endif
                }
            } catch (...) {
                encoderError = std::current_exception();
                queue.Stop();
            }
        });
        struct EncoderGuard {
            ImageQueue& queue;
            std::thread& thread;
            ~EncoderGuard() {
                queue.Close();
                queue.Stop();
                if (thread.joinable()) {
                    thread.join();
                }
            }
        } encoderGuard{queue, encoder};

        ProgressPrinter progress(out, script.frames);
        progress.Update(0, 0, true);
        std::size_t shownCount = 0;
        const FrameClock clock{script.rate->num, script.rate->den};
        ScanFrames(
            renderer, track.Get(), geometry, clock, script.frames, options.crop,
            [&](ShownImage&& shown) {
                ++shownCount;
                if (!queue.Push(std::move(shown))) {
                    throw std::runtime_error("the encoder stopped");
                }
            },
            [&](std::int64_t done) { progress.Update(done, shownCount); });
        queue.Close();
        encoder.join();
        if (encoderError) {
            std::rethrow_exception(encoderError);
        }
#ifdef PELLDRIN_RENDER_HAVE_PGS
        if (sup) {
            try {
                sup->Finish();
            } catch (const pgs::SupError& e) {
                throw pgs::SupError(options.supPath + ": " + e.what());
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
        // The encoder's own failure says more than the scan's note that it stopped.
        std::string message = e.what();
        if (encoderError) {
            try {
                std::rethrow_exception(encoderError);
            } catch (const std::exception& inner) {
                message = inner.what();
            } catch (...) {
            }
        }
        err << program << ": " << message << '\n';
    }
    return 1;
}

} // namespace pelldrin::render
