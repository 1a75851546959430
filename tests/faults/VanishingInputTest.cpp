// Files that change under a queued or running task: a subtitle removed, made
// unreadable or replaced between the drop and the start, and the output folder
// removed or replaced while a run goes on. The task fails with a reason that names
// the file; the run goes on.
#include "FaultSupport.h"

#include "base/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelldrin;
using namespace pelldrin::test;
using namespace std::chrono_literals;

TEST(VanishingInput, SubtitlesGoneOrUnreadableAtTheStartFailOnlyTheirTasks) {
    FaultBatch b;
    b.AddTask("good");
    const auto removed = b.AddTask("removed");
    const auto folder = b.AddTask("folder");
    const auto dangling = b.AddTask("dangling");
    const auto loop = b.AddTask("loop");
    const auto locked = b.AddTask("locked");
    b.AddTask("alsogood");

    namespace fs = std::filesystem;
    fs::remove(b.dir.File("subs/removed.ass"));
    fs::remove(b.dir.File("subs/folder.ass"));
    fs::create_directory(b.dir.File("subs/folder.ass"));
    fs::remove(b.dir.File("subs/dangling.ass"));
    fs::create_symlink(b.dir.File("subs/nowhere.ass"), b.dir.File("subs/dangling.ass"));
    fs::remove(b.dir.File("subs/loop.ass"));
    fs::create_symlink(b.dir.File("subs/loop.ass"), b.dir.File("subs/loop.ass"));
    ::chmod(b.dir.File("subs/locked.ass").c_str(), 0);
    const bool lockedIsReadable = ::access(b.dir.File("subs/locked.ass").c_str(), R_OK) == 0;

    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    ::chmod(b.dir.File("subs/locked.ass").c_str(), 0644);

    EXPECT_EQ(b.host.finished.size(), lockedIsReadable ? 3u : 2u);
    const std::vector<std::pair<std::uint64_t, std::string>> expected = {{removed, "removed.ass"},
                                                                         {folder, "folder.ass"},
                                                                         {dangling, "dangling.ass"},
                                                                         {loop, "loop.ass"}};
    for (const auto& [id, name] : expected) {
        const std::string reason = b.host.ReasonFor(id);
        EXPECT_NE(reason.find(name), std::string::npos) << name << ": " << reason;
    }
    if (lockedIsReadable) {
        // Running as root: permissions do not keep this process out.
        std::cout << "[ note ] running as root, so a file without permissions stays readable\n";
    } else {
        EXPECT_NE(b.host.ReasonFor(locked).find("locked.ass"), std::string::npos);
    }
    EXPECT_TRUE(FileExists(b.XmlOf("good")));
    EXPECT_TRUE(FileExists(b.XmlOf("alsogood")));
}

TEST(VanishingInput, ASubtitleReplacedByAPipeDoesNotHangTheRun) {
    FaultBatch b;
    const auto piped = b.AddTask("piped");
    b.AddTask("after");
    const std::string path = b.dir.File("subs/piped.ass");
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);

    TBatchRun run(b.queue, b.host);
    ASSERT_EQ(run.Start(b.inputs), TBatchRun::StartResult::Started);
    const bool ended = b.host.WaitForIdle(1, 20s);
    if (!ended) {
        // Opening the other end lets a reader stuck in open() go, so the test can end.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
        b.host.WaitForIdle(1, 20s);
    }
    ASSERT_TRUE(ended) << "the run waited for a writer on the pipe";
    EXPECT_NE(b.host.ReasonFor(piped).find("piped.ass"), std::string::npos)
        << b.host.ReasonFor(piped);
    EXPECT_EQ(b.queue.Count(), 1u);
}

TEST(VanishingInput, AnOutputFolderRemovedDuringARunFailsTheRunningTaskOnly) {
    FaultBatch b;
    const std::string gate = b.dir.File("gate");
    const auto running = b.AddTask("running", WaitForGate(gate));
    b.AddTask("next");
    const TreeSnapshot outside = SnapshotTree(b.dir.File("subs"));
    // Once the converter runs, its output folder goes; then it may write.
    b.host.onProgress = [&](std::uint64_t id, int position, int maximum) {
        if (id == running && position == 0 && maximum == kStandInProgressMaximum) {
            std::filesystem::remove_all(b.dir.File("out"));
            WriteFile(gate, "");
        }
    };
    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    ASSERT_EQ(b.queue.Count(), 1u);
    EXPECT_EQ(b.queue.Get(0)->id, running);
    EXPECT_FALSE(b.queue.Get(0)->failureReason.empty());
    // The next task makes the output folder again.
    EXPECT_TRUE(FileExists(b.XmlOf("next")));
    EXPECT_EQ(SnapshotTree(b.dir.File("subs")), outside);
}

TEST(VanishingInput, AnOutputFolderReplacedByAFileFailsTheTasksAndKeepsTheFile) {
    FaultBatch b;
    const auto first = b.AddTask("first");
    const auto second = b.AddTask("second");
    const auto third = b.AddTask("third");
    b.host.onFinished = [&](std::uint64_t id) {
        if (id == first) {
            std::filesystem::remove_all(b.dir.File("out"));
            WriteFile(b.dir.File("out"), "someone's file");
        }
    };
    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    EXPECT_EQ(ReadFile(b.dir.File("out")), "someone's file");
    ASSERT_EQ(b.queue.Count(), 2u);
    for (const auto id : {second, third}) {
        EXPECT_NE(b.host.ReasonFor(id).find("out"), std::string::npos) << b.host.ReasonFor(id);
    }
}
