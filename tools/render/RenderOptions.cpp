#include "render/RenderOptions.h"

#include "base/PathText.h"
#include "base/TextHelpers.h"

#include <array>

namespace pelldrin::render {

namespace {

bool ParseSwitch(char letter, const std::string& value) {
    if (value == "0") {
        return false;
    }
    if (value == "1") {
        return true;
    }
    throw UsageError(std::string("-") + letter + " takes 0 or 1, not \"" + value + "\"");
}

} // namespace

RenderOptions ParseRenderOptions(const std::vector<std::string>& args) {
    RenderOptions options;
    bool haveTitle = false;
    std::vector<std::string> outputs;
    // A title with blanks reaches us in pieces because the command template does not
    // quote it; words that directly follow it (never the last argument) rejoin it.
    bool afterTitle = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == args.size();
        if (arg.size() < 2 || arg[0] != '-') {
            if (last) {
                options.scriptPath = arg;
            } else if (afterTitle) {
                options.title += ' ';
                options.title += arg;
            } else {
                throw UsageError("unexpected argument \"" + arg + "\"");
            }
            continue;
        }
        afterTitle = false;
        const char letter = arg[1];
        if (std::string_view("tlvfapbmFo").find(letter) == std::string_view::npos) {
            throw UsageError("unknown option \"" + arg + "\"");
        }
        std::string value;
        if (arg.size() > 2) {
            value = arg.substr(2);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError(std::string("option -") + letter + " needs a value");
        }
        switch (letter) {
        case 't':
            options.title = value;
            haveTitle = true;
            afterTitle = true;
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
                throw UsageError("-m takes a number of rows from 1 to 10000, not \"" + value +
                                 "\"");
            }
            options.minGap = static_cast<int>(n);
            break;
        }
        case 'o':
            if (outputs.size() == 2) {
                throw UsageError("at most two outputs (-o X.xml -o X.sup)");
            }
            outputs.push_back(value);
            break;
        default:
            break;
        }
    }
    if (options.format == nullptr) {
        throw UsageError("missing the video format (-v)");
    }
    if (options.rate == nullptr) {
        throw UsageError("missing the frame rate (-f)");
    }
    if (outputs.empty()) {
        throw UsageError("missing the BDN XML output (-o X.xml)");
    }
    if (options.scriptPath.empty()) {
        throw UsageError("missing the script");
    }
    options.xmlPath = outputs[0];
    if (outputs.size() == 2) {
        options.supPath = outputs[1];
    }
    if (!haveTitle) {
        options.title = StripExtension(FileNamePart(options.xmlPath));
    }
    return options;
}

std::string UsageText() {
    return "usage: pelldrin-render -t NAME -l LANG -v FORMAT -f RATE [-a 0|1] [-p 0|1] [-b 0|1]\n"
           "                      [-m ROWS] [-F 0|1] -o OUT.xml [-o OUT.sup] SCRIPT.avs\n"
           "  -v  1080p, 1080i, 720p, 480p, 480i or 576i\n"
           "  -f  23.976, 24, 25, 29.97, 50 or 59.94\n"
           "  -a  crop each image to its visible pixels (default 1)\n"
           "  -p  8-bit palette PNGs (1) or 32-bit RGBA PNGs (0, default)\n"
           "  -b  split an image with two parts into two graphics (default 0)\n"
           "  -m  fully transparent rows that separate two parts (default 3)\n"
           "  -F  mark every event forced (default 0)\n";
}

} // namespace pelldrin::render
