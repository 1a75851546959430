// The memory estimate made before drawing, against what drawing the line alone measures,
// for each construct that once misled it; and the hostile lines it must still refuse.
#include "RenderTestSupport.h"

#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "support/LineMemory.h"
#include "support/MallocMeter.h"

#include <gtest/gtest.h>

namespace pelldrin::render::test {
namespace {

const FrameGeometry k1080{1920, 1080, 1920, 1080};

std::string Line(const std::string& text) {
    return "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,," + text + "\n";
}

// The estimate of every event of the file.
std::vector<std::uint64_t> Estimates(const std::string& path) {
    const LibassSession session(path);
    const ASS_Track* track = session.Track();
    std::vector<std::uint64_t> bytes;
    for (int i = 0; i < track->n_events; ++i) {
        bytes.push_back(EstimateEventBytes(track, track->events[i], k1080));
    }
    return bytes;
}

TEST(RenderEstimate, EachConstructIsEstimatedWithinHalfToEightTimesWhatDrawingItTakes) {
    if (!pelldrin::test::MallocMeterAvailable()) {
        GTEST_SKIP() << "allocations are counted only in sanitizer builds";
    }
    const std::vector<std::string> lines{
        "{\\an7\\pos(100,100)\\p1}m 0 0 l 300 0 300 200 0 200",                   // drawing
        "{\\an7\\pos(100,100)\\fscx200\\p2}m 0 0 l 600 0 600 400 0 400",          // scaled drawing
        "{\\pos(600,300)\\fr35\\bord2\\blur2\\p1}m 0 0 l 90 0 l -6 -70 l -60 10", // turned drawing
        "{\\frz35}Words turned around",                                           // rotation
        "{\\frx40\\fry20}Words turned in depth",                                  // rotation in 3D
        "{\\clip(0,0,200,100)}Clipped words that reach far across the frame",     // clip
        "{\\fs400\\bord10}Big",                                                   // huge font
        "{\\blur6\\bord4}Soft words\\Non two lines",                              // blur, lines
    };
    std::string events;
    for (const std::string& text : lines) {
        events += Line(text);
    }
    TempDir dir;
    WriteFile(dir.File("s.ass"), AssScript(events));
    const std::vector<std::uint64_t> estimates = Estimates(dir.File("s.ass"));
    ASSERT_EQ(estimates.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const auto measured = static_cast<double>(
            pelldrin::test::MeasureEventDrawing(dir.File("s.ass"), static_cast<int>(i), k1080, 4));
        ASSERT_GT(measured, 0);
        const double ratio = static_cast<double>(estimates[i]) / measured;
        EXPECT_GE(ratio, 0.5) << estimates[i] << " estimated, " << measured << " measured";
        EXPECT_LE(ratio, 8.0) << estimates[i] << " estimated, " << measured << " measured";
    }
}

TEST(RenderEstimate, HostileLinesAreStillRefusedBeforeDrawing) {
    TempDir dir;
    const std::uint64_t budget = EventMemoryBudget(RenderLimits{});
    // A one-pixel script scales everything 1080 times; a huge font and border; a huge
    // drawing; a transform that grows without end.
    WriteFile(dir.File("tiny.ass"), AssScript(Line("Words"), 1, 1));
    WriteFile(dir.File("big.ass"), AssScript(Line("{\\fs5000\\bord500}Words") +
                                             Line("{\\p1}m 0 0 l 100000 0 100000 100000 0 100000") +
                                             Line("{\\t(\\fs3000\\fscx2000\\fscy2000)}Growing")));
    for (const std::string name : {"tiny.ass", "big.ass"}) {
        for (const std::uint64_t bytes : Estimates(dir.File(name))) {
            EXPECT_GT(bytes, budget) << name;
        }
    }
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("tiny.ass"), 1920, 1080, "25", 50));
    const RunResult r =
        RunRenderer({"-v", "1080p", "-f", "25", "-o", dir.File("s.xml"), dir.File("s.avs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("tiny.ass") + ": line 13: drawing it would take about"),
              std::string::npos)
        << r.err;
}

} // namespace
} // namespace pelldrin::render::test
