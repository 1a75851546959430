#include "input/EventEstimate.h"

#include "base/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

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

// The largest values an event's text reaches.
struct TagExtremes {
    double fontSize = 0, scaleX = 0, scaleY = 0; // scales in percent
    double border = 0, shadow = 0, blur = 0, be = 0;
    double shearX = 0, shearY = 0;
    double drawing = 0; // the largest drawing coordinate, in script pixels
    int drawingScale = 0;
    bool rotated = false;
    double characters = 0;
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

void ReadTag(std::string_view text, std::size_t& pos, TagExtremes& x) {
    const std::size_t start = pos;
    while (pos < text.size() && IsLetter(text[pos])) {
        ++pos;
    }
    std::string_view name = text.substr(start, pos - start);
    // "\fs20" reads as the letters "fs" and "\be1" as "be"; "\fscx" and "\fsp" are
    // names of their own, so the number is where the letters stop.
    const double value = NumberAt(text, pos);
    const auto raise = [](double& field, double v) { field = std::max(field, v); };
    if (name == "fs") {
        raise(x.fontSize, value);
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
    } else if (name == "frx" || name == "fry" || name == "fr" || name == "frz") {
        x.rotated = true;
    } else if (name == "p") {
        x.drawingScale = std::max(x.drawingScale, static_cast<int>(std::min(value, 30.0)));
    }
}

TagExtremes ScanText(std::string_view text) {
    TagExtremes x;
    bool inBlock = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const char c = text[pos];
        if (c == '{') {
            inBlock = true;
        } else if (c == '}') {
            inBlock = false;
        } else if (inBlock && c == '\\') {
            ++pos;
            ReadTag(text, pos, x);
            continue;
        } else if (!inBlock) {
            if (!IsUtf8Continuation(c)) {
                x.characters += 1;
            }
            if ((c >= '0' && c <= '9') || c == '-') {
                // Any number in the text may be a drawing coordinate.
                std::size_t end = pos;
                while (end < text.size() && std::string_view("+-.0123456789").find(text[end]) !=
                                                std::string_view::npos) {
                    ++end;
                }
                x.drawing = std::max(x.drawing, NumberAt(text, pos));
                x.characters += static_cast<double>(end - pos - 1);
                pos = end;
                continue;
            }
        }
        ++pos;
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
    TagExtremes x = ScanText(event.Text != nullptr ? event.Text : "");

    // libass's defaults for a script that leaves its resolution out.
    double playY = track->PlayResY > 0 ? track->PlayResY
                                       : (track->PlayResX > 0 ? track->PlayResX * 3.0 / 4 : 288);
    double playX = track->PlayResX > 0 ? track->PlayResX : playY * 4 / 3;
    const double scale = std::max({geometry.renderHeight / playY, geometry.renderWidth / playX,
                                   geometry.height / playY, 1e-3});
    const double effectScale = std::max(scale, 1.0);

    const double fontSize = std::max(std::fabs(style.FontSize), x.fontSize);
    const double scaleX = std::max(std::fabs(style.ScaleX), x.scaleX / 100);
    const double scaleY = std::max(std::fabs(style.ScaleY), x.scaleY / 100);
    const double border = std::max(std::fabs(style.Outline), x.border);
    const double shadow = std::max(std::fabs(style.Shadow), x.shadow);
    const double blur = std::max(std::min(std::fabs(style.Blur), kMaxBlur), x.blur);

    double glyphW = fontSize * scaleX * scale;
    double glyphH = fontSize * scaleY * scale;
    double width = std::max(x.characters, 1.0) * glyphW;
    double height = glyphH;
    if (x.drawingScale > 0) {
        const double extent = x.drawing / std::ldexp(1.0, x.drawingScale - 1) * scale;
        width += extent * scaleX;
        height = std::max(height, extent * scaleY);
    }
    height += x.shearY * width;
    width += x.shearX * height;
    const double pad = 2 * (border + shadow + 3 * blur) * effectScale + 2 * x.be + 4;
    width += pad;
    height += pad;
    if (x.rotated) {
        width = height = width + height; // any turn fits in this square
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
        static_cast<int>(std::clamp<std::int64_t>(limits.memoryMb / 64, 4, 16)) / renderers, 2);
}

} // namespace pelldrin::render
