// SRT cues to ASS events, style files, and text decoding.
#include "render/SrtConvert.h"

#include <gtest/gtest.h>

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

TEST(SrtConvert, DecodesUtf16AndDropsByteOrderMarks) {
    const std::string text = "Zo\xC3\xAB \xE4\xB8\xAD"; // "Zoë 中"
    const std::string le("\xFF\xFEZ\0o\0\xEB\0\x20\0\x2D\x4E", 12);
    const std::string be("\xFE\xFF\0Z\0o\0\xEB\0\x20\x4E\x2D", 12);
    EXPECT_EQ(DecodeSubtitleText(le), text);
    EXPECT_EQ(DecodeSubtitleText(be), text);
    EXPECT_EQ(DecodeSubtitleText("\xEF\xBB\xBF" + text), text);
    EXPECT_EQ(DecodeSubtitleText(text), text);
}

} // namespace
} // namespace pelldrin::render
