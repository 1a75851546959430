// pelldrin-render loading a subtitle file of any bytes into libass: an .ass or
// .ssa file, or an .srt file with or without a style file beside it. It loads or
// throws SubtitleError (bytes that do not decode among them), every timing it reports lasts, and a
// load that drops a zero byte or gives no events from a file with text says so in a warning.
#include "FuzzSupport.h"

#include "core/RenderErrors.h"
#include "input/LibassSession.h"
#include "input/SubtitleText.h"

#include <stdexcept>
#include <string>
#include <vector>

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> warnings;
    fuzz::InputReader in(data, size);
    const std::uint8_t choice = in.Byte();
    const std::string folder = fuzz::ScratchFolder();
    std::string path;
    const std::string stylePath = folder + "/sub.srt.style";
    ::unlink(stylePath.c_str());
    switch (choice % 4) {
    case 0:
        path = folder + "/sub.ass";
        break;
    case 1:
        path = folder + "/sub.ssa";
        break;
    case 2:
        path = folder + "/sub.srt";
        break;
    default:
        // The style file first, cut off at the first zero byte.
        path = folder + "/sub.srt";
        fuzz::WriteBytes(stylePath, in.Until('\0'));
        break;
    }
    const std::string_view bytes = in.Rest();
    fuzz::WriteBytes(path, bytes);
    std::string text; // what the load reads; empty when the bytes do not decode
    try {
        text = render::DecodeSubtitleText(bytes);
    } catch (const TextDecodeError&) {
    }
    const auto warned = [&](std::string_view what) {
        for (const std::string& w : warnings) {
            if (w.find(what) != std::string::npos) {
                return true;
            }
        }
        return false;
    };

    try {
        const render::LibassSession track(
            path, {}, [&](const std::string& message) { warnings.push_back(message); });
        FUZZ_CHECK(track.Track() != nullptr);
        // Content lost while the load succeeds must be reported.
        FUZZ_CHECK(text.find('\0') == std::string::npos || warned("a zero byte"));
        FUZZ_CHECK(track.Track()->n_events > 0 || warned("no events"));
        for (const int line : track.EventLines()) {
            FUZZ_CHECK(line >= 0 && static_cast<std::size_t>(line) <= text.size() + 1);
        }
        for (const render::EventTiming& t : render::TrackTimings(track.Track())) {
            FUZZ_CHECK(t.endMs > t.startMs);
        }
    } catch (const render::SubtitleError&) {
    }
    return 0;
}
