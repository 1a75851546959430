// pelldrin-render's command line, as arguments cut at zero bytes: it parses or
// is refused with UsageError, and a parsed one has everything a run needs.
#include "FuzzSupport.h"

#include "input/RenderOptions.h"
#include "input/RenderScript.h"

#include <string_view>

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    std::vector<std::string> args{"pelldrin-render"};
    while (!in.Empty()) {
        args.emplace_back(in.Until('\0'));
    }
    render::RenderOptions options;
    try {
        options = render::ParseRenderOptions(args);
    } catch (const render::UsageError&) {
        return 0;
    }
    if (options.request != render::RenderRequest::Render) {
        return 0; // --help or --version asks for nothing else
    }
    FUZZ_CHECK(options.format != nullptr && options.rate != nullptr);
    FUZZ_CHECK(!options.scriptPath.empty());
    FUZZ_CHECK(options.scriptPath == args.back());
    FUZZ_CHECK(options.minGap >= 1 && options.minGap <= 10000);
    // Every limit stays a bound: none can be switched off or made negative.
    FUZZ_CHECK(options.limits.memoryMb >= 1);
    FUZZ_CHECK(options.limits.frameSeconds > 0);
    FUZZ_CHECK(options.limits.events >= 1);
    FUZZ_CHECK(options.limits.outputBytes >= 1024);
    // HDR10 is for 1080p graphics at a sensible white; SDR has none to set.
    if (options.colour.kind == render::ColorKind::Hdr10) {
        FUZZ_CHECK(std::string_view(options.format->label) == "1080p");
        FUZZ_CHECK(options.colour.whiteNits >= render::kMinWhiteNits &&
                   options.colour.whiteNits <= render::kMaxWhiteNits);
    } else {
        FUZZ_CHECK(options.colour.whiteNits == render::kDefaultWhiteNits);
    }

    // A script of the same format and rate matches the options.
    render::RenderScript script;
    script.renderWidth = options.format->renderWidth;
    script.renderHeight = options.format->renderHeight;
    script.width = options.format->width;
    script.height = options.format->height;
    script.rate = options.rate;
    render::CheckScriptMatchesOptions(script, options);
    return 0;
}
