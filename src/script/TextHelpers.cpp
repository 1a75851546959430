#include "script/TextHelpers.h"

#include "script/FileUtil.h"

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

std::string StripExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return std::string(name.substr(0, dot));
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

std::string FileNamePart(std::string_view path) {
    const auto sep = path.find_last_of(kPathSeparators);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string FileExtension(std::string_view path) {
    const std::string name = FileNamePart(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

} // namespace pelldrin

namespace pelldrin {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool stopAtZero) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) -> char16_t {
        const auto b0 = static_cast<unsigned char>(bytes[2 * i]);
        const auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (u == 0 && stopAtZero) {
            break;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                    (static_cast<char32_t>(low) - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

} // namespace pelldrin
