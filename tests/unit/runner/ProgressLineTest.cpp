#include "runner/ProgressLine.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace pelldrin;
using Calls = std::vector<std::pair<int, int>>;

namespace {

Calls Parse(std::string_view line) {
    Calls calls;
    ParseProgressLine(line,
                      [&](int maximum, int position) { calls.emplace_back(maximum, position); });
    return calls;
}

} // namespace

TEST(ParseProgressLine, ReadsDoneAndTotalBetweenTheFirstTwoColons) {
    EXPECT_EQ(Parse("Progress: 120/2400 - Lines: 12"), (Calls{{2400, 120}}));
    EXPECT_EQ(Parse("Progress:120/2400-Lines:12"), (Calls{{2400, 120}}));
    EXPECT_EQ(Parse("Progress: \t 120 / 2400 \t- Lines: 12"), (Calls{{2400, 120}}));
    // Further colons, dashes and slashes change nothing.
    EXPECT_EQ(Parse("P: 5/10/20 - a-b: c: d/e - f"), (Calls{{10, 5}}));
    EXPECT_EQ(Parse("P: 0/0 - x:"), (Calls{{0, 0}}));
    EXPECT_EQ(Parse("P: +7/9 - x:"), (Calls{{9, 7}}));
}

TEST(ParseProgressLine, IgnoresLinesThatAreNotProgress) {
    EXPECT_EQ(Parse("Error: file not found"), Calls{}); // two colon pieces
    EXPECT_EQ(Parse("a: 1/2 b: c"), Calls{});           // no dash in the second piece
    EXPECT_EQ(Parse(""), Calls{});
    EXPECT_EQ(Parse("P: 120 - x: y"), Calls{}); // no slash
    EXPECT_EQ(Parse("P: a/b - x: y"), Calls{}); // not numbers
    EXPECT_EQ(Parse("P: 1.5/3 - x: y"), Calls{});
    EXPECT_EQ(Parse("P: /3 - x: y"), Calls{});
    EXPECT_EQ(Parse("P: 1/99999999999 - x: y"), Calls{});     // does not fit
    EXPECT_EQ(Parse("P - 1/2: 1/2 - x: y"), (Calls{{2, 1}})); // the first piece is free text
}

TEST(ParseProgressLine, SuccessiveLinesCarryTheirOwnTotals) {
    Calls calls;
    const auto sink = [&](int maximum, int position) { calls.emplace_back(maximum, position); };
    for (const char* line : {"F: 1/100 - a: b", "F: 50/100 - a: b", "F: 3/40 - a: b"}) {
        ParseProgressLine(line, sink);
    }
    EXPECT_EQ(calls, (Calls{{100, 1}, {100, 50}, {40, 3}}));
}
