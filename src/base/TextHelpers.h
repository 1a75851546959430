// Small stateless text and number operations shared by every part of Pelldrin.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// Splits text at every occurrence of delimiter; k delimiters always give k+1
// pieces, empty ones included, none trimmed.
std::vector<std::string> SplitByDelimiter(std::string_view text, char delimiter);

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

// The pieces joined into one text, sized once.
std::string Cat(std::initializer_list<std::string_view> parts);

} // namespace pelldrin
