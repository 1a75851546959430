// Blank events in mode 3 on a converter-sized file of 20,000 events, against two baselines
// measured in the same run: reading and atomically rewriting the same bytes, and a plain
// pugixml parse and save of them.
#include "PeakMemory.h"
#include "bdn/BlackEvents.h"
#include "base/AtomicFile.h"
#include "base/FileSystem.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kEvents = 20000;

std::string Timecode(int frames, int base) {
    char buf[32];
    const int s = frames / base;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60,
                  frames % base);
    return buf;
}

// Writes a BDN file the way the converter lays one out, event by event, so that making it
// leaves no memory peak of its own. Returns its size in bytes.
std::size_t WriteBdn(const std::string& path, int events) {
    std::ofstream out(path, std::ios::binary);
    const int lastOut = (events - 1) * 60 + 50;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<BDN Version=\"0.93\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:noNamespaceSchemaLocation=\"BD-03-006-0093b BDN File Format.xsd\">\n"
           "<Description>\n<Name Title=\"Benchmark\" Content=\"\"/>\n<Language Code=\"zho\"/>\n"
           "<Format VideoFormat=\"1080p\" FrameRate=\"23.976\" DropFrame=\"False\"/>\n"
           "<Events LastEventOutTC=\""
        << Timecode(lastOut, 24) << "\" FirstEventInTC=\"00:00:00:10\" ContentInTC=\"00:00:00:00\" "
        << "ContentOutTC=\"" << Timecode(lastOut + 24, 24) << "\" NumberofEvents=\"" << events
        << "\" Type=\"Graphic\"/>\n</Description>\n<Events>\n";
    char graphic[160];
    for (int i = 0; i < events; ++i) {
        std::snprintf(graphic, sizeof graphic,
                      "<Graphic Width=\"%d\" Height=\"%d\" X=\"%d\" Y=\"%d\">%08d_0.png</Graphic>",
                      600 + i % 700, 64 + (i % 3) * 60, 660 - i % 300, 950 - (i % 3) * 60, i);
        out << "<Event Forced=\"False\" InTC=\"" << Timecode(i * 60 + 10, 24) << "\" OutTC=\""
            << Timecode(i * 60 + 50, 24) << "\">\n"
            << graphic << "\n</Event>\n";
    }
    out << "</Events>\n</BDN>\n";
    out.flush();
    return static_cast<std::size_t>(out.tellp());
}

struct Sample {
    std::string pristine;
    std::string work;
    std::size_t size = 0;
};

const Sample& TheSample() {
    static const Sample sample = [] {
        const fs::path folder = fs::temp_directory_path() / "pelldrin-bench-bdn";
        fs::create_directories(folder);
        Sample s;
        s.pristine = (folder / "pristine.xml").string();
        s.work = (folder / "task.xml").string();
        s.size = WriteBdn(s.pristine, kEvents);
        return s;
    }();
    return sample;
}

void FreshCopy(const Sample& s) {
    fs::copy_file(s.pristine, s.work, fs::copy_options::overwrite_existing);
}

void Report(benchmark::State& state, const Sample& s, double before) {
    const double added = pelldrin::bench::PeakRssBytes() - before;
    state.counters["file_MB"] = static_cast<double>(s.size) / 1e6;
    state.counters["peak_added_MB"] = added / 1e6;
    state.counters["peak_over_file"] = added / static_cast<double>(s.size);
}

// Registered first, so that the process's peak memory is still this benchmark's own.
void BM_AddBlackEventsMode3_20k(benchmark::State& state) {
    const Sample& s = TheSample();
    static const double before = pelldrin::bench::PeakRssBytes();
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy(s);
        state.ResumeTiming();
        pelldrin::AddBlackEvents(s.work, 3);
    }
    Report(state, s, before);
}
BENCHMARK(BM_AddBlackEventsMode3_20k)->Unit(benchmark::kMillisecond);

// Floor: the same bytes read and written back atomically, with no XML work at all.
void BM_Baseline_ReadAndAtomicRewrite_20k(benchmark::State& state) {
    const Sample& s = TheSample();
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy(s);
        state.ResumeTiming();
        const std::string bytes = pelldrin::ReadWholeFile(s.work);
        pelldrin::AtomicWriteFile(s.work, bytes);
    }
}
BENCHMARK(BM_Baseline_ReadAndAtomicRewrite_20k)->Unit(benchmark::kMillisecond);

// Reference: pugixml's own file load and save of the same file, without atomic replace.
void BM_Baseline_PugixmlLoadSave_20k(benchmark::State& state) {
    const Sample& s = TheSample();
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy(s);
        state.ResumeTiming();
        pugi::xml_document doc;
        doc.load_file(s.work.c_str(), pugi::parse_default | pugi::parse_declaration);
        doc.save_file(s.work.c_str(), "  ");
    }
}
BENCHMARK(BM_Baseline_PugixmlLoadSave_20k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
