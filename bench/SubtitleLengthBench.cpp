// Scan time of a large ASS file, with the peak memory the scan adds.
#include "PeakMemory.h"
#include "script/SubtitleLength.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Writes the file line by line, so that generating it leaves no memory peak of its own.
std::size_t WriteAss(const std::string& path, int lines) {
    std::ofstream out(path, std::ios::binary);
    std::size_t size = 0;
    std::string text = "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
                       "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                       "Effect, Text\n";
    char buf[256];
    for (int i = 0; i < lines; ++i) {
        const int s = i * 2;
        std::snprintf(buf, sizeof buf,
                      "Dialogue: 0,%d:%02d:%02d.%02d,%d:%02d:%02d.%02d,Default,,0,0,0,,"
                      "Line number %d, with a comma and some text\n",
                      s / 3600, s / 60 % 60, s % 60, i % 100, (s + 1) / 3600, (s + 1) / 60 % 60,
                      (s + 1) % 60, (i * 7) % 100, i);
        text += buf;
        if (text.size() > 4096) {
            out << text;
            size += text.size();
            text.clear();
        }
    }
    out << text;
    return size + text.size();
}

void BM_CountSubtitleFrames100k(benchmark::State& state) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "pelldrin-bench-100k.ass").string();
    const std::size_t fileSize = WriteAss(path, 100000);
    // Taken once: later runs of this function would only see the first run's peak.
    static const double before = pelldrin::bench::PeakRssBytes();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pelldrin::CountSubtitleFrames(path, pelldrin::skAssSsa, 23.976));
    }
    const double added = pelldrin::bench::PeakRssBytes() - before;
    state.counters["file_MB"] = static_cast<double>(fileSize) / 1e6;
    state.counters["peak_added_MB"] = added / 1e6;
    state.counters["peak_over_file"] = added / static_cast<double>(fileSize);
    std::filesystem::remove(path);
}
BENCHMARK(BM_CountSubtitleFrames100k)->Unit(benchmark::kMillisecond);

// Baseline: only reading the same file into memory, which the scan must do too.
void BM_ReadFileBaseline100k(benchmark::State& state) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "pelldrin-bench-100k-read.ass").string();
    WriteAss(path, 100000);
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(bytes.data());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadFileBaseline100k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
