// pelldrin-render against a plain baseline on a generated 1080p dialogue file, a
// two-hour clip with sparse static events, and the peak memory of a whole run.
//
// Baseline: every frame drawn, composited over the whole frame, compared with the
// previous frame; each finished picture cropped, quantized and written as a PNG at
// zlib's default level, on one thread.
#include "PeakMemory.h"
#include "drawing/Composite.h"
#include "drawing/FrameScan.h"
#include "encoding/Palette.h"
#include "encoding/PngWriter.h"
#include "input/LibassSession.h"
#include "output/EventFiles.h"
#include "render/Renderer.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace pelldrin::render;
namespace fs = std::filesystem;

const char* const kWords[] = {
    "the",    "night", "is",      "still",   "young",   "and",   "we",     "have",  "time",
    "to",     "find",  "her",     "before",  "morning", "comes", "what",   "did",   "you",
    "see",    "at",    "station", "nothing", "only",    "rain",  "a",      "man",   "with",
    "yellow", "coat",  "walking", "north",   "don't",   "tell",  "me",     "that",  "again",
    "I",      "know",  "where",   "going",   "captain", "wants", "report", "by",    "noon",
    "listen", "river", "there",   "were",    "three",   "of",    "them",   "maybe", "four",
};

std::string Time(double s) {
    const long long cs = static_cast<long long>(s * 100 + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60,
                  cs / 100 % 60, cs % 100);
    return buf;
}

// A dialogue file: events one after another with short gaps, one or two lines each,
// some italic, some at the top. Returns the end time in seconds.
double WriteDialogue(const std::string& path, int events, double spacing, unsigned seed) {
    std::mt19937 rng(seed);
    std::ofstream out(path, std::ios::binary);
    out << "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n"
           "ScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
           "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
           "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
           "Style: Default,DejaVu Sans,58,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,"
           "100,100,0,0,1,3,1,2,90,90,60,1\n\n[Events]\n"
           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    const int wordCount = static_cast<int>(sizeof kWords / sizeof kWords[0]);
    double t = 1.0;
    for (int i = 0; i < events; ++i) {
        const double duration = 1.0 + (rng() % 200) / 100.0;
        std::string text = (rng() % 20 == 0) ? "{\\an8}" : "";
        const int lines = rng() % 10 < 3 ? 2 : 1;
        for (int line = 0; line < lines; ++line) {
            if (line > 0) {
                text += "\\N";
            }
            const int n = 3 + static_cast<int>(rng() % 6);
            for (int w = 0; w < n; ++w) {
                const bool italic = rng() % 12 == 0;
                if (w > 0) {
                    text += ' ';
                }
                text += italic ? "{\\i1}" : "";
                text += kWords[rng() % wordCount];
                text += italic ? "{\\i0}" : "";
            }
            text += rng() % 3 == 0 ? "?" : ".";
        }
        out << "Dialogue: 0," << Time(t) << "," << Time(t + duration) << ",Default,,0,0,0,," << text
            << "\n";
        t += spacing > 0 ? spacing : duration + 0.1 + (rng() % 50) / 100.0;
    }
    return t;
}

void WriteScript(const std::string& path, const std::string& subtitle, long long frames) {
    std::ofstream out(path, std::ios::binary);
    out << "LoadPlugin(\"/opt/VSFilter.dll\")\r\nMaskSub(\"" << subtitle
        << "\", 1920, 1080, 23.976, " << frames << ")\r\n";
}

// CPU seconds (all threads) this process has used so far, in user and in system
// (kernel) mode; the kernel's share is mostly creating the PNG files.
struct CpuTime {
    double user = 0;
    double system = 0;
};
CpuTime CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6,
            static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6};
}

// The machine's one-minute load average: other work on the two cores slows every figure.
double LoadAverage() {
    double load = 0;
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    if (f != nullptr) {
        if (std::fscanf(f, "%lf", &load) != 1) {
            load = 0;
        }
        std::fclose(f);
    }
    return load;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The whole renderer, as the batch runs it; returns the seconds it took.
double RunFast(const std::string& folder, const std::string& name, std::size_t& events) {
    std::ostringstream out;
    std::ostringstream err;
    const auto start = std::chrono::steady_clock::now();
    const int status =
        RunRender({"pelldrin-render", "-t", name, "-l", "eng", "-v", "1080p", "-f", "23.976", "-a1",
                   "-p1", "-b1", "-m3", "-o", folder + "/" + name + ".xml", "-o",
                   folder + "/" + name + ".sup", folder + "/" + name + ".avs"},
                  out, err);
    const double seconds = Seconds(start);
    if (status != 0) {
        std::fprintf(stderr, "render failed: %s\n", err.str().c_str());
        std::exit(1);
    }
    const std::string text = out.str();
    const auto pos = text.rfind("Events: ");
    events = pos == std::string::npos ? 0 : std::stoul(text.substr(pos + 8));
    return seconds;
}

// The plain way: every frame, whole-frame compositing, one thread, default zlib level.
double RunBaseline(const std::string& folder, const std::string& subtitle, long long frames,
                   std::size_t& events) {
    const auto start = std::chrono::steady_clock::now();
    LibassSession session(subtitle);
    const FrameGeometry geometry{1920, 1080, 1920, 1080};
    ASS_Renderer* renderer = session.StartRenderer(geometry);
    const FrameClock clock{24000, 1001};
    const PngSettings png = DefaultPngSettings();
    RgbaImage previous;
    events = 0;
    const auto flush = [&] {
        const RgbaImage cropped = CropToVisible(previous);
        if (cropped.Empty()) {
            return;
        }
        ++events;
        const auto bytes = EncodePngIndexed(QuantizeImage(cropped), png);
        WriteFileBytes(folder + "/base_" + std::to_string(events) + ".png", bytes);
    };
    for (long long n = 0; n < frames; ++n) {
        int change = 0;
        RgbaImage frame = CompositeFullFrame(
            ass_render_frame(renderer, session.Track(), clock.MsOfFrame(n), &change), 1920, 1080);
        if (n == 0 || frame.pixels != previous.pixels) {
            if (n > 0) {
                flush();
            }
            previous = std::move(frame);
        }
    }
    flush();
    return Seconds(start);
}

} // namespace

// "--dialogue-only" runs the first part alone, for a profiler; "--write-dialogue FOLDER"
// writes its subtitle file and script there (dialogue.ass, dialogue.avs) for timing tools
// that run the program whole. Files go to TMPDIR (or /tmp); the system time shows what
// creating them costs there.
int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--write-dialogue") == 0) {
        const std::string folder = argv[2];
        fs::create_directories(folder);
        const double end = WriteDialogue(folder + "/dialogue.ass", 2000, 0, 7);
        WriteScript(folder + "/dialogue.avs", folder + "/dialogue.ass",
                    static_cast<long long>(end * 24000 / 1001) + 48);
        return 0;
    }
    const bool dialogueOnly = argc > 1 && std::strcmp(argv[1], "--dialogue-only") == 0;
    const fs::path root =
        fs::temp_directory_path() / ("pelldrin-render-bench-" + std::to_string(::getpid()));
    fs::create_directories(root);
    const std::string folder = root.string();

    // 1. 2000 dialogue events at 1080p, every output written (PNGs, PGS, XML).
    const double end = WriteDialogue(folder + "/dialogue.ass", 2000, 0, 7);
    const long long frames = static_cast<long long>(end * 24000 / 1001) + 48;
    WriteScript(folder + "/dialogue.avs", folder + "/dialogue.ass", frames);
    std::size_t fastEvents = 0;
    const double loadBefore = LoadAverage();
    const CpuTime cpuBefore = CpuSeconds();
    const double fastSeconds = RunFast(folder, "dialogue", fastEvents);
    const CpuTime cpuAfter = CpuSeconds();
    const double userCpu = cpuAfter.user - cpuBefore.user;
    const double systemCpu = cpuAfter.system - cpuBefore.system;
    const double peakMb = pelldrin::bench::PeakRssBytes() / (1024.0 * 1024.0);
    if (dialogueOnly) {
        std::printf("dialogue 1080p: %zu events in %.2f s\n", fastEvents, fastSeconds);
        fs::remove_all(root);
        return 0;
    }

    // 2. A two-hour clip at 23.976 (172,800 frames) with 1000 static events.
    WriteDialogue(folder + "/film.ass", 1000, 7.0, 11);
    WriteScript(folder + "/film.avs", folder + "/film.ass", 172800);
    std::size_t filmEvents = 0;
    const double filmSeconds = RunFast(folder, "film", filmEvents);

    // 3. The baseline on the first 60 events of the same dialogue file.
    const double baseEnd = WriteDialogue(folder + "/base.ass", 60, 0, 7);
    const long long baseFrames = static_cast<long long>(baseEnd * 24000 / 1001) + 48;
    std::size_t baseEvents = 0;
    const double baseSeconds = RunBaseline(folder, folder + "/base.ass", baseFrames, baseEvents);

    const double fastRate = static_cast<double>(fastEvents) / fastSeconds;
    const double baseRate = static_cast<double>(baseEvents) / baseSeconds;
    std::printf("dialogue 1080p: %zu events, %lld frames in %.2f s = %.0f events/s\n", fastEvents,
                frames, fastSeconds, fastRate);
    std::printf("baseline:       %zu events, %lld frames in %.2f s = %.1f events/s\n", baseEvents,
                baseFrames, baseSeconds, baseRate);
    std::printf("speed-up against the baseline: %.1fx (target >= 15x)\n", fastRate / baseRate);
    std::printf("dialogue run used %.2f s user and %.2f s system CPU (%.0f events per CPU "
                "second); load average before it %.2f\n",
                userCpu, systemCpu, static_cast<double>(fastEvents) / (userCpu + systemCpu),
                loadBefore);
    std::printf("events per second: %.0f (target >= 2000)\n", fastRate);
    std::printf("peak memory of the dialogue run: %.0f MB (target <= 200 MB)\n", peakMb);
    std::printf("two-hour clip, 172800 frames, %zu events: %.2f s (target <= 3 s)\n", filmEvents,
                filmSeconds);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
