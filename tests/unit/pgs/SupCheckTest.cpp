// The stream checker: a stream that keeps the decoder model passes, and each rule broken once
// is reported once with its display set.
#include "pgs/SupCheck.h"
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
        again.dts = 93754;
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
        {"does not decode to its", 1, [](HandStream& s) { s.sets[0].objects[0].width = 199; }},
        {"outgrow the 1 MiB", 1, [](HandStream& s) { s.sets[0].objects[0].code = &tooLong; }},
        {"needs", 1, [](HandStream& s) { s.sets[0].dts = 90000 - 100; }},
        {"a second or more", 4, [](HandStream& s) { s.sets[3].dts = 90000; }},
        {"the PTS does not increase", 2, [](HandStream& s) { s.sets[1].pts = 90000; }},
        {"before the previous set is decoded", 3, [](HandStream& s) { s.sets[2].dts = 91000; }},
        {"epoch starts decoding before the previous set is shown", 4,
         [](HandStream& s) {
             s.sets[3].state = kEpochStart;
             s.sets[3].dts = 170000;
             s.sets[3].pts = 180000;
             s.sets[2].pts = 175000;
         }},
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        HandStream stream;
        c.breakIt(stream);
        const SupCheckSummary summary = CheckSupStream(stream.Bytes());
        ASSERT_GE(summary.violationCount, 1);
        bool found = false;
        for (const SupViolation& v : summary.violations) {
            found = found || (v.rule.find(c.rule) != std::string::npos && v.set == c.set);
        }
        EXPECT_TRUE(found) << FormatViolation(summary.violations.front());
    }
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
    const SupCheckSummary full = CheckSupStream(buffer.Bytes());
    ASSERT_GE(full.violationCount, 1);
    EXPECT_NE(full.violations.front().rule.find("4 MiB"), std::string::npos);

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
