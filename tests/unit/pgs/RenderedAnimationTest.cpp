// The renderer's stream for a fade and a syllable karaoke line: palette updates instead of new
// objects, and each event still decodes (FFmpeg) to the picture of its PNG.
#include "SupDecoder.h"
#include "encoding/PaletteReuse.h"
#include "pgs/SupCheck.h"
#include "unit/render/RenderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace pelldrin::render::test {
namespace {

// Frame n of 23.976 at 90 kHz, rounded down as the stream's times are.
std::int64_t Pts(std::int64_t frame) {
    return frame * 1001 * 90000 / 24000;
}

// The largest difference between the PNG and the decoded picture placed at (x, y), alpha and
// colour as shown over black, and the mean PixelError of the pixels either shows; pixels
// decoded outside the PNG count as a full difference.
struct Difference {
    int alpha = 0, color = 0;
    double mean = 0;
};

Difference Compare(const RgbaImage& png, int x, int y, const pgs::test::DecodedSet& set) {
    Difference d;
    std::size_t visibleInside = 0, visibleDecoded = 0, either = 0;
    for (const auto& r : set.rects) {
        for (int row = 0; row < r.h; ++row) {
            for (int col = 0; col < r.w; ++col) {
                const std::uint32_t p = r.argb[static_cast<std::size_t>(row) * r.w + col];
                const int a = static_cast<int>(p >> 24), px = r.x + col - x, py = r.y + row - y;
                visibleDecoded += a != 0;
                if (px < 0 || py < 0 || px >= png.width || py >= png.height) {
                    continue;
                }
                const std::uint8_t* q = png.Row(py) + px * 4;
                visibleInside += a != 0;
                if (a != 0 || q[3] != 0) {
                    d.mean += PixelError(
                        q, {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                            static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(a)});
                    ++either;
                }
                d.alpha = std::max(d.alpha, std::abs(a - q[3]));
                for (int c = 0; c < 3; ++c) {
                    const int v = static_cast<int>((p >> (16 - 8 * c)) & 0xFF);
                    d.color = std::max(d.color, std::abs(v * a - q[c] * q[3]) / 255);
                }
            }
        }
    }
    d.mean /= static_cast<double>(std::max<std::size_t>(either, 1));
    if (visibleDecoded != visibleInside) {
        d.alpha = 255;
    }
    return d;
}

TEST(RenderedAnimation, FadeAndKaraokeAreMostlyPaletteUpdatesAndDecodeToTheirPngs) {
    TempDir dir;
    WriteFile(dir.File("a.ass"),
              AssScript("Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\fad(500,500)}"
                        "A line that fades in and out\n"
                        "Dialogue: 0,0:00:03.00,0:00:05.00,Default,,0,0,0,,"
                        "{\\k40}Ka{\\k40}ra{\\k40}o{\\k40}ke\n"));
    WriteFile(dir.File("a.avs"), ScriptText(dir.File("a.ass"), 1920, 1080, "23.976", 144));
    const auto r = RunRenderer({"-t", "a", "-v", "1080p", "-f", "23.976", "-a1", "-p0", "-o",
                                dir.File("a.xml"), "-o", dir.File("a.sup"), dir.File("a.avs")});
    ASSERT_EQ(r.status, 0) << r.err;

    const auto summary = pgs::CheckSupStream(ReadFile(dir.File("a.sup")));
    EXPECT_EQ(summary.violationCount, 0) << pgs::SummaryLine(summary);
    const auto events = ReadEvents(dir.File("a.xml"));
    // Each line's first picture needs its objects; of the rest, at least three quarters are
    // palette updates (the writer starts objects over where its palette fills up).
    const std::int64_t fadeEvents = 24, karaokeEvents = 4;
    ASSERT_EQ(events.size(), static_cast<std::size_t>(fadeEvents + karaokeEvents));
    EXPECT_GE(summary.paletteOnly * 4, (fadeEvents - 1 + karaokeEvents - 1) * 3)
        << pgs::SummaryLine(summary);

    const auto sets = pgs::test::DecodeSup(dir.File("a.sup"));
    for (const EventOut& e : events) {
        ASSERT_EQ(e.graphics.size(), 1u);
        const std::int64_t middle = (TimecodeFrame(e.inTC, 24) + TimecodeFrame(e.outTC, 24)) / 2;
        const pgs::test::DecodedSet* shown = nullptr;
        for (const auto& set : sets) {
            if (set.pts <= Pts(middle)) {
                shown = &set;
            }
        }
        ASSERT_NE(shown, nullptr) << e.inTC;
        const GraphicOut& g = e.graphics[0];
        const RgbaImage png = LoadPng(dir.File(g.file));
        const Difference d = Compare(png, g.x, g.y, *shown);
        // The palette reuse lets pixels stray by its tolerances or a few times as far as the
        // picture's own quantization does, and on average a little further than that; the
        // stream writer by 3 more levels where it joins look-alike colours, and its colours
        // by the rounding of YCbCr.
        QuantizeStray fresh;
        QuantizeParts(png, {PixelRect{0, 0, png.width, png.height}}, &fresh);
        EXPECT_LE(d.alpha,
                  std::max(kReuseAlphaTolerance, kReuseSplitStrays * fresh.worst.alpha) + 3)
            << e.inTC;
        EXPECT_LE(d.color,
                  std::max(kReuseColorTolerance, kReuseSplitStrays * fresh.worst.color / 255 + 1) +
                      3)
            << e.inTC;
        EXPECT_LE(d.mean, fresh.mean + kReuseMeanSlack + 0.5) << e.inTC;
    }
}

TEST(RenderedAnimation, TheStreamChoosesItsObjectsWhateverTheGraphicsAre) {
    // A sign at the top over a line at the bottom, then a sign moving over the line: the
    // stream takes them as two objects in two windows, with full-frame graphics, one graphic
    // or two alike.
    TempDir dir;
    WriteFile(dir.File("s.ass"),
              AssScript("Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,A line below\n"
                        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\an8}A sign\n"
                        "Dialogue: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,"
                        "{\\move(300,100,900,200)}Moving\n"));
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, "23.976", 96));
    std::vector<std::string> streams;
    for (const char* b : {"-a1 -b0", "-a1 -b1", "-a0 -b0"}) {
        SCOPED_TRACE(b);
        const std::string name = std::string("s") + b[2] + b[6];
        const auto r = RunRenderer({"-t", "s", "-v", "1080p", "-f", "23.976", std::string(b, 3),
                                    std::string(b + 4), "-p1", "-o", dir.File(name + ".xml"), "-o",
                                    dir.File(name + ".sup"), dir.File("s.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        streams.push_back(ReadFile(dir.File(name + ".sup")));
    }
    EXPECT_EQ(streams[0], streams[1]);
    EXPECT_EQ(streams[0], streams[2]);
    const auto summary = pgs::CheckSupStream(streams[0]);
    EXPECT_EQ(summary.violationCount, 0) << pgs::SummaryLine(summary);
    int twoObjects = 0;
    for (const auto& s : pgs::test::ReadSegments(streams[0])) {
        twoObjects += s.type == 0x16 && s.payload[10] == 2;
    }
    EXPECT_GE(twoObjects, 20); // the sign's second and the moving sign's every frame
}

} // namespace
} // namespace pelldrin::render::test
