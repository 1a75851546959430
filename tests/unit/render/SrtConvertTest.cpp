// SRT cues to ASS events, style files, and text decoding.
#include "input/SrtConvert.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pelldrin::render {
namespace {

TEST(SrtConvert, CuesWithTimesBreaksAndTags) {
    const auto events = ParseSrt("1\r\n"
                                 "00:00:01,250 --> 00:00:03,004\r\n"
                                 "<i>Leaning</i> tower,\r\n"
                                 "<b>bold</b> and <u>under</u>\r\n"
                                 "\r\n"
                                 "2\r\n"
                                 "01:02:03.5 --> 01:02:04.75 X1:10 X2:20 Y1:5 Y2:9\r\n"
                                 "<font color=\"#FF8000\">orange <font color=red>red</font> "
                                 "orange</font> plain\r\n"
                                 "\r\n"
                                 "3\r\n"
                                 "00:00:09,000 --> 00:00:08,000\r\n"
                                 "backwards, dropped\r\n");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].startMs, 1250);
    EXPECT_EQ(events[0].endMs, 3004);
    EXPECT_EQ(events[0].text,
              "{\\i1}Leaning{\\i0} tower,\\N{\\b1}bold{\\b0} and {\\u1}under{\\u0}");
    EXPECT_EQ(events[1].startMs, 3723500);
    EXPECT_EQ(events[1].endMs, 3724750);
    EXPECT_EQ(events[1].text,
              "{\\c&H0080FF&}orange {\\c&H0000FF&}red{\\c&H0080FF&} orange{\\c} plain");
}

TEST(SrtConvert, LooseFilesStillGiveTheirCues) {
    // No blank line between cues, LF line ends, stray text before the first cue,
    // an unknown tag hidden, a font colour open across lines.
    const auto events = ParseSrt("junk at the top\n"
                                 "00:00:01,000 --> 00:00:02,000\n"
                                 "a <span>b</span>\n"
                                 "2\n"
                                 "00:00:02,000 --> 00:00:03,000\n"
                                 "<font color=\"lime\">one\n"
                                 "two</font>\n");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "a b");
    EXPECT_EQ(events[1].startMs, 2000);
    EXPECT_EQ(events[1].text, "{\\c&H00FF00&}one\\Ntwo{\\c}");
}

// One line with its tags converted; warnings are collected.
struct Converted {
    std::string ass;
    std::vector<std::string> warnings;
};

Converted Convert(std::string_view line, double styleFontSize = 16) {
    Converted c;
    SrtReadSettings settings;
    settings.styleFontSize = styleFontSize;
    settings.warn = [&](const std::string& w) { c.warnings.push_back(w); };
    SrtTagState state;
    c.ass = SrtLineToAss(line, state, settings, "line 7 (cue 3)");
    return c;
}

TEST(SrtConvert, ColourNamesHexAndRgbForms) {
    const std::vector<std::pair<std::string, std::string>> known{
        {"brown", "&H2A2AA5&"},
        {"Orange", "&H00A5FF&"},
        {"CYAN", "&HFFFF00&"},
        {"magenta", "&HFF00FF&"},
        {"aliceblue", "&HFFF8F0&"},
        {"yellowgreen", "&H32CD9A&"},
        {"DarkSlateGrey", "&H4F4F2F&"},
        {"lightgoldenrodyellow", "&HD2FAFA&"},
        {"rebeccapurple", ""},
        {"grey", "&H808080&"},
        {"#abc", "&HCCBBAA&"},
        {"#A1B2C3", "&HC3B2A1&"},
        {"rgb(255, 128, 0)", "&H0080FF&"},
        {" RGB(0,0,255) ", "&HFF0000&"},
        {"bleu", ""},
        {"#12345", ""},
        {"rgb(256, 0, 0)", ""},
        {"rgb(1, 2)", ""},
    };
    for (const auto& [name, value] : known) {
        SCOPED_TRACE(name);
        const Converted c = Convert("<font color=\"" + name + "\">t</font>");
        if (value.empty()) {
            EXPECT_EQ(c.ass, "t");
            ASSERT_EQ(c.warnings.size(), 1u);
            EXPECT_EQ(c.warnings[0], "line 7 (cue 3): unknown colour \"" + name +
                                         "\"; the text keeps the colour it has");
        } else {
            EXPECT_EQ(c.ass, "{\\c" + value + "}t{\\c}");
            EXPECT_TRUE(c.warnings.empty());
        }
    }
}

TEST(SrtConvert, NestedKnownTagsAndHiddenUnknownOnes) {
    EXPECT_EQ(Convert("<b>b <i>bi <I>still</I> bi</i></b> </b>plain").ass,
              "{\\b1}b {\\i1}bi still bi{\\i0}{\\b0} plain");
    EXPECT_EQ(Convert("<invalid_tag>shown</invalid_tag> <wwww>too <br/><span class=\"a>b\">x").ass,
              "shown too x");
    EXPECT_EQ(Convert("<font color=red>r <font size=\"32\">big <font color=lime>g</font> "
                      "big</font> r</font> w")
                  .ass,
              "{\\c&H0000FF&}r {\\fs32}big {\\c&H00FF00&}g{\\c&H0000FF&} big{\\fs} r{\\c} w");
}

TEST(SrtConvert, StrayAngleBracketsBracesAndBackslashesStayText) {
    const std::string wj = "\xE2\x81\xA0";
    EXPECT_EQ(Convert("a < b > c, <3, x<-y, 1<2> 3, <a").ass, "a < b > c, <3, x<-y, 1<2> 3, <a");
    EXPECT_EQ(Convert("{\\an8}{sic} C:\\new\\Name \\h \\x").ass,
              "{\\an8}\\{sic\\} C:\\" + wj + "new\\" + wj + "Name \\" + wj + "h \\x");
    // A written backslash before a tag must not turn the tag's "{" into an escape.
    EXPECT_EQ(Convert("end\\<i>x</i>").ass, "end\\" + wj + "{\\i1}x{\\i0}");
    EXPECT_EQ(Convert("{\\b1}x").ass, "\\{\\b1\\}x");
}

TEST(SrtConvert, FontSizeScalesTheStyleAndFaceNamesTheFont) {
    EXPECT_EQ(Convert("<font size=\"24\" face=\"DejaVu Serif\">a</font>b", 58).ass,
              "{\\fs87\\fnDejaVu Serif}a{\\fs\\fn}b");
    EXPECT_EQ(Convert("<font size=8px face='Odd}\\Name'>a", 40).ass, "{\\fs20\\fnOddName}a");
    const Converted bad = Convert("<font size=\"+2\">a</font>", 58);
    EXPECT_EQ(bad.ass, "a");
    ASSERT_EQ(bad.warnings.size(), 1u);
    EXPECT_NE(bad.warnings[0].find("\"+2\""), std::string::npos);
    EXPECT_EQ(Convert("<font size=\"100000\">a</font>").warnings.size(), 1u);
}

TEST(SrtConvert, LineEndsOfAnyKindAndSkippedTextIsReported) {
    std::vector<std::string> warnings;
    SrtReadSettings settings;
    settings.warn = [&](const std::string& w) { warnings.push_back(w); };
    const auto events = ParseSrt("1\r00:00:01,000 --> 00:00:02,000\rone\rtwo\r\r"
                                 "2\r00:00:03,000 -> 00:00:04,000\rlost\r\r"
                                 "3\r00:00:05,000 --> 00:00:04,000\rbackwards\r\r"
                                 "4\n00:00:06,000 --> 00:00:07,000\n<font color=bleu>x\n"
                                 "\nstray words\n",
                                 settings);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "one\\Ntwo");
    EXPECT_EQ(events[1].startMs, 6000);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "line 7: \"00:00:03,000 -> 00:00:04,000\" is not a cue time; the cue is skipped",
                  "line 11 (cue 3): the cue does not end after it starts; it is skipped",
                  "line 16 (cue 4): unknown colour \"bleu\"; the text keeps the colour it has",
                  "line 18: text outside any cue is skipped"}));
}

TEST(SrtConvert, StyleFileWithHeaderFormatAndResolution) {
    const auto style = ParseSrtStyle("\xEF\xBB\xBF; big yellow\r\n"
                                     "PlayResX: 1280\r\nPlayResY: 720\r\n"
                                     "[V4+ Styles]\r\n"
                                     "Format: Name, Fontname, Fontsize, PrimaryColour\r\n"
                                     "Style: Yellow, DejaVu Sans, 40, &H0000FFFF\r\n",
                                     "/s/a.srt.style");
    EXPECT_EQ(style.playResX, 1280);
    EXPECT_EQ(style.playResY, 720);
    EXPECT_EQ(style.name, "Yellow");
    const std::string header = BuildSrtScriptHeader(style);
    EXPECT_NE(header.find("PlayResY: 720\n"), std::string::npos);
    EXPECT_NE(header.find("Format: Name, Fontname, Fontsize, PrimaryColour\nStyle: Yellow, "),
              std::string::npos);

    // A bare Style line takes the full V4+ format and the ASS default resolution.
    const auto bare = ParseSrtStyle(
        "Style: Plain,DejaVu Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,"
        "0,0,1,1,0,2,10,10,10,1",
        "b.style");
    EXPECT_EQ(bare.name, "Plain");
    EXPECT_EQ(bare.playResY, 288);
}

TEST(SrtConvert, BadStyleFilesAreNamedWithTheLine) {
    const auto failure = [](const std::string& text) -> std::string {
        try {
            ParseSrtStyle(text, "/s/a.srt.style");
        } catch (const SubtitleError& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_EQ(failure("Style: A,B,1\nColour: red\n"),
              "/s/a.srt.style: line 2 \"Colour: red\": unknown key");
    EXPECT_NE(failure("PlayResX: wide\nStyle: A").find("line 1"), std::string::npos);
    EXPECT_NE(failure("[Events]\nStyle: A").find("[V4+ Styles]"), std::string::npos);
    EXPECT_EQ(failure("PlayResX: 640\n"), "/s/a.srt.style: no Style line");
    EXPECT_NE(failure("Format: Name, Fontname\nStyle: A,B,C\n").find("3 fields"),
              std::string::npos);
    EXPECT_NE(failure("Style: A\nStyle: B\n").find("second Style"), std::string::npos);
}

} // namespace
} // namespace pelldrin::render
