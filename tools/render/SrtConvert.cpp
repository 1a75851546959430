#include "render/SrtConvert.h"

#include "base/Utf8.h"
#include "base/TextHelpers.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace pelldrin::render {

namespace {

constexpr std::string_view kV4PlusFormat =
    "Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, "
    "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding";

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == text.size()) {
            break;
        }
        pos = end + 1;
    }
    return lines;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Reads "H:MM:SS,mmm" (also "." before the fraction, or no fraction) at pos.
bool ReadSrtTime(std::string_view s, std::size_t& pos, std::int64_t& ms) {
    std::int64_t parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const std::size_t start = pos;
        std::int64_t v = 0;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) &&
               pos - start < 9) {
            v = v * 10 + (s[pos] - '0');
            ++pos;
        }
        if (pos == start) {
            return false;
        }
        parts[i] = v;
        if (i < 2) {
            if (pos >= s.size() || s[pos] != ':') {
                return false;
            }
            ++pos;
        }
    }
    if (parts[1] > 59 || parts[2] > 59) {
        return false;
    }
    std::int64_t fraction = 0;
    if (pos < s.size() && (s[pos] == ',' || s[pos] == '.')) {
        ++pos;
        int digits = 0;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
            if (digits < 3) {
                fraction = fraction * 10 + (s[pos] - '0');
            }
            ++digits;
            ++pos;
        }
        if (digits == 0) {
            return false;
        }
        for (int d = digits; d < 3; ++d) {
            fraction *= 10;
        }
    }
    ms = ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000 + fraction;
    return true;
}

bool ParseTimingLine(std::string_view line, std::int64_t& start, std::int64_t& end) {
    std::size_t pos = 0;
    while (pos < line.size() && IsSpace(line[pos])) {
        ++pos;
    }
    if (!ReadSrtTime(line, pos, start)) {
        return false;
    }
    while (pos < line.size() && IsSpace(line[pos])) {
        ++pos;
    }
    if (line.substr(pos, 3) != "-->") {
        return false;
    }
    pos += 3;
    while (pos < line.size() && IsSpace(line[pos])) {
        ++pos;
    }
    return ReadSrtTime(line, pos, end);
}

struct NamedColor {
    std::string_view name;
    std::uint32_t rgb;
};

constexpr std::array<NamedColor, 17> kNamedColors{{
    {"black", 0x000000},
    {"silver", 0xC0C0C0},
    {"gray", 0x808080},
    {"grey", 0x808080},
    {"white", 0xFFFFFF},
    {"maroon", 0x800000},
    {"red", 0xFF0000},
    {"purple", 0x800080},
    {"fuchsia", 0xFF00FF},
    {"green", 0x008000},
    {"lime", 0x00FF00},
    {"olive", 0x808000},
    {"yellow", 0xFFFF00},
    {"navy", 0x000080},
    {"blue", 0x0000FF},
    {"teal", 0x008080},
    {"aqua", 0x00FFFF},
}};

// "#RRGGBB", "RRGGBB", "#RGB" or an HTML colour name as an ASS colour tag value.
bool ColorToAss(std::string_view value, std::string& out) {
    std::string v = Lower(Trim(value));
    for (const auto& c : kNamedColors) {
        if (v == c.name) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "&H%02X%02X%02X&", c.rgb & 0xFF, (c.rgb >> 8) & 0xFF,
                          c.rgb >> 16);
            out = buf;
            return true;
        }
    }
    if (!v.empty() && v[0] == '#') {
        v.erase(0, 1);
    }
    for (char ch : v) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            return false;
        }
    }
    if (v.size() == 3) {
        v = std::string{v[0], v[0], v[1], v[1], v[2], v[2]};
    }
    if (v.size() != 6) {
        return false;
    }
    for (char& ch : v) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    out = "&H" + v.substr(4, 2) + v.substr(2, 2) + v.substr(0, 2) + "&";
    return true;
}

// The value of attribute name in the text inside a tag, or empty.
std::string AttributeValue(std::string_view attrs, std::string_view name) {
    const std::string lower = Lower(attrs);
    std::size_t pos = 0;
    while ((pos = lower.find(name, pos)) != std::string::npos) {
        std::size_t p = pos + name.size();
        const bool wordStart =
            pos == 0 || !std::isalnum(static_cast<unsigned char>(lower[pos - 1]));
        while (p < lower.size() && IsSpace(lower[p])) {
            ++p;
        }
        if (!wordStart || p >= lower.size() || lower[p] != '=') {
            pos += name.size();
            continue;
        }
        ++p;
        while (p < lower.size() && IsSpace(lower[p])) {
            ++p;
        }
        char quote = 0;
        if (p < lower.size() && (lower[p] == '"' || lower[p] == '\'')) {
            quote = lower[p++];
        }
        const std::size_t start = p;
        while (p < lower.size() && (quote ? lower[p] != quote : !IsSpace(lower[p]))) {
            ++p;
        }
        return std::string(attrs.substr(start, p - start));
    }
    return {};
}

} // namespace

std::string SrtLineToAss(std::string_view line, std::vector<std::string>& fontColors) {
    std::string out;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const char ch = line[pos];
        if (ch != '<') {
            out += ch;
            ++pos;
            continue;
        }
        const auto close = line.find('>', pos);
        if (close == std::string_view::npos) {
            out.append(line.substr(pos));
            break;
        }
        std::string_view inner = line.substr(pos + 1, close - pos - 1);
        while (!inner.empty() && IsSpace(inner.front())) {
            inner.remove_prefix(1);
        }
        const bool closing = !inner.empty() && inner.front() == '/';
        if (closing) {
            inner.remove_prefix(1);
        }
        std::size_t nameEnd = 0;
        while (nameEnd < inner.size() && std::isalpha(static_cast<unsigned char>(inner[nameEnd]))) {
            ++nameEnd;
        }
        const std::string name = Lower(inner.substr(0, nameEnd));
        const std::string_view attrs = inner.substr(nameEnd);
        bool known = true;
        if ((name == "i" || name == "b" || name == "u" || name == "s") && Trim(attrs).empty()) {
            out += "{\\" + name + (closing ? "0}" : "1}");
        } else if (name == "font") {
            if (!closing) {
                std::string color;
                if (!ColorToAss(AttributeValue(attrs, "color"), color)) {
                    color.clear();
                }
                if (!color.empty()) {
                    out += "{\\c" + color + "}";
                } else if (!fontColors.empty()) {
                    color = fontColors.back(); // a <font> without colour keeps the current one
                }
                fontColors.push_back(color);
            } else if (!fontColors.empty()) {
                fontColors.pop_back();
                const std::string restore = fontColors.empty() ? std::string() : fontColors.back();
                out += "{\\c" + restore + "}"; // "\c" alone returns to the style's colour
            }
        } else {
            known = false;
        }
        if (known) {
            pos = close + 1;
        } else {
            out += ch;
            ++pos;
        }
    }
    return out;
}

std::vector<SrtEvent> ParseSrt(std::string_view text) {
    std::vector<SrtEvent> events;
    const auto lines = SplitLines(text);
    std::size_t i = 0;
    while (i < lines.size()) {
        SrtEvent event;
        if (!ParseTimingLine(lines[i], event.startMs, event.endMs)) {
            ++i;
            continue;
        }
        ++i;
        std::vector<std::string> fontColors;
        bool first = true;
        while (i < lines.size() && !Trim(lines[i]).empty()) {
            std::int64_t a = 0;
            std::int64_t b = 0;
            if (ParseTimingLine(lines[i], a, b)) {
                break; // a cue without the blank line before the next one
            }
            if (!first) {
                event.text += "\\N";
            }
            event.text += SrtLineToAss(lines[i], fontColors);
            first = false;
            ++i;
        }
        // A cue number directly before the next timing line is not text.
        if (i < lines.size() && !first) {
            std::int64_t a = 0;
            std::int64_t b = 0;
            if (ParseTimingLine(lines[i], a, b)) {
                const auto cut = event.text.rfind("\\N");
                std::int64_t number = 0;
                const std::string lastLine =
                    cut == std::string::npos ? event.text : event.text.substr(cut + 2);
                if (TryParseInt(Trim(lastLine), number)) {
                    event.text.erase(cut == std::string::npos ? 0 : cut);
                }
            }
        }
        if (event.endMs > event.startMs) {
            events.push_back(std::move(event));
        }
    }
    return events;
}

SrtStyle DefaultSrtStyle() {
    SrtStyle style;
    style.playResX = 1920;
    style.playResY = 1080;
    style.format = std::string(kV4PlusFormat);
    style.style = "Default,DejaVu Sans,58,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,"
                  "100,100,0,0,1,3,1,2,90,90,60,1";
    style.name = "Default";
    return style;
}

SrtStyle ParseSrtStyle(std::string_view text, std::string_view path) {
    SrtStyle style;
    style.format = std::string(kV4PlusFormat);
    bool haveStyle = false;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    const auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string line = Trim(lines[n]);
        const auto fail = [&](const std::string& why) {
            throw SubtitleError(std::string(path) + ": line " + std::to_string(n + 1) + " \"" +
                                line + "\": " + why);
        };
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            if (Lower(line) != "[v4+ styles]") {
                fail("only a [V4+ Styles] section belongs in a style file");
            }
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            fail("expected \"Key: value\"");
        }
        const std::string key = Lower(Trim(line.substr(0, colon)));
        const std::string value = Trim(line.substr(colon + 1));
        if (key == "format") {
            style.format = value;
        } else if (key == "style") {
            if (haveStyle) {
                fail("a second Style line");
            }
            style.style = value;
            haveStyle = true;
        } else if (key == "playresx" || key == "playresy") {
            std::int64_t v = 0;
            if (!TryParseInt(value, v) || v < 1 || v > 16384) {
                fail("the resolution must be a whole number from 1 to 16384");
            }
            (key == "playresx" ? style.playResX : style.playResY) = static_cast<int>(v);
        } else if (key == "scaledborderandshadow") {
            const std::string v = Lower(value);
            if (v != "yes" && v != "no") {
                fail("ScaledBorderAndShadow is yes or no");
            }
            style.scaledBorderAndShadow = v == "yes";
        } else {
            fail("unknown key");
        }
    }
    if (!haveStyle) {
        throw SubtitleError(std::string(path) + ": no Style line");
    }
    const auto formatFields = SplitByDelimiter(style.format, ',');
    const auto styleFields = SplitByDelimiter(style.style, ',');
    if (formatFields.size() != styleFields.size()) {
        throw SubtitleError(std::string(path) + ": the Style line has " +
                            std::to_string(styleFields.size()) + " fields but the Format line " +
                            std::to_string(formatFields.size()));
    }
    for (std::size_t i = 0; i < formatFields.size(); ++i) {
        if (Lower(Trim(formatFields[i])) == "name") {
            style.name = Trim(styleFields[i]);
        }
    }
    if (style.name.empty()) {
        throw SubtitleError(std::string(path) + ": the style has no Name");
    }
    return style;
}

std::string BuildSrtScriptHeader(const SrtStyle& style) {
    return "[Script Info]\nScriptType: v4.00+\nWrapStyle: 0\nPlayResX: " +
           std::to_string(style.playResX) + "\nPlayResY: " + std::to_string(style.playResY) +
           "\nScaledBorderAndShadow: " + (style.scaledBorderAndShadow ? "yes" : "no") +
           "\n\n[V4+ Styles]\nFormat: " + style.format + "\nStyle: " + style.style +
           "\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\n";
}

std::string DecodeSubtitleText(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return std::string(bytes.substr(3));
    }
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        return Utf16ToUtf8(bytes.substr(2), false);
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        return Utf16ToUtf8(bytes.substr(2), true);
    }
    return std::string(bytes);
}

} // namespace pelldrin::render
