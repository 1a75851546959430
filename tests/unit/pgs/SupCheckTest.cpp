// The stream checker: a stream that keeps the decoder model passes, and each rule broken once
// is reported once with its display set.
#include "pgs/SupCheck.h"
#include "SupDecoder.h"
#include "pgs/DecoderModel.h"
#include "pgs/ObjectRle.h"
#include "pgs/SupSegments.h"

#include <gtest/gtest.h>

#include <functional>

namespace pelldrin::pgs {
namespace {

// A hand-made stream: an epoch start with one object in the lower window, a palette update,
// an acquisition point that shows a new picture in it, and a set that empties the window.
struct HandStream {
    std::vector<Rect> windows{{100, 900, 400, 100}, {100, 50, 400, 100}};
    std::vector<YCbCrA> palette{{16, 128, 128, 0}, {235, 128, 128, 255}};
    PictureObject object{{120, 920, 200, 40}, std::vector<std::uint8_t>(8000, 1)};
    std::string code = EncodeObject(object);
    std::vector<DisplaySetOut> sets;

    HandStream() {
        DisplaySetOut start = Set(90000, kEpochStart);
        start.dts = 90000 - 10000;
        start.compositions = {{0, 0, false, 120, 920}};
        start.palette = &palette;
        start.objects = {{0, 0, 200, 40, &code}};
        DisplaySetOut fade = Set(93754, kNormal);
        fade.paletteOnly = true;
        fade.paletteVersion = 1;
        fade.windows.clear();
        fade.compositions = start.compositions;
        fade.palette = &palette;
        DisplaySetOut again = start;
        again.pts = 97508;
        again.dts = 93755; // a tick after the set that shows the old versions

        again.state = kAcquisitionPoint;
        again.paletteVersion = 2;
        again.objects[0].version = 1;
        DisplaySetOut clear = Set(180000, kNormal);
        clear.dts = 170000;
        sets = {start, fade, again, clear};
        for (std::size_t i = 0; i < sets.size(); ++i) {
            sets[i].compositionNumber = static_cast<unsigned>(i);
        }
    }

    DisplaySetOut Set(std::int64_t pts, std::uint8_t state) const {
        DisplaySetOut s;
        s.pts = pts;
        s.dts = pts - 2000;
        s.planeWidth = 1920;
        s.planeHeight = 1080;
        s.state = state;
        s.windows = windows;
        return s;
    }

    std::string Bytes() const {
        std::string out;
        for (const DisplaySetOut& s : sets) {
            WriteDisplaySet(s, out);
        }
        return out;
    }
};

// Rewrites the times of the n-th segment of a type (from 0) in a written stream.
void SetSegmentTimes(std::string& bytes, std::uint8_t type, int n, std::int64_t pts,
                     std::int64_t dts) {
    for (std::size_t at = 0; at + 13 <= bytes.size();) {
        const std::size_t size = (std::size_t{static_cast<std::uint8_t>(bytes[at + 11])} << 8) |
                                 static_cast<std::uint8_t>(bytes[at + 12]);
        if (static_cast<std::uint8_t>(bytes[at + 10]) == type && n-- == 0) {
            for (int i = 0; i < 4; ++i) {
                bytes[at + 2 + i] = static_cast<char>((pts >> (24 - 8 * i)) & 0xFF);
                bytes[at + 6 + i] = static_cast<char>((dts >> (24 - 8 * i)) & 0xFF);
            }
            return;
        }
        at += 13 + size;
    }
    ADD_FAILURE() << "no segment " << n << " of type " << int{type};
}

bool Reports(const SupCheckSummary& summary, const std::string& rule, std::int64_t set) {
    return std::any_of(summary.violations.begin(), summary.violations.end(),
                       [&](const SupViolation& v) {
                           return v.rule.find(rule) != std::string::npos && v.set == set;
                       });
}

TEST(SupCheck, AStreamThatKeepsTheModelPasses) {
    const HandStream stream;
    const std::string bytes = stream.Bytes();
    const SupCheckSummary summary = CheckSupStream(bytes);
    for (const SupViolation& v : summary.violations) {
        ADD_FAILURE() << FormatViolation(v);
    }
    EXPECT_EQ(SummaryLine(summary),
              "4 display sets, 1 epochs, 1 acquisition points, 1 palette-only sets, 0 violations");
    // Fed in pieces of any size, the checker sees the same stream.
    SupChecker checker;
    for (std::size_t at = 0; at < bytes.size(); at += 7) {
        checker.Feed(std::string_view(bytes).substr(at, 7));
    }
    EXPECT_EQ(checker.Finish().violationCount, 0);
}

TEST(SupCheck, EachBrokenRuleIsReportedWithItsSet) {
    struct Case {
        const char* rule;
        int set; // the display set reported
        std::function<void(HandStream&)> breakIt;
    };
    static const std::string tooLong(1100000, '\x01');
    const std::vector<Case> cases{
        {"does not begin with an epoch start", 1,
         [](HandStream& s) { s.sets[0].state = kAcquisitionPoint; }},
        {"composition state 192", 3, [](HandStream& s) { s.sets[2].state = 0xC0; }},
        {"more than two objects", 3,
         [](HandStream& s) {
             const CompositionOut c = s.sets[2].compositions[0];
             s.sets[2].compositions.resize(3, c);
         }},
        {"the windows overlap", 1,
         [](HandStream& s) {
             for (auto& set : s.sets) {
                 if (!set.windows.empty()) {
                     set.windows[1].y = 950;
                 }
             }
         }},
        {"the windows change", 4, [](HandStream& s) { s.sets[3].windows.pop_back(); }},
        {"does not lie inside its window", 1,
         [](HandStream& s) { s.sets[0].compositions[0].x = 350; }},
        {"changes its size", 3, [](HandStream& s) { s.sets[2].objects[0].height = 20; }},
        {"more pixels than its width on line 0", 1,
         [](HandStream& s) { s.sets[0].objects[0].width = 199; }},
        {"does not end its last line", 1,
         [](HandStream& s) {
             static std::string cut;
             cut = s.code.substr(0, s.code.size() - 2);
             s.sets[0].objects[0].code = &cut;
         }},
        {"outgrow the 1 MiB", 1, [](HandStream& s) { s.sets[0].objects[0].code = &tooLong; }},
        {"needs", 1, [](HandStream& s) { s.sets[0].dts = 90000 - 100; }},
        {"a second or more", 4, [](HandStream& s) { s.sets[3].dts = 90000; }},
        {"the PTS does not increase", 2, [](HandStream& s) { s.sets[1].pts = 90000; }},
        {"the DTS goes back", 3, [](HandStream& s) { s.sets[2].dts = 91000; }},
        // An epoch start decodes strictly after the set before it is shown.
        {"epoch starts decoding before the previous set is shown", 4,
         [](HandStream& s) {
             s.sets[3].state = kEpochStart;
             s.sets[3].dts = 175000;
             s.sets[3].pts = 185000;
             s.sets[2].pts = 175000;
         }},
        {"less than a frame after", 2,
         [](HandStream& s) {
             s.sets[1].pts = 91000;
             s.sets[1].dts = 90000;
         }},
        // Drawing the windows (226 ticks) begins before the set before is shown, although
        // new ids leave the decoding itself free to start early.
        {"windows begin to be drawn before the previous set is shown", 3,
         [](HandStream& s) {
             DisplaySetOut& again = s.sets[2];
             again.paletteId = 1;
             again.objects[0].id = 1;
             again.compositions[0].objectId = 1;
             again.dts = 92000;
             again.pts = 93900;
         }},
        // New versions decoded at the very tick the set showing the old ones is presented.
        {"object 0 gets a new version", 3, [](HandStream& s) { s.sets[2].dts = 93754; }},
        {"palette 0 gets a new version", 2, [](HandStream& s) { s.sets[1].dts = 90000; }},
        // The windows (226 ticks to draw) drawn 11,665 ticks after decoding begins: a tick
        // more than twice the 5,832 ticks that clear a 1920x1080 plane.
        {"windows are drawn 11665 ticks after the set begins decoding", 4,
         [](HandStream& s) { s.sets[3].dts = 180000 - 226 - 11665; }},
        {"lacks object 0", 3, [](HandStream& s) { s.sets[2].objects.clear(); }},
        {"lacks its palette", 3, [](HandStream& s) { s.sets[2].palette = nullptr; }},
        {"raises the version", 2, [](HandStream& s) { s.sets[1].paletteVersion = 5; }},
        {"carries windows or objects", 2,
         [](HandStream& s) { s.sets[1].objects = s.sets[0].objects; }},
        {"changes the objects on screen", 2,
         [](HandStream& s) {
             s.sets[1].compositions[0].windowId = 1;
             s.sets[1].compositions[0].y = 60;
         }},
        {"palette 3 is not defined", 4,
         [](HandStream& s) {
             s.sets[3].compositions = s.sets[0].compositions;
             s.sets[3].paletteId = 3;
         }},
        {"ends with a picture on screen", 3, [](HandStream& s) { s.sets.pop_back(); }},
        {"the plane size changes", 4, [](HandStream& s) { s.sets[3].planeWidth = 1280; }},
        // 5,832 ticks clear a 1920x1080 plane: an epoch start decoding that little ahead has
        // no time left for its object and window.
        {"leaves no time to clear the plane", 1,
         [](HandStream& s) { s.sets[0].dts = 90000 - 5832; }},
        // Sets that show nothing, each defining one more palette id: the ninth id is one
        // more than an epoch holds.
        {"more than 8 palette ids", 11,
         [](HandStream& s) {
             for (unsigned id = 1; id <= 8; ++id) {
                 DisplaySetOut empty = s.Set(100000 + 5000 * id, kNormal);
                 empty.paletteId = id;
                 empty.palette = &s.palette;
                 s.sets.insert(s.sets.end() - 1, empty);
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        HandStream stream;
        c.breakIt(stream);
        const SupCheckSummary summary = CheckSupStream(stream.Bytes());
        ASSERT_GE(summary.violationCount, 1);
        EXPECT_TRUE(Reports(summary, c.rule, c.set)) << FormatViolation(summary.violations.front());
    }
}

TEST(SupCheck, EachSegmentKeepsItsOwnTimes) {
    // The first set decodes from 80000 and is shown at 90000; its window segment's PTS is
    // 90000 less 226 ticks of drawing, and its object takes 45 ticks to decode.
    struct Case {
        const char* rule;
        std::uint8_t type;
        std::int64_t pts, dts;
    };
    const std::vector<Case> cases{
        {"palette segment's PTS differs from its DTS", 0x14, 80001, 80000},
        {"object segment's PTS is not its DTS plus", 0x15, 80044, 80000},
        {"window segment's PTS is not the set's PTS less", 0x17, 90000, 80000},
        {"lies outside its display set's", 0x80, 90001, 80045},
        {"lies outside its display set's", 0x14, 79999, 79999},
        {"a segment's DTS comes after its PTS", 0x80, 80000, 80045},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        std::string bytes = HandStream().Bytes();
        SetSegmentTimes(bytes, c.type, 0, c.pts, c.dts);
        EXPECT_TRUE(Reports(CheckSupStream(bytes), c.rule, 1));
    }
    // Decoding may begin as much as twice the plane's clear time before the windows are drawn.
    HandStream lead;
    lead.sets[3].dts = 180000 - 226 - 11664;
    EXPECT_EQ(CheckSupStream(lead.Bytes()).violationCount, 0);
    // A window segment whose PTS equals its DTS: the set leaves no time to draw.
    HandStream tight;
    tight.sets[0].dts = 90000 - 226;
    std::string bytes = tight.Bytes();
    EXPECT_TRUE(Reports(CheckSupStream(bytes), "window segment's PTS equals its DTS", 1));
}

TEST(SupCheck, WindowZeroIsDrawnWhileObjectOneDecodes) {
    // An acquisition point with two 1920x200 objects in two windows of their size: each
    // object decodes in 2160 ticks and each window draws in 1080. Window 0 is drawn from 2160
    // to 3240 while object 1 decodes until 4320; window 1 is drawn by 5400. (Drawing every
    // window after all decoding would need 6480.)
    const std::vector<Rect> windows{{0, 0, 1920, 200}, {0, 880, 1920, 200}};
    const std::vector<YCbCrA> palette{{16, 128, 128, 0}, {235, 128, 128, 255}};
    const std::string code =
        EncodeObject({{0, 0, 1920, 200}, std::vector<std::uint8_t>(1920 * 200, 1)});
    const auto stream = [&](std::int64_t ticks) {
        std::vector<DisplaySetOut> sets(3);
        for (std::size_t i = 0; i < sets.size(); ++i) {
            sets[i].planeWidth = 1920;
            sets[i].planeHeight = 1080;
            sets[i].windows = windows;
            sets[i].compositionNumber = static_cast<unsigned>(i);
        }
        sets[0].state = kEpochStart; // shows nothing yet
        sets[0].pts = 20000;
        sets[0].dts = 8000;
        DisplaySetOut& both = sets[1];
        both.state = kAcquisitionPoint;
        both.pts = 40000;
        both.dts = 40000 - ticks;
        both.palette = &palette;
        both.compositions = {{0, 0, false, 0, 0}, {1, 1, false, 0, 880}};
        both.objects = {{0, 0, 1920, 200, &code}, {1, 0, 1920, 200, &code}};
        sets[2].pts = 60000;
        sets[2].dts = 50000;
        std::string bytes;
        for (const DisplaySetOut& s : sets) {
            WriteDisplaySet(s, bytes);
        }
        return CheckSupStream(bytes);
    };
    const SupCheckSummary fits = stream(5400);
    for (const SupViolation& v : fits.violations) {
        ADD_FAILURE() << FormatViolation(v);
    }
    EXPECT_TRUE(Reports(stream(5399), "needs 5400 ticks", 2));
}

TEST(SupCheck, TheInputBufferRefillsAtSixteenMegabitsASecond) {
    // Two sets of 700 KB each decoded 9699 ticks apart: the buffer (1 MiB) has refilled by
    // 215 KB only. The object code is not a picture, so it is not decoded.
    HandStream heavy;
    heavy.sets[0].dts = 90000 - 5945;
    const std::string big(700000, '\x01');
    heavy.sets[0].objects[0].code = &big;
    heavy.sets[2].objects[0].code = &big;
    const std::string bytes = heavy.Bytes();
    const SupCheckSummary dry = CheckSupStream(bytes, SupCheckOptions{false});
    EXPECT_TRUE(Reports(dry, "input buffer runs dry", 3)) << SummaryLine(dry);
    EXPECT_EQ(dry.violationCount, 1);
    // The whole stream decodes within one second: the busiest second holds every segment but
    // its "PG" marker.
    std::int64_t all = 0;
    for (const test::Segment& s : test::ReadSegments(bytes)) {
        all += 11 + static_cast<std::int64_t>(s.payload.size());
    }
    EXPECT_EQ(dry.peakBytesPerSecond, all);
    EXPECT_NE(InputPeakLine(dry).find("input peak 11.2 Mbit/s"), std::string::npos)
        << InputPeakLine(dry);
    // The writer plans with what each set takes, fragments of the large object included.
    for (const DisplaySetOut& set : heavy.sets) {
        std::string one;
        WriteDisplaySet(set, one);
        std::size_t taken = 0;
        for (const test::Segment& s : test::ReadSegments(one)) {
            taken += 11 + s.payload.size();
        }
        EXPECT_EQ(SetInputBytes(set), taken);
    }

    // Spread a second further apart, the same sets pass.
    for (DisplaySetOut& set : heavy.sets) {
        if (&set != &heavy.sets[0]) {
            set.pts += 90000;
            set.dts += 90000;
        }
    }
    EXPECT_EQ(CheckSupStream(heavy.Bytes(), SupCheckOptions{false}).violationCount, 0);
}

TEST(SupCheck, EpochBuffersAndUnreadableStreams) {
    // 65 object ids, and objects beyond the 4 MiB buffer, within one epoch.
    HandStream ids;
    std::vector<std::string> codes;
    PictureObject big{{0, 0, 1500, 1000}, std::vector<std::uint8_t>(1500000, 0)};
    const std::string bigCode = EncodeObject(big);
    for (unsigned id = 1; id <= 64; ++id) {
        ids.sets[0].objects.push_back({id, 0, 200, 40, &ids.code});
    }
    EXPECT_NE(FormatViolation(CheckSupStream(ids.Bytes()).violations.at(0)).find("64 object ids"),
              std::string::npos);
    HandStream buffer;
    for (unsigned id = 1; id <= 3; ++id) {
        buffer.sets[0].objects.push_back({id, 0, 1500, 1000, &bigCode});
    }
    buffer.sets[0].dts = 0;
    EXPECT_TRUE(Reports(CheckSupStream(buffer.Bytes()), "4 MiB", 1));

    // A cut stream, and bytes that are no stream at all.
    const std::string bytes = HandStream().Bytes();
    EXPECT_NE(CheckSupStream(bytes.substr(0, bytes.size() - 5))
                  .violations.at(0)
                  .rule.find("ends inside a segment"),
              std::string::npos);
    EXPECT_GE(CheckSupStream("not a stream at all").violationCount, 1);
    // A window segment (after the 32 bytes of the first composition) decoded after its PTS.
    std::string late = bytes;
    late[32 + 6] = '\x7F';
    EXPECT_NE(CheckSupStream(late).violations.at(0).rule.find("DTS comes after its PTS"),
              std::string::npos);
}

} // namespace
} // namespace pelldrin::pgs
