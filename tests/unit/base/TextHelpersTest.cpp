#include "base/TextHelpers.h"
#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/Utf8.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifdef __linux__
#include <sys/stat.h>
#endif

using namespace pelldrin;
using Pieces = std::vector<std::string>;

TEST(SplitByDelimiter, KeepsEveryEmptyAndUntrimmedPiece) {
    EXPECT_EQ(SplitByDelimiter("a|b|", '|'), (Pieces{"a", "b", ""}));
    EXPECT_EQ(SplitByDelimiter("", '|'), (Pieces{""}));
    EXPECT_EQ(SplitByDelimiter("|a", '|'), (Pieces{"", "a"}));
    EXPECT_EQ(SplitByDelimiter("a||b", '|'), (Pieces{"a", "", "b"}));
    EXPECT_EQ(SplitByDelimiter(" 0:00:05.12 ", '.'), (Pieces{" 0:00:05", "12 "}));
    EXPECT_EQ(SplitByDelimiter("|||", '|').size(), 4u);
    EXPECT_EQ(SplitByDelimiter("no delimiter", '|'), (Pieces{"no delimiter"}));
}

TEST(StripExtension, CutsAtTheLastDotAnywhere) {
    EXPECT_EQ(StripExtension("movie.ass"), "movie");
    EXPECT_EQ(StripExtension("movie"), "");
    EXPECT_EQ(StripExtension("/subs/movie.srt"), "/subs/movie");
    EXPECT_EQ(StripExtension("movie.part1.ass"), "movie.part1");
    EXPECT_EQ(StripExtension("name."), "name");
    EXPECT_EQ(StripExtension("/a.b/name"), "/a"); // does not stop at a separator
}

TEST(SameTextN, ComparesFourCharactersWithTheEndOfBTakingPart) {
    EXPECT_TRUE(SameTextN(".ASS", ".ass", 4));
    EXPECT_TRUE(SameTextN(".Srt", ".srt", 4));
    EXPECT_FALSE(SameTextN(".as", ".ass", 4));
    EXPECT_FALSE(SameTextN(".sr", ".srt", 4));
    EXPECT_TRUE(SameTextN(".assx", ".ass", 4));
    EXPECT_FALSE(SameTextN("", ".ass", 4));
    EXPECT_TRUE(SameTextN("", "", 4));
    EXPECT_TRUE(SameTextN("anything", "else", 0));
    // b shorter than n: its end must meet the end of a.
    EXPECT_TRUE(SameTextN(".ab", ".AB", 4));
    EXPECT_FALSE(SameTextN(".abc", ".ab", 4));
    // Only ASCII letters fold: "@" (64) and "`" (96) are not letters.
    EXPECT_FALSE(SameTextN("@", "`", 1));
    EXPECT_FALSE(SameTextN("\xC3\xA9", "\xC3\x89", 2));
}

TEST(HasByteAbove128, IgnoresTheByte128Itself) {
    EXPECT_FALSE(HasByteAbove128(""));
    EXPECT_FALSE(HasByteAbove128("plain ascii"));
    EXPECT_FALSE(HasByteAbove128(std::string("a\x80z")));
    EXPECT_TRUE(HasByteAbove128(std::string("a\x81z")));
    EXPECT_TRUE(HasByteAbove128("\xE4\xB8\xAD"));
}

TEST(RoundHalfUp, RoundsTheHalfUp) {
    EXPECT_EQ(RoundHalfUp(2.5), 3);
    EXPECT_EQ(RoundHalfUp(2.49), 2);
    EXPECT_EQ(RoundHalfUp(0), 0);
    EXPECT_EQ(RoundHalfUp(35279.4852), 35279);
    EXPECT_EQ(RoundHalfUp(35279.5), 35280);
    EXPECT_EQ(RoundHalfUp(37.5), 38);
}

TEST(TryParseInt, AcceptsOnlyWholeDecimalIntegers) {
    std::int64_t v = 0;
    EXPECT_TRUE(TryParseInt("12", v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(TryParseInt("-3", v));
    EXPECT_EQ(v, -3);
    EXPECT_TRUE(TryParseInt("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(TryParseInt("", v));
    EXPECT_FALSE(TryParseInt("+", v));
    EXPECT_FALSE(TryParseInt("1 ", v));
    EXPECT_FALSE(TryParseInt("0x10", v));
    EXPECT_FALSE(TryParseInt("99999999999999999999", v));
}

TEST(PathParts, ExtensionAndNameComeFromTheFileNamePart) {
    EXPECT_EQ(FileExtension("/sub.dir/movie"), "");
    EXPECT_EQ(FileExtension("/subs/ep.01.ASS"), ".ASS");
    EXPECT_EQ(FileNamePart("/subs/ep.01.ass"), "ep.01.ass");
    EXPECT_EQ(FileNamePart("name.srt"), "name.srt");
    EXPECT_EQ(JoinPath("/out/", "a"), "/out/a");
    EXPECT_EQ(JoinPath("/out", "a"), "/out" + std::string(1, kPathSeparator) + "a");
    EXPECT_EQ(FolderOf("/out/a/b.xml"), "/out/a");
    EXPECT_EQ(FolderOf("/b.xml"), "/");
}

TEST(Utf16ToUtf8, DecodesBothByteOrdersAndSurrogates) {
    // "A", U+4E2D, U+1F600 (a surrogate pair)
    const std::string le("A\0\x2D\x4E\x3D\xD8\x00\xDE", 8);
    const std::string be("\0A\x4E\x2D\xD8\x3D\xDE\x00", 8);
    const std::string expected = "A\xE4\xB8\xAD\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(le, false), expected);
    EXPECT_EQ(Utf16ToUtf8(be, true), expected);
    EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8"
                                      "A\0",
                                      4),
                          false),
              "\xEF\xBF\xBD"
              "A");
    EXPECT_EQ(Utf16ToUtf8(std::string("A\0\0\0B\0", 6), false, true), "A");
}

TEST(AtomicWriteFile, ReplacesTheWholeFileAndLeavesNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.File("x.txt");
    AtomicWriteFile(path, "first version, long");
    AtomicWriteFile(path, "second");
    EXPECT_EQ(ReadWholeFile(path), "second");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
    EXPECT_THROW(AtomicWriteFile(dir.File("missing/x.txt"), "y"), FileError);
    EXPECT_THROW(ReadWholeFile(dir.File("nothing")), FileError);
    EXPECT_THROW(ReadWholeFile(dir.Path()), FileError);
}

// Small writes are gathered and large ones go straight to the file: mixed, around and across
// the size where that changes, they must still arrive whole and in order.
TEST(AtomicFile, WritesOfEverySizeArriveInOrder) {
    test::TempDir dir;
    const std::string path = dir.File("stream.sup");
    std::string expected;
    {
        AtomicFile file(path, AtomicFile::Durability::Buffered);
        char fill = 'a';
        for (const std::size_t size : {100, 70'000, 65'436, 200, 65'536, 1, 300'000, 65'535, 2}) {
            std::string piece(size, fill++);
            piece.front() = '<';
            piece.back() = '>';
            file.Write(piece);
            expected += piece;
        }
        EXPECT_FALSE(std::filesystem::exists(path)); // nothing shows before the commit
        file.Commit();
    }
    EXPECT_TRUE(ReadWholeFile(path) == expected);
}

#ifndef _WIN32
TEST(AtomicWriteFile, KeepsTheReplacedFilesPermissions) {
    test::TempDir dir;
    const std::string path = dir.File("private.xml");
    test::WriteFile(path, "old");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    AtomicWriteFile(path, "new");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    AtomicWriteFile(dir.File("fresh.xml"), "x");
    EXPECT_NE(std::filesystem::status(dir.File("fresh.xml")).permissions() &
                  std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}
#endif

#ifdef __linux__
// A plain file is written anew in place; a file with another name, a link and a folder are
// never written through, and a write given up leaves no temporary file.
TEST(AtomicFile, BufferedRewriteTakesOverOnlyAPlainFileOfOneName) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const auto write = [](const std::string& path, std::string_view bytes) {
        AtomicFile file(path, AtomicFile::Durability::Buffered);
        file.Write(bytes);
        file.Commit();
    };
    const auto inode = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const std::string plain = dir.File("plain.png");
    test::WriteFile(plain, "earlier picture, longer");
    const auto before = inode(plain);
    write(plain, "new");
    EXPECT_EQ(ReadWholeFile(plain), "new");
    EXPECT_EQ(inode(plain), before);

    const std::string linked = dir.File("linked.png");
    test::WriteFile(dir.File("other.png"), "kept");
    fs::create_hard_link(dir.File("other.png"), linked);
    const std::string symlink = dir.File("symlink.png");
    test::WriteFile(dir.File("target.txt"), "kept too");
    fs::create_symlink(dir.File("target.txt"), symlink);
    write(linked, "new");
    write(symlink, "new");
    EXPECT_EQ(ReadWholeFile(dir.File("other.png")), "kept");
    EXPECT_EQ(ReadWholeFile(dir.File("target.txt")), "kept too");
    EXPECT_EQ(ReadWholeFile(linked), "new");
    EXPECT_FALSE(fs::is_symlink(symlink));
    EXPECT_EQ(ReadWholeFile(symlink), "new");

    fs::create_directory(dir.File("folder.png"));
    EXPECT_THROW(write(dir.File("folder.png"), "x"), FileError);
    EXPECT_TRUE(fs::is_directory(dir.File("folder.png")));
    {
        AtomicFile givenUp(plain, AtomicFile::Durability::Buffered);
        givenUp.Write("half");
    }
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.Path())) {
        EXPECT_FALSE(IsAtomicTempName(e.path().filename().string())) << e.path();
        ++entries;
    }
    EXPECT_EQ(entries, 5u); // other, linked, target, symlink, folder; plain went with the write
}
#endif

TEST(CreateFolders, MakesEveryMissingLevelAndFailsOnAFile) {
    test::TempDir dir;
    CreateFolders(dir.File("a/b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/c")));
    CreateFolders(dir.File("a/b/c")); // existing is fine
    test::WriteFile(dir.File("f"), "x");
    EXPECT_THROW(CreateFolders(dir.File("f")), FileError);
    EXPECT_THROW(CreateFolders(dir.File("f/sub")), FileError);
}
