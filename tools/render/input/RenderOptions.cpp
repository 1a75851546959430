#include "input/RenderOptions.h"

#include "base/PathText.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace pelldrin::render {

namespace {

bool ParseSwitch(char letter, const std::string& value) {
    if (value == "0") {
        return false;
    }
    if (value == "1") {
        return true;
    }
    throw UsageError(std::string("-") + letter + " takes 0 or 1, not \"" + QuoteForMessage(value) +
                     "\"");
}

constexpr std::int64_t kMaxThreads = 64;

std::int64_t ParseCount(const std::string& name, const std::string& value, std::int64_t high) {
    std::int64_t n = 0;
    if (!TryParseInt(value, n) || n < 1 || n > high) {
        throw UsageError(name + " takes a whole number from 1 to " + std::to_string(high) +
                         ", not \"" + QuoteForMessage(value) + "\"");
    }
    return n;
}

// Sets one limit from "--name" and its value; false for a name that is no limit.
bool ParseLimit(const std::string& name, const std::string& value, RenderLimits& limits) {
    if (name == "--max-memory") {
        limits.memoryMb = ParseCount(name, value, std::int64_t{1} << 30);
    } else if (name == "--max-frame-time") {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size() || !(seconds > 0) ||
            seconds > 1e6) {
            throw UsageError(name + " takes a number of seconds above 0, not \"" +
                             QuoteForMessage(value) + "\"");
        }
        limits.frameSeconds = seconds;
    } else if (name == "--max-events") {
        limits.events = ParseCount(name, value, 2'000'000'000);
    } else if (name == "--threads") {
        limits.threads = static_cast<int>(ParseCount(name, value, kMaxThreads));
    } else if (name == "--max-output") {
        // Megabytes, or a number with K, M or G.
        const char unit = value.empty() ? 'M' : value.back();
        const int shift = unit == 'K' || unit == 'k' ? 10 : unit == 'G' || unit == 'g' ? 30 : 20;
        const bool suffix = std::string_view("KkMmGg").find(unit) != std::string_view::npos;
        limits.outputBytes = ParseCount(name, suffix ? value.substr(0, value.size() - 1) : value,
                                        std::int64_t{1} << 30)
                             << shift;
    } else {
        return false;
    }
    return true;
}

// What parsing carries from one argument to the next.
struct ParseState {
    bool haveTitle = false;
    std::vector<std::string> outputs;
    bool afterTitle = false;
    bool haveWhite = false;
};

// Sets the pictures' colours from "--colour" or "--white"; false for another name.
bool ParseColour(const std::string& name, const std::string& value, ColorSettings& colour,
                 ParseState& state) {
    if (name == "--colour") {
        if (value == "sdr") {
            colour.kind = ColorKind::Sdr;
        } else if (value == "hdr10") {
            colour.kind = ColorKind::Hdr10;
        } else {
            throw UsageError("--colour takes sdr or hdr10, not \"" + QuoteForMessage(value) + "\"");
        }
    } else if (name == "--white") {
        std::int64_t nits = 0;
        if (!TryParseInt(value, nits) || nits < kMinWhiteNits || nits > kMaxWhiteNits) {
            throw UsageError("--white takes the subtitle white in cd/m2, a whole number from " +
                             std::to_string(kMinWhiteNits) + " to " +
                             std::to_string(kMaxWhiteNits) + ", not \"" + QuoteForMessage(value) +
                             "\"");
        }
        colour.whiteNits = static_cast<int>(nits);
        state.haveWhite = true;
    } else {
        return false;
    }
    return true;
}

// An HDR10 run is for the 1920x1080 graphics of a UHD disc, and only it has a white to set.
void CheckColour(const RenderOptions& options, const ParseState& state) {
    if (options.colour.kind != ColorKind::Hdr10) {
        if (state.haveWhite) {
            throw UsageError("--white sets the subtitle white of --colour hdr10; SDR pictures "
                             "keep the white they were authored with");
        }
        return;
    }
    if (std::string_view(options.format->label) != "1080p") {
        throw UsageError("--colour hdr10 is for the 1080p graphics of a UHD disc, not -v " +
                         std::string(options.format->label));
    }
}

// Applies one single-letter option and its value.
void ApplyOption(char letter, const std::string& value, RenderOptions& options, ParseState& state) {
    switch (letter) {
    case 't':
        options.title = value;
        state.haveTitle = true;
        state.afterTitle = true;
        break;
    case 'l':
        options.language = value;
        break;
    case 'v':
        options.format = FindVideoFormat(value);
        if (options.format == nullptr) {
            throw UsageError("unknown video format \"" + value +
                             "\" (1080p, 1080i, 720p, 480p, 480i or 576i)");
        }
        break;
    case 'f':
        options.rate = FindFrameRate(value);
        if (options.rate == nullptr) {
            throw UsageError("unknown frame rate \"" + value +
                             "\" (23.976, 24, 25, 29.97, 50 or 59.94)");
        }
        break;
    case 'a':
        options.crop = ParseSwitch(letter, value);
        break;
    case 'p':
        options.palette = ParseSwitch(letter, value);
        break;
    case 'b':
        options.split = ParseSwitch(letter, value);
        break;
    case 'F':
        options.forced = ParseSwitch(letter, value);
        break;
    case 'm': {
        std::int64_t n = 0;
        if (!TryParseInt(value, n) || n < 1 || n > 10000) {
            throw UsageError("-m takes a number of rows from 1 to 10000, not \"" + value + "\"");
        }
        options.minGap = static_cast<int>(n);
        break;
    }
    case 'o':
        if (state.outputs.size() == 2) {
            throw UsageError("at most two outputs (-o X.xml -o X.sup)");
        }
        state.outputs.push_back(value);
        break;
    default:
        break;
    }
}

// The long options that take a value.
constexpr std::string_view kLongOptions[] = {"--charset",    "--max-memory", "--max-frame-time",
                                             "--max-events", "--threads",    "--max-output",
                                             "--colour",     "--white"};

// Reads "--name=VALUE" or "--name VALUE" at args[i].
void ReadLongOption(const std::vector<std::string>& args, std::size_t& i, RenderOptions& options,
                    ParseState& state) {
    const std::string& arg = args[i];
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    // Named as unknown whatever follows it: a missing value is not its trouble.
    if (std::find(std::begin(kLongOptions), std::end(kLongOptions), name) ==
        std::end(kLongOptions)) {
        throw UsageError("unknown option \"" + QuoteForMessage(name) + "\"");
    }
    std::string value;
    if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
    } else if (i + 2 < args.size()) {
        value = args[++i]; // never the last argument, which is the script
    } else {
        throw UsageError("option " + QuoteForMessage(name) + " needs a value");
    }
    if (name == "--charset") {
        if (Trim(value).empty()) {
            throw UsageError("--charset takes the name of an encoding, such as GB18030");
        }
        options.charset = value;
    } else if (!ParseColour(name, value, options.colour, state) &&
               !ParseLimit(name, value, options.limits)) {
        throw UsageError("unknown option \"" + QuoteForMessage(name) + "\"");
    }
}

} // namespace

RenderOptions ParseRenderOptions(const std::vector<std::string>& args) {
    RenderOptions options;
    ParseState state;
    // A title with blanks reaches us in pieces because the command template does not
    // quote it; words that directly follow it (never the last argument) rejoin it.
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == args.size();
        if (arg.size() < 2 || arg[0] != '-') {
            if (last) {
                options.scriptPath = arg;
            } else if (state.afterTitle) {
                options.title += ' ';
                options.title += arg;
            } else {
                throw UsageError("unexpected argument \"" + QuoteForMessage(arg) + "\"");
            }
            continue;
        }
        state.afterTitle = false;
        if (arg == "--help" || arg == "--version") {
            options.request = arg == "--help" ? RenderRequest::Help : RenderRequest::Version;
            return options;
        }
        if (arg.compare(0, 2, "--") == 0) {
            ReadLongOption(args, i, options, state);
            continue;
        }
        const char letter = arg[1];
        if (std::string_view("tlvfapbmFo").find(letter) == std::string_view::npos) {
            throw UsageError("unknown option \"" + QuoteForMessage(arg) + "\"");
        }
        std::string value;
        if (arg.size() > 2) {
            value = arg.substr(2);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError(std::string("option -") + letter + " needs a value");
        }
        ApplyOption(letter, value, options, state);
    }
    if (options.format == nullptr) {
        throw UsageError("missing the video format (-v)");
    }
    if (options.rate == nullptr) {
        throw UsageError("missing the frame rate (-f)");
    }
    CheckColour(options, state);
    if (state.outputs.empty()) {
        throw UsageError("missing the BDN XML output (-o X.xml)");
    }
    if (options.scriptPath.empty()) {
        throw UsageError("missing the script");
    }
    options.xmlPath = state.outputs[0];
    if (state.outputs.size() == 2) {
        options.supPath = state.outputs[1];
    }
    if (!state.haveTitle) {
        options.title = StripExtension(FileNamePart(options.xmlPath));
    }
    return options;
}

std::string UsageText() {
    return "usage: pelldrin-render -t NAME -l LANG -v FORMAT -f RATE [-a 0|1] [-p 0|1] [-b 0|1]\n"
           "                      [-m ROWS] [-F 0|1] [--colour sdr|hdr10 [--white NITS]]\n"
           "                      -o OUT.xml [-o OUT.sup] SCRIPT.avs\n"
           "       pelldrin-render -v FORMAT -f RATE --preview SECONDS -o OUT.png SCRIPT.avs\n"
           "       pelldrin-render --tracks FILE.mkv\n"
           "       pelldrin-render --extract TRACK FILE.mkv -o FOLDER\n"
           "       pelldrin-render --help | --version\n"
           "  -v  1080p, 1080i, 720p, 480p, 480i or 576i\n"
           "  -f  23.976, 24, 25, 29.97, 50 or 59.94\n"
           "  -a  crop each image to its visible pixels (default 1)\n"
           "  -p  8-bit palette PNGs (1) or 32-bit RGBA PNGs (0, default)\n"
           "  -b  split an image with two parts into two graphics (default 0)\n"
           "  -m  fully transparent rows that separate two parts (default 3)\n"
           "  -F  mark every event forced (default 0)\n"
           "  --max-memory MB        memory the drawing may take (default 1024)\n"
           "  --max-frame-time S     seconds one frame may take to draw (default 10)\n"
           "  --max-events N         pictures a run may give (default 200000)\n"
           "  --max-output SIZE      bytes of pictures a run may write: MB, or with K, M, G\n"
           "                         (default 20G)\n"
           "  --threads N            threads that draw animation (default 1)\n"
           "  --charset NAME         the subtitle file's encoding, such as GB18030 or\n"
           "                         WINDOWS-1251 (default: recognised)\n"
           "  --colour sdr|hdr10     the pictures' colours: as authored (sdr, default), or\n"
           "                         PQ-coded BT.2020 for a UHD disc with HDR video (1080p)\n"
           "  --white NITS           the subtitle white of hdr10 in cd/m2, 80 to 1000\n"
           "                         (default 203)\n";
}

void CheckScriptMatchesOptions(const RenderScript& script, const RenderOptions& options) {
    const VideoFormat& f = *options.format;
    if (script.width != f.width || script.height != f.height ||
        script.renderWidth != f.renderWidth || script.renderHeight != f.renderHeight) {
        throw UsageError(
            "-v " + std::string(f.label) + " does not match the script's " +
            std::to_string(script.renderWidth) + "x" + std::to_string(script.renderHeight) +
            (script.width != script.renderWidth ? " resized to " + std::to_string(script.width) +
                                                      "x" + std::to_string(script.height)
                                                : std::string()));
    }
    if (script.rate != options.rate) {
        throw UsageError("-f " + std::string(options.rate->text) +
                         " does not match the script's rate " + std::string(script.rate->text));
    }
}

} // namespace pelldrin::render
