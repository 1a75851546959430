// The program killed with SIGKILL at random moments while it rewrites config.xml or
// a BDN XML file, many times over: afterwards each file is one complete version,
// the old or a new one, never a mix or a cut-off file.
#include "support/TempDir.h"

#include "bdn/BlackEvents.h"
#include "settings/ConfigStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace pelldrin;
using namespace pelldrin::test;

namespace {

constexpr int kTrials = 100;
// Kills fall within this much of the writer's start; most of a write is spent
// waiting for the disk, so most kills land inside one.
constexpr std::chrono::microseconds kMaxWindow{30000};

// Runs `writer` in a child process, kills it after a random pause of up to `window`
// and waits for it. The child never returns to the test.
template <class Writer>
void KillWhileWriting(Writer&& writer, std::chrono::microseconds window, std::mt19937& random) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            writer();
        } catch (...) {
            std::_Exit(3); // the writer failed; the parent sees an exit instead of a kill
        }
        for (;;) {
            ::pause();
        }
    }
    std::uniform_int_distribution<long> pause(0, std::min(window, kMaxWindow).count());
    std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed";
}

// Removes what a killed writer left beside the target; returns how many there were.
int RemoveLeftovers(const std::string& folder, const std::set<std::string>& keep) {
    int removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!keep.count(entry.path().filename().string())) {
            std::filesystem::remove(entry.path());
            ++removed;
        }
    }
    return removed;
}

std::string BdnWithEvents(int count) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BDN Version=\"0.93\" "
                      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xsi:noNamespaceSchemaLocation=\"BD-03-006-0093b BDN File Format.xsd\">\n"
                      "<Description><Name Title=\"kill\" Content=\"\"/><Language Code=\"zho\"/>"
                      "<Format VideoFormat=\"1080p\" FrameRate=\"25\" DropFrame=\"false\"/>"
                      "<Events LastEventOutTC=\"01:00:00:00\" FirstEventInTC=\"00:00:01:00\" "
                      "ContentInTC=\"00:00:00:00\" ContentOutTC=\"01:00:01:00\" NumberofEvents=\"" +
                      std::to_string(count) + "\" Type=\"Graphic\"/></Description>\n<Events>\n";
    for (int i = 0; i < count; ++i) {
        xml += "<Event Forced=\"False\" InTC=\"00:00:01:00\" OutTC=\"00:00:02:00\"><Graphic "
               "Width=\"300\" Height=\"40\" X=\"810\" Y=\"1000\">img_" +
               std::to_string(i) + ".png</Graphic></Event>\n";
    }
    return xml + "</Events>\n</BDN>\n";
}

} // namespace

TEST(KillDuringWrite, ConfigIsAlwaysOneWholeVersion) {
    TempDir dir;
    const std::string path = dir.File("config.xml");
    const std::string original =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Pelldrin settings -->\n<Pelldrin>\n"
        "  <Path Output=\"output\" Avs2bdnxml=\"/pelldrin-render\" VSFilter=\"/v\" />\n"
        "  <Config DefLang=\"English\" ProcessPriority=\"0\" CloseTrayicon=\"1\" />\n</Pelldrin>\n";
    // Values of different lengths, so a mix of two versions cannot look like one.
    std::vector<std::string> values;
    for (int i = 0; i < 8; ++i) {
        values.push_back("/home/user/" + std::string(20000 * (i + 1), static_cast<char>('a' + i)));
    }
    std::set<std::string> versions = {original};
    for (const std::string& value : values) {
        WriteFile(path, original);
        ASSERT_TRUE(WriteConfigValue(path, "Path", "Output", value));
        versions.insert(ReadFile(path));
    }

    // Time one write, so the kills fall anywhere in a run of them.
    WriteFile(path, original);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& value : values) {
        WriteConfigValue(path, "Path", "Output", value);
    }
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);

    std::mt19937 random(12345);
    int leftovers = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        WriteFile(path, original);
        KillWhileWriting(
            [&] {
                for (std::size_t i = 0;; ++i) {
                    WriteConfigValue(path, "Path", "Output", values[i % values.size()]);
                }
            },
            window, random);
        ASSERT_TRUE(versions.count(ReadFile(path)))
            << "trial " << trial << ": config.xml is no whole version (" << ReadFile(path).size()
            << " bytes)";
        ASSERT_NO_THROW(ReadConfigValue(path, "Config", "DefLang"));
        leftovers += RemoveLeftovers(dir.Path(), {"config.xml"});
    }
    std::cout << "[ note ] " << kTrials << " kills, " << leftovers
              << " of them during a write (a temporary file was left)\n";
    EXPECT_GT(leftovers, 0) << "no kill fell inside a write; the test proved nothing";
}

TEST(KillDuringWrite, BdnFileIsAlwaysOneWholeVersion) {
    TempDir dir;
    const std::string path = dir.File("task.xml");
    const std::string image = dir.File("0.png");
    const std::string original = BdnWithEvents(400);
    constexpr int kSteps = 12;
    // The first AddBlackEvents adds two events, each later one an end event (the first
    // blank one finds no room left); every version differs from the one before.
    std::vector<std::string> versions = {original};
    WriteFile(path, original);
    const auto start = std::chrono::steady_clock::now();
    for (int k = 1; k <= kSteps; ++k) {
        AddBlackEvents(path, 3);
        versions.push_back(ReadFile(path));
    }
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const std::string blank(BlankEventImage());
    ASSERT_EQ(ReadFile(image), blank);

    std::mt19937 random(54321);
    int leftovers = 0;
    std::set<int> seen;
    for (int trial = 0; trial < kTrials; ++trial) {
        std::filesystem::remove(image);
        WriteFile(path, original);
        KillWhileWriting(
            [&] {
                for (int k = 0; k < kSteps; ++k) {
                    AddBlackEvents(path, 3);
                }
            },
            window, random);
        const std::string now = ReadFile(path);
        const auto it = std::find(versions.begin(), versions.end(), now);
        ASSERT_NE(it, versions.end()) << "trial " << trial << ": the BDN file is no whole version ("
                                      << now.size() << " bytes)";
        seen.insert(static_cast<int>(it - versions.begin()));
        // The image is there whole once any events were added, or not at all.
        if (std::filesystem::exists(image)) {
            ASSERT_EQ(ReadFile(image), blank) << "trial " << trial;
        } else {
            ASSERT_EQ(it, versions.begin()) << "trial " << trial << ": events without their image";
        }
        leftovers += RemoveLeftovers(dir.Path(), {"task.xml", "0.png"});
    }
    std::cout << "[ note ] " << kTrials << " kills, " << leftovers << " of them during a write; "
              << seen.size() << " different versions found\n";
    EXPECT_GT(leftovers, 0) << "no kill fell inside a write; the test proved nothing";
    EXPECT_GT(seen.size(), 1u); // kills fell before and after some whole writes
}
