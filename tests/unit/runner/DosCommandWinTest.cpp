// What only the Windows process layer does: priority classes, wide paths, program
// look-up and handle inheritance.
#ifdef _WIN32

#include "base/FileSystem.h"
#include "runner/DosCommand.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <windows.h>

using namespace pelldrin;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

std::string OwnFolder() {
    std::wstring own(32768, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return FolderOf(FromWide(own));
}

const std::string kHelperName = [] {
    const std::string built = RUNNER_HELPER;
    return built.substr(built.find_last_of("/\\") + 1);
}();
const std::string kHelper = JoinPath(OwnFolder(), kHelperName);

bool RunToEnd(TDosCommand& command) {
    command.Execute();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (command.IsRunning()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace

TEST(DosCommandWindows, PriorityEntriesSetThePriorityClass) {
    const auto classFor = [](int index, std::vector<std::string>& errors) -> long {
        TDosCommand command;
        command.PriorityIndex = index;
        command.OnPriorityError = [&](const std::string& message) { errors.push_back(message); };
        command.CommandLine = "\"" + kHelper + "\" priority";
        EXPECT_TRUE(RunToEnd(command));
        return command.Lines().empty() ? -1 : std::stol(command.Lines()[0]);
    };
    std::vector<std::string> errors;
    EXPECT_EQ(classFor(0, errors), NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(classFor(1, errors), IDLE_PRIORITY_CLASS); // "Lower" is the idle class
    EXPECT_EQ(classFor(2, errors), HIGH_PRIORITY_CLASS);
    // Entries outside the list keep the class the program was created with.
    EXPECT_EQ(classFor(4, errors), NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(classFor(-1, errors), NORMAL_PRIORITY_CLASS);
    EXPECT_TRUE(errors.empty());
    // Real time needs a privilege; without it the program runs on and the refusal is told.
    const long realTime = classFor(3, errors);
    if (realTime == REALTIME_PRIORITY_CLASS) {
        EXPECT_TRUE(errors.empty());
    } else {
        EXPECT_EQ(errors, (std::vector<std::string>{"更改优先级错误"}));
    }
}

TEST(DosCommandWindows, WideNamesReachTheProgramAndItsFolder) {
    test::TempDir dir;
    // The program in a folder whose name no single code page holds.
    const std::string programFolder = JoinPath(dir.Path(), "工具 Ωδ dir");
    const std::string workFolder = JoinPath(dir.Path(), "工作 Ünïcode");
    CreateFolders(programFolder);
    CreateFolders(workFolder);
    const std::string program = JoinPath(programFolder, "助手.exe");
    std::filesystem::copy_file(ToFsPath(kHelper), ToFsPath(program));

    TDosCommand command;
    command.SetWorkingFolder(workFolder);
    command.CommandLine = "\"" + program + "\" cwd";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_EQ(command.Lines(), (Lines{workFolder}));

    command.CommandLine = "\"" + program + "\" args 字幕.ass \"a b\"";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.Lines(), (Lines{"<字幕.ass>", "<a b>"}));
}

TEST(DosCommandWindows, ProgramsAreFoundAsWindowsFindsThem) {
    // Without its extension, by path.
    const std::string withoutExe = kHelper.substr(0, kHelper.size() - 4);
    TDosCommand command;
    command.CommandLine = "\"" + withoutExe + "\" args x";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_EQ(command.Lines(), (Lines{"<x>"}));

    // A bare name, found in the folder of the program that starts it.
    command.CommandLine = kHelperName.substr(0, kHelperName.size() - 4) + " args y";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), "");
    EXPECT_EQ(command.Lines(), (Lines{"<y>"}));

    // A path with a blank that is not quoted names no program: nothing is guessed.
    test::TempDir dir;
    const std::string spaced = JoinPath(dir.Path(), "my tool.exe");
    std::filesystem::copy_file(ToFsPath(kHelper), ToFsPath(spaced));
    command.CommandLine = spaced + " args z";
    ASSERT_TRUE(RunToEnd(command));
    EXPECT_EQ(command.ErrorText(), spaced + " args z doesn't exist.");
}

TEST(DosCommandWindows, NoHandleOfThisProcessReachesTheProgram) {
    test::TempDir dir;
    const std::wstring path = ToWide(dir.File("stray.txt"));
    // Inheritable, as a handle opened elsewhere in the program might be.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE stray = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(stray, INVALID_HANDLE_VALUE);
    TDosCommand command;
    command.CommandLine =
        "\"" + kHelper + "\" handle " + std::to_string(reinterpret_cast<std::uintptr_t>(stray));
    const bool ended = RunToEnd(command);
    ::CloseHandle(stray);
    ASSERT_TRUE(ended);
    EXPECT_EQ(command.Lines(), (Lines{"handle:absent"}));
    EXPECT_EQ(test::ReadFile(dir.File("stray.txt")), "");
}

#endif
