#include "input/SrtConvert.h"

#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace pelldrin::render {

namespace {

constexpr std::string_view kV4PlusFormat =
    "Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, "
    "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding";

// Lines ended by CR LF, LF or a lone CR (old Mac files); a lone CR must not glue a
// whole file into one line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (true) {
        const auto end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
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

// The CSS colour names, sorted for binary search.
constexpr std::array<NamedColor, 147> kNamedColors{{
    {"aliceblue", 0xF0F8FF},
    {"antiquewhite", 0xFAEBD7},
    {"aqua", 0x00FFFF},
    {"aquamarine", 0x7FFFD4},
    {"azure", 0xF0FFFF},
    {"beige", 0xF5F5DC},
    {"bisque", 0xFFE4C4},
    {"black", 0x000000},
    {"blanchedalmond", 0xFFEBCD},
    {"blue", 0x0000FF},
    {"blueviolet", 0x8A2BE2},
    {"brown", 0xA52A2A},
    {"burlywood", 0xDEB887},
    {"cadetblue", 0x5F9EA0},
    {"chartreuse", 0x7FFF00},
    {"chocolate", 0xD2691E},
    {"coral", 0xFF7F50},
    {"cornflowerblue", 0x6495ED},
    {"cornsilk", 0xFFF8DC},
    {"crimson", 0xDC143C},
    {"cyan", 0x00FFFF},
    {"darkblue", 0x00008B},
    {"darkcyan", 0x008B8B},
    {"darkgoldenrod", 0xB8860B},
    {"darkgray", 0xA9A9A9},
    {"darkgreen", 0x006400},
    {"darkgrey", 0xA9A9A9},
    {"darkkhaki", 0xBDB76B},
    {"darkmagenta", 0x8B008B},
    {"darkolivegreen", 0x556B2F},
    {"darkorange", 0xFF8C00},
    {"darkorchid", 0x9932CC},
    {"darkred", 0x8B0000},
    {"darksalmon", 0xE9967A},
    {"darkseagreen", 0x8FBC8F},
    {"darkslateblue", 0x483D8B},
    {"darkslategray", 0x2F4F4F},
    {"darkslategrey", 0x2F4F4F},
    {"darkturquoise", 0x00CED1},
    {"darkviolet", 0x9400D3},
    {"deeppink", 0xFF1493},
    {"deepskyblue", 0x00BFFF},
    {"dimgray", 0x696969},
    {"dimgrey", 0x696969},
    {"dodgerblue", 0x1E90FF},
    {"firebrick", 0xB22222},
    {"floralwhite", 0xFFFAF0},
    {"forestgreen", 0x228B22},
    {"fuchsia", 0xFF00FF},
    {"gainsboro", 0xDCDCDC},
    {"ghostwhite", 0xF8F8FF},
    {"gold", 0xFFD700},
    {"goldenrod", 0xDAA520},
    {"gray", 0x808080},
    {"green", 0x008000},
    {"greenyellow", 0xADFF2F},
    {"grey", 0x808080},
    {"honeydew", 0xF0FFF0},
    {"hotpink", 0xFF69B4},
    {"indianred", 0xCD5C5C},
    {"indigo", 0x4B0082},
    {"ivory", 0xFFFFF0},
    {"khaki", 0xF0E68C},
    {"lavender", 0xE6E6FA},
    {"lavenderblush", 0xFFF0F5},
    {"lawngreen", 0x7CFC00},
    {"lemonchiffon", 0xFFFACD},
    {"lightblue", 0xADD8E6},
    {"lightcoral", 0xF08080},
    {"lightcyan", 0xE0FFFF},
    {"lightgoldenrodyellow", 0xFAFAD2},
    {"lightgray", 0xD3D3D3},
    {"lightgreen", 0x90EE90},
    {"lightgrey", 0xD3D3D3},
    {"lightpink", 0xFFB6C1},
    {"lightsalmon", 0xFFA07A},
    {"lightseagreen", 0x20B2AA},
    {"lightskyblue", 0x87CEFA},
    {"lightslategray", 0x778899},
    {"lightslategrey", 0x778899},
    {"lightsteelblue", 0xB0C4DE},
    {"lightyellow", 0xFFFFE0},
    {"lime", 0x00FF00},
    {"limegreen", 0x32CD32},
    {"linen", 0xFAF0E6},
    {"magenta", 0xFF00FF},
    {"maroon", 0x800000},
    {"mediumaquamarine", 0x66CDAA},
    {"mediumblue", 0x0000CD},
    {"mediumorchid", 0xBA55D3},
    {"mediumpurple", 0x9370DB},
    {"mediumseagreen", 0x3CB371},
    {"mediumslateblue", 0x7B68EE},
    {"mediumspringgreen", 0x00FA9A},
    {"mediumturquoise", 0x48D1CC},
    {"mediumvioletred", 0xC71585},
    {"midnightblue", 0x191970},
    {"mintcream", 0xF5FFFA},
    {"mistyrose", 0xFFE4E1},
    {"moccasin", 0xFFE4B5},
    {"navajowhite", 0xFFDEAD},
    {"navy", 0x000080},
    {"oldlace", 0xFDF5E6},
    {"olive", 0x808000},
    {"olivedrab", 0x6B8E23},
    {"orange", 0xFFA500},
    {"orangered", 0xFF4500},
    {"orchid", 0xDA70D6},
    {"palegoldenrod", 0xEEE8AA},
    {"palegreen", 0x98FB98},
    {"paleturquoise", 0xAFEEEE},
    {"palevioletred", 0xDB7093},
    {"papayawhip", 0xFFEFD5},
    {"peachpuff", 0xFFDAB9},
    {"peru", 0xCD853F},
    {"pink", 0xFFC0CB},
    {"plum", 0xDDA0DD},
    {"powderblue", 0xB0E0E6},
    {"purple", 0x800080},
    {"red", 0xFF0000},
    {"rosybrown", 0xBC8F8F},
    {"royalblue", 0x4169E1},
    {"saddlebrown", 0x8B4513},
    {"salmon", 0xFA8072},
    {"sandybrown", 0xF4A460},
    {"seagreen", 0x2E8B57},
    {"seashell", 0xFFF5EE},
    {"sienna", 0xA0522D},
    {"silver", 0xC0C0C0},
    {"skyblue", 0x87CEEB},
    {"slateblue", 0x6A5ACD},
    {"slategray", 0x708090},
    {"slategrey", 0x708090},
    {"snow", 0xFFFAFA},
    {"springgreen", 0x00FF7F},
    {"steelblue", 0x4682B4},
    {"tan", 0xD2B48C},
    {"teal", 0x008080},
    {"thistle", 0xD8BFD8},
    {"tomato", 0xFF6347},
    {"turquoise", 0x40E0D0},
    {"violet", 0xEE82EE},
    {"wheat", 0xF5DEB3},
    {"white", 0xFFFFFF},
    {"whitesmoke", 0xF5F5F5},
    {"yellow", 0xFFFF00},
    {"yellowgreen", 0x9ACD32},
}};

// A decimal colour channel of rgb(r, g, b), 0 to 255.
bool ReadChannel(std::string_view text, std::uint32_t& value) {
    std::int64_t v = 0;
    if (!TryParseInt(Trim(text), v) || v < 0 || v > 255) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

// A colour name, "#RRGGBB", "RRGGBB", "#RGB" or "rgb(r, g, b)" as 0xRRGGBB.
bool ReadColor(std::string_view value, std::uint32_t& rgb) {
    std::string v = Lower(Trim(value));
    const auto named = std::lower_bound(
        kNamedColors.begin(), kNamedColors.end(), v,
        [](const NamedColor& c, const std::string& name) { return c.name < name; });
    if (named != kNamedColors.end() && named->name == v) {
        rgb = named->rgb;
        return true;
    }
    if (v.starts_with("rgb(") && v.ends_with(")")) {
        const auto parts = SplitByDelimiter(std::string_view(v).substr(4, v.size() - 5), ',');
        std::uint32_t r = 0, g = 0, b = 0;
        if (parts.size() != 3 || !ReadChannel(parts[0], r) || !ReadChannel(parts[1], g) ||
            !ReadChannel(parts[2], b)) {
            return false;
        }
        rgb = r << 16 | g << 8 | b;
        return true;
    }
    if (!v.empty() && v[0] == '#') {
        v.erase(0, 1);
    }
    if (v.empty() || !std::all_of(v.begin(), v.end(), [](char ch) {
            return std::isxdigit(static_cast<unsigned char>(ch)) != 0;
        })) {
        return false;
    }
    if (v.size() == 3) {
        v = std::string{v[0], v[0], v[1], v[1], v[2], v[2]};
    }
    if (v.size() != 6) {
        return false;
    }
    rgb = static_cast<std::uint32_t>(std::stoul(v, nullptr, 16));
    return true;
}

// An RGB colour as the value of an ASS \c tag (blue, green, red).
std::string AssColor(std::uint32_t rgb) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&H%02X%02X%02X&", rgb & 0xFF, (rgb >> 8) & 0xFF,
                  (rgb >> 16) & 0xFF);
    return buf;
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

// Cue lines joined with ASS hard breaks.
std::string JoinText(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        text += (n == 0 ? "" : "\\N") + lines[n];
    }
    return text;
}

// A tag at line[pos] ('<'): "<name ...>", "</name>" or "<name/>", where the name
// starts with a letter. Anything else is not a tag and stays text.
struct SrtTag {
    bool closing = false;
    std::string name; // in lower case
    std::string_view attrs;
    std::size_t end = 0; // just after the '>'
};

bool ReadTag(std::string_view line, std::size_t pos, SrtTag& tag) {
    std::size_t p = pos + 1;
    tag.closing = p < line.size() && line[p] == '/';
    if (tag.closing) {
        ++p;
    }
    if (p >= line.size() || !std::isalpha(static_cast<unsigned char>(line[p]))) {
        return false;
    }
    const std::size_t nameStart = p;
    while (p < line.size() &&
           (std::isalnum(static_cast<unsigned char>(line[p])) || line[p] == '_' || line[p] == '-' ||
            line[p] == ':' || line[p] == '.')) {
        ++p;
    }
    tag.name = Lower(line.substr(nameStart, p - nameStart));
    const std::size_t attrStart = p;
    if (p < line.size() && line[p] != '>' && !IsSpace(line[p]) && line[p] != '/') {
        return false; // "<a+b>" is text, not a tag
    }
    char quote = 0;
    for (; p < line.size(); ++p) {
        const char c = line[p];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '<') {
            return false;
        } else if (c == '>') {
            tag.attrs = line.substr(attrStart, p - attrStart);
            tag.end = p + 1;
            return true;
        }
    }
    return false;
}

// A font name or size for an override block: characters that would end the block or
// start a tag are dropped.
std::string BlockSafe(std::string_view value) {
    std::string out;
    for (char c : Trim(value)) {
        if (c != '{' && c != '}' && c != '\\') {
            out += c;
        }
    }
    return out;
}

// A <font size> number (player units, where 16 is normal text) as a \fs value for
// the style; "" when it is not a size.
std::string FontSizeToAss(std::string_view value, double styleFontSize) {
    std::string v = Lower(Trim(value));
    if (v.ends_with("px")) {
        v.resize(v.size() - 2);
    }
    char* end = nullptr;
    const double size = std::strtod(v.c_str(), &end);
    // Far beyond any screen, a size only makes the glyph cache huge.
    // A leading sign would be HTML's relative size, which SRT players do not use.
    if (v.empty() || !std::isdigit(static_cast<unsigned char>(v[0])) ||
        end != v.c_str() + v.size() || !(size > 0) || size > 256) {
        return {};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", styleFontSize * size / kSrtNormalFontSize);
    return buf;
}

void Warn(const SrtReadSettings& settings, std::string_view where, const std::string& what) {
    if (settings.warn) {
        settings.warn(std::string(where) + (where.empty() ? "" : ": ") + what);
    }
}

// The override block that opens or closes one of <i> <b> <u> <s>. Nested tags of
// the same kind only switch at the outermost one.
std::string StyleToggle(const std::string& name, bool closing, SrtTagState& state) {
    int& depth = name == "i"   ? state.italic
                 : name == "b" ? state.bold
                 : name == "u" ? state.underline
                               : state.strike;
    if (closing) {
        if (depth == 0) {
            return {};
        }
        return --depth == 0 ? "{\\" + name + "0}" : std::string();
    }
    return depth++ == 0 ? "{\\" + name + "1}" : std::string();
}

// The override block that turns font settings from into to; "" when nothing changes.
std::string FontChange(const SrtTagState::Font& from, const SrtTagState::Font& to) {
    std::string tags;
    if (from.color != to.color) {
        tags += "\\c" + to.color; // "\c" alone is the style's colour
    }
    if (from.size != to.size) {
        tags += "\\fs" + to.size;
    }
    if (from.face != to.face) {
        tags += "\\fn" + to.face;
    }
    return tags.empty() ? tags : "{" + tags + "}";
}

std::string FontTag(const SrtTag& tag, SrtTagState& state, const SrtReadSettings& settings,
                    std::string_view where) {
    const SrtTagState::Font current =
        state.fonts.empty() ? SrtTagState::Font{} : state.fonts.back();
    if (tag.closing) {
        if (state.fonts.empty()) {
            return {};
        }
        state.fonts.pop_back();
        return FontChange(current, state.fonts.empty() ? SrtTagState::Font{} : state.fonts.back());
    }
    SrtTagState::Font next = current; // what a <font> leaves out stays as it is
    const std::string color = AttributeValue(tag.attrs, "color");
    if (!Trim(color).empty()) {
        std::uint32_t rgb = 0;
        if (ReadColor(color, rgb)) {
            next.color = AssColor(rgb);
        } else {
            Warn(settings, where,
                 "unknown colour \"" + color + "\"; the text keeps the colour it has");
        }
    }
    const std::string size = AttributeValue(tag.attrs, "size");
    if (!Trim(size).empty()) {
        const std::string fs = FontSizeToAss(size, settings.styleFontSize);
        if (!fs.empty()) {
            next.size = fs;
        } else {
            Warn(settings, where,
                 "font size \"" + size + "\" is not a number from 0 to 256; the size is kept");
        }
    }
    const std::string face = BlockSafe(AttributeValue(tag.attrs, "face"));
    if (!face.empty()) {
        next.face = face;
    }
    state.fonts.push_back(next);
    return FontChange(current, next);
}

// True when "{\anN}" (N 1 to 9) starts at pos: the placement mark many SRT files use.
bool IsPlacementMark(std::string_view line, std::size_t pos) {
    return line.substr(pos, 4) == "{\\an" && pos + 5 < line.size() && line[pos + 4] >= '1' &&
           line[pos + 4] <= '9' && line[pos + 5] == '}';
}

// U+2060 WORD JOINER: drawn as nothing, it keeps a written backslash from joining the
// next character into an ASS escape such as \N, \n or \h.
constexpr std::string_view kWordJoiner = "\xE2\x81\xA0";

} // namespace

std::string SrtLineToAss(std::string_view line, SrtTagState& state, const SrtReadSettings& settings,
                         std::string_view where) {
    std::string out;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const char ch = line[pos];
        SrtTag tag;
        if (ch == '<' && ReadTag(line, pos, tag)) {
            if (tag.name == "i" || tag.name == "b" || tag.name == "u" || tag.name == "s") {
                out += StyleToggle(tag.name, tag.closing, state);
            } else if (tag.name == "font") {
                out += FontTag(tag, state, settings, where);
            } // any other tag is hidden; its content is drawn
            pos = tag.end;
            continue;
        }
        if (ch == '{' && IsPlacementMark(line, pos)) {
            out.append(line.substr(pos, 6));
            pos += 6;
            continue;
        }
        if (ch == '{' || ch == '}') {
            out += '\\'; // libass draws "\{" and "\}" as the brace itself
            out += ch;
        } else if (ch == '\\') {
            out += ch;
            const char next = pos + 1 < line.size() ? line[pos + 1] : '\0';
            if (next == 'n' || next == 'N' || next == 'h' || next == '<' || next == '{') {
                out += kWordJoiner;
            }
        } else {
            out += ch;
        }
        ++pos;
    }
    return out;
}

std::vector<SrtEvent> ParseSrt(std::string_view text, const SrtReadSettings& settings) {
    std::vector<SrtEvent> events;
    const auto lines = SplitLines(text);
    const auto lineName = [](std::size_t index) { return "line " + std::to_string(index + 1); };
    const auto isTiming = [&](std::size_t index) {
        std::int64_t a = 0;
        std::int64_t b = 0;
        return ParseTimingLine(lines[index], a, b);
    };
    const auto isNumber = [&](std::size_t index) {
        std::int64_t number = 0;
        return TryParseInt(Trim(lines[index]), number);
    };
    std::size_t i = 0;
    int cueCount = 0;
    bool skipping = false; // inside a run of text that belongs to no cue
    while (i < lines.size()) {
        SrtEvent event;
        if (!ParseTimingLine(lines[i], event.startMs, event.endMs)) {
            const std::string line = Trim(lines[i]);
            if (line.empty()) {
                skipping = false;
            } else if (!skipping && !isNumber(i)) {
                skipping = true;
                Warn(settings, lineName(i),
                     line.find("->") != std::string::npos
                         ? "\"" + QuoteForMessage(line) + "\" is not a cue time; the cue is skipped"
                         : "text outside any cue is skipped");
            }
            ++i;
            continue;
        }
        skipping = false;
        const std::size_t timingLine = i;
        ++cueCount;
        std::int64_t written = 0;
        const std::string cue =
            "cue " + (timingLine > 0 && TryParseInt(Trim(lines[timingLine - 1]), written)
                          ? std::to_string(written)
                          : std::to_string(cueCount));
        ++i;
        SrtTagState state;
        std::vector<std::string> textLines;
        while (i < lines.size() && !Trim(lines[i]).empty() && !isTiming(i)) {
            textLines.push_back(
                SrtLineToAss(lines[i], state, settings, lineName(i) + " (" + cue + ")"));
            ++i;
        }
        // A cue number directly before the next timing line is not text.
        if (i < lines.size() && !textLines.empty() && isTiming(i) && isNumber(i - 1)) {
            textLines.pop_back();
        }
        if (event.endMs <= event.startMs) {
            Warn(settings, lineName(timingLine) + " (" + cue + ")",
                 "the cue does not end after it starts; it is skipped");
            continue;
        }
        event.text = JoinText(textLines);
        event.line = static_cast<int>(timingLine) + 1;
        events.push_back(std::move(event));
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
    style.fontSize = 58;
    return style;
}

namespace {

// Takes the name and the font size from the Style line, by the Format line's field names.
void ReadStyleFields(SrtStyle& style, std::string_view path) {
    const auto formatFields = SplitByDelimiter(style.format, ',');
    const auto styleFields = SplitByDelimiter(style.style, ',');
    if (formatFields.size() != styleFields.size()) {
        throw SubtitleError(std::string(path) + ": the Style line has " +
                            std::to_string(styleFields.size()) + " fields but the Format line " +
                            std::to_string(formatFields.size()));
    }
    for (std::size_t i = 0; i < formatFields.size(); ++i) {
        const std::string field = Lower(Trim(formatFields[i]));
        if (field == "name") {
            style.name = Trim(styleFields[i]);
        } else if (field == "fontsize") {
            const std::string size = Trim(styleFields[i]);
            char* end = nullptr;
            const double v = std::strtod(size.c_str(), &end);
            if (size.empty() || end != size.c_str() + size.size() || !(v > 0)) {
                throw SubtitleError(std::string(path) + ": the Fontsize \"" + size +
                                    "\" is not a size");
            }
            style.fontSize = v;
        }
    }
}

} // namespace

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
    ReadStyleFields(style, path);
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

} // namespace pelldrin::render
