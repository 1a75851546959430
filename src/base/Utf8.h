// UTF-8 text: building it, checking it and cutting it without splitting a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelldrin {

// True for the bytes that continue a UTF-8 sequence (10xxxxxx).
constexpr bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// Converts UTF-16 bytes (no byte-order mark) to UTF-8. Unpaired surrogates
// become U+FFFD; a trailing odd byte is dropped. With stopAtZero a zero code
// unit ends the text.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool stopAtZero = false);

// Converts UTF-32 bytes (no byte-order mark) to UTF-8. Surrogates and values past
// U+10FFFF become U+FFFD; trailing bytes short of a unit are dropped.
std::string Utf32ToUtf8(std::string_view bytes, bool bigEndian);

// The length of the well-formed UTF-8 sequence at text[pos] (shortest form, no
// surrogates, at most U+10FFFF), or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// True when the whole text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The offset of the first byte that does not start a well-formed UTF-8 sequence, or
// npos when the whole text is well-formed.
std::size_t InvalidUtf8Offset(std::string_view text);

// The largest prefix of at most maxBytes bytes that ends on a character boundary.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// The number of characters (bytes that do not continue a sequence).
std::size_t CountUtf8Characters(std::string_view text);

// The first maxChars characters of the text.
std::string_view FirstUtf8Characters(std::string_view text, std::size_t maxChars);

// At most maxBytes of the text on one line, for a message: control characters
// (line ends, zero bytes, escapes) are shown as \xNN, bytes that are not UTF-8
// become U+FFFD, and a longer text ends in "...".
std::string QuoteForMessage(std::string_view text, std::size_t maxBytes = 300);

} // namespace pelldrin
