// pelldrin-render loading a subtitle file of any bytes into libass: an .ass or
// .ssa file, or an .srt file with or without a style file beside it. It loads or
// throws SubtitleError, and every timing it reports lasts.
#include "FuzzSupport.h"

#include "render/SrtConvert.h"
#include "render/SubtitleTrack.h"

#include <stdexcept>

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static render::AssLibrary library; // libass's messages are dropped
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
    fuzz::WriteBytes(path, in.Rest());

    try {
        render::SubtitleTrack track(library, path);
        FUZZ_CHECK(track.Get() != nullptr);
        for (const render::EventTiming& t : render::TrackTimings(track.Get())) {
            FUZZ_CHECK(t.endMs > t.startMs);
        }
    } catch (const render::SubtitleError&) {
    }
    return 0;
}
