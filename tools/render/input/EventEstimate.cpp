#include "input/EventEstimate.h"

#include "base/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace pelldrin::render {

namespace {

constexpr double kMb = 1024.0 * 1024.0;
// libass clamps these tags to these values.
constexpr double kMaxBlur = 100;
constexpr double kMaxBe = 127;
// Per character, libass keeps shaping and layout records of a few hundred bytes.
constexpr double kBytesPerCharacter = 1024;
// Glyph, outline and shadow bitmaps; blurring adds two 16-bit work buffers.
constexpr double kBytesPerPixel = 4;
constexpr double kBytesPerBlurredPixel = 8;
constexpr double kPi = 3.14159265358979323846;
// The width of a Latin letter, in font sizes.
constexpr double kAsciiEm = 0.6;
// How much larger than flat a line turned in depth (\frx, \fry) may come out.
constexpr double kPerspective = 1.25;

// The largest values an event's text reaches, and the size of what it draws.
struct TagExtremes {
    double fontSize = 0, scaleX = 0, scaleY = 0; // scales in percent
    double border = 0, shadow = 0, blur = 0, be = 0;
    double shearX = 0, shearY = 0;
    int drawingScale = 0;       // \p in effect while scanning
    std::vector<double> angles; // \frz values set outside \t, in degrees
    bool tilted = false;        // \frx or \fry set outside \t
    bool turned = false;        // a turn that \t animates
    double characters = 0;      // glyphs, drawings left out
    double size = 0;            // the font size in effect, set outside \t
    double textWidth = 0;       // the widest \N line, in script pixels
    double textHeight = 0;      // the lines' heights together
    double drawingWidth = 0;    // drawings side by side, in script pixels
    double drawingHeight = 0;   // the tallest drawing
};

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The number at text[pos] (skipping blanks and an opening parenthesis), or 0.
double NumberAt(std::string_view text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '(')) {
        ++pos;
    }
    char buffer[32];
    std::size_t n = 0;
    while (pos < text.size() && n + 1 < sizeof buffer &&
           std::string_view("+-.0123456789eE").find(text[pos]) != std::string_view::npos) {
        buffer[n++] = text[pos++];
    }
    buffer[n] = '\0';
    const double value = std::strtod(buffer, nullptr);
    return std::isfinite(value) ? std::min(std::fabs(value), 1e9) : 1e9;
}

// The signed number at text[pos], as NumberAt reads it.
double SignedNumberAt(std::string_view text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '(')) {
        ++pos;
    }
    return pos < text.size() && text[pos] == '-' ? -NumberAt(text, pos + 1) : NumberAt(text, pos);
}

void ReadTag(std::string_view text, std::size_t& pos, bool inTransform, TagExtremes& x) {
    const std::size_t start = pos;
    while (pos < text.size() && IsLetter(text[pos])) {
        ++pos;
    }
    std::string_view name = text.substr(start, pos - start);
    // "\fs20" reads as the letters "fs" and "\be1" as "be"; "\fscx" and "\fsp" are
    // names of their own, so the number is where the letters stop.
    const double value = NumberAt(text, pos);
    const auto raise = [](double& field, double v) { field = std::max(field, v); };
    if (name == "fs" && inTransform) {
        raise(x.fontSize, value); // grows everything after it
    } else if (name == "fs") {
        x.size = value;
    } else if (name == "fscx") {
        raise(x.scaleX, value);
    } else if (name == "fscy") {
        raise(x.scaleY, value);
    } else if (name == "bord" || name == "xbord" || name == "ybord") {
        raise(x.border, value);
    } else if (name == "shad" || name == "xshad" || name == "yshad") {
        raise(x.shadow, value);
    } else if (name == "blur") {
        raise(x.blur, std::min(value, kMaxBlur));
    } else if (name == "be") {
        raise(x.be, std::min(value, kMaxBe));
    } else if (name == "fax") {
        raise(x.shearX, value);
    } else if (name == "fay") {
        raise(x.shearY, value);
    } else if ((name == "fr" || name == "frz") && !inTransform) {
        x.angles.push_back(SignedNumberAt(text, pos));
    } else if ((name == "frx" || name == "fry") && !inTransform) {
        x.tilted = true;
    } else if (name == "frx" || name == "fry" || name == "fr" || name == "frz") {
        x.turned = true;
    } else if (name == "p") {
        x.drawingScale = static_cast<int>(std::min(value, 30.0));
    }
}

// The box of one drawing's coordinates (numbers alternate x and y), in script pixels.
void MeasureDrawing(std::string_view path, TagExtremes& x) {
    double low[2] = {0, 0};
    double high[2] = {0, 0};
    bool any = false;
    int axis = 0;
    for (std::size_t pos = 0; pos < path.size();) {
        const char c = path[pos];
        if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
            const double v = SignedNumberAt(path, pos);
            if (!any) {
                low[0] = high[0] = low[1] = high[1] = v;
            }
            any = true;
            low[axis] = std::min(low[axis], v);
            high[axis] = std::max(high[axis], v);
            axis = 1 - axis;
            while (pos < path.size() &&
                   std::string_view("+-.0123456789eE").find(path[pos]) != std::string_view::npos) {
                ++pos;
            }
            continue;
        }
        ++pos;
    }
    if (any) {
        // Coordinates count in units of 2^(p-1) script pixels.
        const double unit = std::ldexp(1.0, -(x.drawingScale - 1));
        x.drawingWidth += (high[0] - low[0]) * unit;
        x.drawingHeight = std::max(x.drawingHeight, (high[1] - low[1]) * unit);
    }
}

// styleSize is the font size before any \fs.
TagExtremes ScanText(std::string_view text, double styleSize) {
    TagExtremes x;
    double lineWidth = 0;
    double lineHeight = 0;
    const auto sizeNow = [&] { return std::max(x.size > 0 ? x.size : styleSize, x.fontSize); };
    const auto endLine = [&] {
        x.textHeight += std::max(lineHeight, sizeNow());
        lineWidth = lineHeight = 0;
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '{') {
            // An override block; a \t( ... ) in it animates what it holds.
            int depth = 0;
            ++pos;
            while (pos < text.size() && text[pos] != '}') {
                const char c = text[pos];
                if (c == '(') {
                    ++depth;
                } else if (c == ')') {
                    depth = std::max(depth - 1, 0);
                } else if (c == '\\') {
                    ++pos;
                    ReadTag(text, pos, depth > 0, x); // inside \t( ) it animates
                    continue;
                }
                ++pos;
            }
            ++pos;
            continue;
        }
        // "\{" is a brace to draw, not a block.
        std::size_t end = pos;
        while (end < text.size() && (text[end] != '{' || (end > 0 && text[end - 1] == '\\'))) {
            ++end;
        }
        const std::string_view run = text.substr(pos, end - pos);
        if (x.drawingScale > 0) {
            MeasureDrawing(run, x);
        } else {
            for (std::size_t i = 0; i < run.size(); ++i) {
                if (run[i] == '\\' && i + 1 < run.size() &&
                    (run[i + 1] == 'N' || run[i + 1] == 'n')) {
                    endLine();
                    ++i;
                    continue;
                }
                if (run[i] == '\\' && i + 1 < run.size() &&
                    std::string_view("h{}").find(run[i + 1]) != std::string_view::npos) {
                    ++i; // one character drawn
                }
                if (!IsUtf8Continuation(run[i])) {
                    // Latin letters take about half a font size, CJK ones a whole one.
                    const double em = static_cast<unsigned char>(run[i]) < 0x80 ? kAsciiEm : 1.0;
                    x.characters += 1;
                    lineWidth += em * sizeNow();
                    lineHeight = std::max(lineHeight, sizeNow());
                    x.textWidth = std::max(x.textWidth, lineWidth);
                }
            }
        }
        pos = end;
    }
    if (x.characters > 0) {
        endLine();
    }
    return x;
}

} // namespace

std::uint64_t EstimateEventBytes(const ASS_Track* track, const ASS_Event& event,
                                 const FrameGeometry& geometry) {
    const int styleIndex =
        event.Style >= 0 && event.Style < track->n_styles ? event.Style : track->default_style;
    ASS_Style fallback{};
    fallback.FontSize = 18;
    fallback.ScaleX = fallback.ScaleY = 1;
    const ASS_Style& style =
        styleIndex >= 0 && styleIndex < track->n_styles ? track->styles[styleIndex] : fallback;
    TagExtremes x = ScanText(event.Text != nullptr ? event.Text : "", std::fabs(style.FontSize));

    // libass's defaults for a script that leaves its resolution out.
    double playY = track->PlayResY > 0 ? track->PlayResY
                                       : (track->PlayResX > 0 ? track->PlayResX * 3.0 / 4 : 288);
    double playX = track->PlayResX > 0 ? track->PlayResX : playY * 4 / 3;
    const double scale = std::max({geometry.renderHeight / playY, geometry.renderWidth / playX,
                                   geometry.height / playY, 1e-3});
    const double effectScale = std::max(scale, 1.0);

    const double scaleX = std::max(std::fabs(style.ScaleX), x.scaleX / 100);
    const double scaleY = std::max(std::fabs(style.ScaleY), x.scaleY / 100);
    const double border = std::max(std::fabs(style.Outline), x.border);
    const double shadow = std::max(std::fabs(style.Shadow), x.shadow);
    const double blur = std::max(std::min(std::fabs(style.Blur), kMaxBlur), x.blur);

    // Text lines are as wide as their glyphs at their font sizes; drawings are their
    // coordinates' box; both are scaled alike and stand side by side.
    double width = (x.textWidth + x.drawingWidth) * scaleX * scale;
    double height = std::max(x.textHeight, x.drawingHeight) * scaleY * scale;
    height += x.shearY * width;
    width += x.shearX * height;
    const double pad = 2 * (border + shadow + 3 * blur) * effectScale + 2 * x.be + 4;
    width += pad;
    height += pad;
    if (style.Angle != 0) {
        x.angles.push_back(style.Angle);
    }
    if (x.turned) {
        width = height = std::hypot(width, height); // any turn fits in the diagonal's square
    } else {
        if (x.tilted) {
            // Turned in depth, the nearer side is drawn larger.
            width *= kPerspective;
            height *= kPerspective;
        }
        double w = width;
        double h = height;
        for (const double degrees : x.angles) {
            const double c = std::fabs(std::cos(degrees * kPi / 180));
            const double s = std::fabs(std::sin(degrees * kPi / 180));
            const double turnedW = width * c + height * s;
            const double turnedH = width * s + height * c;
            if (turnedW * turnedH > w * h) {
                w = turnedW;
                h = turnedH;
            }
        }
        width = w;
        height = h;
    }
    const double perPixel = blur > 0 || x.be > 0 ? kBytesPerBlurredPixel : kBytesPerPixel;
    const double bytes = width * height * perPixel + x.characters * kBytesPerCharacter;
    return bytes >= 1e18 || !std::isfinite(bytes) ? std::uint64_t{1'000'000'000'000'000'000}
                                                  : static_cast<std::uint64_t>(bytes);
}

std::uint64_t EventMemoryBudget(const RenderLimits& limits) {
    return static_cast<std::uint64_t>(limits.memoryMb) * 1024 * 1024 / 4;
}

std::string EventPlace(const std::vector<int>& eventLines, int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < eventLines.size() &&
        eventLines[static_cast<std::size_t>(index)] > 0) {
        return "line " + std::to_string(eventLines[static_cast<std::size_t>(index)]);
    }
    return "event " + std::to_string(index + 1);
}

void CheckTrackWithinLimits(const ASS_Track* track, const std::vector<int>& eventLines,
                            const FrameGeometry& geometry, const RenderLimits& limits,
                            const std::string& path) {
    if (track->n_events > limits.events) {
        throw LimitError(path + ": " + std::to_string(track->n_events) + " events; the limit is " +
                         std::to_string(limits.events) + " (--max-events)");
    }
    const std::uint64_t budget = EventMemoryBudget(limits);
    for (int i = 0; i < track->n_events; ++i) {
        const ASS_Event& event = track->events[i];
        if (event.Duration <= 0) {
            continue;
        }
        const std::uint64_t bytes = EstimateEventBytes(track, event, geometry);
        if (bytes > budget) {
            throw LimitError(
                path + ": " + EventPlace(eventLines, i) + ": drawing it would take about " +
                std::to_string(bytes / (1024 * 1024)) +
                " MB (its font size, scale, border, blur or drawing at the script's resolution " +
                std::to_string(track->PlayResX) + "x" + std::to_string(track->PlayResY) +
                " scaled to the frame); the limit is " + std::to_string(limits.memoryMb) +
                " MB (--max-memory)");
        }
    }
}

int LibassCacheMegabytes(const RenderLimits& limits, int renderers) {
    return std::max(
        static_cast<int>(std::clamp<std::int64_t>(limits.memoryMb / 128, 4, 16)) / renderers, 2);
}

} // namespace pelldrin::render
