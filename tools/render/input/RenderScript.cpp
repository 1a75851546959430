#include "input/RenderScript.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <vector>

namespace pelldrin::render {

namespace {

constexpr std::int64_t kMaxSide = 8192;
// The largest clip the task builder can ask for (its frame count is 32-bit).
constexpr std::int64_t kMaxFrames = 2'147'483'647;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Splits "Name(args)" into the name and the text between the parentheses.
bool SplitCall(std::string_view line, std::string_view& name, std::string_view& inner) {
    const auto open = line.find('(');
    if (open == std::string_view::npos || line.back() != ')') {
        return false;
    }
    name = TrimBlanks(line.substr(0, open));
    inner = line.substr(open + 1, line.size() - open - 2);
    return true;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && SameTextN(a, b, a.size());
}

// A quoted string that fills the whole text.
bool Unquote(std::string_view text, std::string& out) {
    text = TrimBlanks(text);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return false;
    }
    out.assign(text.substr(1, text.size() - 2));
    return !out.empty();
}

bool ReadNumber(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
    return TryParseInt(TrimBlanks(text), value) && value >= low && value <= high &&
           TrimBlanks(text).front() != '+';
}

// Reads MaskSub's arguments into the script; returns what is wrong with them, or nothing.
std::string ReadMaskSub(std::string_view inner, RenderScript& script) {
    // The path may hold commas; the numbers after its closing quote do not.
    const auto closeQuote = inner.rfind('"');
    if (closeQuote == std::string_view::npos ||
        !Unquote(inner.substr(0, closeQuote + 1), script.subtitlePath)) {
        return "MaskSub needs the subtitle file in double quotes first";
    }
    std::string_view rest = TrimBlanks(inner.substr(closeQuote + 1));
    const auto numbers = rest.empty() || rest.front() != ','
                             ? std::vector<std::string>{}
                             : SplitByDelimiter(rest.substr(1), ',');
    if (numbers.size() != 4) {
        return "MaskSub takes a file, width, height, rate and frame count";
    }
    std::int64_t w = 0;
    std::int64_t h = 0;
    if (!ReadNumber(numbers[0], 1, kMaxSide, w) || !ReadNumber(numbers[1], 1, kMaxSide, h)) {
        return "the width and height must be whole numbers from 1 to 8192";
    }
    script.rate = FindFrameRate(TrimBlanks(numbers[2]));
    if (script.rate == nullptr) {
        return "the rate must be 23.976, 24, 25, 29.97, 50 or 59.94";
    }
    if (!ReadNumber(numbers[3], 0, kMaxFrames, script.frames)) {
        return "the frame count must be a whole number from 0 to 2147483647";
    }
    script.renderWidth = script.width = static_cast<int>(w);
    script.renderHeight = script.height = static_cast<int>(h);
    return {};
}

// Reads LanczosResize's arguments into the script; returns what is wrong, or nothing.
std::string ReadResize(std::string_view inner, RenderScript& script) {
    const auto numbers = SplitByDelimiter(inner, ',');
    std::int64_t w = 0;
    std::int64_t h = 0;
    if (numbers.size() != 2 || !ReadNumber(numbers[0], 1, kMaxSide, w) ||
        !ReadNumber(numbers[1], 1, kMaxSide, h)) {
        return "LanczosResize takes a width and a height";
    }
    if (w != 720 || (h != 480 && h != 576) || h != script.renderHeight) {
        return "only LanczosResize(720,480) or LanczosResize(720,576) at the clip's height is "
               "supported";
    }
    script.width = static_cast<int>(w);
    return {};
}

} // namespace

RenderScript ParseRenderScript(std::string_view text, std::string_view scriptPath) {
    RenderScript script;
    bool haveMaskSub = false;
    bool haveResize = false;
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        pos = 3;
    }
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
        }
        const std::string_view line = TrimBlanks(raw);
        const auto fail = [&](const std::string& why) {
            throw ScriptError(std::string(scriptPath) + ": line " + std::to_string(lineNumber) +
                              " \"" + QuoteForMessage(raw) + "\": " + why);
        };
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view name;
        std::string_view inner;
        if (!SplitCall(line, name, inner)) {
            fail("not a call this renderer understands");
        }
        if (SameName(name, "LoadPlugin")) {
            std::string ignored;
            if (!Unquote(inner, ignored)) {
                fail("LoadPlugin takes one quoted path");
            }
            continue;
        }
        if (SameName(name, "MaskSub")) {
            if (haveMaskSub) {
                fail("a second MaskSub line");
            }
            if (const std::string why = ReadMaskSub(inner, script); !why.empty()) {
                fail(why);
            }
            haveMaskSub = true;
            continue;
        }
        if (SameName(name, "LanczosResize")) {
            if (!haveMaskSub) {
                fail("LanczosResize before MaskSub");
            }
            if (haveResize) {
                fail("a second LanczosResize line");
            }
            if (const std::string why = ReadResize(inner, script); !why.empty()) {
                fail(why);
            }
            haveResize = true;
            continue;
        }
        fail("unknown function \"" + QuoteForMessage(name) + "\"");
    }
    if (!haveMaskSub) {
        throw ScriptError(std::string(scriptPath) + ": no MaskSub line");
    }
    return script;
}

RenderScript ReadRenderScript(std::string_view scriptPath) {
    return ParseRenderScript(ReadWholeFile(scriptPath), scriptPath);
}

} // namespace pelldrin::render
