#include "runner/DosCommand.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace pelldrin;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

#ifdef _WIN32
using TProcessId = DWORD;

// The helper lies beside this test program, wherever the tests run.
std::string HelperPath() {
    std::wstring own(32768, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    const std::string built = RUNNER_HELPER;
    return JoinPath(FolderOf(FromWide(own)), built.substr(built.find_last_of("/\\") + 1));
}

const std::string kHelper = HelperPath();
#else
using TProcessId = pid_t;

const std::string kHelper = RUNNER_HELPER;
#endif

std::string Helper(const std::string& args) {
    return "\"" + kHelper + "\" " + args;
}

template <typename Pred> bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Runs the command to its end; false when it never ends.
bool RunToEnd(TDosCommand& command) {
    command.Execute();
    return WaitUntil([&] { return !command.IsRunning(); });
}

// The process id a helper printed after "ready ", once it has printed it.
TProcessId WaitForReady(const TDosCommand& command) {
    TProcessId pid = 0;
    WaitUntil([&] {
        for (const std::string& line : command.Lines()) {
            if (line.rfind("ready ", 0) == 0) {
                pid = static_cast<TProcessId>(std::stol(line.substr(6)));
                return true;
            }
        }
        return false;
    });
    return pid;
}

#ifdef _WIN32
bool ProcessGone(TProcessId pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return true;
    }
    const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return gone;
}
#else
// Gone, or a zombie nobody has reaped yet: either way it no longer runs.
bool ProcessGone(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}
#endif

} // namespace

TEST(DosCommand, NotRunningBeforeExecuteAndRefusesAnEmptyCommandLine) {
    TDosCommand command;
    EXPECT_FALSE(command.IsRunning());
    command.Stop(); // nothing to stop
    try {
        command.Execute();
        FAIL() << "no exception";
    } catch (const EDosCommand& e) {
        EXPECT_STREQ(e.what(), "No Commandline to execute");
    }
    EXPECT_FALSE(command.IsRunning());
    EXPECT_TRUE(command.Lines().empty());
}

TEST(DosCommand, CutsOutputIntoLinesAndReportsThemInOrder) {
    // Pauses between the writes make each one a read of its own.
    TDosCommand command;
    Lines outputLines;
    Lines events;
    int terminated = 0;
    command.CommandLine =
        Helper(R"(write 150 "Progress: 1/10 - a: b\r" \n "Progress: 2/10 - a: b\r\nplain\nab" )"
               R"(cd\0e\n tail)");
    command.OutputLines = &outputLines;
    command.OnProgressLine = [&](const std::string& line) { events.push_back("progress|" + line); };
    command.OnNewLine = [&](TDosCommand& sender, const std::string& line, TOutputType type) {
        EXPECT_EQ(&sender, &command);
        events.push_back((type == otEntireLine ? "line|" : "begun|") + line);
    };
    command.OnTerminated = [&](TDosCommand& sender) {
        EXPECT_FALSE(sender.IsRunning());
        ++terminated;
    };
    ASSERT_TRUE(RunToEnd(command));

    const Lines expected{
        "Progress: 1/10 - a: b", "", "Progress: 2/10 - a: b", "plain", "abcde", "tail"};
    EXPECT_EQ(command.Lines(), expected);
    EXPECT_EQ(outputLines, expected); // beginnings were replaced by their whole lines
    EXPECT_EQ(events,
              (Lines{"progress|Progress: 1/10 - a: b", "line|Progress: 1/10 - a: b", "line|",
                     "progress|Progress: 2/10 - a: b", "line|Progress: 2/10 - a: b", "line|plain",
                     "begun|ab", "line|abcde", "begun|tail", "line|tail"}));
    EXPECT_EQ(command.ExitCode(), 0);
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_TRUE(WaitUntil([&] { return terminated == 1; }));
}

TEST(DosCommand, StandardErrorSharesThePipeAndSilentProgramsGiveNoLines) {
    TDosCommand command;
    command.CommandLine = Helper("both");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.Lines(), (Lines{"out1", "err1", "out2"}));

    // A new run starts with an empty list; standard input reads as empty, never blocks.
    command.CommandLine = Helper("stdin");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.Lines(), (Lines{"read:0"}));

    command.CommandLine = Helper("write 0");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_TRUE(command.Lines().empty());
    EXPECT_EQ(command.ExitCode(), 0);
}

TEST(DosCommand, ArgumentsReachTheProgramExactly) {
    pelldrin::test::TempDir dir;
    // The program itself in a folder with a blank in its name.
    const std::string folder = dir.File("tool dir");
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/helper copy";
    std::filesystem::copy_file(kHelper, program);

    TDosCommand command;
    command.CommandLine = "\"" + program + "\" args \"a b\" \"q\\\"uote\" back\\\\slash " +
                          "\"trail\\\\\" \xE4\xB8\xAD\xE6\x96\x87 \"\" 'single'";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_EQ(command.Lines(), (Lines{"<a b>", "<q\"uote>", "<back\\\\slash>", "<trail\\>",
                                      "<\xE4\xB8\xAD\xE6\x96\x87>", "<>", "<'single'>"}));
}

TEST(DosCommand, WorkingFolderIsWhereTheProgramStarts) {
    pelldrin::test::TempDir dir;
    TDosCommand command;
    command.SetWorkingFolder(dir.Path());
    // A relative program path still counts from this process's folder.
    command.CommandLine =
        (std::filesystem::path(".") / std::filesystem::relative(kHelper)).string() + " cwd";
    ASSERT_TRUE(RunToEnd(command));
    ASSERT_EQ(command.Lines().size(), 1u) << command.ErrorText();
    EXPECT_EQ(std::filesystem::canonical(command.Lines()[0]),
              std::filesystem::canonical(dir.Path()));

    command.SetWorkingFolder("");
    command.CommandLine = Helper("cwd");
    ASSERT_TRUE(RunToEnd(command));
    ASSERT_EQ(command.Lines().size(), 1u);
    EXPECT_EQ(std::filesystem::canonical(command.Lines()[0]), std::filesystem::current_path());
}

TEST(DosCommand, ExitStatusIsKeptAndADeathBySignalIsReported) {
    TDosCommand command;
    command.CommandLine = Helper("exit 3");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ExitCode(), 3);
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_EQ(command.Lines(), (Lines{"exiting"}));

#ifdef _WIN32
    // 259 is what Windows reports for a program still running: the end is seen all the same.
    command.CommandLine = Helper("exit 259");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ExitCode(), 259);
#else
    command.CommandLine = Helper("killed");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ExitCode(), std::nullopt);
    EXPECT_EQ(command.ErrorText(), command.CommandLine + " was killed by signal 9.");
    EXPECT_EQ(command.Lines(), (Lines{"dying"}));
#endif
}

TEST(DosCommand, AFailedStartEndsTheRunWithItsReason) {
    pelldrin::test::TempDir dir;
    const auto check = [](const std::string& commandLine, const std::string& folder) {
        TDosCommand command;
        int terminated = 0;
        command.OnTerminated = [&](TDosCommand&) { ++terminated; };
        command.CommandLine = commandLine;
        command.SetWorkingFolder(folder);
        EXPECT_TRUE(RunToEnd(command)) << commandLine;
        EXPECT_TRUE(command.Lines().empty());
        EXPECT_EQ(command.ExitCode(), std::nullopt);
        EXPECT_EQ(terminated, 1);
        return command.ErrorText();
    };
    EXPECT_EQ(check("/no/such/converter -o x", ""), "/no/such/converter -o x doesn't exist.");
    EXPECT_EQ(check("pelldrin-no-such-program a", ""), "pelldrin-no-such-program a doesn't exist.");
    EXPECT_EQ(check("   ", ""), "    doesn't exist.");
    // A folder is no program: the system's reason, not "doesn't exist".
    const std::string notProgram = check(dir.Path() + " x", "");
    EXPECT_EQ(notProgram.rfind(dir.Path() + " x: cannot start", 0), 0u) << notProgram;
    const std::string badFolder = check(Helper("cwd"), dir.File("missing"));
    EXPECT_NE(badFolder.find("working folder " + dir.File("missing")), std::string::npos)
        << badFolder;
}

TEST(DosCommand, StopEndsTheProgramAndWhatItStarted) {
    pelldrin::test::TempDir dir;
    const std::string pidFile = dir.File("grandchild.pid");
    TDosCommand command;
    command.CommandLine = Helper("grandchild \"" + pidFile + "\"");
    command.Execute();
    const TProcessId child = WaitForReady(command);
    ASSERT_GT(child, TProcessId{0});
    const auto grandchild = static_cast<TProcessId>(std::stol(pelldrin::test::ReadFile(pidFile)));
    EXPECT_TRUE(command.IsRunning());
    command.Stop();
    EXPECT_FALSE(command.IsRunning());
    EXPECT_TRUE(ProcessGone(child));
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(grandchild); }, 5s));
    EXPECT_EQ(command.ErrorText(), ""); // asked for, so no failure
    command.Stop();                     // a second stop does nothing
}

TEST(DosCommand, StopAndDestructionEndAProgramThatIgnoresTerminate) {
    TDosCommand command;
    command.CommandLine = Helper("ignore-term");
    command.Execute();
    TProcessId pid = WaitForReady(command);
    ASSERT_GT(pid, TProcessId{0});
    command.Stop();
    EXPECT_TRUE(ProcessGone(pid));

    {
        TDosCommand scoped;
        scoped.CommandLine = Helper("ignore-term");
        scoped.Execute();
        pid = WaitForReady(scoped);
        ASSERT_GT(pid, TProcessId{0});
    }
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(DosCommand, ACallbackThatThrowsEndsTheRunAndTheProgram) {
    TDosCommand command;
    command.CommandLine = Helper("ignore-term");
    TProcessId pid = 0;
    bool terminated = false;
    command.OnNewLine = [&](TDosCommand&, const std::string& line, TOutputType) {
        pid = static_cast<TProcessId>(std::stol(line.substr(6)));
        throw std::runtime_error("callback failed");
    };
    command.OnTerminated = [&](TDosCommand&) { terminated = true; };
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), "callback failed");
    EXPECT_EQ(command.ExitCode(), std::nullopt);
    ASSERT_GT(pid, TProcessId{0});
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_TRUE(WaitUntil([&] { return terminated; }));
}

TEST(DosCommand, ExecuteWhileRunningIsRefused) {
    TDosCommand command;
    command.CommandLine = Helper("sleep 300");
    command.Execute();
    EXPECT_THROW(command.Execute(), EDosCommand);
    EXPECT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
    EXPECT_EQ(command.Lines(), (Lines{"woke"}));
}

TEST(DosCommand, TimeLimitsStopTheReadingButLeaveTheProgramRunning) {
    pelldrin::test::TempDir dir;
    const std::string marker = dir.File("done");
    TDosCommand command;
    command.MaxTimeAfterBeginning = 1;
    command.CommandLine = Helper("after 4000 \"" + marker + "\"");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3500ms);
    EXPECT_NE(command.ErrorText().find("ran longer than 1 seconds"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(marker); }, 10s));

    // Lines keep the other limit from running out.
    command.MaxTimeAfterBeginning = 0;
    command.MaxTimeAfterLastOutput = 1;
    command.CommandLine = Helper("write 600 a\\n b\\n c\\n d\\n");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.Lines(), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(command.ErrorText(), "");
    command.CommandLine = Helper("write 3500 a\\n b\\n");
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.Lines(), (Lines{"a"}));
    EXPECT_NE(command.ErrorText().find("printed no line for more than 1 seconds"),
              std::string::npos);
}

#ifndef _WIN32
TEST(DosCommand, PriorityEntriesSetTheNiceValue) {
    const int own = ::getpriority(PRIO_PROCESS, 0);
    const bool privileged = ::geteuid() == 0;
    const auto niceFor = [](int index, std::vector<std::string>& errors) {
        TDosCommand command;
        command.PriorityIndex = index;
        command.OnPriorityError = [&](const std::string& message) { errors.push_back(message); };
        command.CommandLine = Helper("nice");
        EXPECT_TRUE(RunToEnd(command));
        return command.Lines().empty() ? 999 : std::stoi(command.Lines()[0]);
    };
    std::vector<std::string> errors;
    EXPECT_EQ(niceFor(1, errors), 19);
    EXPECT_EQ(niceFor(4, errors), own);
    EXPECT_EQ(niceFor(-1, errors), own);
    EXPECT_TRUE(errors.empty());
    if (privileged) {
        EXPECT_EQ(niceFor(2, errors), -10);
        EXPECT_EQ(niceFor(3, errors), -20);
        EXPECT_TRUE(errors.empty());
    } else {
        EXPECT_EQ(niceFor(2, errors), own);
        EXPECT_EQ(errors, (std::vector<std::string>{"更改优先级错误"}));
    }
}

TEST(DosCommandDeathTest, ARefusedPriorityIsReportedAndTheRunGoesOn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "covered by PriorityEntriesSetTheNiceValue without privileges";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // As an unprivileged user a raised priority is refused.
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::_Exit(10);
            }
            TDosCommand command;
            std::vector<std::string> errors;
            command.PriorityIndex = 3;
            command.OnPriorityError = [&](const std::string& message) {
                errors.push_back(message);
            };
            command.CommandLine = Helper("nice");
            if (!RunToEnd(command)) {
                std::_Exit(11);
            }
            const bool ok =
                errors == std::vector<std::string>{"更改优先级错误"} &&
                command.Lines() == Lines{std::to_string(::getpriority(PRIO_PROCESS, 0))};
            std::_Exit(ok ? 0 : 12);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DosCommand, NoDescriptorOfThisProcessReachesTheProgram) {
    // Opened without close-on-exec, as other code in the program might.
    const int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    TDosCommand command;
    command.CommandLine = Helper("fds");
    const bool ended = RunToEnd(command);
    ::close(stray);
    ASSERT_TRUE(ended);
    EXPECT_EQ(command.Lines(), (Lines{"fds:"}));
}
#endif
