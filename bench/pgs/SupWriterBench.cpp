// Time the .sup writer takes for 2000 two-line subtitle images, against the time libpng
// takes to encode the same images as palette PNGs (what the renderer writes for each event).
#include "PeakMemory.h"
#include "pgs/ObjectRle.h"
#include "pgs/SupWriter.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <random>
#include <vector>

namespace {

using pelldrin::pgs::IndexedObject;
using pelldrin::pgs::Rgba;
using pelldrin::pgs::StreamInfo;
using pelldrin::pgs::SupEvent;
using pelldrin::pgs::SupWriter;

constexpr int kEvents = 2000;
constexpr int kWidth = 1200, kHeight = 120;
constexpr int kDistinctImages = 64;

// Transparent, then 16 levels of a black outline, then 16 levels of white fill over it.
std::vector<Rgba> TextPalette() {
    std::vector<Rgba> p{{0, 0, 0, 0}};
    for (int i = 1; i <= 16; ++i) {
        p.push_back({0, 0, 0, static_cast<std::uint8_t>(i * 255 / 16)});
    }
    for (int i = 1; i <= 16; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / 16);
        p.push_back({v, v, v, 255});
    }
    return p;
}

float SegmentDistance(float px, float py, float ax, float ay, float bx, float by) {
    const float dx = bx - ax, dy = by - ay;
    const float t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.f, 1.f);
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

// Two lines of glyph-like strokes with a 2-pixel outline and anti-aliased edges.
IndexedObject TextImage(unsigned seed) {
    std::mt19937 rng(seed);
    IndexedObject o{360, 900, kWidth, kHeight, {}};
    o.pixels.assign(static_cast<std::size_t>(kWidth) * kHeight, 0);
    for (int line = 0; line < 2; ++line) {
        const float top = 8.f + line * 58.f;
        const int glyphs = 30 + static_cast<int>(rng() % 12);
        for (int g = 0; g < glyphs; ++g) {
            const float left = 10.f + g * 36.f;
            if (rng() % 7 == 0) {
                continue; // a space
            }
            struct Seg {
                float ax, ay, bx, by;
            };
            std::vector<Seg> segs;
            const int strokes = 2 + static_cast<int>(rng() % 3);
            for (int s = 0; s < strokes; ++s) {
                auto rx = [&] { return left + 4.f + static_cast<float>(rng() % 20); };
                auto ry = [&] { return top + 4.f + static_cast<float>(rng() % 40); };
                segs.push_back({rx(), ry(), rx(), ry()});
            }
            for (int y = static_cast<int>(top); y < static_cast<int>(top) + 50; ++y) {
                for (int x = static_cast<int>(left); x < static_cast<int>(left) + 30; ++x) {
                    float d = 1e9f;
                    for (const Seg& s : segs) {
                        d = std::min(d, SegmentDistance(x + .5f, y + .5f, s.ax, s.ay, s.bx, s.by));
                    }
                    std::uint8_t index = 0;
                    if (d < 2.5f) {
                        const float fill = std::clamp(3.f - d, 0.f, 1.f);
                        index = static_cast<std::uint8_t>(17 + std::lround(fill * 15));
                    } else if (d < 5.5f) {
                        const float edge = std::clamp(5.5f - d, 0.f, 1.f);
                        index = static_cast<std::uint8_t>(std::lround(edge * 15) + 1);
                    }
                    o.pixels[static_cast<std::size_t>(y) * kWidth + x] = index;
                }
            }
        }
    }
    return o;
}

// The distinct events; each is added many times with new times, so that the images are
// not copied for every event.
std::vector<SupEvent>& Images() {
    static std::vector<SupEvent> events = [] {
        std::vector<SupEvent> out(kDistinctImages);
        for (int i = 0; i < kDistinctImages; ++i) {
            out[static_cast<std::size_t>(i)].palette = TextPalette();
            out[static_cast<std::size_t>(i)].objects = {TextImage(static_cast<unsigned>(i + 1))};
        }
        return out;
    }();
    return events;
}

// Event i: three seconds apart, every fifth running into the next.
const SupEvent& Timed(int i) {
    SupEvent& e = Images()[static_cast<std::size_t>(i % kDistinctImages)];
    e.inFrame = i * 72;
    e.outFrame = i * 72 + (i % 5 == 0 ? 72 : 60);
    return e;
}

std::string BenchPath() {
    return (std::filesystem::temp_directory_path() / "pelldrin-bench-2000.sup").string();
}

void BM_SupWriter2000Events(benchmark::State& state) {
    Images();
    const std::string path = BenchPath();
    static const double before = pelldrin::bench::PeakRssBytes();
    for (auto _ : state) {
        SupWriter writer(path, StreamInfo{});
        for (int i = 0; i < kEvents; ++i) {
            writer.Add(Timed(i));
        }
        writer.Finish();
    }
    state.counters["us_per_event"] = benchmark::Counter(
        static_cast<double>(kEvents) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["peak_added_MB"] = (pelldrin::bench::PeakRssBytes() - before) / 1e6;
    std::filesystem::remove(path);
}
BENCHMARK(BM_SupWriter2000Events)->Unit(benchmark::kMillisecond);

// The coding alone: the same events with the stream dropped instead of written to disk.
void BM_SupWriter2000EventsNoFile(benchmark::State& state) {
    Images();
    for (auto _ : state) {
        SupWriter writer(BenchPath(), StreamInfo{});
        for (int i = 0; i < kEvents; ++i) {
            writer.Add(Timed(i));
        }
    }
    state.counters["us_per_event"] = benchmark::Counter(
        static_cast<double>(kEvents) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_SupWriter2000EventsNoFile)->Unit(benchmark::kMillisecond);

// The run-length coder alone, on the same images, into a buffer that is already there.
void BM_EncodeRle2000Events(benchmark::State& state) {
    Images();
    std::array<std::uint16_t, 256> remap{};
    for (int i = 0; i < 256; ++i) {
        remap[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i < 33 ? i : 0xFFFF);
    }
    std::vector<std::uint8_t> buffer(pelldrin::pgs::RleWorstCase(kWidth, kHeight));
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (int i = 0; i < kEvents; ++i) {
            const IndexedObject& o = Timed(i).objects[0];
            pelldrin::pgs::RleSource source;
            source.pixels = o.pixels.data();
            source.width = o.width;
            source.height = o.height;
            source.remap = remap.data();
            const std::uint8_t* end = pelldrin::pgs::EncodeRle(source, buffer.data());
            bytes += static_cast<std::size_t>(end - buffer.data());
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["us_per_event"] = benchmark::Counter(
        static_cast<double>(kEvents) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
    state.counters["code_KB_per_event"] = static_cast<double>(bytes) / kEvents / 1000.0;
}
BENCHMARK(BM_EncodeRle2000Events)->Unit(benchmark::kMillisecond);

// Baseline: the same images as 8-bit palette PNGs at zlib's default level, in memory.
void WritePng(const IndexedObject& o, const std::vector<Rgba>& palette, std::vector<char>& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            auto* buf = static_cast<std::vector<char>*>(png_get_io_ptr(p));
            buf->insert(buf->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(o.width), static_cast<png_uint_32>(o.height),
                 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colors;
    std::vector<png_byte> alpha;
    for (const Rgba& c : palette) {
        colors.push_back({c.r, c.g, c.b});
        alpha.push_back(c.a);
    }
    png_set_PLTE(png, info, colors.data(), static_cast<int>(colors.size()));
    png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
    png_write_info(png, info);
    for (int y = 0; y < o.height; ++y) {
        png_write_row(png, o.pixels.data() + static_cast<std::size_t>(y) * o.width);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}

void BM_PalettePng2000Events(benchmark::State& state) {
    Images();
    std::vector<char> out;
    for (auto _ : state) {
        for (int i = 0; i < kEvents; ++i) {
            const SupEvent& e = Timed(i);
            out.clear();
            WritePng(e.objects[0], e.palette, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["us_per_event"] = benchmark::Counter(
        static_cast<double>(kEvents) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_PalettePng2000Events)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
