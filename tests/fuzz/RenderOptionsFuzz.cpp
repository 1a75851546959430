// pelldrin-render's command line, as arguments cut at zero bytes: it parses or
// is refused with UsageError, and a parsed one has everything a run needs.
#include "FuzzSupport.h"

#include "input/RenderOptions.h"
#include "input/RenderScript.h"

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
    FUZZ_CHECK(options.format != nullptr && options.rate != nullptr);
    FUZZ_CHECK(!options.scriptPath.empty());
    FUZZ_CHECK(options.scriptPath == args.back());
    FUZZ_CHECK(options.minGap >= 1 && options.minGap <= 10000);
    // Every limit stays a bound: none can be switched off or made negative.
    FUZZ_CHECK(options.limits.memoryMb >= 1);
    FUZZ_CHECK(options.limits.frameSeconds > 0);
    FUZZ_CHECK(options.limits.events >= 1);
    FUZZ_CHECK(options.limits.outputBytes >= 1024);

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
