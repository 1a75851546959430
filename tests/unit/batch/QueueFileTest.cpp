// The queue file: rows kept across a restart, a broken file set aside, older and newer
// files read.
#include "batch/QueueFile.h"

#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelldrin;

TEST(QueueFile, EveryRowComesBackAsItWasKept) {
    test::TempDir dir;
    const std::string path = dir.File("queue.xml");
    TaskQueue q;
    q.AppendNew("/s/running_中文.ass", TaskControls{});
    q.AppendNew("/s/failed.srt", TaskControls{});
    q.AppendNew("/s/warned <&\">.srt", TaskControls{});
    q.AppendNew("/s/plain.ass", TaskControls{});
    q.SetField(3, CommandTemplate, "%0:s -v %2:s \"quoted\"");
    q.SetField(3, StyleFile, "big.style");
    q.MarkRunning(0);
    q.MarkFailed(1, "exit status 4: line\nbroken");
    q.MarkConverted(2, {"Warning: one", "Warning: two <b>"}, "/out/warned (2)");
    SaveQueueFile(path, q.Snapshot());

    const QueueFileRead read = LoadQueueFile(path);
    ASSERT_TRUE(read.error.empty()) << read.error;
    const auto before = q.Snapshot();
    ASSERT_EQ(read.rows.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(read.rows[i].path, before[i].path);
        EXPECT_EQ(read.rows[i].taskLine, before[i].taskLine);
        EXPECT_EQ(read.rows[i].failureReason, before[i].failureReason);
        EXPECT_EQ(read.rows[i].warnings, before[i].warnings);
        EXPECT_EQ(read.rows[i].folder, before[i].folder);
    }
    // The one that was running ended with the program that ran it.
    EXPECT_EQ(read.rows[0].state, TaskState::Stopped);
    EXPECT_EQ(read.rows[1].state, TaskState::Failed);
    EXPECT_EQ(read.rows[2].state, TaskState::Converted);
    EXPECT_EQ(read.rows[3].state, TaskState::Queued);
    EXPECT_TRUE(LoadQueueFile(dir.File("none.xml")).rows.empty());
}

TEST(QueueFile, MissingSettingsTakeDefaultsAndUnknownAttributesAreIgnored) {
    test::TempDir dir;
    const std::string path = dir.File("queue.xml");
    test::WriteFile(path, "<PelldrinQueue Version=\"9\">"
                          "<Task Path=\"/s/a_x.ass\" Rate=\"2\" Colour=\"HDR10\" State=\"odd\">"
                          "<Track Number=\"3\"/></Task>"
                          "<Task Path=\"/s/b.srt\" State=\"converted\"/></PelldrinQueue>");
    const QueueFileRead read = LoadQueueFile(path);
    ASSERT_TRUE(read.error.empty()) << read.error;
    ASSERT_EQ(read.rows.size(), 2u);
    TaskControls defaults;
    defaults.rateIndex = 2;
    EXPECT_EQ(read.rows[0].taskLine, BuildTaskLine("/s/a_x.ass", defaults));
    EXPECT_EQ(read.rows[0].state, TaskState::Queued);
    // Converted with no warnings to read: it waits to be converted again.
    EXPECT_EQ(read.rows[1].state, TaskState::Queued);
}

TEST(QueueFile, AnUnreadableFileIsSetAsideNeverOverwritten) {
    test::TempDir dir;
    const std::string path = dir.File("queue.xml");
    for (const std::string broken :
         {"<PelldrinQueue><Task Path=\"/a.ass\"", "<Other/>",
          "<PelldrinQueue><Task Path=\"/a.ass\" Command=\"a|b\"/></PelldrinQueue>"}) {
        test::WriteFile(path, broken);
        const QueueFileRead read = LoadQueueFile(path);
        EXPECT_TRUE(read.rows.empty());
        EXPECT_NE(read.error.find(path), std::string::npos);
        ASSERT_FALSE(read.setAsidePath.empty());
        EXPECT_EQ(test::ReadFile(read.setAsidePath), broken);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // Each kept under a name of its own.
    EXPECT_TRUE(FileExists(dir.File("queue-unreadable.xml")));
    EXPECT_TRUE(FileExists(dir.File("queue-unreadable-3.xml")));
}
