// A text track's blocks back into an .ass or .srt file, and attachment names made safe.
#include "matroska/TrackText.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pelldrin;

namespace {

TextBlock Block(std::int64_t start, std::optional<std::int64_t> end, std::string data) {
    return TextBlock{start, end, std::move(data)};
}

bool HasWarning(const TrackText& t, const std::string& part) {
    return std::any_of(t.warnings.begin(), t.warnings.end(),
                       [&](const std::string& w) { return w.find(part) != std::string::npos; });
}

} // namespace

TEST(AssTrackText, LinesGoInReadOrderIntoTheEventsSectionWithTheHeaderKept) {
    // CR LF as Aegisub writes them, and a [Fonts] section after [Events] that must stay
    // where it is, byte for byte.
    const std::string head = "[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\n"
                             "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                             "MarginV, Effect, Text\r\n\r\n";
    const std::string fonts = "[Fonts]\r\nfontname: a_0.ttf\r\n!!!!\r\n";
    std::vector<TextBlock> blocks{
        Block(150, 300, "2,0,Sign,,0,0,0,,{\\pos(1,2)}Late, but first in time"),
        Block(100, 250, "0,1,Default,Who,10,20,30,fx,Text, with commas {\\i1}\r\n"),
        Block(7200000, 7200001, "1,0,Default,,0,0,0,,")};
    const TrackText t = BuildAssTrack(head + fonts, std::move(blocks), 0, false);
    EXPECT_EQ(t.events, 3);
    EXPECT_EQ(t.text,
              head.substr(0, head.size() - 2) +
                  "Dialogue: 1,0:00:01.00,0:00:02.50,Default,Who,10,20,30,fx,Text, with commas "
                  "{\\i1}\r\n"
                  "Dialogue: 0,20:00:00.00,20:00:00.01,Default,,0,0,0,,\r\n"
                  "Dialogue: 0,0:00:01.50,0:00:03.00,Sign,,0,0,0,,{\\pos(1,2)}Late, but first "
                  "in time\r\n\r\n" +
                  fonts);
    EXPECT_TRUE(t.warnings.empty()) << t.warnings.front();
}

TEST(AssTrackText, AHeaderWithoutEventsGetsTheSectionItsFormatNeeds) {
    const TrackText ass = BuildAssTrack("[Script Info]\nScriptType: v4.00+",
                                        {Block(0, 5, "0,3,X,,0,0,0,,a")}, 0, false);
    EXPECT_EQ(ass.text, "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, "
                        "End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                        "Dialogue: 3,0:00:00.00,0:00:00.05,X,,0,0,0,,a\n");
    // mkvmerge leaves SSA's Marked field empty.
    const TrackText ssa = BuildAssTrack(
        "", {Block(0, 5, "0,,X,,0,0,0,,a"), Block(0, 5, "1,Marked=1,X,,0,0,0,,b")}, 0, true);
    EXPECT_EQ(ssa.text, "[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, "
                        "MarginV, Effect, Text\nDialogue: Marked=0,0:00:00.00,0:00:00.05,X,,0,0,"
                        "0,,a\nDialogue: Marked=1,0:00:00.00,0:00:00.05,X,,0,0,0,,b\n");
    // Lines ended by a lone CR, as old Mac editors wrote them: a line end follows.
    const TrackText cr = BuildAssTrack("[Events]\rFormat: Layer, Start, End, Style, Name, "
                                       "MarginL, MarginR, MarginV, Effect, Text\r",
                                       {Block(0, 5, "0,0,X,,0,0,0,,a")}, 0, false);
    EXPECT_NE(cr.text.find("Text\r\nDialogue: 0,0:00:00.00,0:00:00.05,X,,0,0,0,,a\n"),
              std::string::npos);
}

TEST(AssTrackText, BlocksWithoutDurationEndWhereTheNextBegins) {
    // Two lines starting together both end at the next later start; the last ends at the
    // file's end, or five seconds on when that is unknown.
    std::vector<TextBlock> blocks{
        Block(100, std::nullopt, "0,0,D,,0,0,0,,a"), Block(100, std::nullopt, "1,0,D,,0,0,0,,b"),
        Block(400, std::nullopt, "2,0,D,,0,0,0,,c"), Block(200, 200, "3,0,D,,0,0,0,,zero")};
    const TrackText withEnd = BuildAssTrack("[Events]\n", blocks, 1000, false);
    EXPECT_NE(withEnd.text.find("Dialogue: 0,0:00:01.00,0:00:02.00,D,,0,0,0,,a\n"
                                "Dialogue: 0,0:00:01.00,0:00:02.00,D,,0,0,0,,b\n"
                                "Dialogue: 0,0:00:04.00,0:00:10.00,D,,0,0,0,,c\n"
                                "Dialogue: 0,0:00:02.00,0:00:02.00,D,,0,0,0,,zero\n"),
              std::string::npos)
        << withEnd.text;
    EXPECT_TRUE(HasWarning(withEnd, "3 blocks have no duration")) << withEnd.warnings.at(0);
    const TrackText unknownEnd = BuildAssTrack("[Events]\n", blocks, 0, false);
    EXPECT_NE(unknownEnd.text.find(",0:00:04.00,0:00:09.00,D,,0,0,0,,c\n"), std::string::npos)
        << unknownEnd.text;
}

TEST(AssTrackText, DamagedBlocksAreReportedAndNothingBreaksALine) {
    std::vector<TextBlock> blocks{
        Block(0, 10, "no read order here"),
        Block(0, 10, "7"),
        Block(0, 10, "4,0,D,,0,0,0,,one\ntwo"),
        Block(0, 10, "4,0,D,,0,0,0,,again"),
        Block(-50, 20, "5,0,D,,0,0,0,,early"),
        Block(kMaxTrackTimeMs / 10 + 1, std::nullopt, "6,0,D,,0,0,0,,far")};
    const TrackText t = BuildAssTrack("[Events]\n", std::move(blocks), 0, false);
    EXPECT_EQ(t.events, 3);
    EXPECT_NE(t.text.find("Dialogue: 0,0:00:00.00,0:00:00.10,D,,0,0,0,,one\\Ntwo\n"
                          "Dialogue: 0,0:00:00.00,0:00:00.10,D,,0,0,0,,again\n"
                          "Dialogue: 0,0:00:00.00,0:00:00.20,D,,0,0,0,,early\n"),
              std::string::npos)
        << t.text;
    for (const char* part :
         {"2 blocks do not start with a ReadOrder", "written as \\N", "repeats the ReadOrder",
          "of 4 lines are not in the track", "before zero", "after 100 hours"}) {
        EXPECT_TRUE(HasWarning(t, part)) << part;
    }
}

TEST(SrtTrackText, CuesAreNumberedInTimeOrderWithOneLineEnd) {
    std::vector<TextBlock> blocks{Block(61001, 62500, "\n \nSecond\r\nline two\r\n"),
                                  Block(1000, std::nullopt, "First"), Block(3000, 3500, " \r\n"),
                                  Block(3723004, 3724000, "Third\n\n\nafter blank lines")};
    const TrackText t = BuildSrtTrack(std::move(blocks), 0);
    EXPECT_EQ(t.text, "1\n00:00:01,000 --> 00:00:03,000\nFirst\n\n"
                      "2\n00:01:01,001 --> 00:01:02,500\nSecond\nline two\n\n"
                      "3\n01:02:03,004 --> 01:02:04,000\nThird\nafter blank lines\n\n");
    EXPECT_EQ(t.events, 3);
    for (const char* part : {"before an earlier one", "no text", "4 blank lines", "no duration"}) {
        EXPECT_TRUE(HasWarning(t, part)) << part;
    }
}

TEST(AttachmentNames, StayInTheirFolderAndLoadAsFonts) {
    struct Case {
        const char* stored;
        const char* extension;
        const char* safe;
    };
    const Case cases[] = {
        {"Arial.ttf", ".ttf", "Arial.ttf"},
        {"../../etc/evil.TTF", ".ttf", "evil.TTF"},
        {"C:\\Windows\\Fonts\\x.otf", ".otf", "x.otf"},
        {"Arial", ".ttf", "Arial.ttf"},
        {"font.bin", ".otf", "font.bin.otf"},
        {"a<b>c:d\"e|f?g*h\x01.ttf", ".ttf", "a_b_c_d_e_f_g_h_.ttf"},
        {"CON.ttf", ".ttf", "_CON.ttf"},
        {"lpt1", ".ttf", "_lpt1.ttf"},
        {"..", ".ttf", "attachment.ttf"},
        {"name. . ", "", "name"},
        {"\xE4\xBB\xBF\xE5\xAE\x8B.ttf", ".ttf", "\xE4\xBB\xBF\xE5\xAE\x8B.ttf"},
        {"bad\xFF.ttf", ".ttf", "bad_.ttf"},
        {"cover.jpg", "", "cover.jpg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SafeAttachmentName(c.stored, c.extension), c.safe) << c.stored;
    }
    // Long names are cut on a character, keeping the extension.
    std::string longName;
    for (int i = 0; i < 100; ++i) {
        longName += "\xE5\xAE\x8B";
    }
    const std::string cut = SafeAttachmentName(longName + ".ttf", ".ttf");
    EXPECT_LE(cut.size(), 120u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".ttf");
    EXPECT_EQ((cut.size() - 4) % 3, 0u);
}
