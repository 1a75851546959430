// The .sup writer's output, judged by the stream checker and decoded by FFmpeg: display sets,
// times, pixels, limits, and what the decoder model makes of animation.
#include "pgs/SupWriter.h"
#include "SupDecoder.h"
#include "pgs/DecoderModel.h"
#include "pgs/PgsPalette.h"
#include "pgs/SupCheck.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

namespace pelldrin::pgs {
namespace {

using test::DecodedSet;
using test::DecodeSup;
using test::ReadSegments;
using test::Segment;

// A palette like a renderer's: transparent, white fill, black outline, anti-aliased steps.
std::vector<Rgba> TextPalette() {
    std::vector<Rgba> p{{0, 0, 0, 0}};
    for (int i = 1; i <= 6; ++i) {
        p.push_back({255, 255, 255, static_cast<std::uint8_t>(i * 255 / 6)});
    }
    for (int i = 1; i <= 6; ++i) {
        p.push_back({0, 0, 0, static_cast<std::uint8_t>(i * 255 / 6)});
    }
    p.push_back({230, 200, 40, 255});
    p.push_back({40, 90, 220, 160});
    p.push_back({0, 0, 0, 0}); // a second transparent entry
    return p;
}

// Rows made of runs of random colours, with the run lengths the code treats specially.
IndexedObject RunImage(int x, int y, int w, int h, int colours, unsigned seed) {
    static const int lengths[] = {1, 2, 3, 4, 62, 63, 64, 65, 200, 1000};
    std::mt19937 rng(seed);
    IndexedObject o{x, y, w, h, {}};
    o.pixels.reserve(static_cast<std::size_t>(w) * h);
    for (int row = 0; row < h; ++row) {
        int done = 0;
        while (done < w) {
            const int len = std::min(w - done, lengths[rng() % std::size(lengths)]);
            const auto c = static_cast<std::uint8_t>(rng() % colours);
            o.pixels.insert(o.pixels.end(), static_cast<std::size_t>(len), c);
            done += len;
        }
    }
    return o;
}

// Every pixel its own random index: the worst case for run-length coding.
IndexedObject NoiseImage(int x, int y, int w, int h, int colours, unsigned seed) {
    std::mt19937 rng(seed);
    IndexedObject o{x, y, w, h, {}};
    o.pixels.resize(static_cast<std::size_t>(w) * h);
    for (auto& p : o.pixels) {
        p = static_cast<std::uint8_t>(rng() % colours);
    }
    return o;
}

SupEvent Event(std::int64_t in, std::int64_t out, std::vector<IndexedObject> objects,
               std::vector<Rgba> palette = TextPalette()) {
    SupEvent e;
    e.inFrame = in;
    e.outFrame = out;
    e.palette = std::move(palette);
    e.objects = std::move(objects);
    return e;
}

std::uint32_t Argb(Rgba c) {
    return (std::uint32_t{c.a} << 24) | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) |
           c.b;
}

// The whole frame as straight-alpha ARGB, fully transparent where nothing shows.
using Canvas = std::vector<std::uint32_t>;

Canvas Expected(const SupEvent& e, const StreamInfo& info) {
    Canvas c(static_cast<std::size_t>(info.width) * info.height, 0);
    for (const IndexedObject& o : e.objects) {
        for (int y = 0; y < o.height; ++y) {
            for (int x = 0; x < o.width; ++x) {
                const Rgba p = e.palette[o.pixels[static_cast<std::size_t>(y) * o.width + x]];
                if (p.a != 0) {
                    c[static_cast<std::size_t>(o.y + y) * info.width + o.x + x] = Argb(p);
                }
            }
        }
    }
    return c;
}

Canvas Decoded(const DecodedSet& set, const StreamInfo& info) {
    Canvas c(static_cast<std::size_t>(info.width) * info.height, 0);
    for (const auto& r : set.rects) {
        EXPECT_GE(r.x, 0);
        EXPECT_GE(r.y, 0);
        EXPECT_LE(r.x + r.w, info.width);
        EXPECT_LE(r.y + r.h, info.height);
        for (int y = 0; y < r.h; ++y) {
            for (int x = 0; x < r.w; ++x) {
                const std::uint32_t p = r.argb[static_cast<std::size_t>(y) * r.w + x];
                if ((p >> 24) != 0) {
                    c[static_cast<std::size_t>(r.y + y) * info.width + r.x + x] = p;
                }
            }
        }
    }
    return c;
}

// Alpha must match exactly; colours within the YCbCr round trip's rounding.
::testing::AssertionResult SamePicture(const Canvas& want, const Canvas& got, int width,
                                       int tolerance) {
    std::size_t bad = 0;
    std::ostringstream first;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::uint32_t a = want[i], b = got[i];
        bool same = (a >> 24) == (b >> 24);
        if (same && (a >> 24) != 0) {
            for (int shift = 0; shift < 24; shift += 8) {
                const int d =
                    static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
                same = same && std::abs(d) <= tolerance;
            }
        }
        if (!same && bad++ == 0) {
            first << "at " << i % width << "," << i / width << " want " << std::hex << a << " got "
                  << b;
        }
    }
    if (bad == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << bad << " pixels differ, first " << first.str();
}

// The composition of each display set as the raw segments show it.
struct RawSet {
    std::uint32_t pts = 0;
    std::uint8_t state = 0;
    bool paletteOnly = false;
    int objects = 0, windows = 0, objectSegments = 0;
    std::size_t offset = 0; // of its composition segment in the file
};

std::vector<RawSet> RawSets(const std::string& bytes) {
    std::vector<RawSet> sets;
    std::size_t offset = 0;
    for (const Segment& s : ReadSegments(bytes)) {
        if (s.type == 0x16) {
            sets.push_back(
                {s.pts, s.payload[7], (s.payload[8] & 0x80) != 0, s.payload[10], 0, 0, offset});
        } else if (s.type == 0x17) {
            sets.back().windows = s.payload[0];
        } else if (s.type == 0x15) {
            ++sets.back().objectSegments;
        }
        offset += 13 + s.payload.size();
    }
    return sets;
}

struct Written {
    std::string bytes;
    SupReport report;
    SupCheckSummary summary;
    std::vector<DecodedSet> sets;
};

// Writes the events; the stream must keep the decoder model and decode without complaint.
Written WriteStream(const std::string& path, const StreamInfo& info,
                    const std::vector<SupEvent>& events) {
    Written w;
    SupWriter writer(path, info);
    for (const SupEvent& e : events) {
        writer.Add(e);
    }
    writer.Finish();
    w.report = writer.Report();
    w.bytes = pelldrin::test::ReadFile(path);
    // The test script judges every stream again with the console checker.
    if (const char* keep = std::getenv("PELLDRIN_TEST_SUP_DIR")) {
        static int kept = 0;
        pelldrin::test::WriteFile(std::string(keep) + "/" + std::to_string(::getpid()) + "_" +
                                      std::to_string(++kept) + ".sup",
                                  w.bytes);
    }
    w.summary = CheckSupStream(w.bytes);
    for (const SupViolation& v : w.summary.violations) {
        ADD_FAILURE() << FormatViolation(v);
    }
    w.sets = DecodeSup(path);
    return w;
}

// What FFmpeg shows at a frame: the last display set presented by then.
Canvas OnScreen(const Written& w, std::int64_t frame, const StreamInfo& info) {
    const std::int64_t pts = FramePts(frame, info.rateNum, info.rateDen);
    const DecodedSet* last = nullptr;
    for (const DecodedSet& s : w.sets) {
        if (s.pts <= pts) {
            last = &s;
        }
    }
    return last == nullptr ? Canvas(static_cast<std::size_t>(info.width) * info.height, 0)
                           : Decoded(*last, info);
}

// Every event the writer did not report as left out shows its own picture at its middle
// frame, and the screen is empty where no event is.
void ExpectEventsShown(const Written& w, const StreamInfo& info,
                       const std::vector<SupEvent>& events, int tolerance = 3) {
    const auto& leftOut = w.report.leftOutFrames;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const SupEvent& e = events[i];
        SCOPED_TRACE("event " + std::to_string(i + 1) + " at frame " + std::to_string(e.inFrame));
        if (std::find(leftOut.begin(), leftOut.end(), e.inFrame) == leftOut.end()) {
            EXPECT_TRUE(SamePicture(Expected(e, info),
                                    OnScreen(w, (e.inFrame + e.outFrame) / 2, info), info.width,
                                    tolerance));
        }
        if (i + 1 == events.size() || events[i + 1].inFrame > e.outFrame) {
            EXPECT_TRUE(SamePicture(Canvas(static_cast<std::size_t>(info.width) * info.height, 0),
                                    OnScreen(w, e.outFrame, info), info.width, 0));
        }
    }
}

class SupWriterTest : public ::testing::Test {
  protected:
    pelldrin::test::TempDir dir_;
};

TEST_F(SupWriterTest, StaticDialogueGetsAnEpochPerCaptionAndShowsEveryPicture) {
    StreamInfo info; // 1080p at 23.976
    std::vector<SupEvent> events;
    for (int i = 0; i < 8; ++i) { // two seconds each, half a second apart
        events.push_back(Event(24 + 60 * i, 72 + 60 * i, {RunImage(360, 900, 1200, 120, 16, i)}));
    }
    events.push_back(Event(600, 640, {RunImage(100, 950, 700, 60, 16, 20)}));
    events.push_back(Event(640, 700, {RunImage(500, 40, 900, 100, 16, 21)}));  // back to back
    events.push_back(Event(86300, 86301, {RunImage(0, 0, 1920, 16, 16, 22)})); // 1 h in, 1 frame
    const Written w = WriteStream(dir_.File("a.sup"), info, events);
    ExpectEventsShown(w, info, events);
    EXPECT_EQ(w.report.onTime, static_cast<std::int64_t>(events.size()));
    EXPECT_TRUE(w.report.leftOutFrames.empty());
    // A caption after a pause starts an epoch; the one that replaces its neighbour does not
    // need to, and carries all it shows.
    EXPECT_EQ(w.summary.epochs, 10);
    EXPECT_EQ(w.summary.acquisitionPoints, 1);
    const std::vector<RawSet> raw = RawSets(w.bytes);
    ASSERT_EQ(raw.size(), 21u); // a set per event, and one taking each away but the replaced one
    EXPECT_EQ(raw[17].state, 0x40);
    EXPECT_EQ(raw[17].windows, 2); // the epoch's windows cover both captions
}

TEST_F(SupWriterTest, TimesAreTheFramesTimesRoundedDown) {
    // Never later than the video frame, however a muxer rounds that; exact rates hold late
    // in a long film.
    for (const auto& [num, den] : {std::pair{24000, 1001}, std::pair{30000, 1001},
                                   std::pair{60000, 1001}, std::pair{25, 1}, std::pair{24, 1}}) {
        SCOPED_TRACE(std::to_string(num) + "/" + std::to_string(den));
        StreamInfo info;
        info.rateNum = num;
        info.rateDen = den;
        const std::int64_t late = static_cast<std::int64_t>(num) / den * 3 * 3600 + 7;
        const std::vector<SupEvent> events{
            Event(61, 62, {RunImage(10, 10, 100, 20, 16, 5)}),
            Event(late, late + 13, {RunImage(10, 10, 100, 20, 16, 6)})};
        const Written w = WriteStream(dir_.File("rate.sup"), info, events);
        ASSERT_EQ(w.sets.size(), 4u);
        const std::int64_t want[] = {61, 62, late, late + 13};
        for (std::size_t i = 0; i < 4; ++i) {
            const double real = static_cast<double>(want[i]) * 90000.0 * den / num;
            EXPECT_LE(static_cast<double>(w.sets[i].pts), real);
            EXPECT_GT(static_cast<double>(w.sets[i].pts) + 1.0, real);
        }
    }
}

struct FormatCase {
    const char* name;
    int width, height, rateNum, rateDen;
    ColorMatrix matrix;
};

class SupColourTest : public SupWriterTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(SupColourTest, SaturatedColoursDecodeUnderTheFormatsMatrix) {
    // FFmpeg decodes frames up to 576 lines as BT.601 and larger ones as BT.709; with the
    // wrong matrix these colours would be off by tens of levels.
    const FormatCase& f = GetParam();
    StreamInfo info{f.width, f.height, f.rateNum, f.rateDen, f.matrix};
    std::vector<Rgba> palette{{0, 0, 0, 0},       {255, 0, 0, 255},     {0, 255, 0, 255},
                              {0, 0, 255, 255},   {255, 255, 255, 255}, {0, 0, 0, 255},
                              {255, 255, 0, 200}, {0, 255, 255, 100},   {255, 0, 255, 255},
                              {128, 64, 32, 255}, {16, 200, 120, 30}};
    const SupEvent e = Event(5, 30, {RunImage(20, f.height - 80, 680, 60, 11, 7)}, palette);
    const Written w = WriteStream(dir_.File("colour.sup"), info, {e});
    ASSERT_EQ(w.sets.size(), 2u);
    ExpectEventsShown(w, info, {e});
}

TEST_P(SupColourTest, ColoursComeBackAsNearAsTheLimitedRangeAllows) {
    // Limited-range YCbCr has fewer steps than RGB: rounding each component alone brings a
    // colour back 0.4 levels off on average (per channel); the nearest code does better.
    const FormatCase& f = GetParam();
    StreamInfo info{f.width, f.height, f.rateNum, f.rateDen, f.matrix};
    std::mt19937 rng(7);
    std::vector<SupEvent> events;
    for (int k = 0; k < 4; ++k) {
        std::vector<Rgba> palette{{0, 0, 0, 0}};
        IndexedObject o{40, 40, kMaxVisibleColors, 8, {}};
        for (int i = 1; i <= kMaxVisibleColors; ++i) {
            palette.push_back({static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                               static_cast<std::uint8_t>(rng()), 255});
        }
        for (int y = 0; y < o.height; ++y) {
            for (int x = 0; x < o.width; ++x) {
                o.pixels.push_back(static_cast<std::uint8_t>(x + 1));
            }
        }
        events.push_back(Event(10 + 20 * k, 20 + 20 * k, {o}, palette));
    }
    const Written w = WriteStream(dir_.File("levels.sup"), info, events);
    double off = 0;
    int channels = 0;
    for (const SupEvent& e : events) {
        const Canvas shown = OnScreen(w, e.inFrame + 1, info);
        for (int x = 0; x < kMaxVisibleColors; ++x) {
            const std::uint32_t want = Argb(e.palette[static_cast<std::size_t>(x) + 1]);
            const std::uint32_t got = shown[static_cast<std::size_t>(40) * info.width + 40 + x];
            for (int shift = 0; shift < 24; shift += 8, ++channels) {
                const int d = std::abs(static_cast<int>((want >> shift) & 0xFF) -
                                       static_cast<int>((got >> shift) & 0xFF));
                EXPECT_LE(d, 2) << "colour " << x + 1;
                off += d;
            }
        }
    }
    EXPECT_LT(off / channels, 0.365);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SupColourTest,
    ::testing::Values(FormatCase{"i576", 720, 576, 25, 1, ColorMatrix::Bt601},
                      FormatCase{"i480", 720, 480, 30000, 1001, ColorMatrix::Bt601},
                      FormatCase{"p720", 1280, 720, 60000, 1001, ColorMatrix::Bt709},
                      FormatCase{"p1080", 1920, 1080, 24000, 1001, ColorMatrix::Bt709}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SupWriterTest, TwoCaptionsAtOnceShareTwoWindows) {
    StreamInfo info;
    std::vector<SupEvent> events;
    for (int i = 0; i < 3; ++i) { // the top caption stays, the bottom one changes
        events.push_back(Event(100 + 30 * i, 130 + 30 * i,
                               {RunImage(300, 80, 1300, 70, 16, 8),
                                RunImage(420 + 40 * i, 930, 1000, 90, 16, 9 + i)}));
    }
    events[0].forced = true;
    const Written w = WriteStream(dir_.File("two.sup"), info, events);
    ExpectEventsShown(w, info, events);
    const std::vector<RawSet> raw = RawSets(w.bytes);
    ASSERT_EQ(raw.size(), 4u);
    EXPECT_EQ(w.summary.epochs, 1);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(raw[i].objects, 2);
        EXPECT_EQ(raw[i].windows, raw[i].paletteOnly ? 0 : 2);
    }
    EXPECT_EQ(raw[3].objects, 0);
    ASSERT_EQ(w.sets[0].rects.size(), 2u);
    EXPECT_TRUE(w.sets[0].rects[0].forced);
    EXPECT_FALSE(w.sets[1].rects[0].forced);
}

TEST_F(SupWriterTest, FadesAndKaraokeBecomePaletteUpdates) {
    StreamInfo info;
    // A one-second fade in and out, one event per frame.
    std::vector<SupEvent> fade;
    const IndexedObject line = RunImage(360, 900, 1200, 120, 14, 30);
    for (int f = 0; f < 24; ++f) {
        std::vector<Rgba> palette = TextPalette();
        const int level = f < 12 ? f + 1 : 24 - f;
        for (Rgba& c : palette) {
            c.a = static_cast<std::uint8_t>(c.a * level / 12);
        }
        fade.push_back(Event(48 + f, 49 + f, {line}, palette));
    }
    const Written faded = WriteStream(dir_.File("fade.sup"), info, fade);
    ExpectEventsShown(faded, info, fade);
    EXPECT_EQ(faded.report.onTime, 24);
    EXPECT_EQ(faded.summary.epochs, 1);
    EXPECT_EQ(faded.summary.paletteOnly, 23);

    // Karaoke: each event colours one more syllable, and the renderer's palette comes in a
    // different order every time.
    std::vector<SupEvent> karaoke;
    std::mt19937 rng(31);
    for (int s = 0; s <= 8; ++s) {
        std::vector<std::uint8_t> order{1, 2, 3, 4};
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<Rgba> palette(5, Rgba{0, 0, 0, 0});
        palette[order[0]] = {255, 255, 255, 255}; // fill still to sing
        palette[order[1]] = {0, 0, 0, 255};       // outline
        palette[order[2]] = {250, 200, 30, 255};  // fill sung
        palette[order[3]] = {0, 0, 0, 120};       // shadow
        IndexedObject o{400, 950, 800, 60, std::vector<std::uint8_t>(48000)};
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 800; ++x) {
                const bool outline = y < 4 || y >= 56 || x % 100 < 4;
                const std::uint8_t fill = x / 100 < s ? order[2] : order[0];
                o.pixels[static_cast<std::size_t>(y) * 800 + x] =
                    x % 100 >= 96 ? order[3] : (outline ? order[1] : fill);
            }
        }
        karaoke.push_back(Event(100 + 10 * s, 110 + 10 * s, {o}, palette));
    }
    const Written sung = WriteStream(dir_.File("karaoke.sup"), info, karaoke);
    ExpectEventsShown(sung, info, karaoke);
    EXPECT_EQ(sung.report.onTime, 9);
    EXPECT_EQ(sung.summary.paletteOnly, 8);
}

TEST_F(SupWriterTest, MovingSignStaysInOneEpochAndASeekShowsTheCurrentPicture) {
    StreamInfo info;
    std::vector<SupEvent> sign;
    for (int f = 0; f < 48; ++f) {
        sign.push_back(
            Event(24 + f, 25 + f, {RunImage(100 + 25 * f, 200 + f, 300, 80, 16, 40 + f)}));
    }
    const std::string path = dir_.File("sign.sup");
    const Written w = WriteStream(path, info, sign);
    ExpectEventsShown(w, info, sign);
    EXPECT_EQ(w.report.onTime, 48);
    EXPECT_EQ(w.summary.epochs, 1);

    // A player that jumps into the stream at an acquisition point shows that picture.
    const std::vector<RawSet> raw = RawSets(w.bytes);
    ASSERT_EQ(raw.size(), 49u);
    ASSERT_EQ(raw[30].state, 0x40);
    pelldrin::test::WriteFile(dir_.File("seek.sup"), w.bytes.substr(raw[30].offset));
    const std::vector<DecodedSet> seek = DecodeSup(dir_.File("seek.sup"));
    ASSERT_FALSE(seek.empty());
    EXPECT_TRUE(SamePicture(Expected(sign[30], info), Decoded(seek[0], info), info.width, 3));
}

// A sign that jumps and grows on every frame needs a new object each time: once the epoch's
// object buffer runs out, the pictures after go to a new epoch with windows of its own.
TEST_F(SupWriterTest, JumpingSignThatOutrunsTheObjectBufferStartsANewEpoch) {
    StreamInfo info;
    std::vector<SupEvent> sign;
    for (int f = 0; f < 48; ++f) {
        // Each picture moves too far to share its objects with the one before, and is wider
        // and taller than every id made before it.
        const int w = 100 + 20 * f;
        sign.push_back(Event(24 + f, 25 + f,
                             {RunImage(f % 2 == 0 ? 10 : 1910 - w, 200, w, 60 + 8 * f, 16, f)}));
    }
    const Written w = WriteStream(dir_.File("grow.sup"), info, sign);
    ExpectEventsShown(w, info, sign);
    EXPECT_GE(w.summary.epochs, 2);
}

TEST_F(SupWriterTest, ASignThatChangesEveryFrameKeepsItsEpochAndItsFrames) {
    StreamInfo info;
    // A sign of 80 sizes that changes every frame, a new object each time: more sizes than an
    // epoch has ids, but the ids are reused, grown to a size the next objects fit, so no
    // epoch start (a frame lost) interrupts it.
    std::vector<SupEvent> wobble;
    for (int f = 0; f < 100; ++f) {
        const int d = f * 7 % 80;
        wobble.push_back(Event(24 + f, 25 + f,
                               {RunImage(400 + 40 * (f % 2), 100, 700 + d, 100 + d / 2, 16, f)}));
    }
    const Written w = WriteStream(dir_.File("wobble.sup"), info, wobble);
    EXPECT_EQ(w.summary.epochs, 1);
    EXPECT_TRUE(w.report.leftOutFrames.empty()) << DescribeReport(w.report);
    for (std::size_t i = 0; i < wobble.size(); i += 9) { // grown objects show the same picture
        EXPECT_TRUE(SamePicture(Expected(wobble[i], info), OnScreen(w, wobble[i].inFrame, info),
                                info.width, 3))
            << "event " << i;
    }

    // A large sign that crosses the screen: one epoch's windows would have to cover its whole
    // way, too much to draw within a frame, so it takes a few epochs and loses a frame or two
    // at each.
    std::vector<SupEvent> crossing;
    for (int f = 0; f < 40; ++f) {
        crossing.push_back(
            Event(24 + f, 25 + f, {RunImage(25 * f + 40 * (f % 2), 12 * f, 800, 400, 16, f)}));
    }
    const Written c = WriteStream(dir_.File("crossing.sup"), info, crossing);
    ExpectEventsShown(c, info, crossing);
    EXPECT_GE(c.summary.epochs, 2);
    EXPECT_LE(c.report.leftOutFrames.size(), 2u * static_cast<std::size_t>(c.summary.epochs))
        << DescribeReport(c.report);
}

TEST_F(SupWriterTest, AnAnimationLongerThanTheWritersMemoryKeepsItsEpochAndItsFrames) {
    StreamInfo info;
    // New pictures at every frame, drifting right, more than the writer holds at once: it
    // writes them in parts, and the part after carries on with the epoch (an epoch start
    // there would cost a frame) in windows made wide enough for the drift that follows.
    const std::string path = dir_.File("long.sup");
    SupWriter writer(path, info);
    const int pictures = 470;
    for (int f = 0; f < pictures; ++f) {
        writer.Add(Event(24 + f, 25 + f, {RunImage(200 + f, 900, 1200, 120, 16, f)}));
    }
    writer.Finish();
    EXPECT_TRUE(writer.Report().leftOutFrames.empty()) << DescribeReport(writer.Report());
    EXPECT_EQ(writer.Report().onTime, pictures);
    const SupCheckSummary summary = CheckSupStream(pelldrin::test::ReadFile(path));
    EXPECT_EQ(summary.violationCount, 0)
        << (summary.violations.empty() ? "" : FormatViolation(summary.violations.front()));
    EXPECT_EQ(summary.epochs, 1);
}

TEST_F(SupWriterTest, FullScreenEffectLeavesOutWhatThePlayerCannotDecodeInTime) {
    StreamInfo info;
    std::vector<SupEvent> effect;
    for (int f = 0; f < 24; ++f) {
        effect.push_back(Event(f, f + 1, {RunImage(0, 0, 1920, 1080, 4, 60 + f)}));
    }
    effect.push_back(Event(40, 60, {RunImage(0, 0, 1920, 1080, 4, 99)}));
    const Written w = WriteStream(dir_.File("effect.sup"), info, effect);
    ExpectEventsShown(w, info, effect);
    // An epoch start of the whole plane takes longer than a frame: the first picture comes
    // late, others are left out, and the last one, long enough, is shown.
    EXPECT_GE(w.report.leftOutFrames.size(), 12u);
    EXPECT_EQ(w.report.leftOutFrames.front(), 0);
    EXPECT_EQ(std::count(w.report.leftOutFrames.begin(), w.report.leftOutFrames.end(), 40), 0);
    EXPECT_NE(DescribeReport(w.report).find("left out"), std::string::npos);
}

TEST(SupReport, TheWarningSaysWhatAViewerSeesInTheRightNumber) {
    SupReport one;
    one.pictures = 2;
    one.firstFrame = 7;
    one.leftOutFrames = {40};
    one.late = {{7, 9}};
    EXPECT_EQ(DescribeReport(one),
              "left out 1 of 2 pictures that a player could not decode in time, at frame 40; "
              "the first subtitle starts at frame 7, before a player can have decoded it, so it "
              "shows from frame 9");
    one.firstFrame = 0;
    EXPECT_EQ(DescribeReport(one),
              "left out 1 of 2 pictures that a player could not decode in time, at frame 40; a "
              "picture starts at frame 7, before a player can have decoded it, so it shows from "
              "frame 9");
    SupReport many;
    many.pictures = 30;
    many.leftOutFrames = {3, 4, 9};
    many.late = {{0, 2}, {5, 6}, {6, 8}};
    many.firstFrame = 0;
    EXPECT_EQ(DescribeReport(many),
              "left out 3 of 30 pictures that a player could not decode in time, at frames 3-4, "
              "9; the first subtitle starts at frame 0, before a player can have decoded it, so "
              "it shows from frame 2; 2 pictures start before a player can have decoded them, so "
              "each shows a few frames later (frame 5 shows from 6, 6 from 8)");
    EXPECT_EQ(DescribeReport(SupReport{}), "");
}

TEST_F(SupWriterTest, LargeImageIsSplitAcrossObjectSegments) {
    StreamInfo info;
    // Noise in 16 colours codes to about a byte per pixel: several segments' worth.
    const SupEvent e = Event(24, 72, {NoiseImage(0, 680, 1920, 200, 16, 10)});
    const Written w = WriteStream(dir_.File("large.sup"), info, {e});
    const std::vector<RawSet> raw = RawSets(w.bytes);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_GE(raw[0].objectSegments, 4);
    std::vector<std::uint8_t> flags;
    for (const Segment& s : ReadSegments(w.bytes)) {
        EXPECT_LE(s.payload.size(), 65535u - 16u) << "segment too large for one PES packet";
        if (s.type == 0x15) {
            flags.push_back(s.payload[3]);
        }
    }
    ASSERT_GE(flags.size(), 2u);
    EXPECT_EQ(flags.front(), 0x80);
    EXPECT_EQ(flags.back(), 0x40);
    for (std::size_t i = 1; i + 1 < flags.size(); ++i) {
        EXPECT_EQ(flags[i], 0x00);
    }
    ExpectEventsShown(w, info, {e});
}

TEST_F(SupWriterTest, SmallAndOverlappingImagesStillShowExactly) {
    StreamInfo info{720, 576, 25, 1, ColorMatrix::Bt601};
    // A 3x2 image in the corner is padded inside the frame; two images whose objects would
    // overlap share one object.
    const std::vector<SupEvent> events{
        Event(10, 20, {RunImage(717, 574, 3, 2, 16, 11)}),
        Event(20, 30, {RunImage(100, 400, 300, 50, 16, 12), RunImage(300, 440, 300, 50, 16, 13)}),
        Event(40, 50, {RunImage(100, 400, 300, 3, 16, 14), RunImage(100, 405, 300, 3, 16, 15)})};
    const Written w = WriteStream(dir_.File("small.sup"), info, events);
    ExpectEventsShown(w, info, events);
    const std::vector<RawSet> raw = RawSets(w.bytes);
    ASSERT_EQ(raw.size(), 5u); // tiny, overlap (replacing it), clear, close, clear
    EXPECT_EQ(raw[1].objects, 1);
    for (const auto& r : w.sets[0].rects) {
        EXPECT_GE(r.w, 8);
        EXPECT_GE(r.h, 8);
    }
}

TEST_F(SupWriterTest, FullPaletteFitsTheWrittenIndices) {
    StreamInfo info;
    // 256 distinct opaque colours, all in use: pairs 2k and 2k+1 differ by four levels of
    // green, so merging the closest colours stays near the input.
    std::vector<Rgba> palette;
    for (int i = 0; i < 256; ++i) {
        const int k = i / 2;
        palette.push_back({static_cast<std::uint8_t>(k * 2),
                           static_cast<std::uint8_t>((k * 4) % 251 + (i % 2) * 4),
                           static_cast<std::uint8_t>((k * 64) & 0xFF), 255});
    }
    IndexedObject o{50, 50, 256, 40, {}};
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 256; ++x) {
            o.pixels.push_back(static_cast<std::uint8_t>((x + y * 7) & 0xFF));
        }
    }
    const SupEvent e = Event(3, 9, {o}, palette);
    const Written w = WriteStream(dir_.File("palette.sup"), info, {e});
    for (const Segment& s : ReadSegments(w.bytes)) {
        for (std::size_t at = 2; s.type == 0x14 && at + 5 <= s.payload.size(); at += 5) {
            EXPECT_NE(s.payload[at], 0xFF) << "palette index 255 is reserved";
        }
    }
    ExpectEventsShown(w, info, {e}, 6);
}

TEST_F(SupWriterTest, ImagesBeyondTheDecodersLimitsAreRefusedAndNothingIsWritten) {
    StreamInfo info;
    const SupEvent good = Event(24, 48, {RunImage(100, 100, 400, 50, 16, 16)});
    struct Bad {
        const char* what;
        SupEvent event;
    };
    std::vector<Bad> bad;
    // Noise over the whole frame codes to more than the decoder's coded-data buffer.
    std::vector<Rgba> many;
    for (int i = 0; i < 200; ++i) {
        many.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 3),
                        static_cast<std::uint8_t>(i * 7), 255});
    }
    bad.push_back({"coded data", Event(100, 148, {NoiseImage(0, 0, 1920, 1080, 200, 17)}, many)});
    bad.push_back({"3 images", Event(100, 148,
                                     {RunImage(0, 0, 10, 10, 16, 1), RunImage(0, 20, 10, 10, 16, 1),
                                      RunImage(0, 40, 10, 10, 16, 1)})});
    bad.push_back({"before the previous", Event(40, 60, {RunImage(0, 0, 10, 10, 16, 1)})});
    bad.push_back({"beyond the palette", Event(100, 148, {RunImage(0, 0, 10, 10, 20, 1)})});
    bad.push_back({"outside", Event(100, 148, {RunImage(1900, 0, 30, 10, 16, 1)})});
    IndexedObject shortImage = RunImage(0, 0, 10, 10, 16, 1);
    shortImage.pixels.pop_back();
    bad.push_back({"pixels for", Event(100, 148, {shortImage})});
    bad.push_back({"not after", Event(100, 100, {RunImage(0, 0, 10, 10, 16, 1)})});

    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        const std::string path = dir_.File("bad.sup");
        SupWriter writer(path, info);
        writer.Add(good);
        try {
            writer.Add(b.event);
            ADD_FAILURE() << "no error";
        } catch (const SupError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("bad.sup"), std::string::npos) << message;
            EXPECT_NE(message.find("event 2 at 0:00:0"), std::string::npos) << message;
            EXPECT_NE(message.find(b.what), std::string::npos) << message;
        }
        EXPECT_THROW(writer.Finish(), SupError);
        EXPECT_FALSE(std::filesystem::exists(path));
    }

    // A failure after the stream has begun to go to disk leaves nothing behind either.
    {
        SupWriter writer(dir_.File("long.sup"), info);
        std::vector<Rgba> many;
        for (int i = 0; i < 200; ++i) {
            many.push_back({static_cast<std::uint8_t>(i), 0, 0, 255});
        }
        SupEvent noisy = Event(0, 1, {NoiseImage(0, 0, 1920, 100, 200, 18)}, many);
        for (int i = 0; i < 20; ++i) { // about 190 KB each, a pause apart
            noisy.inFrame = 24 + 24 * i;
            noisy.outFrame = 25 + 24 * i;
            writer.Add(noisy);
        }
        EXPECT_THROW(writer.Add(Event(0, 1, {RunImage(0, 0, 10, 10, 16, 1)})), SupError);
        EXPECT_THROW(writer.Finish(), SupError);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.File("long.sup")));

    // A stream abandoned before Finish leaves no file either.
    {
        SupWriter writer(dir_.File("unfinished.sup"), info);
        writer.Add(good);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.File("unfinished.sup")));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path())) << "a temporary file was left";
    EXPECT_THROW(SupWriter(dir_.File("x.sup"), StreamInfo{1920, 1080, 0, 1, ColorMatrix::Bt709}),
                 SupError);
}

} // namespace
} // namespace pelldrin::pgs
