// Measures a subtitle file: the clip length in frames that covers its last subtitle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelldrin {

// How the scan reads a file: ASS/SSA event lines or SRT time lines.
enum SubtitleKind : int { skAssSsa = 0, skSrt = 1 };

// Frames from 0 to the latest subtitle end (whole seconds, plus the fraction
// of the last qualifying ASS line) at rate, rounded half up, plus 100.
// Throws FileError when the file cannot be read.
std::int32_t CountSubtitleFrames(const std::string& path, int kind, double rate);

// The same scan on file contents already in memory.
std::int32_t CountSubtitleFramesInText(std::string_view bytes, int kind, double rate);

// The earliest start time among the file's events, in seconds (ASS/SSA "Dialogue:" lines,
// SRT "-->" lines); nullopt when no event has a readable start. Where a preview begins.
// Throws FileError when the file cannot be read.
std::optional<double> FirstEventSeconds(const std::string& path, int kind);

// The same scan on file contents already in memory.
std::optional<double> FirstEventSecondsInText(std::string_view bytes, int kind);

// Reads "H:MM:SS" (minutes and seconds optional, blanks around the numbers
// allowed) as whole seconds; false when the text is not a time of day.
bool ReadTimeOfDay(std::string_view text, std::int64_t& seconds);

} // namespace pelldrin
