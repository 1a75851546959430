// pelldrin-render's script reader over any text: it reads a script or refuses it
// with ScriptError on one short line of plain characters, and what it reads lies
// inside the limits it promises.
#include "FuzzSupport.h"

#include "input/RenderScript.h"

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    render::RenderScript script;
    try {
        script = render::ParseRenderScript(text, "fuzz.avs");
    } catch (const render::ScriptError& e) {
        const std::string_view message = e.what();
        FUZZ_CHECK(message.size() < 3000); // a quoted line and name, escapes and all
        for (const char c : message) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        }
        return 0;
    }
    FUZZ_CHECK(!script.subtitlePath.empty());
    FUZZ_CHECK(script.rate != nullptr);
    FUZZ_CHECK(FindFrameRate(script.rate->text) == script.rate);
    FUZZ_CHECK(script.renderWidth >= 1 && script.renderWidth <= 8192);
    FUZZ_CHECK(script.renderHeight >= 1 && script.renderHeight <= 8192);
    FUZZ_CHECK(script.frames >= 0 && script.frames <= 2'147'483'647);
    FUZZ_CHECK(script.height == script.renderHeight);
    FUZZ_CHECK(script.width == script.renderWidth || script.width == 720);
    return 0;
}
