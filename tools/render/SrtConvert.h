// SRT subtitles as ASS events, and the ".style" files that give them their look.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// A subtitle or style file the renderer cannot read; the message names the file.
class SubtitleError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One SRT cue: times in milliseconds, text with ASS override tags and "\N" breaks.
struct SrtEvent {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string text;
};

// The cues of an SRT file (UTF-8, no byte-order mark), in file order. Cues whose
// end is not after their start are dropped; text that is not a cue is skipped.
std::vector<SrtEvent> ParseSrt(std::string_view text);

// One SRT text line with <i> <b> <u> <s> and <font color> turned into ASS tags.
// fontColors carries the open <font> colours from line to line.
std::string SrtLineToAss(std::string_view line, std::vector<std::string>& fontColors);

// The style SRT text is drawn with.
struct SrtStyle {
    int playResX = 384;
    int playResY = 288;
    bool scaledBorderAndShadow = true;
    std::string format; // the Format line's text after "Format:"
    std::string style;  // the Style line's text after "Style:"
    std::string name;   // the style's Name field
};

// The style used when no ".srt.style" file lies beside the SRT file.
SrtStyle DefaultSrtStyle();

// Parses a ".style" file: one "Style:" line, optionally with "[V4+ Styles]", a
// "Format:" line, "PlayResX:", "PlayResY:" and "ScaledBorderAndShadow:" lines,
// blank lines and ";" comments. path names the file in errors.
SrtStyle ParseSrtStyle(std::string_view text, std::string_view path);

// An ASS script with the style and an empty event list, ready for libass.
std::string BuildSrtScriptHeader(const SrtStyle& style);

// Subtitle bytes as UTF-8: a UTF-8 byte-order mark is dropped, UTF-16 with a
// byte-order mark is converted.
std::string DecodeSubtitleText(std::string_view bytes);

} // namespace pelldrin::render
