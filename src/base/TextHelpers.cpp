#include "base/TextHelpers.h"

#include <charconv>
#include <cmath>

namespace pelldrin {

std::vector<std::string> SplitByDelimiter(std::string_view text, char delimiter) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t pos = text.find(delimiter); pos != std::string_view::npos;
         pos = text.find(delimiter, start)) {
        pieces.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

namespace {
char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
} // namespace

bool SameTextN(std::string_view a, std::string_view b, std::size_t n) {
    if (n == 0) {
        return true;
    }
    const std::size_t m = std::min(n, b.size() + 1);
    for (std::size_t i = 0; i < m; ++i) {
        // The end of either text reads as its terminating zero.
        const char ca = i < a.size() ? a[i] : '\0';
        const char cb = i < b.size() ? b[i] : '\0';
        if (ca != cb && FoldAscii(ca) != FoldAscii(cb)) {
            return false;
        }
        if (ca == '\0' && cb == '\0') {
            return true; // both texts ended together
        }
    }
    return true;
}

bool HasByteAbove128(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 128) {
            return true;
        }
    }
    return false;
}

std::int64_t RoundHalfUp(double x) {
    const double whole = std::trunc(x);
    auto result = static_cast<std::int64_t>(whole);
    if (x - whole >= 0.5) {
        ++result;
    }
    return result;
}

std::string Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

bool TryParseInt(std::string_view text, std::int64_t& value) {
    if (text.empty()) {
        return false;
    }
    std::size_t start = 0;
    if (text[0] == '+') {
        start = 1; // from_chars takes a minus sign but not a plus sign
        if (text.size() == 1 || text[1] == '-') {
            return false;
        }
    }
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last;
}

std::string JoinWith(const std::vector<std::string>& pieces, char delimiter) {
    std::string result;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            result += delimiter;
        }
        result += pieces[i];
    }
    return result;
}

std::string Cat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) {
        size += part.size();
    }
    std::string out;
    out.reserve(size);
    for (const std::string_view part : parts) {
        out += part;
    }
    return out;
}

} // namespace pelldrin
