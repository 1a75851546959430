#include "batch/BatchWorker.h"
#include "base/FileSystem.h"
#include "support/BatchTasks.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

using namespace pelldrin;
using namespace std::chrono_literals;

namespace {

using test::RecordingHost;

int CountEvents(const std::string& xmlPath) {
    pugi::xml_document doc;
    if (!doc.load_file(xmlPath.c_str())) {
        return -1;
    }
    int n = 0;
    for ([[maybe_unused]] auto e : doc.child("BDN").child("Events").children("Event")) {
        ++n;
    }
    return n;
}

struct BatchFixture : ::testing::Test {
    test::TempDir dir;
    TaskQueue queue;
    RecordingHost host;
    RunInputs inputs;

    BatchFixture() {
        inputs.currentFolder = "";
        inputs.converterPath = STANDIN_CONVERTER;
        inputs.pluginPath = "/plugin";
        inputs.outputFolder = dir.File("out") + "/";
    }

    // Queues a subtitle file whose task runs the stand-in converter with `behave`.
    std::uint64_t AddTask(const std::string& name, const std::string& behave = "ok",
                          bool firstBlack = false, bool endBlack = false) {
        return test::QueueConverterTask(queue, dir.File(name + ".ass"), behave, firstBlack,
                                        endBlack);
    }

    std::string XmlOf(const std::string& name) const { return test::TaskXmlPath(dir, name); }
};

} // namespace

TEST(BatchHelpers, ModesAndPaths) {
    EXPECT_EQ(BlackEventMode("0", "0"), 0);
    EXPECT_EQ(BlackEventMode("1", "0"), 1);
    EXPECT_EQ(BlackEventMode("0", "1"), 2);
    EXPECT_EQ(BlackEventMode("1", "1"), 3);
    EXPECT_EQ(BlackEventMode("2", "true"), 0); // only "1" is set
    EXPECT_EQ(BdnXmlPathFor("/out/ep.01/ep.01.avs"),
              "/out/ep.01" + std::string(1, kPathSeparator) + "ep.01.xml");
}

TEST(BatchHelpers, ToolPathsComeFromTheConfiguration) {
    test::TempDir dir;
    const std::string config = dir.File("config.xml");
    std::string reason;
    EXPECT_FALSE(ReadToolPaths(config, reason));
    EXPECT_NE(reason.find("config.xml"), std::string::npos);
    test::WriteFile(config, "<c><Path Avs2bdnxml=\"/conv\"/></c>");
    EXPECT_FALSE(ReadToolPaths(config, reason));
    EXPECT_NE(reason.find("VSFilter"), std::string::npos);
    test::WriteFile(config, "<c><Path Avs2bdnxml=\"/conv\" VSFilter=\"\"/></c>");
    const auto paths = ReadToolPaths(config, reason);
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->converterPath, "/conv");
    EXPECT_EQ(paths->pluginPath, "");
}

TEST_F(BatchFixture, StartWithAnEmptyQueueChangesNothing) {
    TBatchRun run(queue, host);
    EXPECT_EQ(run.Start(inputs), TBatchRun::StartResult::EmptyQueue);
    EXPECT_FALSE(run.BatchRunning());
    EXPECT_TRUE(host.states.empty());
    EXPECT_FALSE(run.Tick().has_value());
}

TEST_F(BatchFixture, ThreeTasksEndToEndWithEveryBlankEventMode) {
    AddTask("none", "ok", false, false);
    AddTask("first", "ok", true, false);
    AddTask("end", "ok", false, true);
    AddTask("both", "ok", true, true);
    TBatchRun run(queue, host);
    ASSERT_EQ(run.Start(inputs), TBatchRun::StartResult::Started);
    EXPECT_TRUE(run.BatchRunning());
    ASSERT_TRUE(host.WaitForIdle());
    EXPECT_FALSE(run.BatchRunning());

    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(host.totals,
              (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {4, 4}}));
    EXPECT_EQ(host.states, (std::vector<bool>{true, false}));
    EXPECT_EQ(host.lastCurrent, std::make_pair(200, 200)); // the converter's last progress line
    EXPECT_TRUE(host.failed.empty());
    EXPECT_EQ(CountEvents(XmlOf("none")), 3);
    EXPECT_FALSE(FileExists(dir.File("out/none/0.png")));
    EXPECT_EQ(CountEvents(XmlOf("first")), 4);
    EXPECT_EQ(CountEvents(XmlOf("end")), 4);
    EXPECT_EQ(CountEvents(XmlOf("both")), 5);
    EXPECT_TRUE(FileExists(dir.File("out/both/0.png")));
    EXPECT_EQ(run.CurrentTaskFolder(), dir.File("out/both"));

    const auto notice = run.Tick();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->elapsedTicks, 1);
    EXPECT_EQ(notice->failedTasks, 0);
    EXPECT_FALSE(notice->stopped);
    EXPECT_FALSE(run.Tick()); // the notice comes once
}

TEST_F(BatchFixture, TicksCountWhileTheRunGoesOn) {
    AddTask("slow", "slow:400");
    TBatchRun run(queue, host);
    run.Start(inputs);
    EXPECT_FALSE(run.Tick()); // still running
    EXPECT_FALSE(run.Tick());
    ASSERT_TRUE(host.WaitForIdle());
    const auto notice = run.Tick();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->elapsedTicks, 3);
}

TEST_F(BatchFixture, FilesAddedDuringTheRunAreConvertedInTheSameRun) {
    AddTask("a", "slow:300");
    TBatchRun run(queue, host);
    bool added = false;
    host.onStarted = [&](std::uint64_t) {
        if (!added) {
            added = true;
            AddTask("late");
        }
    };
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(host.finished.size(), 2u);
    EXPECT_EQ(CountEvents(XmlOf("late")), 3);
    // The maximum keeps the count taken at the start; the bar stays full.
    EXPECT_EQ(host.totals.back(), std::make_pair(1, 1));
    for (const auto& [position, maximum] : host.totals) {
        EXPECT_LE(position, maximum);
    }
}

TEST_F(BatchFixture, StopDuringTheSecondTaskKeepsItAndAllAfterIt) {
    AddTask("one");
    const auto second = AddTask("two", "hang");
    const auto third = AddTask("three");
    TBatchRun run(queue, host);
    // The stop comes once the second converter is running: it has printed progress.
    host.onProgress = [&](std::uint64_t id, int, int maximum) {
        if (id == second && maximum == test::kStandInProgressMaximum) {
            run.RequestStop();
        }
    };
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    ASSERT_EQ(queue.Count(), 2u);
    EXPECT_EQ(queue.Get(0)->id, second);
    EXPECT_EQ(queue.Get(1)->id, third);
    EXPECT_EQ(queue.Get(0)->state, TaskState::Stopped);
    EXPECT_EQ(host.totals.back(), std::make_pair(0, 3));
    EXPECT_EQ(host.lastCurrent.first, 0);
    const auto notice = run.Tick(); // the notice follows a stop too, and says so
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->stopped);

    // A new start converts the stopped task from the beginning.
    host.onProgress = nullptr;
    queue.SetField(0, CommandTemplate, "%0:s -t %1:s");
    const auto startsBefore = host.started.size();
    ASSERT_EQ(run.Start(inputs), TBatchRun::StartResult::Started);
    EXPECT_FALSE(run.StopRequested());
    ASSERT_TRUE(host.WaitForIdle(2));
    EXPECT_EQ(host.started[startsBefore], second);
    EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(BatchFixture, StopBetweenTwoTasksStopsTheNextRightAfterItStarts) {
    const auto first = AddTask("one");
    // Its converter waits for a gate that never opens: only the stop can end this run.
    const auto second = AddTask("two", test::WaitForGate(dir.File("never")));
    TBatchRun run(queue, host);
    host.onFinished = [&](std::uint64_t id) {
        if (id == first) {
            run.RequestStop();
        }
    };
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle(1, 20s));
    EXPECT_EQ(host.started, (std::vector<std::uint64_t>{first, second}));
    ASSERT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.Get(0)->id, second);
    EXPECT_EQ(queue.Get(0)->state, TaskState::Stopped);
    EXPECT_EQ(host.totals.back(), std::make_pair(0, 2));
    EXPECT_FALSE(FileExists(XmlOf("two")));
}

TEST_F(BatchFixture, StopAfterTheLastConverterEndedChangesNothing) {
    const auto only = AddTask("one");
    TBatchRun run(queue, host);
    host.onFinished = [&](std::uint64_t id) {
        if (id == only) {
            run.RequestStop();
        }
    };
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(host.totals.back(), std::make_pair(1, 1));
    AddTask("next");
    host.onFinished = nullptr;
    run.Start(inputs);
    EXPECT_FALSE(run.StopRequested()); // the next start clears the request
    ASSERT_TRUE(host.WaitForIdle(2));
    EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(BatchFixture, FailedTasksStayMarkedAndTheOthersComplete) {
    AddTask("good1");
    const auto bad = AddTask("bad", "exit:3");
    const auto crash = AddTask("crash", "crash");
    const auto noxml = AddTask("noxml", "noxml");
    const auto badxml = AddTask("badxml", "badxml", true, true);
    AddTask("good2");
    TBatchRun run(queue, host);
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());

    ASSERT_EQ(queue.Count(), 4u);
    const auto tasks = queue.Snapshot();
    EXPECT_EQ(tasks[0].id, bad);
    EXPECT_EQ(tasks[1].id, crash);
    EXPECT_EQ(tasks[2].id, noxml);
    EXPECT_EQ(tasks[3].id, badxml);
    for (const auto& t : tasks) {
        EXPECT_EQ(t.state, TaskState::Failed);
        EXPECT_FALSE(t.failureReason.empty());
    }
    EXPECT_NE(tasks[0].failureReason.find("exit status 3"), std::string::npos)
        << tasks[0].failureReason;
    EXPECT_NE(tasks[0].failureReason.find("failing on purpose"), std::string::npos)
        << tasks[0].failureReason;
#ifdef _WIN32
    // A crash ends a Windows program with the exception's code as its exit status.
    EXPECT_NE(tasks[1].failureReason.find("exit status -1073741819"), std::string::npos)
        << tasks[1].failureReason;
#else
    EXPECT_NE(tasks[1].failureReason.find("signal"), std::string::npos) << tasks[1].failureReason;
#endif
    EXPECT_NE(tasks[2].failureReason.find("no BDN XML"), std::string::npos);
    EXPECT_NE(tasks[3].failureReason.find("badxml.xml"), std::string::npos)
        << tasks[3].failureReason;
    EXPECT_EQ(host.failed.size(), 4u);
    EXPECT_EQ(host.totals.back(), std::make_pair(6, 6));
    const auto notice = run.Tick();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->failedTasks, 4);

    // A new start tries the failed tasks again; the fixed one completes.
    queue.SetField(0, CommandTemplate, "%0:s -t %1:s");
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle(2));
    EXPECT_EQ(queue.Count(), 3u);
    EXPECT_EQ(run.Tick()->failedTasks, 3);
}

TEST_F(BatchFixture, AMissingConverterFailsEachTaskWithAReason) {
    AddTask("a");
    AddTask("b");
    inputs.converterPath = dir.File("no-such-converter");
    TBatchRun run(queue, host);
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    ASSERT_EQ(queue.Count(), 2u);
    EXPECT_NE(queue.Get(0)->failureReason.find("doesn't exist."), std::string::npos)
        << queue.Get(0)->failureReason;
}

TEST_F(BatchFixture, ABuildFailureFailsOnlyThatTask) {
    AddTask("ok1");
    const auto gone = AddTask("gone");
    std::filesystem::remove(dir.File("gone.ass"));
    AddTask("ok2");
    TBatchRun run(queue, host);
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    ASSERT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.Get(0)->id, gone);
    EXPECT_NE(queue.Get(0)->failureReason.find("gone.ass"), std::string::npos);
}

TEST_F(BatchFixture, StopAndWaitEndsAHangingConverterWithinItsBound) {
    AddTask("stuck", "hang");
    bool converterRuns = false;
    std::mutex m;
    std::condition_variable cv;
    TBatchRun run(queue, host);
    host.onProgress = [&](std::uint64_t, int, int maximum) {
        if (maximum == test::kStandInProgressMaximum) {
            std::lock_guard lock(m);
            converterRuns = true;
            cv.notify_all();
        }
    };
    run.Start(inputs);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 30s, [&] { return converterRuns; }));
    }
    EXPECT_TRUE(run.StopAndWait(10s));
    EXPECT_FALSE(run.BatchRunning());
    EXPECT_EQ(queue.Count(), 1u);
}

namespace {

// Also keeps the warnings each task finished with.
struct WarningHost : RecordingHost {
    void TaskFinishedWithWarnings(std::uint64_t id,
                                  const std::vector<std::string>& warnings) override {
        {
            std::lock_guard lock(warnedMutex);
            warned[id] = warnings;
        }
        TaskFinished(id);
    }
    std::mutex warnedMutex;
    std::map<std::uint64_t, std::vector<std::string>> warned;
};

} // namespace

TEST_F(BatchFixture, SameNamedFilesGetFoldersOfTheirOwn) {
    CreateFolders(dir.File("season1"));
    CreateFolders(dir.File("season2"));
    AddTask("season1/ep01");
    AddTask("season2/ep01");
    TBatchRun run(queue, host);
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle());
    ASSERT_TRUE(host.failed.empty());
    EXPECT_EQ(CountEvents(dir.File("out/ep01/ep01.xml")), 3);
    EXPECT_EQ(CountEvents(dir.File("out/ep01 (2)/ep01.xml")), 3);
    EXPECT_NE(test::ReadFile(dir.File("out/ep01 (2)/ep01.avs")).find("season2"), std::string::npos);

    // Converting a file again uses its own folder from the earlier run; what a killed run
    // left there (pictures, a .sup, no XML) is gone, the user's own files stay.
    const std::string own = dir.File("out/ep01 (2)/");
    std::filesystem::remove(own + "ep01.xml");
    for (const char* left :
         {"ep01_00042.png", "ep01_00043_2.png", "ep01.sup", "ep01_cover.png", "notes.txt"}) {
        test::WriteFile(own + left, "left");
    }
    AddTask("season2/ep01");
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle(2));
    EXPECT_EQ(run.CurrentTaskFolder(), dir.File("out/ep01 (2)"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/ep01 (3)")));
    EXPECT_EQ(CountEvents(own + "ep01.xml"), 3);
    EXPECT_FALSE(FileExists(own + "ep01_00042.png"));
    EXPECT_FALSE(FileExists(own + "ep01_00043_2.png"));
    EXPECT_FALSE(FileExists(own + "ep01.sup"));
    EXPECT_TRUE(FileExists(own + "ep01_cover.png"));
    EXPECT_TRUE(FileExists(own + "notes.txt"));
}

TEST(WarningLines, OnlyALineBeyondTheLimitIsCut) {
    const std::string endless = "Warning: " + std::string(kMaxWarningLength * 2, 'y');
    const auto lines = WarningLines({endless, "not a warning"});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], endless.substr(0, kMaxWarningLength) + "...");
}

TEST_F(BatchFixture, WarningLinesAreKeptPerTaskAndCounted) {
    WarningHost warnHost;
    const auto clean = AddTask("clean");
    const auto noisy = AddTask("noisy", "ok --warn=25");
    TBatchRun run(queue, warnHost);
    run.Start(inputs);
    ASSERT_TRUE(warnHost.WaitForIdle());
    // The noisy one stays, marked converted with its warnings and folder; a new start
    // does not convert it again.
    ASSERT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.PendingCount(), 0u);
    EXPECT_EQ(queue.Get(0)->state, TaskState::Converted);
    EXPECT_EQ(queue.Get(0)->folder, dir.File("out/noisy"));
    EXPECT_EQ(queue.Get(0)->warnings, warnHost.warned[noisy]);
    EXPECT_EQ(run.Start(inputs), TBatchRun::StartResult::EmptyQueue);
    EXPECT_EQ(warnHost.finished, (std::vector<std::uint64_t>{clean, noisy}));
    ASSERT_EQ(warnHost.warned.size(), 1u);
    const auto& lines = warnHost.warned[noisy];
    ASSERT_EQ(lines.size(), kMaxTaskWarnings + 1);
    EXPECT_EQ(lines[0], "Warning: line 1 " + std::string(400, 'x')); // kept whole
    EXPECT_EQ(lines[18].rfind("Warning: line 19", 0), 0u);
    EXPECT_EQ(lines[19], "... and 5 more warning line(s)");
    EXPECT_EQ(lines[20].rfind("Warning: line 25", 0), 0u); // the run's summary comes last
    const auto notice = run.Tick();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->warnedTasks, 1);
    EXPECT_EQ(notice->failedTasks, 0);
}

TEST_F(BatchFixture, ATaskOverTheTimeLimitIsStoppedAndFails) {
    test::WriteFile(dir.File("config.xml"), "<c><Config TaskTimeLimit=\"abc\"/></c>");
    EXPECT_EQ(ReadTaskTimeLimit(dir.File("config.xml")), kDefaultTaskTimeLimit);
    test::WriteFile(dir.File("config.xml"), "<c><Config TaskTimeLimit=\" 1 \"/></c>");
    inputs.taskTimeLimit = ReadTaskTimeLimit(dir.File("config.xml"));
    ASSERT_EQ(inputs.taskTimeLimit, 1);
    const auto stuck = AddTask("stuck", "hang");
    AddTask("after");
    TBatchRun run(queue, host);
    run.Start(inputs);
    ASSERT_TRUE(host.WaitForIdle(1, std::chrono::seconds(20)));
    EXPECT_NE(host.ReasonFor(stuck).find("time limit of 1 seconds"), std::string::npos);
    EXPECT_EQ(CountEvents(XmlOf("after")), 3);
}

TEST_F(BatchFixture, AStoppedTaskLeavesNoTemporaryFiles) {
    AddTask("stopped", "hang");
    TBatchRun run(queue, host);
    run.Start(inputs);
    const std::string leftover = dir.File("out/stopped/stopped.xml.tmp4242_1");
    const std::string own = dir.File("out/stopped/notes.tmp");
    for (int i = 0; i < 100 && !FileExists(dir.File("out/stopped/stopped.avs")); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    test::WriteFile(leftover, "half");
    test::WriteFile(own, "mine");
    run.RequestStop();
    ASSERT_TRUE(host.WaitForIdle());
    EXPECT_FALSE(FileExists(leftover));
    EXPECT_TRUE(FileExists(own));
}
