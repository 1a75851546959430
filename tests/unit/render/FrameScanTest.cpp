// Which frames show which events, and the spans the scan steps through.
#include "drawing/FrameScan.h"
#include "input/SubtitleTrack.h"
#include "output/BdnWriter.h"

#include <gtest/gtest.h>

namespace pelldrin::render {
namespace {

TEST(FrameClock, FrameTimesAreExactAtDropRates) {
    const FrameClock ntsc{30000, 1001};
    // Frame 30 is at 1.001 s; frame 29 at 0.967633 s.
    EXPECT_EQ(ntsc.MsOfFrame(30), 1001);
    EXPECT_EQ(ntsc.MsOfFrame(29), 967);
    EXPECT_EQ(ntsc.FirstFrameAtOrAfter(1001), 30);
    EXPECT_EQ(ntsc.FirstFrameAtOrAfter(1000), 30);
    EXPECT_EQ(ntsc.FirstFrameAtOrAfter(967), 29);
    EXPECT_EQ(ntsc.FirstFrameAtOrAfter(968), 30);
    EXPECT_EQ(ntsc.FirstFrameAtOrAfter(-50), 0);
    // Every frame drawn at its millisecond is the first frame at or after it.
    for (const FrameClock clock :
         {FrameClock{24000, 1001}, FrameClock{25, 1}, FrameClock{60000, 1001}, FrameClock{50, 1}}) {
        for (std::int64_t n = 0; n < 5000; n += 7) {
            EXPECT_EQ(clock.FirstFrameAtOrAfter(clock.MsOfFrame(n)), n) << clock.num << " " << n;
        }
    }
}

TEST(PlanSpans, SplitsAtEveryChangeAndMarksAnimation) {
    const FrameClock clock{25, 1}; // 40 ms a frame
    const std::vector<EventTiming> events{
        {1000, 3000, false}, // frames 25..74
        {2000, 2400, true},  // frames 50..59, animated
        {5000, 5010, false}, // frame 125 only
        {6010, 6030, false}, // between two frames: never shown
        {9000, 99000, false} // cut at the clip end
    };
    const auto spans = PlanSpans(events, clock, 300);
    ASSERT_EQ(spans.size(), 5u);
    EXPECT_EQ(spans[0].begin, 25);
    EXPECT_EQ(spans[0].end, 50);
    EXPECT_FALSE(spans[0].animated);
    EXPECT_EQ(spans[1].begin, 50);
    EXPECT_EQ(spans[1].end, 60);
    EXPECT_TRUE(spans[1].animated);
    EXPECT_EQ(spans[2].begin, 60);
    EXPECT_EQ(spans[2].end, 75);
    EXPECT_EQ(spans[3].begin, 125);
    EXPECT_EQ(spans[3].end, 126);
    EXPECT_EQ(spans[4].begin, 225);
    EXPECT_EQ(spans[4].end, 300);
    EXPECT_TRUE(PlanSpans(events, clock, 0).empty());
}

TEST(SubtitleTrack, AnimationIsFoundInTagsAndEffects) {
    EXPECT_TRUE(IsAnimatedEvent("{\\move(1,2,3,4)}a", ""));
    EXPECT_TRUE(IsAnimatedEvent("a{\\b1\\fad(100,200)}b", ""));
    EXPECT_TRUE(IsAnimatedEvent("{\\fade(255,0,255,0,1,2,3)}a", ""));
    EXPECT_TRUE(IsAnimatedEvent("{\\t(\\frz30)}a", ""));
    EXPECT_TRUE(IsAnimatedEvent("{\\k20}ka{\\kf30}ra", ""));
    EXPECT_TRUE(IsAnimatedEvent("{\\K20}ka", ""));
    EXPECT_TRUE(IsAnimatedEvent("{\\ko20}ka", ""));
    EXPECT_TRUE(IsAnimatedEvent("plain", "Scroll up;100;200;30"));
    EXPECT_TRUE(IsAnimatedEvent("plain", "Banner;10"));
    EXPECT_FALSE(IsAnimatedEvent("{\\pos(10,10)\\fs40\\blur2\\bord3}still", ""));
    EXPECT_FALSE(IsAnimatedEvent("text with \\t and \\k outside tags", ""));
    EXPECT_FALSE(IsAnimatedEvent("{\\fscx120\\frz10\\fax0.1}a", "Karaoke"));
}

TEST(BdnWriter, TimecodesAtWholeBases) {
    EXPECT_EQ(FrameToTimecode(0, 24), "00:00:00:00");
    EXPECT_EQ(FrameToTimecode(24 * 3661 + 23, 24), "01:01:01:23");
    EXPECT_EQ(FrameToTimecode(60 * 60 * 60 * 100 + 59, 60), "100:00:00:59");
}

} // namespace
} // namespace pelldrin::render
