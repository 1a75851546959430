// Shared helpers of the renderer tests: running the program in-process, writing
// scripts and subtitles, and reading back the BDN XML with its pictures (through libpng,
// a reader apart from the writer).
#pragma once

#include "core/RgbaImage.h"
#include "encoding/PngWriter.h"
#include "input/RenderOptions.h"
#include "render/Preview.h"
#include "render/Renderer.h"
#include "support/TempDir.h"

#include <png.h>
#include <pugixml.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace pelldrin::render::test {

using pelldrin::test::ReadFile;
using pelldrin::test::TempDir;
using pelldrin::test::WriteFile;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline RunResult RunRenderer(const std::vector<std::string>& args) {
    std::vector<std::string> full{"pelldrin-render"};
    full.insert(full.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    RunResult result;
    result.status = IsPreviewRequest(full) ? RunPreview(full, out, err) : RunRender(full, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// The script exactly as the task builder writes it.
inline std::string ScriptText(const std::string& subtitle, int w, int h, const std::string& rate,
                              long long frames, bool resize = false) {
    std::string text = "LoadPlugin(\"/opt/tools/VSFilter.dll\")\r\nMaskSub(\"" + subtitle + "\", " +
                       std::to_string(w) + ", " + std::to_string(h) + ", " + rate + ", " +
                       std::to_string(frames) + ")\r\n";
    if (resize) {
        text += "LanczosResize(720," + std::to_string(h) + ")\r\n";
    }
    return text;
}

inline std::string AssScript(const std::string& events, int playResX = 1920, int playResY = 1080) {
    return "[Script Info]\nScriptType: v4.00+\nPlayResX: " + std::to_string(playResX) +
           "\nPlayResY: " + std::to_string(playResY) +
           "\nScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
           "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
           "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
           "Style: Default,DejaVu Sans,56,&H00FFFFFF,&H000000FF,&H00101010,&H80000000,0,0,0,0,"
           "100,100,0,0,1,3,2,2,40,40,50,1\n\n[Events]\n"
           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n" +
           events;
}

struct GraphicOut {
    int width = 0, height = 0, x = 0, y = 0;
    std::string file;
};

struct EventOut {
    std::string forced, inTC, outTC;
    std::vector<GraphicOut> graphics;
};

// Every event with all of its graphics, as the XML lists them.
inline std::vector<EventOut> ReadEvents(const std::string& xmlPath) {
    pugi::xml_document doc;
    std::vector<EventOut> events;
    if (!doc.load_file(xmlPath.c_str())) {
        return events;
    }
    for (const auto& e : doc.child("BDN").child("Events").children("Event")) {
        EventOut event{e.attribute("Forced").value(),
                       e.attribute("InTC").value(),
                       e.attribute("OutTC").value(),
                       {}};
        for (const auto& g : e.children("Graphic")) {
            event.graphics.push_back({g.attribute("Width").as_int(), g.attribute("Height").as_int(),
                                      g.attribute("X").as_int(), g.attribute("Y").as_int(),
                                      g.text().get()});
        }
        events.push_back(event);
    }
    return events;
}

// A timecode back to its frame number.
inline long long TimecodeFrame(const std::string& tc, int base) {
    int h = 0, m = 0, s = 0, f = 0;
    std::sscanf(tc.c_str(), "%d:%d:%d:%d", &h, &m, &s, &f);
    return ((h * 60LL + m) * 60 + s) * base + f;
}

// A PNG of either kind as straight RGBA.
inline RgbaImage DecodePng(const std::vector<std::uint8_t>& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        throw PngError(std::string("not a PNG: ") + image.message);
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaImage out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        throw PngError(std::string("cannot decode the PNG: ") + image.message);
    }
    return out;
}

inline RgbaImage LoadPng(const std::string& path) {
    const std::string bytes = ReadFile(path);
    return DecodePng(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

} // namespace pelldrin::render::test
