// Animated subtitles through the whole renderer with and without the .sup: the whole-run
// time, the share of events a player shows at their own frame, the checker's verdict, and the
// stream's size against one epoch per event (each event written as a stream of its own, as
// the writer did before it planned epochs). Four generated 1080p files at 23.976: karaoke
// lines with a moving sign, karaoke lines alone, a full-screen effect, and a one-second fade;
// and the writer alone on a fade whose frames keep one palette order.
#include "drawing/FrameScan.h"
#include "encoding/EncodedEvent.h"
#include "input/LibassSession.h"
#include "pgs/SupCheck.h"
#include "pgs/SupWriter.h"
#include "render/Renderer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace pelldrin::render;
namespace fs = std::filesystem;
namespace pgs = pelldrin::pgs;

constexpr int kRuns = 3;

std::string Time(double s) {
    const long long cs = static_cast<long long>(s * 100 + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60,
                  cs / 100 % 60, cs % 100);
    return buf;
}

std::string Header() {
    return "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n"
           "ScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
           "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
           "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
           "Style: Default,DejaVu Sans,60,&H00FFFFFF,&H0000D0FF,&H00000000,&H80000000,0,0,0,0,"
           "100,100,0,0,1,3,1,2,90,90,60,1\n\n[Events]\n"
           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

// Karaoke lines whose colour sweeps syllable by syllable (a new picture every frame), with a
// sign moving across the top of the frame during every other line. Returns seconds.
double WriteKaraoke(const std::string& path, int lines) {
    static const char* const kSyllables[] = {"ka", "ra", "o", "ke", "no", "yo", "ru", "ni"};
    std::ofstream out(path, std::ios::binary);
    out << Header();
    double t = 1.0;
    for (int i = 0; i < lines; ++i) {
        std::string text;
        for (int s = 0; s < 8; ++s) {
            text += "{\\kf40}" + std::string(kSyllables[(i + s) % 8]);
        }
        out << "Dialogue: 0," << Time(t) << "," << Time(t + 3.4) << ",Default,,0,0,0,," << text
            << "\n";
        if (i % 2 == 0) {
            out << "Dialogue: 1," << Time(t) << "," << Time(t + 3.4)
                << ",Default,,0,0,0,,{\\an8\\move(300,80,1500,140)}Station " << i << "\n";
        }
        t += 3.6;
    }
    return t;
}

// A full-screen shape that turns a little every frame.
double WriteEffect(const std::string& path, double seconds) {
    std::ofstream out(path, std::ios::binary);
    out << Header() << "Dialogue: 0," << Time(1.0) << "," << Time(1.0 + seconds)
        << ",Default,,0,0,0,,{\\an5\\pos(960,540)\\bord0\\shad0\\1c&H804020&\\t(\\frz40)\\p1}"
           "m -1000 -620 l 1000 -620 1000 620 -1000 620{\\p0}\n";
    return 1.0 + seconds;
}

// One line fading in and out over a second.
double WriteFade(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << Header() << "Dialogue: 0," << Time(1.0) << "," << Time(2.0)
        << ",Default,,0,0,0,,{\\fad(500,500)}A line that fades in and out again\n";
    return 2.5;
}

// Karaoke lines alone, recoloured syllable by syllable: with \\k (a jump per syllable) and
// \\kf (a sweep, a new picture every frame) in turn.
double WriteSyllables(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << Header();
    for (int i = 0; i < 4; ++i) {
        const std::string tag = i % 2 == 0 ? "{\\k40}" : "{\\kf40}";
        std::string text;
        for (const char* s : {"ka", "ra", "o", "ke", "no", "yo", "ru"}) {
            text += tag + s;
        }
        out << "Dialogue: 0," << Time(1.0 + 3.6 * i) << "," << Time(4.4 + 3.6 * i)
            << ",Default,,0,0,0,," << text << "\n";
    }
    return 1.0 + 3.6 * 4;
}

void WriteScript(const std::string& path, const std::string& subtitle, long long frames) {
    std::ofstream out(path, std::ios::binary);
    out << "LoadPlugin(\"/opt/VSFilter.dll\")\r\nMaskSub(\"" << subtitle
        << "\", 1920, 1080, 23.976, " << frames << ")\r\n";
}

struct RunResult {
    double seconds = 0;
    std::string err;
};

RunResult Render(const std::string& folder, const std::string& name, bool sup) {
    std::vector<std::string> args{"pelldrin-render",
                                  "-t",
                                  name,
                                  "-l",
                                  "eng",
                                  "-v",
                                  "1080p",
                                  "-f",
                                  "23.976",
                                  "-a1",
                                  "-p1",
                                  "-b1",
                                  "-m3",
                                  "-o",
                                  folder + "/" + name + ".xml"};
    if (sup) {
        args.insert(args.end(), {"-o", folder + "/" + name + ".sup"});
    }
    args.push_back(folder + "/" + name + ".avs");
    std::ostringstream out, err;
    const auto start = std::chrono::steady_clock::now();
    const int status = RunRender(args, out, err);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "render failed: %s\n", err.str().c_str());
        std::exit(1);
    }
    return {seconds, err.str()};
}

// The number after a phrase in the renderer's report, 0 when it is not there.
long long Count(const std::string& text, const std::string& phrase) {
    const auto at = text.find(phrase);
    return at == std::string::npos ? 0 : std::stoll(text.substr(at + phrase.size()));
}

// The pictures the renderer's report says are shown late: the first subtitle, one picture,
// or a number of them.
long long LateCount(const std::string& text) {
    long long late = text.find("the first subtitle starts at") != std::string::npos ? 1 : 0;
    late += text.find("; a picture starts at") != std::string::npos ||
                    text.find(": a picture starts at") != std::string::npos
                ? 1
                : 0;
    const auto many = text.find(" pictures start before");
    if (many != std::string::npos) {
        const auto from = text.find_last_of(":; ", many - 1);
        late += std::stoll(text.substr(from + 1, many - from - 1));
    }
    return late;
}

// The same pictures as the renderer makes them, each written as a stream of its own.
std::uintmax_t OneEpochPerEvent(const std::string& folder, const std::string& subtitle,
                                long long frames, long long& events) {
    LibassSession session(subtitle);
    const FrameGeometry geometry{1920, 1080, 1920, 1080};
    ASS_Renderer* renderer = session.StartRenderer(geometry);
    EncodeSettings settings;
    settings.palette = true;
    settings.split = true;
    settings.stream = true;
    std::uintmax_t bytes = 0;
    events = 0;
    const std::string path = folder + "/one.sup";
    ScanFrames(
        renderer, session.Track(), geometry, FrameClock{24000, 1001}, frames, true,
        [&](ShownImage&& shown) {
            ++events;
            IndexedEvent indexed = EncodeEvent(shown, settings).indexed;
            pgs::SupEvent event;
            event.inFrame = indexed.inFrame;
            event.outFrame = indexed.outFrame;
            for (const PaletteColor& c : indexed.parts.front().palette) {
                event.palette.push_back(pgs::Rgba{c.r, c.g, c.b, c.a});
            }
            for (IndexedImage& part : indexed.parts) {
                event.objects.push_back(pgs::IndexedObject{part.x, part.y, part.width, part.height,
                                                           std::move(part.indices)});
            }
            pgs::SupWriter writer(path, pgs::StreamInfo{});
            writer.Add(event);
            writer.Finish();
            bytes += fs::file_size(path);
        },
        [](std::int64_t) {});
    return bytes;
}

void Measure(const std::string& folder, const std::string& name, double seconds) {
    const std::string subtitle = folder + "/" + name + ".ass";
    const long long frames = static_cast<long long>(seconds * 24000 / 1001) + 24;
    WriteScript(folder + "/" + name + ".avs", subtitle, frames);
    std::vector<double> with, without;
    RunResult last;
    for (int i = 0; i < kRuns; ++i) { // alternating, so that drift hits both alike
        without.push_back(Render(folder, name, false).seconds);
        last = Render(folder, name, true);
        with.push_back(last.seconds);
    }
    std::sort(with.begin(), with.end());
    std::sort(without.begin(), without.end());
    std::ifstream in(folder + "/" + name + ".sup", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const pgs::SupCheckSummary summary = pgs::CheckSupStream(bytes);
    long long events = 0;
    const std::uintmax_t baseline = OneEpochPerEvent(folder, subtitle, frames, events);
    const long long leftOut = Count(last.err, "left out ");
    const long long late = LateCount(last.err);
    std::printf("%s: %lld events; checker: %s\n", name.c_str(), events,
                pgs::SummaryLine(summary).c_str());
    std::printf("  shown at their own frame %.1f %% (late %lld, left out %lld)\n",
                100.0 * static_cast<double>(events - leftOut - late) / static_cast<double>(events),
                late, leftOut);
    std::printf("  .sup %.0f KB, one epoch per event %.0f KB: %.2fx smaller\n", bytes.size() / 1e3,
                static_cast<double>(baseline) / 1e3,
                static_cast<double>(baseline) / static_cast<double>(bytes.size()));
    std::printf("  whole run median %.2f s with the .sup, %.2f s without: %.3fx\n", with[kRuns / 2],
                without[kRuns / 2], with[kRuns / 2] / without[kRuns / 2]);
}

// The writer alone on a one-second fade whose frames share their palette order, as a
// renderer that quantizes a fading line once would hand them over.
void MeasureWriterFade(const std::string& folder) {
    pgs::IndexedObject line{360, 900, 1200, 120, std::vector<std::uint8_t>(1200 * 120)};
    for (std::size_t i = 0; i < line.pixels.size(); ++i) {
        const std::size_t x = i % 1200, y = i / 1200;
        const bool glyph = (x / 30) % 3 != 2 && y > 10 && y < 110;
        line.pixels[i] = glyph ? static_cast<std::uint8_t>(1 + (x * 7 + y * 3) % 32) : 0;
    }
    std::vector<pgs::SupEvent> frames;
    for (int f = 0; f < 24; ++f) {
        pgs::SupEvent e;
        e.inFrame = 24 + f;
        e.outFrame = 25 + f;
        e.palette.push_back({0, 0, 0, 0});
        const int level = f < 12 ? f + 1 : 24 - f;
        for (int i = 1; i <= 32; ++i) {
            const auto v = static_cast<std::uint8_t>(i * 255 / 32);
            e.palette.push_back({v, v, v, static_cast<std::uint8_t>(255 * level / 12)});
        }
        e.objects = {line};
        frames.push_back(std::move(e));
    }
    const std::string path = folder + "/writer-fade.sup";
    std::uintmax_t baseline = 0;
    for (const pgs::SupEvent& e : frames) {
        pgs::SupWriter one(path, pgs::StreamInfo{});
        one.Add(e);
        one.Finish();
        baseline += fs::file_size(path);
    }
    pgs::SupWriter writer(path, pgs::StreamInfo{});
    for (const pgs::SupEvent& e : frames) {
        writer.Add(e);
    }
    writer.Finish();
    const std::uintmax_t size = fs::file_size(path);
    std::printf("writer fade: .sup %.0f KB, one epoch per frame %.0f KB: %.2fx smaller\n",
                static_cast<double>(size) / 1e3, static_cast<double>(baseline) / 1e3,
                static_cast<double>(baseline) / static_cast<double>(size));
}

} // namespace

// An argument names the one part to measure: karaoke, syllables, effect or fade.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&](const char* name) { return only.empty() || only == name; };
    const fs::path root =
        fs::temp_directory_path() / ("pelldrin-sup-bench-" + std::to_string(::getpid()));
    fs::create_directories(root);
    const std::string folder = root.string();
    if (wanted("karaoke")) {
        Measure(folder, "karaoke", WriteKaraoke(folder + "/karaoke.ass", 24));
    }
    if (wanted("syllables")) {
        Measure(folder, "syllables", WriteSyllables(folder + "/syllables.ass"));
    }
    if (wanted("effect")) {
        Measure(folder, "effect", WriteEffect(folder + "/effect.ass", 10.0));
    }
    if (wanted("fade")) {
        Measure(folder, "fade", WriteFade(folder + "/fade.ass"));
        MeasureWriterFade(folder);
    }
    fs::remove_all(root);
    return 0;
}
