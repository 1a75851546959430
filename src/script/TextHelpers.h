// Small stateless text and number operations shared by every part of Pelldrin.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// Splits text at every occurrence of delimiter; k delimiters always give k+1
// pieces, empty ones included, none trimmed.
std::vector<std::string> SplitByDelimiter(std::string_view text, char delimiter);

// Cuts everything from the last "." on (searching the whole text, path
// separators included); a text without "." gives the empty text.
std::string StripExtension(std::string_view name);

// True when the first n characters of a and b match, ASCII letters folded,
// the end of b counting as one more character.
bool SameTextN(std::string_view a, std::string_view b, std::size_t n);

// True when any byte of the text is above 128 (128 itself does not count).
bool HasByteAbove128(std::string_view text);

// Whole part of x plus one when the fraction is 0.5 or more; x is not negative.
std::int64_t RoundHalfUp(double x);

// Removes leading and trailing characters with codes up to 32.
std::string Trim(std::string_view text);

// Reads a whole text as a decimal integer with an optional sign; false when
// it is empty, holds anything else or does not fit.
bool TryParseInt(std::string_view text, std::int64_t& value);

// Joins pieces with the delimiter between them.
std::string JoinWith(const std::vector<std::string>& pieces, char delimiter);

// The extension of a path's file name part: from its last "." to the end,
// dot included; empty when the file name holds no ".".
std::string FileExtension(std::string_view path);

// The file name part of a path (after the last separator).
std::string FileNamePart(std::string_view path);

} // namespace pelldrin

namespace pelldrin {

// Converts UTF-16 bytes (no byte-order mark) to UTF-8. Unpaired surrogates
// become U+FFFD; a trailing odd byte is dropped. With stopAtZero a zero code
// unit ends the text.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool stopAtZero = false);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t codePoint);

} // namespace pelldrin
