#include "render/Preview.h"

#include "base/PathText.h"
#include "drawing/Composite.h"
#include "encoding/PngWriter.h"
#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "input/RenderOptions.h"
#include "input/RenderScript.h"
#include "input/SubtitleTrack.h"
#include "output/EventFiles.h"
#include "output/OutputGuard.h"

#include <cmath>
#include <memory>

namespace pelldrin::render {

namespace {

constexpr const char* kPreviewOption = "--preview";

// The arguments without "--preview SECONDS", and the seconds.
std::vector<std::string> TakePreviewTime(const std::vector<std::string>& args, double& seconds) {
    std::vector<std::string> rest;
    bool found = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0 && args[i] == kPreviewOption) {
            if (i + 1 >= args.size()) {
                throw UsageError("--preview needs a time in seconds");
            }
            const std::string& value = args[++i];
            std::size_t used = 0;
            try {
                seconds = std::stod(value, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != value.size() || !std::isfinite(seconds) || seconds < 0) {
                throw UsageError("--preview takes a time in seconds, not \"" + value + "\"");
            }
            found = true;
            continue;
        }
        rest.push_back(args[i]);
    }
    if (!found) {
        throw UsageError("no --preview time");
    }
    return rest;
}

} // namespace

bool IsPreviewRequest(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == kPreviewOption) {
            return true;
        }
    }
    return false;
}

int RunPreview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string program = "pelldrin-render";
    RenderOptions options;
    RenderScript script;
    double seconds = 0;
    try {
        options = ParseRenderOptions(TakePreviewTime(args, seconds));
        if (!options.supPath.empty()) {
            throw UsageError("a preview writes one PNG: give one -o");
        }
        script = ReadRenderScript(options.scriptPath);
        CheckScriptMatchesOptions(script, options);
        // The picture never replaces what the preview reads.
        CheckOutputPaths(OutputLayout(options.xmlPath), {options.scriptPath, script.subtitlePath});
    } catch (const UsageError& e) {
        err << program << ": " << e.what() << '\n' << UsageText();
        return 2;
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
        return 1;
    }
    try {
        LibassSession session(
            script.subtitlePath, options.charset,
            [&](const std::string& message) { err << "Warning: " << message << '\n'; });
        const FrameGeometry geometry{script.width, script.height, script.renderWidth,
                                     script.renderHeight};
        CheckTrackWithinLimits(session.Track(), session.EventLines(), geometry, options.limits,
                               script.subtitlePath);
        ASS_Renderer* renderer =
            session.StartRenderer(geometry, LibassCacheMegabytes(options.limits));

        // The frame shown at that time, as the conversion numbers frames.
        const FrameClock clock{script.rate->num, script.rate->den};
        const auto frame = static_cast<std::int64_t>(
            std::floor(seconds * static_cast<double>(clock.num) / static_cast<double>(clock.den)));
        int changed = 0;
        const ASS_Image* images =
            ass_render_frame(renderer, session.Track(), clock.MsOfFrame(frame), &changed);
        const RgbaImage picture = CompositeFullFrame(images, geometry.width, geometry.height);
        WriteFileBytes(options.xmlPath, EncodePngRgba(picture, DefaultPngSettings()));

        const RgbaImage box = CropToVisible(picture);
        if (box.Empty()) {
            out << "Box: none\n";
        } else {
            out << "Box: " << box.x << ' ' << box.y << ' ' << box.width << ' ' << box.height
                << '\n';
        }
        return 0;
    } catch (const std::bad_alloc&) {
        err << program << ": out of memory while drawing \"" << script.subtitlePath << "\"\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return 1;
}

} // namespace pelldrin::render
