// SRT subtitles as ASS events, and the ".style" files that give them their look.
#pragma once

#include "core/RenderErrors.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// One SRT cue: times in milliseconds, text with ASS override tags and "\N" breaks.
struct SrtEvent {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string text;
    int line = 0; // of the timing line, from 1
};

// The font size that players treat as an SRT file's normal text size; <font size>
// numbers are read against it.
inline constexpr double kSrtNormalFontSize = 16;

// What the SRT reader takes from outside: the style's font size, which <font size>
// scales, and where warnings go (messages name the line and cue, not the file).
struct SrtReadSettings {
    double styleFontSize = kSrtNormalFontSize;
    std::function<void(const std::string&)> warn;
};

// The cues of an SRT file (UTF-8, no byte-order mark; CR LF, LF or CR line ends), in
// file order. Cues whose end is not after their start and text outside any cue are
// skipped with a warning.
std::vector<SrtEvent> ParseSrt(std::string_view text, const SrtReadSettings& settings = {});

// The tags open at a point of a cue; they carry over from line to line.
struct SrtTagState {
    struct Font {
        std::string color; // an ASS colour value; empty is the style's colour
        std::string size;  // a \fs value; empty is the style's size
        std::string face;  // a \fn value; empty is the style's font
    };
    std::vector<Font> fonts;
    int italic = 0, bold = 0, underline = 0, strike = 0; // open depth of each
};

// One SRT text line as ASS text: <i> <b> <u> <s> and <font color size face> become
// override tags, other tags are hidden, {\anN} places the cue, and every other
// character (braces and backslashes too) is drawn as written. where names the line
// and cue in warnings.
std::string SrtLineToAss(std::string_view line, SrtTagState& state,
                         const SrtReadSettings& settings = {}, std::string_view where = {});

// The style SRT text is drawn with.
struct SrtStyle {
    int playResX = 384;
    int playResY = 288;
    bool scaledBorderAndShadow = true;
    std::string format;   // the Format line's text after "Format:"
    std::string style;    // the Style line's text after "Style:"
    std::string name;     // the style's Name field
    double fontSize = 18; // the style's Fontsize field
};

// The style used when no ".srt.style" file lies beside the SRT file.
SrtStyle DefaultSrtStyle();

// Parses a ".style" file: one "Style:" line, optionally with "[V4+ Styles]", a
// "Format:" line, "PlayResX:", "PlayResY:" and "ScaledBorderAndShadow:" lines,
// blank lines and ";" comments. path names the file in errors.
SrtStyle ParseSrtStyle(std::string_view text, std::string_view path);

// An ASS script with the style and an empty event list, ready for libass.
std::string BuildSrtScriptHeader(const SrtStyle& style);

} // namespace pelldrin::render
