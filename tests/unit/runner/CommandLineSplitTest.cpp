#include "runner/CommandLineSplit.h"

#include <gtest/gtest.h>

using namespace pelldrin;
using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
    EXPECT_EQ(SplitCommandLine("prog a  b\tc"), (Args{"prog", "a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("  prog   "), (Args{"prog"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine(" \t "), Args{});
    EXPECT_EQ(SplitCommandLine("prog \"a b c\" d e"), (Args{"prog", "a b c", "d", "e"}));
    EXPECT_EQ(SplitCommandLine("prog d\"e f\"g h"), (Args{"prog", "de fg", "h"}));
    EXPECT_EQ(SplitCommandLine("prog \"\" x"), (Args{"prog", "", "x"}));
    EXPECT_EQ(SplitCommandLine("prog \"open to the end"), (Args{"prog", "open to the end"}));
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeAQuote) {
    EXPECT_EQ(SplitCommandLine(R"(prog "ab\"c" "\\" d)"), (Args{"prog", "ab\"c", "\\", "d"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\\\b d"e f"g h)"),
              (Args{"prog", R"(a\\\b)", "de fg", "h"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\\\"b c d)"), (Args{"prog", R"(a\"b)", "c", "d"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\\\\"b c" d e)"), (Args{"prog", R"(a\\b c)", "d", "e"}));
    EXPECT_EQ(SplitCommandLine(R"(prog C:\out\ "C:\with space\\" end\\)"),
              (Args{"prog", R"(C:\out\)", R"(C:\with space\)", R"(end\\)"}));
    // A quoted folder ending in one backslash swallows the closing quote, as on Windows.
    EXPECT_EQ(SplitCommandLine(R"(prog "C:\dir\" next)"), (Args{"prog", R"(C:\dir" next)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "say ""hi""")"), (Args{"prog", R"(say "hi")"}));
}

TEST(SplitCommandLine, ProgramNameTakesQuotesButNoEscapes) {
    EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\conv.exe" -o "out dir\x.xml")"),
              (Args{R"(C:\Program Files\conv.exe)", "-o", R"(out dir\x.xml)"}));
    EXPECT_EQ(SplitCommandLine(R"(C:\tools\"my dir"\conv.exe a)"),
              (Args{R"(C:\tools\my dir\conv.exe)", "a"}));
    EXPECT_EQ(SplitCommandLine(R"("/opt/a b/\" x)"), (Args{R"(/opt/a b/\)", "x"}));
}
