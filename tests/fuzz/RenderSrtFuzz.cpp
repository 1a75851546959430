// pelldrin-render's SRT reading over any bytes: the cue parser, the tag
// conversion and the style file reader end, keep their promises, and throw
// nothing but SubtitleError.
#include "FuzzSupport.h"

#include "input/SrtConvert.h"
#include "input/SubtitleText.h"

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choice = in.Byte();
    const std::string_view bytes = in.Rest();

    switch (choice % 3) {
    case 0: {
        std::string text;
        try {
            text = render::DecodeSubtitleText(bytes);
        } catch (const TextDecodeError&) {
            break; // not text in any encoding that is recognised
        }
        for (const render::SrtEvent& e : render::ParseSrt(text)) {
            FUZZ_CHECK(e.endMs > e.startMs);
            FUZZ_CHECK(e.startMs >= 0);
            FUZZ_CHECK(e.text.find('\n') == std::string::npos);
        }
        break;
    }
    case 1: {
        render::SrtStyle style;
        try {
            style = render::ParseSrtStyle(bytes, "fuzz.srt.style");
        } catch (const render::SubtitleError&) {
            return 0;
        }
        FUZZ_CHECK(!style.name.empty());
        FUZZ_CHECK(style.playResX >= 1 && style.playResY >= 1);
        const std::string header = render::BuildSrtScriptHeader(style);
        FUZZ_CHECK(header.find("[Events]") != std::string::npos);
        break;
    }
    default: {
        render::SrtTagState state;
        fuzz::InputReader lines(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        while (!lines.Empty()) {
            const std::string_view line = lines.Until('\n');
            const std::string ass = render::SrtLineToAss(line, state);
            // Tags become ASS blocks; text without tags or ASS escapes is kept as it is.
            if (line.find_first_of("<{}\\") == std::string_view::npos) {
                FUZZ_CHECK(ass == line);
            }
        }
        break;
    }
    }
    return 0;
}
