#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "settings/FileListing.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pelldrin;

TEST(ListFiles, NamesOutsideAnyCodePageAreListedAsTheyAre) {
    test::TempDir dir;
    const std::string folder = JoinPath(dir.Path(), "样式");
    CreateFolders(folder);
    for (const char* name : {"字幕.style", "Ωδ.style", "плюс.txt"}) {
        AtomicWriteFile(JoinPath(folder, name), "x");
    }
    EXPECT_EQ(
        ListFiles(folder, "*.style"),
        (std::vector<std::string>{JoinPath(folder, "Ωδ.style"), JoinPath(folder, "字幕.style")}));
    EXPECT_EQ(ListFiles(folder, "??.TXT"), (std::vector<std::string>{}));
    EXPECT_EQ(ListFiles(folder, "????.TXT"),
              (std::vector<std::string>{JoinPath(folder, "плюс.txt")}));
}
