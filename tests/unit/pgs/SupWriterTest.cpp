// The .sup writer's output decoded by FFmpeg: display sets, times, pixels, limits.
#include "pgs/SupWriter.h"
#include "SupDecoder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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

// The frame whose real time is nearest to a 90 kHz time.
std::int64_t FrameOf(std::int64_t pts, const StreamInfo& info) {
    return std::llround(static_cast<double>(pts) * info.rateNum / (90000.0 * info.rateDen));
}

std::string WriteStream(const std::string& path, const StreamInfo& info,
                        const std::vector<SupEvent>& events) {
    SupWriter writer(path, info);
    for (const SupEvent& e : events) {
        writer.Add(e);
    }
    writer.Finish();
    return pelldrin::test::ReadFile(path);
}

unsigned Get16(const std::vector<std::uint8_t>& p, std::size_t at) {
    return (unsigned{p[at]} << 8) | p[at + 1];
}

// Display sets as the raw segments show them, checked against the format's rules on the way.
struct RawSet {
    std::uint32_t pts = 0;
    unsigned compositionNumber = 0;
    std::uint8_t state = 0;
    int objects = 0, windows = 0, odsCount = 0;
};

std::vector<RawSet> CheckStructure(const std::string& bytes, const StreamInfo& info) {
    std::vector<RawSet> sets;
    const std::vector<Segment> segments = ReadSegments(bytes);
    std::size_t objectData = 0, objectLength = 0;
    for (const Segment& s : segments) {
        EXPECT_EQ(s.dts, 0u);
        EXPECT_LE(s.payload.size(), 65535u - 16u) << "segment too large for one PES packet";
        if (s.type == 0x16) {
            EXPECT_TRUE(sets.empty() || sets.back().pts <= s.pts) << "times go backwards";
            RawSet set;
            set.pts = s.pts;
            EXPECT_EQ(Get16(s.payload, 0), static_cast<unsigned>(info.width));
            EXPECT_EQ(Get16(s.payload, 2), static_cast<unsigned>(info.height));
            set.compositionNumber = Get16(s.payload, 5);
            set.state = s.payload[7];
            set.objects = s.payload[10];
            EXPECT_EQ(s.payload.size(), 11u + 8u * set.objects);
            if (!sets.empty()) {
                EXPECT_EQ(set.compositionNumber, (sets.back().compositionNumber + 1) & 0xFFFF);
            }
            sets.push_back(set);
            continue;
        }
        EXPECT_FALSE(sets.empty()) << "segment before any composition";
        if (sets.empty()) {
            continue;
        }
        RawSet& set = sets.back();
        EXPECT_EQ(s.pts, set.pts) << "a display set's segments share one time";
        if (s.type == 0x17) {
            set.windows = s.payload[0];
            for (int i = 0; i < set.windows; ++i) {
                const std::size_t at = 1 + 9 * static_cast<std::size_t>(i);
                EXPECT_LE(Get16(s.payload, at + 1) + Get16(s.payload, at + 5),
                          static_cast<unsigned>(info.width));
                EXPECT_LE(Get16(s.payload, at + 3) + Get16(s.payload, at + 7),
                          static_cast<unsigned>(info.height));
            }
        } else if (s.type == 0x14) {
            for (std::size_t at = 2; at + 5 <= s.payload.size(); at += 5) {
                EXPECT_NE(s.payload[at], 0xFF) << "palette index 255 is reserved";
            }
        } else if (s.type == 0x15) {
            ++set.odsCount;
            const std::uint8_t flags = s.payload[3];
            if (flags & 0x80) {
                EXPECT_EQ(objectData, 0u) << "an object starts inside another";
                objectLength = (std::size_t{s.payload[4]} << 16) | Get16(s.payload, 5);
                objectData = s.payload.size() - 7;
            } else {
                EXPECT_NE(objectData, 0u) << "a continuation without a first fragment";
                objectData += s.payload.size() - 4;
            }
            if (flags & 0x40) {
                EXPECT_EQ(objectData, objectLength) << "object data length";
                objectData = 0;
            }
        } else {
            EXPECT_EQ(s.type, 0x80);
            EXPECT_EQ(objectData, 0u) << "display set ends inside an object";
            EXPECT_EQ(set.windows, set.state == 0x80 ? set.objects : set.windows);
        }
    }
    return sets;
}

class SupWriterTest : public ::testing::Test {
  protected:
    pelldrin::test::TempDir dir_;
};

TEST_F(SupWriterTest, DisplaySetsTimesAndPixelsSurviveDecoding) {
    StreamInfo info; // 1080p at 23.976
    std::vector<SupEvent> events;
    events.push_back(Event(10, 50, {RunImage(360, 900, 1200, 120, 16, 1)}));
    events.push_back(Event(80, 120, {RunImage(100, 950, 700, 60, 16, 2)}));
    events.push_back(Event(120, 200, {RunImage(500, 40, 900, 100, 16, 3)}));  // back to back
    events.push_back(Event(86300, 86301, {RunImage(0, 0, 1920, 16, 16, 4)})); // one frame, 1 h in
    const std::string path = dir_.File("a.sup");
    const std::string bytes = WriteStream(path, info, events);

    // In and out of each event, but one set where an event starts as the previous ends.
    const std::vector<std::int64_t> frames{10, 50, 80, 120, 200, 86300, 86301};
    const std::vector<int> shows{0, -1, 1, 2, -1, 3, -1};

    const std::vector<RawSet> raw = CheckStructure(bytes, info);
    ASSERT_EQ(raw.size(), frames.size());
    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), frames.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
        SCOPED_TRACE("display set " + std::to_string(i));
        EXPECT_EQ(FrameOf(sets[i].pts, info), frames[i]);
        EXPECT_EQ(raw[i].state, shows[i] >= 0 ? 0x80 : 0x00);
        if (shows[i] < 0) {
            EXPECT_TRUE(sets[i].rects.empty());
            continue;
        }
        const SupEvent& e = events[static_cast<std::size_t>(shows[i])];
        ASSERT_EQ(sets[i].rects.size(), 1u);
        EXPECT_FALSE(sets[i].rects[0].forced);
        EXPECT_TRUE(SamePicture(Expected(e, info), Decoded(sets[i], info), info.width, 3));
    }
}

TEST_F(SupWriterTest, TimesFollowTheExactRate) {
    // 29.97 and 59.94 run slightly slow; a frame late in a long film still lands on itself.
    for (const auto& [num, den] : {std::pair{24000, 1001}, std::pair{30000, 1001},
                                   std::pair{60000, 1001}, std::pair{25, 1}, std::pair{24, 1}}) {
        SCOPED_TRACE(std::to_string(num) + "/" + std::to_string(den));
        StreamInfo info;
        info.rateNum = num;
        info.rateDen = den;
        const std::int64_t late = static_cast<std::int64_t>(num) / den * 3 * 3600 + 7;
        std::vector<SupEvent> events{Event(1, 2, {RunImage(10, 10, 100, 20, 16, 5)}),
                                     Event(late, late + 13, {RunImage(10, 10, 100, 20, 16, 6)})};
        const std::string path = dir_.File("rate.sup");
        WriteStream(path, info, events);
        const std::vector<DecodedSet> sets = DecodeSup(path);
        ASSERT_EQ(sets.size(), 4u);
        const std::int64_t want[] = {1, 2, late, late + 13};
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(FrameOf(sets[i].pts, info), want[i]);
            // Exact to the 90 kHz tick: within half a tick of the real time.
            const double real = static_cast<double>(want[i]) * 90000.0 * den / num;
            EXPECT_LE(std::abs(static_cast<double>(sets[i].pts) - real), 0.5);
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
    const std::string path = dir_.File("colour.sup");
    const std::string bytes = WriteStream(path, info, {e});
    CheckStructure(bytes, info);
    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(SamePicture(Expected(e, info), Decoded(sets[0], info), info.width, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SupColourTest,
    ::testing::Values(FormatCase{"i576", 720, 576, 25, 1, ColorMatrix::Bt601},
                      FormatCase{"i480", 720, 480, 30000, 1001, ColorMatrix::Bt601},
                      FormatCase{"p720", 1280, 720, 60000, 1001, ColorMatrix::Bt709},
                      FormatCase{"p1080", 1920, 1080, 24000, 1001, ColorMatrix::Bt709}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SupWriterTest, TwoImagesBecomeTwoObjectsInTwoWindows) {
    StreamInfo info;
    SupEvent e =
        Event(100, 160, {RunImage(300, 80, 1300, 70, 16, 8), RunImage(420, 930, 1000, 90, 16, 9)});
    e.forced = true;
    const std::string path = dir_.File("two.sup");
    const std::string bytes = WriteStream(path, info, {e});
    const std::vector<RawSet> raw = CheckStructure(bytes, info);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0].objects, 2);
    EXPECT_EQ(raw[0].windows, 2);
    EXPECT_EQ(raw[1].objects, 0);
    EXPECT_EQ(raw[1].windows, 2); // the clearing set empties both windows

    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), 2u);
    ASSERT_EQ(sets[0].rects.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(sets[0].rects[i].x, e.objects[i].x);
        EXPECT_EQ(sets[0].rects[i].y, e.objects[i].y);
        EXPECT_EQ(sets[0].rects[i].w, e.objects[i].width);
        EXPECT_EQ(sets[0].rects[i].h, e.objects[i].height);
        EXPECT_TRUE(sets[0].rects[i].forced);
    }
    EXPECT_TRUE(SamePicture(Expected(e, info), Decoded(sets[0], info), info.width, 3));
    EXPECT_TRUE(sets[1].rects.empty());
}

TEST_F(SupWriterTest, LargeImageIsSplitAcrossObjectSegments) {
    StreamInfo info;
    // Noise in 16 colours codes to about a byte per pixel: several segments' worth.
    const SupEvent e = Event(0, 48, {NoiseImage(0, 680, 1920, 200, 16, 10)});
    const std::string path = dir_.File("large.sup");
    const std::string bytes = WriteStream(path, info, {e});
    const std::vector<RawSet> raw = CheckStructure(bytes, info);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_GE(raw[0].odsCount, 4);

    std::vector<std::uint8_t> flags;
    for (const Segment& s : ReadSegments(bytes)) {
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

    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(SamePicture(Expected(e, info), Decoded(sets[0], info), info.width, 3));
}

TEST_F(SupWriterTest, SmallAndOverlappingImagesStillShowExactly) {
    StreamInfo info{720, 576, 25, 1, ColorMatrix::Bt601};
    // A 3x2 image in the corner is padded inside the frame; two images whose windows would
    // overlap share one object.
    const SupEvent tiny = Event(0, 10, {RunImage(717, 574, 3, 2, 16, 11)});
    const SupEvent overlap =
        Event(10, 20, {RunImage(100, 400, 300, 50, 16, 12), RunImage(300, 440, 300, 50, 16, 13)});
    const SupEvent close =
        Event(30, 40, {RunImage(100, 400, 300, 3, 16, 14), RunImage(100, 405, 300, 3, 16, 15)});
    const std::string path = dir_.File("small.sup");
    const std::string bytes = WriteStream(path, info, {tiny, overlap, close});
    const std::vector<RawSet> raw = CheckStructure(bytes, info);
    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), 5u); // tiny, overlap (replacing it), clear, close, clear
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[1].objects, 1);
    EXPECT_TRUE(SamePicture(Expected(tiny, info), Decoded(sets[0], info), info.width, 3));
    EXPECT_TRUE(SamePicture(Expected(overlap, info), Decoded(sets[1], info), info.width, 3));
    EXPECT_TRUE(SamePicture(Expected(close, info), Decoded(sets[3], info), info.width, 3));
    for (const auto& r : sets[0].rects) {
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
    const std::string path = dir_.File("palette.sup");
    const std::string bytes = WriteStream(path, info, {e});
    CheckStructure(bytes, info);
    const std::vector<DecodedSet> sets = DecodeSup(path);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(SamePicture(Expected(e, info), Decoded(sets[0], info), info.width, 6));
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
        for (int i = 0; i < 20; ++i) { // about 190 KB each
            noisy.inFrame = 2 * i;
            noisy.outFrame = 2 * i + 1;
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
