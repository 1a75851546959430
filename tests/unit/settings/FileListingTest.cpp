#include "settings/FileListing.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelldrin;

TEST(MatchesMask, WildcardsAndCase) {
    EXPECT_TRUE(MatchesMask("English.xml", "*.xml"));
    EXPECT_TRUE(MatchesMask("SHOUT.XML", "*.xml"));
    EXPECT_TRUE(MatchesMask(".xml", "*.xml"));
    EXPECT_TRUE(MatchesMask("a.b.xml", "*.xml"));
    EXPECT_FALSE(MatchesMask("English.xml.bak", "*.xml"));
    EXPECT_FALSE(MatchesMask("English.xm", "*.xml"));
    EXPECT_FALSE(MatchesMask("Englishxml", "*.xml"));
    EXPECT_TRUE(MatchesMask("Big Font.style", "*.style"));
    EXPECT_TRUE(MatchesMask("ab.style", "??.style"));
    EXPECT_FALSE(MatchesMask("abc.style", "??.style"));
    EXPECT_TRUE(MatchesMask("\xE5\xAD\x97.style", "?.style")); // one character, three bytes
    EXPECT_TRUE(MatchesMask("xaaab", "*a*b"));
    EXPECT_FALSE(MatchesMask("xaaac", "*a*b"));
    EXPECT_TRUE(MatchesMask("anything", "*"));
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_FALSE(MatchesMask("a", ""));
    // Many stars on a long name must not take exponential time.
    EXPECT_FALSE(MatchesMask(std::string(200, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(ListFiles, SortedByNameFilesAndFoldersAlike) {
    test::TempDir dir;
    for (const char* name : {"b.xml", "A.xml", "c.txt", "Chinese (Simplified).xml", "z.XML"}) {
        test::WriteFile(dir.File(name), "x");
    }
    std::filesystem::create_directories(dir.File("folder.xml"));
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(ListFiles(dir.Path(), "*.xml"),
              (std::vector<std::string>{dir.Path() + sep + "A.xml",
                                        dir.Path() + sep + "Chinese (Simplified).xml",
                                        dir.Path() + sep + "b.xml", dir.Path() + sep + "folder.xml",
                                        dir.Path() + sep + "z.XML"}));
    EXPECT_EQ(ListFiles(dir.Path() + sep, "c.*"),
              (std::vector<std::string>{dir.Path() + sep + "c.txt"}));
    EXPECT_TRUE(ListFiles(dir.File("missing"), "*").empty());
    EXPECT_TRUE(ListFiles(dir.File("c.txt"), "*").empty()); // a file is no folder
}
