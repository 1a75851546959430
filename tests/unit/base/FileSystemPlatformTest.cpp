// File names with any characters, the Windows rules for roots, separators and
// replacing a file, and what each system answers its own way (processes, folder locks).
#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/Platform.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace pelldrin;

namespace {

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ToFsPath(folder))) {
        names.push_back(FromFsPath(entry.path().filename()));
    }
    return names;
}

} // namespace

TEST(FileUtilPaths, NamesOutsideAnyCodePageKeepEveryCharacter) {
    test::TempDir dir;
    const std::string folder = JoinPath(JoinPath(dir.Path(), "字幕 Ωδ ü"), "子");
    CreateFolders(folder);
    const std::string file = JoinPath(folder, "片名 ☃.xml");
    EXPECT_FALSE(FileExists(file));
    AtomicWriteFile(file, "first");
    const std::string bytes("second\0\r\n\n", 10); // no line-end translation either way
    AtomicWriteFile(file, bytes);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(ReadWholeFile(file), bytes);
    EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"片名 ☃.xml"})); // no temporary left
    EXPECT_EQ(FolderOf(file), folder);
}

TEST(Platform, AFolderLockKeepsASecondHolderOutUntilItEnds) {
    test::TempDir dir;
    {
        const FolderLock first(dir.Path(), ".lock");
        EXPECT_THROW(FolderLock(dir.Path(), ".lock"), FolderTakenError);
        const FolderLock other(dir.Path(), ".other-lock"); // another name is another lock
    }
    EXPECT_NO_THROW(FolderLock(dir.Path(), ".lock"));
    EXPECT_THROW(FolderLock(dir.File("missing"), ".lock"), FileError);
}

TEST(Platform, ThisProcessRunsFromTheFolderOfItsProgram) {
    EXPECT_FALSE(ProcessIsGone(CurrentProcessId()));
#ifdef _WIN32
    EXPECT_TRUE(FileExists(JoinPath(ProgramFolder(), "test_base.exe"))) << ProgramFolder();
#else
    EXPECT_TRUE(FileExists(JoinPath(ProgramFolder(), "test_base"))) << ProgramFolder();
#endif
}

#ifdef _WIN32
TEST(FileUtilWindows, DriveRootsAndRootedPaths) {
    EXPECT_EQ(FolderOf("C:\\b.xml"), "C:\\"); // "C:" alone would be the drive's current folder
    EXPECT_EQ(FolderOf("C:\\out\\b.xml"), "C:\\out");
    EXPECT_EQ(FolderOf("C:/out/b.xml"), "C:/out");
    EXPECT_EQ(JoinPath("C:\\out", "a"), "C:\\out\\a");
    EXPECT_EQ(JoinPath("C:/out/", "a"), "C:/out/a");
    EXPECT_TRUE(IsAbsolutePath("C:\\out"));
    EXPECT_TRUE(IsAbsolutePath("\\out"));
    EXPECT_TRUE(IsAbsolutePath("/out"));
    EXPECT_TRUE(IsAbsolutePath("\\\\server\\share\\x"));
    EXPECT_FALSE(IsAbsolutePath("out\\x"));
    EXPECT_FALSE(IsAbsolutePath(""));
}

TEST(FileUtilWindows, CurrentFolderKeepsTheRootOfADrive) {
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(L"C:\\");
    const std::string root = CurrentFolder();
    std::filesystem::current_path(before);
    EXPECT_EQ(root, "C:\\");
}

TEST(FileUtilWindows, WideTextRoundTripsAndErrorsReadPlainly) {
    const std::string text = "A\xE4\xB8\xAD\xF0\x9F\x98\x80"; // "A", U+4E2D, U+1F600
    EXPECT_EQ(ToWide(text), L"A\u4E2D\U0001F600");
    EXPECT_EQ(FromWide(ToWide(text)), text);
    EXPECT_EQ(ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    const std::string reason = WindowsErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(reason.find_last_of("\r\n"), std::string::npos);
    EXPECT_NE(reason.back(), '.');
}

TEST(FileUtilWindows, AReplaceThatStaysRefusedKeepsTheOldFileAndLeavesNoTemporary) {
    test::TempDir dir;
    const std::string file = dir.File("held.xml");
    AtomicWriteFile(file, "old");
    // Held open without delete sharing, as another program might hold it.
    const HANDLE held = ::CreateFileW(ToWide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string message;
    try {
        AtomicWriteFile(file, "new");
    } catch (const FileError& e) {
        message = e.what();
    }
    ::CloseHandle(held);
    EXPECT_EQ(message.rfind("Cannot replace \"" + file + "\": ", 0), 0u) << message;
    EXPECT_EQ(ReadWholeFile(file), "old");
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"held.xml"}));

    AtomicWriteFile(file, "new"); // released: the same write goes through
    EXPECT_EQ(ReadWholeFile(file), "new");
}
#endif
