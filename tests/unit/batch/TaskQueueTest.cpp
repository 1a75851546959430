#include "batch/TaskQueue.h"

#include <gtest/gtest.h>

#include <thread>

using namespace pelldrin;

TEST(TaskLine, BuildsEightFieldsFromTheControls) {
    TaskControls c;
    c.formatIndex = 3;
    c.rateIndex = 2;
    c.makeSup = false;
    c.firstBlack = true;
    c.styleFile = "big.style";
    c.endBlack = false;
    EXPECT_EQ(BuildTaskLine("/subs/Show_chs_v2.ass", c),
              "3|2|0|1|%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3|chs|big.style|0");
    // No style: the tag, two "|" in a row and the end flag.
    TaskControls d;
    EXPECT_EQ(BuildTaskLine("/subs/Show.ass", d),
              "0|0|1|1|%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3|||1");
}

TEST(TaskLine, NameTagIsTheSecondUnderscorePiece) {
    EXPECT_EQ(NameTagFor("/x/Show_chs.ass"), "chs");
    EXPECT_EQ(NameTagFor("/x/Show_chs_v2.ass"), "chs");
    EXPECT_EQ(NameTagFor("/x/Show.ass"), "");
    EXPECT_EQ(NameTagFor("/x/a_b_c.srt"), "b");
    EXPECT_EQ(NameTagFor("/x/_b.srt"), "b");
    EXPECT_EQ(NameTagFor("/x_y/plain.srt"), "");  // the folder does not count
    EXPECT_EQ(NameTagFor("/x/a_b|c.srt"), "b_c"); // never breaks the record
}

TEST(TaskLine, RefusesABarInAField) {
    TaskControls c;
    c.commandTemplate = "%0:s | tee";
    EXPECT_THROW(BuildTaskLine("/a.ass", c), TaskLineError);
    TaskQueue q;
    q.AppendNew("/a.ass", TaskControls{});
    EXPECT_THROW(q.SetField(0, CommandTemplate, "a|b"), TaskLineError);
    EXPECT_EQ(q.GetField(0, CommandTemplate), kDefaultCommandTemplate);
    EXPECT_THROW(q.Append("/b.ass", "1|2|3"), TaskLineError);
    EXPECT_THROW(q.GetField(0, 8), TaskLineError);
    EXPECT_THROW(q.GetField(1, 0), std::out_of_range);
}

TEST(TaskQueue, FieldsReadBackAsWrittenAndOnlyForTheirTask) {
    TaskQueue q;
    q.AppendNew("/s/a_x.ass", TaskControls{});
    q.AppendNew("/s/a_x.ass", TaskControls{}); // the same file twice: two tasks
    ASSERT_EQ(q.Count(), 2u);
    q.SetField(1, MakeSup, "0");
    q.SetField(1, StyleFile, "s.style");
    q.SetField(1, CommandTemplate, "");
    EXPECT_EQ(q.GetField(1, MakeSup), "0");
    EXPECT_EQ(q.GetField(1, StyleFile), "s.style");
    EXPECT_EQ(q.GetField(1, CommandTemplate), "");
    EXPECT_EQ(q.GetField(1, EndBlack), "1");
    EXPECT_EQ(q.GetField(1, NameTag), "x");
    EXPECT_EQ(q.GetField(0, MakeSup), "1");
    EXPECT_EQ(q.GetField(0, StyleFile), "");
}

TEST(TaskQueue, PathAndTaskLineMoveTogether) {
    TaskQueue q;
    for (int i = 0; i < 5; ++i) {
        TaskControls c;
        c.formatIndex = i;
        q.AppendNew("/f" + std::to_string(i) + ".srt", c);
    }
    q.Remove(0);
    q.Remove(2); // was /f3
    auto tasks = q.Snapshot();
    ASSERT_EQ(tasks.size(), 3u);
    for (const auto& t : tasks) {
        // The format index was set to the file's number: each row keeps its own record.
        EXPECT_EQ(t.path, "/f" + TaskLineField(t.taskLine, FormatIndex) + ".srt");
    }
    EXPECT_THROW(q.Remove(3), std::out_of_range);
    q.Clear();
    EXPECT_EQ(q.Count(), 0u);
    q.AppendNew("/new.ass", TaskControls{});
    ASSERT_EQ(q.Count(), 1u);
    EXPECT_EQ(q.Get(0)->path, "/new.ass");
    EXPECT_FALSE(q.Get(1).has_value());
}

TEST(TaskQueue, StatesAndIdsFollowTheTask) {
    TaskQueue q;
    int changes = 0;
    q.SetOnChanged([&] { ++changes; });
    q.AppendNew("/a.ass", TaskControls{});
    q.AppendNew("/b.ass", TaskControls{});
    const auto idB = q.Get(1)->id;
    q.MarkFailed(1, "converter crashed");
    q.Remove(0);
    ASSERT_EQ(q.IndexOf(idB), 0u);
    EXPECT_EQ(q.Get(0)->state, TaskState::Failed);
    EXPECT_EQ(q.Get(0)->failureReason, "converter crashed");
    q.MarkRunning(0);
    EXPECT_EQ(q.Get(0)->state, TaskState::Running);
    EXPECT_TRUE(q.Get(0)->failureReason.empty());
    q.MarkConverted(0, {"Warning: x"}, "/out/b");
    EXPECT_EQ(q.Count(), 1u);
    EXPECT_EQ(q.PendingCount(), 0u);
    EXPECT_FALSE(q.HasPath("/b.ass")); // converted: no longer waiting
    EXPECT_EQ(changes, 6);             // every change told, the reads not
    q.Remove(0);
    EXPECT_FALSE(q.IndexOf(idB).has_value());
}

TEST(TaskQueue, AFileIsListedOnceAndAConvertedOneWaitsAgainWithItsSettings) {
    TaskQueue q;
    const std::string templateLine = BuildTaskLine("", TaskControls{});
    const auto added = q.AddFile("/s/Ep_chs.ass", templateLine);
    EXPECT_EQ(added.outcome, TaskQueue::AddOutcome::Added);
    EXPECT_EQ(q.GetField(0, NameTag), "chs"); // the file's own tag, not the template's
    q.SetField(0, FormatIndex, "1");
    const auto again = q.AddFile("/s/Ep_chs.ass", templateLine);
    EXPECT_EQ(again.outcome, TaskQueue::AddOutcome::AlreadyQueued);
    EXPECT_EQ(again.id, added.id);
    q.MarkConverted(0, {"Warning: late"}, "/out/Ep_chs");
    const auto requeued = q.AddFile("/s/Ep_chs.ass", templateLine);
    EXPECT_EQ(requeued.outcome, TaskQueue::AddOutcome::Requeued);
    ASSERT_EQ(q.Count(), 1u);
    EXPECT_EQ(q.Get(0)->state, TaskState::Queued);
    EXPECT_TRUE(q.Get(0)->warnings.empty());
    EXPECT_EQ(q.GetField(0, FormatIndex), "1");
}

TEST(TaskQueue, AppendsFromTwoThreadsLoseNothing) {
    TaskQueue q;
    auto add = [&q](const std::string& prefix) {
        for (int i = 0; i < 500; ++i) {
            q.AppendNew(prefix + std::to_string(i) + ".ass", TaskControls{});
        }
    };
    std::thread a(add, "/a");
    std::thread b(add, "/b");
    a.join();
    b.join();
    EXPECT_EQ(q.Count(), 1000u);
}
