// The converter failing in every way a real one does: each such task fails with a
// reason, the run goes on to the next, and no file outside the task's own folder
// changes.
#include "FaultSupport.h"

#include "base/FileSystem.h"
#include "bdn/SubFile.h"

#include <csignal>
#include <fstream>
#include <thread>

using namespace pelldrin;
using namespace pelldrin::test;
using namespace std::chrono_literals;

namespace {

int EventCount(const std::string& xmlPath) {
    TBDNFile file;
    LoadBDNFile(xmlPath, file);
    return file.Info.NumberofEvents;
}

} // namespace

TEST(ConverterFaults, EachFailureFailsOnlyItsTaskAndTouchesNothingElse) {
    FaultBatch b;
    struct Case {
        const char* behave;
        const char* reasonPart; // what the reason must say
    };
    const std::vector<Case> cases = {
        {"crash", "signal 9"},
        {"segv", "signal 11"},
        {"abort", "signal 6"},
        {"killmid", "signal 9"},
        {"exit:2", "exit status 2"},
        {"truncated", "not well-formed"},
        {"bad:count", "NumberofEvents"},
        {"bad:hugecount", "NumberofEvents"},
        {"bad:timecode", "LastEventOutTC"},
        {"bad:rate", "FrameRate"},
        {"bad:root", "BDN"},
        {"bad:order", "Events"},
        {"bad:graphic", "image"},
        {"bad:binary", "BDN file"},
        {"noxml", "no BDN XML"},
        {"garbagefail", "exit status 1"},
    };
    b.AddTask("first");
    std::vector<std::uint64_t> ids;
    for (const Case& c : cases) {
        std::string name = std::string("task_") + c.behave;
        std::replace(name.begin(), name.end(), ':', '_');
        ids.push_back(b.AddTask(name, c.behave));
    }
    b.AddTask("last");
    const TreeSnapshot before = SnapshotTree(b.dir.Path());

    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));

    // The good tasks on both sides are done; every faulty one stays, failed, with why.
    EXPECT_EQ(b.host.finished.size(), 2u);
    EXPECT_EQ(EventCount(b.XmlOf("first")), 5);
    EXPECT_EQ(EventCount(b.XmlOf("last")), 5);
    ASSERT_EQ(b.queue.Count(), cases.size());
    std::vector<std::string> allowed = {"out/first", "out/last"};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto task = b.queue.Get(i);
        ASSERT_TRUE(task);
        EXPECT_EQ(task->id, ids[i]);
        EXPECT_EQ(task->state, TaskState::Failed) << cases[i].behave;
        EXPECT_NE(task->failureReason.find(cases[i].reasonPart), std::string::npos)
            << cases[i].behave << ": " << task->failureReason;
        EXPECT_EQ(b.host.ReasonFor(ids[i]), task->failureReason);

        // What the converter wrote is left exactly as it wrote it, with no blank image.
        std::string name = std::string("task_") + cases[i].behave;
        std::replace(name.begin(), name.end(), ':', '_');
        allowed.push_back("out/" + name);
        const std::string xml = b.XmlOf(name);
        if (FileExists(xml + ".wrote")) {
            EXPECT_EQ(ReadFile(xml), ReadFile(xml + ".wrote")) << cases[i].behave;
        }
        EXPECT_FALSE(FileExists(b.dir.File("out/" + name + "/0.png"))) << cases[i].behave;
    }
    EXPECT_EQ(run.Tick()->failedTasks, static_cast<int>(cases.size()));
    // A converter that printed a megabyte in one line does not make the reason that long.
    EXPECT_LT(b.host.ReasonFor(ids.back()).size(), 1000u);
    ExpectUntouchedExcept(before, SnapshotTree(b.dir.Path()), allowed);
}

TEST(ConverterFaults, AFaultyFileFailsItsTaskAlsoWhenNoBlankEventIsAdded) {
    FaultBatch b;
    const auto truncated = b.AddTask("truncated", "truncated", false, false);
    const auto binary = b.AddTask("binary", "bad:binary", false, false);
    const auto count = b.AddTask("count", "bad:count", false, false);
    const auto plain = b.AddTask("plain", "ok", false, false);
    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    EXPECT_EQ(b.host.finished, (std::vector<std::uint64_t>{plain}));
    for (const auto id : {truncated, binary, count}) {
        EXPECT_NE(b.host.ReasonFor(id).find("BDN file"), std::string::npos) << b.host.ReasonFor(id);
    }
    // Left as the converter wrote it, and the good one too: nothing to add without the flags.
    EXPECT_EQ(ReadFile(b.XmlOf("truncated")), ReadFile(b.XmlOf("truncated") + ".wrote"));
    EXPECT_EQ(ReadFile(b.XmlOf("plain")), ReadFile(b.XmlOf("plain") + ".wrote"));
}

TEST(ConverterFaults, GarbageOutputNeitherStopsTheRunNorSpoilsTheTask) {
    FaultBatch b;
    const auto noisy = b.AddTask("noisy", "garbage");
    b.AddTask("after");
    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    // The converter ended well and wrote a good file: the noise on its output is no failure.
    EXPECT_EQ(b.queue.Count(), 0u);
    EXPECT_EQ(b.host.finished, (std::vector<std::uint64_t>{noisy, noisy + 1}));
    EXPECT_EQ(EventCount(b.XmlOf("noisy")), 5);
    EXPECT_GT(b.host.currentCalls, 2);
}

TEST(ConverterFaults, AConverterKilledFromOutsideMidTaskFailsThatTask) {
    FaultBatch b;
    const auto victim = b.AddTask("victim", "waitkill");
    b.AddTask("next");
    const std::string pidFile = b.dir.File("out/victim/converter.pid");
    std::thread killer([&] {
        // The converter writes its pid once half its file is on the disk.
        for (int i = 0; i < 300 && ReadFile(pidFile).empty(); ++i) {
            std::this_thread::sleep_for(20ms);
        }
        const int pid = std::atoi(ReadFile(pidFile).c_str());
        if (pid > 0) {
            ::kill(pid, SIGKILL);
        }
    });
    TBatchRun run(b.queue, b.host);
    const bool ended = b.RunToEnd(run);
    killer.join();
    ASSERT_TRUE(ended);
    ASSERT_EQ(b.queue.Count(), 1u);
    EXPECT_EQ(b.queue.Get(0)->id, victim);
    EXPECT_NE(b.queue.Get(0)->failureReason.find("signal 9"), std::string::npos)
        << b.queue.Get(0)->failureReason;
    EXPECT_EQ(ReadFile(b.XmlOf("victim")), ReadFile(b.XmlOf("victim") + ".wrote"));
    EXPECT_EQ(EventCount(b.XmlOf("next")), 5);
}

TEST(ConverterFaults, AHangingConverterEndsWithTheStopAndItsTaskStaysQueued) {
    FaultBatch b;
    b.AddTask("done");
    const auto stuck = b.AddTask("stuck", "hang");
    const auto waiting = b.AddTask("waiting");
    TBatchRun run(b.queue, b.host);
    // The stop comes once the stuck converter is running: it has printed progress.
    b.host.onProgress = [&](std::uint64_t id, int, int maximum) {
        if (id == stuck && maximum == kStandInProgressMaximum) {
            run.RequestStop();
        }
    };
    const TreeSnapshot before = SnapshotTree(b.dir.Path());
    ASSERT_TRUE(b.RunToEnd(run));
    // A stop is no failure: the stopped task and the ones after it wait for the next start.
    ASSERT_EQ(b.queue.Count(), 2u);
    EXPECT_EQ(b.queue.Get(0)->id, stuck);
    EXPECT_EQ(b.queue.Get(0)->state, TaskState::Stopped);
    EXPECT_EQ(b.queue.Get(1)->id, waiting);
    EXPECT_TRUE(b.host.failed.empty());
    EXPECT_FALSE(FileExists(b.XmlOf("stuck")));
    ExpectUntouchedExcept(before, SnapshotTree(b.dir.Path()), {"out/done", "out/stuck"});
}

TEST(ConverterFaults, AProgramTheConverterLeavesBehindDoesNotHoldUpTheRun) {
    FaultBatch b;
    b.AddTask("parent", "orphan");
    b.AddTask("next");
    TBatchRun run(b.queue, b.host);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(b.RunToEnd(run));
    // The left-behind program keeps the output open for 20 seconds; the run must not
    // wait for it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(b.queue.Count(), 0u);
    EXPECT_EQ(EventCount(b.XmlOf("parent")), 5);
}
