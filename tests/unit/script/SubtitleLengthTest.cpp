#include "script/SubtitleLength.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pelldrin;

namespace {

std::string Dialogue(const std::string& end, const std::string& text = "Hello") {
    return "Dialogue: 0,0:00:00.00," + end + ",Default,,0,0,0,," + text;
}

std::int32_t Ass(const std::string& text, double rate) {
    return CountSubtitleFramesInText(text, skAssSsa, rate);
}
std::int32_t Srt(const std::string& text, double rate) {
    return CountSubtitleFramesInText(text, skSrt, rate);
}

std::string ToUtf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (const char c : ascii) {
        if (bigEndian) {
            out += '\0';
            out += c;
        } else {
            out += c;
            out += '\0';
        }
    }
    return out;
}

// UTF-32 with or without its byte-order mark.
std::string ToUtf32(const std::string& ascii, bool bigEndian, bool bom) {
    std::string out = !bom        ? ""
                      : bigEndian ? std::string("\0\0\xFE\xFF", 4)
                                  : std::string("\xFF\xFE\0\0", 4);
    for (const char c : ascii) {
        const std::string zeros(3, '\0');
        out += bigEndian ? zeros + c : c + zeros;
    }
    return out;
}

const std::string kSrt = "1\r\n00:00:01,000 --> 00:00:04,000\r\nHi\r\n\r\n"
                         "2\r\n00:24:30,000 --> 00:24:31,450\r\n<i>word</i>\r\n>> ALICE: Hi\r\n";

} // namespace

TEST(CountSubtitleFrames, WorkedValues) {
    EXPECT_EQ(Ass("", 23.976), 100);
    EXPECT_EQ(Srt("", 25), 100);
    EXPECT_EQ(Ass("[Events]\n" + Dialogue("0:24:31.45") + "\n", 23.976), 35379);
    EXPECT_EQ(Srt(kSrt, 23.976), 35369);
    EXPECT_EQ(Srt("00:00:01,000 --> 00:00:10,500\n", 25), 350);
    EXPECT_EQ(Ass(Dialogue("0:00:05.12"), 29.97), 253);
}

TEST(CountSubtitleFrames, OnlyDialogueLinesWithTenPiecesCount) {
    const std::string later = "Comment: 0,0:00:00.00,1:00:00.00,Default,,0,0,0,,x\n";
    EXPECT_EQ(Ass(Dialogue("0:00:10.00") + "\n" + later, 25), 350);
    EXPECT_EQ(Ass("dialogue: 0,0:00:00.00,1:00:00.00,Default,,0,0,0,,x\n", 25), 100);
    EXPECT_EQ(Ass("Dialogue: 0,0:00:00.00,0:00:10.00,Default,,0,0,0,\n", 25), 100); // nine pieces
    EXPECT_EQ(Ass(Dialogue("0:00:10.00", "a, b, c") + "\n", 25), 350);
    EXPECT_EQ(Ass("  Dialogue  : 0,0:00:00.00,0:00:10.00,Default,,0,0,0,,x\n", 25), 350);
    EXPECT_EQ(
        Ass("Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n",
            25),
        100);
}

TEST(CountSubtitleFrames, FractionComesFromTheLastQualifyingLine) {
    EXPECT_EQ(Ass(Dialogue("0:01:00.20") + "\n" + Dialogue("0:00:10.50") + "\n", 100), 6050 + 100);
    EXPECT_EQ(Ass(Dialogue("0:00:05.5"), 1000), 5005 + 100); // one digit stays one digit
    EXPECT_EQ(Ass(Dialogue("0:00:05.500"), 1000), 5500 + 100);
    EXPECT_EQ(Ass(Dialogue("0:00:01.50"), 25), 138); // 37.5 rounds up
    EXPECT_EQ(Ass(Dialogue("0:00:05"), 10), 150);    // no fraction at all
}

TEST(CountSubtitleFrames, SrtMillisecondsNeverCount) {
    EXPECT_EQ(Srt("00:00:05,000 --> 00:00:09,999\n", 24), 316);
    // After a full stop too, as players read it: such a file is not cut to its margin.
    EXPECT_EQ(Srt("00:00:05.000 --> 00:00:09.999\n", 24), 316);
}

TEST(CountSubtitleFrames, LineBreaksOfEveryKind) {
    const std::string a = Dialogue("0:00:02.00");
    const std::string b = Dialogue("0:00:10.00");
    for (const std::string br : {"\r", "\n", "\r\n", "\v", "\f", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        EXPECT_EQ(Ass(a + br + b, 25), 350) << "break of " << br.size() << " bytes";
    }
    EXPECT_EQ(Ass("x\r" + a + "\n\r\n" + b + "\r", 25), 350); // mixed
}

TEST(CountSubtitleFrames, AZeroByteEndsTheText) {
    const std::string text =
        Dialogue("0:00:02.00") + "\n" + std::string(1, '\0') + "\n" + Dialogue("0:00:10.00") + "\n";
    EXPECT_EQ(Ass(text, 25), 150);
}

TEST(CountSubtitleFrames, UnicodeFormsAndLegacyEncodingsCountLikeEightBit) {
    const std::string ass = "[Events]\r\n" + Dialogue("0:24:31.45") + "\r\n";
    EXPECT_EQ(Ass(ToUtf16(ass, false), 23.976), 35379);
    EXPECT_EQ(Ass(ToUtf16(ass, true), 23.976), 35379);
    EXPECT_EQ(Srt(ToUtf16(kSrt, false), 23.976), 35369);
    EXPECT_EQ(Srt(ToUtf16(kSrt, true), 23.976), 35369);
    for (const bool bom : {true, false}) {
        EXPECT_EQ(Ass(ToUtf32(ass, false, bom), 23.976), 35379);
        EXPECT_EQ(Srt(ToUtf32(kSrt, true, bom), 23.976), 35369);
    }
    // GBK text (two-byte characters) around the times.
    EXPECT_EQ(Ass(ass + Dialogue("0:24:40.00", "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7"), 25),
              37100);
}

TEST(CountSubtitleFrames, Utf8ByteOrderMarkStaysOnTheFirstLine) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(Ass(bom + "[Script Info]\n" + Dialogue("0:00:10.00"), 25), 350);
    EXPECT_EQ(Ass(bom + Dialogue("0:00:10.00"), 25), 100); // "\xEF\xBB\xBF" + Dialogue is no match
}

TEST(CountSubtitleFrames, TextThatIsNoTimeIsSkipped) {
    EXPECT_EQ(Ass(Dialogue("abc") + "\n" + Dialogue("0:00:10.00"), 25), 350);
    EXPECT_EQ(Ass(Dialogue("0:61:00.00") + "\n" + Dialogue("0:00:10.00"), 25), 350);
    EXPECT_EQ(Ass(Dialogue("0:00:10.00") + "\n" + Dialogue("x:00:20.00"), 25), 350);
    EXPECT_EQ(Ass(Dialogue("1:2:3:4.00") + "\n" + Dialogue("0:00:10.00"), 25), 350);
    EXPECT_EQ(Srt("<i>word</i>\n>> ALICE: Hi\n00:00:01,000 --> 00:00:04,000\n", 25), 200);
    EXPECT_EQ(Srt("00:00:01,000 --> 99999999999999999999:00:00,000\n", 25), 100);
}

TEST(CountSubtitleFrames, TimesOfDayReadLoosely) {
    EXPECT_EQ(Ass(Dialogue("25:00:00.00"), 1), 90000 + 100); // hours of 24 or more
    EXPECT_EQ(Srt("a --> 1\n", 1), 3600 + 100);              // a lone number is hours
    EXPECT_EQ(Srt("a --> 0 : 01\n", 1), 60 + 100);           // blanks around numbers
    std::int64_t s = 0;
    EXPECT_TRUE(ReadTimeOfDay("5:30", s));
    EXPECT_EQ(s, 5 * 3600 + 30 * 60);
    EXPECT_FALSE(ReadTimeOfDay("", s));
    EXPECT_FALSE(ReadTimeOfDay("1::2", s));
    EXPECT_FALSE(ReadTimeOfDay("-1:00:00", s));
}

TEST(CountSubtitleFrames, UnknownKindExaminesNothing) {
    EXPECT_EQ(CountSubtitleFramesInText(Dialogue("1:00:00.00"), 7, 25), 100);
}

TEST(CountSubtitleFrames, BinaryGarbageGivesTheMarginAlone) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i) {
        garbage += static_cast<char>((i * 7919 + 13) % 255 + 1);
    }
    EXPECT_GE(Ass(garbage, 25), 100);
    EXPECT_GE(Srt(garbage, 25), 100);
}

TEST(CountSubtitleFrames, ReadsFilesAndNamesOnesThatCannotBeRead) {
    test::TempDir dir;
    const std::string path = dir.File("movie.ass");
    test::WriteFile(path, "[Events]\n" + Dialogue("0:24:31.45") + "\n");
    EXPECT_EQ(CountSubtitleFrames(path, skAssSsa, 23.976), 35379);
    test::WriteFile(dir.File("empty.srt"), "");
    EXPECT_EQ(CountSubtitleFrames(dir.File("empty.srt"), skSrt, 25), 100);
    try {
        CountSubtitleFrames(dir.File("gone.ass"), skAssSsa, 25);
        FAIL() << "a missing file must throw";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("gone.ass"), std::string::npos);
    }
}

TEST(FirstEventSeconds, EarliestReadableStartOfEitherKind) {
    // Events need not be in order; comments, short lines and bad times are not events.
    const std::string ass = "[Events]\n"
                            "Comment: 0,0:00:00.50,0:00:09.00,Default,,0,0,0,,note\n"
                            "Dialogue: 0,0:00:00.20,0:00:09.00,Default,,0,0,0\n"
                            "Dialogue: 0,0:xx:00.10,0:00:09.00,Default,,0,0,0,,bad\n"
                            "Dialogue: 0,0:01:05.25,0:01:09.00,Default,,0,0,0,,later\n"
                            "Dialogue: 0,0:00:03.75,0:00:05.00,Default,,0,0,0,,first, with comma\n";
    EXPECT_DOUBLE_EQ(FirstEventSecondsInText(ass, skAssSsa).value(), 3.75);
    EXPECT_DOUBLE_EQ(FirstEventSecondsInText(ToUtf16(ass, true), skAssSsa).value(), 3.75);

    const std::string srt = "1\r\n00:01:00,500 --> 00:01:02,000\r\nlate\r\n\r\n"
                            "2\r\n00:00:12.040 --> 00:00:13,000\r\nx --> y\r\n";
    EXPECT_DOUBLE_EQ(FirstEventSecondsInText(srt, skSrt).value(), 12.04);
    EXPECT_FALSE(FirstEventSecondsInText(srt, skAssSsa).has_value());
    EXPECT_FALSE(FirstEventSecondsInText("1\nHello\n", skSrt).has_value());
    EXPECT_THROW(FirstEventSeconds("/nonexistent/gone.srt", skSrt), FileError);
}
