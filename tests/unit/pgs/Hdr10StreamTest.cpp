// A task for a UHD disc with HDR video, through the whole chain: the stream's palettes, decoded
// as such a disc's graphics (BT.2020 non-constant-luminance YCbCr, PQ curve), and the PNGs show
// the subtitle's colours at the chosen white; an SDR task and the preview keep the colours as
// authored.
#include "SupDecoder.h"
#include "core/Hdr10Conversion.h"
#include "pgs/SupCheck.h"
#include "unit/render/RenderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace pelldrin::render::test {
namespace {

constexpr double kKr = 0.2627, kKb = 0.0593, kKg = 1 - kKr - kKb;

// What a colour looks like on the screen: luminance in cd/m² and CIE xy.
struct Seen {
    double nits = 0, x = 0, y = 0;
};

// Linear RGB in cd/m² as shown, through its primaries' XYZ.
Seen ShownFromLight(const double toXyz[3][3], const double light[3]) {
    double xyz[3] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            xyz[i] += toXyz[i][j] * light[j];
        }
    }
    const double sum = xyz[0] + xyz[1] + xyz[2];
    return {xyz[1], xyz[0] / sum, xyz[1] / sum};
}

// PQ-coded BT.2020 R'G'B' (0 to 1) as shown.
Seen ShownFromCoded(double r, double g, double b) {
    static const double bt2020[3][3] = {{0.636958, 0.144617, 0.168881},
                                        {0.262700, 0.677998, 0.059302},
                                        {0.000000, 0.028073, 1.060985}};
    const double light[3] = {PqDecode(r), PqDecode(g), PqDecode(b)};
    return ShownFromLight(bt2020, light);
}

// A palette entry of the stream (limited-range BT.2020 YCbCr) as shown.
Seen ShownFromEntry(int y, int cr, int cb) {
    const double luma = (y - 16) / 219.0, u = (cb - 128) / 224.0, v = (cr - 128) / 224.0;
    const double r = luma + 2 * (1 - kKr) * v, b = luma + 2 * (1 - kKb) * u;
    const double g = (luma - kKr * r - kKb * b) / kKg;
    return ShownFromCoded(r, g, b);
}

// An authored colour (BT.709 R'G'B' 0 to 255) as an SDR display at the given white shows it.
Seen AuthoredAt(int r, int g, int b, double white) {
    static const double bt709[3][3] = {
        {0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};
    const double light[3] = {white * std::pow(r / 255.0, 2.4), white * std::pow(g / 255.0, 2.4),
                             white * std::pow(b / 255.0, 2.4)};
    return ShownFromLight(bt709, light);
}

void ExpectSeen(const Seen& got, const Seen& want, double nitsShare, const std::string& what) {
    EXPECT_NEAR(got.nits, want.nits, want.nits * nitsShare) << what;
    EXPECT_NEAR(got.x, want.x, 0.005) << what;
    EXPECT_NEAR(got.y, want.y, 0.005) << what;
}

struct Line {
    const char* name;
    int r, g, b;
};
// White, red and a 50 % grey, each a line of its own with neither outline nor shadow, so that
// its pixels are its colour at one alpha or another.
const Line kLines[] = {{"white", 255, 255, 255}, {"red", 255, 0, 0}, {"grey", 128, 128, 128}};

std::string LinesScript() {
    std::string events;
    for (int i = 0; i < 3; ++i) {
        const Line& l = kLines[i];
        char colour[16];
        std::snprintf(colour, sizeof colour, "&H%02X%02X%02X&", l.b, l.g, l.r);
        events += "Dialogue: 0,0:00:0" + std::to_string(1 + 2 * i) + ".00,0:00:0" +
                  std::to_string(2 + 2 * i) + ".00,Default,,0,0,0,,{\\bord0\\shad0\\c" + colour +
                  "}A line in " + l.name + "\n";
    }
    return AssScript(events);
}

// The colour most of a picture's opaque pixels have.
std::array<std::uint8_t, 3> MainOpaqueColour(const RgbaImage& png) {
    std::map<std::uint32_t, int> counts;
    for (int row = 0; row < png.height; ++row) {
        for (int x = 0; x < png.width; ++x) {
            const std::uint8_t* p = png.Row(row) + x * 4;
            if (p[3] == 255) {
                ++counts[p[0] | p[1] << 8 | std::uint32_t{p[2]} << 16];
            }
        }
    }
    EXPECT_FALSE(counts.empty());
    std::uint32_t best = 0;
    int most = 0;
    for (const auto& [colour, n] : counts) {
        if (n > most) {
            most = n;
            best = colour;
        }
    }
    return {static_cast<std::uint8_t>(best), static_cast<std::uint8_t>(best >> 8),
            static_cast<std::uint8_t>(best >> 16)};
}

// The palette entries (index: Y, Cr, Cb, alpha) that each display set brings, by the time it
// shows (its composition's).
std::map<std::int64_t, std::map<int, std::array<int, 4>>> PalettesByTime(const std::string& sup) {
    std::map<std::int64_t, std::map<int, std::array<int, 4>>> palettes;
    std::int64_t shows = -1;
    for (const pgs::test::Segment& s : pgs::test::ReadSegments(sup)) {
        if (s.type == 0x16) {
            shows = s.pts;
        }
        if (s.type != 0x14) {
            continue;
        }
        auto& entries = palettes[shows];
        for (std::size_t i = 2; i + 5 <= s.payload.size(); i += 5) {
            entries[s.payload[i]] = {s.payload[i + 1], s.payload[i + 2], s.payload[i + 3],
                                     s.payload[i + 4]};
        }
    }
    return palettes;
}

// Keeps a stream for the test script's stream checker.
void KeepForChecker(const std::string& sup) {
    if (const char* keep = std::getenv("PELLDRIN_TEST_SUP_DIR")) {
        static int kept = 0;
        WriteFile(std::string(keep) + "/" + std::to_string(::getpid()) + "_hdr" +
                      std::to_string(++kept) + ".sup",
                  sup);
    }
}

// The entry of the stream's palette that most opaque pixels of a display set use: Y, Cr, Cb.
std::array<int, 3> MainOpaqueEntry(const pgs::test::DecodedSet& set,
                                   const std::map<int, std::array<int, 4>>& palette) {
    std::map<int, int> uses;
    for (const auto& rect : set.rects) {
        for (const std::uint8_t index : rect.indices) {
            const auto e = palette.find(index);
            if (e == palette.end()) {
                ADD_FAILURE() << "index " << int{index} << " has no palette entry";
                return {};
            }
            uses[index] += e->second[3] == 255;
        }
    }
    const auto most = std::max_element(uses.begin(), uses.end(),
                                       [](auto a, auto b) { return a.second < b.second; });
    const auto& entry = palette.at(most->first);
    return {entry[0], entry[1], entry[2]};
}

TEST(Hdr10Stream, StreamAndPngsShowTheAuthoredColoursAtTheChosenWhite) {
    TempDir dir;
    WriteFile(dir.File("s.ass"), LinesScript());
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, "23.976", 168));
    for (const int white : {203, 1000}) {
        SCOPED_TRACE(white);
        const std::string base = dir.File("w" + std::to_string(white));
        const auto r = RunRenderer({"-v", "1080p", "-f", "23.976", "-a1", "-p1", "--colour",
                                    "hdr10", "--white", std::to_string(white), "-o", base + ".xml",
                                    "-o", base + ".sup", dir.File("s.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string sup = ReadFile(base + ".sup");
        KeepForChecker(sup);
        const auto summary = pgs::CheckSupStream(sup);
        EXPECT_EQ(summary.violationCount, 0) << pgs::SummaryLine(summary);

        const auto events = ReadEvents(base + ".xml");
        ASSERT_EQ(events.size(), 3u);
        const auto palettes = PalettesByTime(sup);
        std::vector<pgs::test::DecodedSet> shown;
        for (auto& set : pgs::test::DecodeSup(base + ".sup")) {
            if (!set.rects.empty()) {
                shown.push_back(std::move(set));
            }
        }
        ASSERT_EQ(shown.size(), 3u);
        std::vector<std::array<std::uint8_t, 3>> pngs;
        std::vector<std::array<int, 3>> entries;
        for (int i = 0; i < 3; ++i) {
            pngs.push_back(MainOpaqueColour(LoadPng(dir.File(events[i].graphics[0].file))));
            const auto palette = palettes.find(shown[i].pts);
            ASSERT_NE(palette, palettes.end());
            entries.push_back(MainOpaqueEntry(shown[i], palette->second));
        }
        if (white == 1000) {
            // PQ 0.7518: 192 of 255 in the PNG, 181 in the stream's limited range.
            EXPECT_EQ(pngs[0], (std::array<std::uint8_t, 3>{192, 192, 192}));
            EXPECT_EQ(entries[0], (std::array<int, 3>{181, 128, 128}));
            continue;
        }
        // PQ 0.5807: 148 of 255, and 143 in limited range.
        EXPECT_EQ(pngs[0], (std::array<std::uint8_t, 3>{148, 148, 148}));
        EXPECT_EQ(entries[0], (std::array<int, 3>{143, 128, 128}));
        for (int i = 0; i < 3; ++i) {
            const Line& l = kLines[i];
            const Seen want = AuthoredAt(l.r, l.g, l.b, white);
            const auto& png = pngs[static_cast<std::size_t>(i)];
            ExpectSeen(ShownFromCoded(png[0] / 255.0, png[1] / 255.0, png[2] / 255.0), want, 0.01,
                       std::string("PNG of ") + l.name);
            const auto& entry = entries[static_cast<std::size_t>(i)];
            ExpectSeen(ShownFromEntry(entry[0], entry[1], entry[2]), want, 0.02,
                       std::string("stream's ") + l.name);
        }
    }
}

TEST(Hdr10Stream, SdrRunsAndThePreviewKeepTheColoursAsAuthored) {
    TempDir dir;
    WriteFile(dir.File("s.ass"), LinesScript());
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, "23.976", 168));
    // Without --colour and with --colour sdr, every file is the same.
    const std::vector<std::vector<std::string>> colours{{}, {"--colour", "sdr"}};
    for (std::size_t k = 0; k < colours.size(); ++k) {
        std::filesystem::create_directory(dir.File("run" + std::to_string(k)));
        std::vector<std::string> args{"-v", "1080p", "-f", "23.976", "-p1"};
        args.insert(args.end(), colours[k].begin(), colours[k].end());
        const std::string base = dir.File("run" + std::to_string(k) + "/s");
        args.insert(args.end(), {"-o", base + ".xml", "-o", base + ".sup", dir.File("s.avs")});
        const auto r = RunRenderer(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("run0"))) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') {
            continue; // the run's lock
        }
        EXPECT_EQ(ReadFile(entry.path().string()), ReadFile(dir.File("run1/" + name))) << name;
        ++files;
    }
    EXPECT_EQ(files, 5); // XML, three PNGs, the stream
    const auto events = ReadEvents(dir.File("run0/s.xml"));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(MainOpaqueColour(LoadPng(dir.File("run0/" + events[0].graphics[0].file))),
              (std::array<std::uint8_t, 3>{255, 255, 255}));

    // The preview of an HDR10 task shows the subtitle as authored.
    std::vector<std::string> previews;
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{}, {"--colour", "hdr10", "--white", "400"}}) {
        std::vector<std::string> args{"-v", "1080p", "-f", "23.976", "--preview", "1.5"};
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string png = dir.File("preview" + std::to_string(previews.size()) + ".png");
        args.insert(args.end(), {"-o", png, dir.File("s.avs")});
        const auto r = RunRenderer(args);
        ASSERT_EQ(r.status, 0) << r.err;
        previews.push_back(ReadFile(png));
    }
    EXPECT_EQ(previews[0], previews[1]);
    EXPECT_EQ(MainOpaqueColour(
                  DecodePng(std::vector<std::uint8_t>(previews[1].begin(), previews[1].end()))),
              (std::array<std::uint8_t, 3>{255, 255, 255}));
}

} // namespace
} // namespace pelldrin::render::test
