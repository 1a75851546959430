#include "script/DirectiveFormat.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace pelldrin;

namespace {

std::string Expand(std::string_view templ, std::vector<FormatArg> args) {
    return ExpandDirectives(templ, args);
}

std::vector<FormatArg> Texts(std::initializer_list<const char*> texts) {
    std::vector<FormatArg> args;
    for (const char* t : texts) {
        args.emplace_back(std::string(t));
    }
    return args;
}

} // namespace

TEST(ExpandDirectives, DefaultCommandTemplate) {
    EXPECT_EQ(Expand("%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3",
                     Texts({"/opt/tool", "movie", "1080p", "23.976"})),
              "/opt/tool -t movie -l zho -v 1080p -f 23.976 -a1 -p1 -b1 -m3");
}

TEST(ExpandDirectives, UnnumberedDirectivesTakeTheArgumentAfterTheLastOneUsed) {
    const auto args = Texts({"a", "b", "c", "d"});
    EXPECT_EQ(Expand("%s%s%s%s", args), "abcd");
    EXPECT_EQ(Expand("%2:s %s %0:s %s", args), "c d a b");
    EXPECT_EQ(Expand("%3:s %3:s %1:s", args), "d d b");
    EXPECT_THROW(Expand("%3:s %s", args), FormatError);
    EXPECT_EQ(Expand("100%% %%s %%%s%%", args), "100% %s %a%");
}

TEST(ExpandDirectives, WidthAlignmentAndMaximumLength) {
    const auto args = Texts({"abcdef"});
    EXPECT_EQ(Expand("[%8s]", args), "[  abcdef]");
    EXPECT_EQ(Expand("[%-8s]", args), "[abcdef  ]");
    EXPECT_EQ(Expand("[%3s]", args), "[abcdef]");
    EXPECT_EQ(Expand("[%.2s]", args), "[ab]");
    EXPECT_EQ(Expand("[%-10.3s]", args), "[abc       ]");
    EXPECT_EQ(Expand("[%0:5.3s]", args), "[  abc]");
    EXPECT_EQ(Expand("[%S]", args), "[abcdef]");
}

TEST(ExpandDirectives, WidthsCountCharactersAndCutsKeepThemWhole) {
    // "字幕文件" is four characters of three bytes each.
    const auto args = Texts({"\xE5\xAD\x97\xE5\xB9\x95\xE6\x96\x87\xE4\xBB\xB6"});
    EXPECT_EQ(Expand("%.2s", args), "\xE5\xAD\x97\xE5\xB9\x95");
    EXPECT_EQ(Expand("[%6s]", args), "[  \xE5\xAD\x97\xE5\xB9\x95\xE6\x96\x87\xE4\xBB\xB6]");
    EXPECT_EQ(Expand("[%-5.1s]", args), "[\xE5\xAD\x97    ]");
}

TEST(ExpandDirectives, Integers) {
    EXPECT_EQ(Expand("Done in %d seconds.", {std::int64_t{42}}), "Done in 42 seconds.");
    EXPECT_EQ(Expand("[%5d]", {std::int64_t{42}}), "[   42]");
    EXPECT_EQ(Expand("[%-5d]", {std::int64_t{42}}), "[42   ]");
    EXPECT_EQ(Expand("[%.4d]", {std::int64_t{42}}), "[0042]");
    EXPECT_EQ(Expand("[%6.3d]", {std::int64_t{-7}}), "[  -007]");
    EXPECT_EQ(Expand("%d", {std::numeric_limits<std::int64_t>::min()}), "-9223372036854775808");
    EXPECT_EQ(Expand("%s took %d s", {std::string("run"), std::int64_t{3}}), "run took 3 s");
}

TEST(ExpandDirectives, BadDirectivesAreRefusedWithTheirPosition) {
    const auto args = Texts({"a", "b", "c", "d"});
    for (const char* bad : {"%x", "abc %", "%5", "%-", "%:s", "%.s", "%0:", "%1:-s%", "%5-s", "%*s",
                            "%0:1:s", "%4:s", "%99999s", "%.99999s", "%4096:s"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Expand(bad, args), FormatError);
    }
    try {
        Expand("ok %q", args);
        FAIL();
    } catch (const FormatError& e) {
        EXPECT_NE(std::string(e.what()).find("position 4"), std::string::npos) << e.what();
    }
    EXPECT_THROW(Expand("%d", {std::string("12")}), FormatError);
    EXPECT_THROW(Expand("%s", {std::int64_t{12}}), FormatError);
}
