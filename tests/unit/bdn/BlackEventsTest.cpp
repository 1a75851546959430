#include "bdn/BlackEvents.h"
#include "BdnTestUtil.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "bdn/SubFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace pelldrin {
namespace {

using test::Converter10;
using test::ReadFile;
using test::ReplaceOnce;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

TEST(AddFrames, CarriesIntoSecondsMinutesAndHours) {
    EXPECT_EQ(AddFrames("00:01:02:20", 8, 25), "00:01:03:03");
    EXPECT_EQ(AddFrames("00:00:01:17", 8, 25), "00:00:02:00");
    EXPECT_EQ(AddFrames("00:00:10:20", 8, 24), "00:00:11:04");
    EXPECT_EQ(AddFrames("00:59:59:20", 8, 25), "01:00:00:03");
    EXPECT_EQ(AddFrames("23:59:59:20", 8, 25), "24:00:00:03"); // hours do not wrap
    EXPECT_EQ(AddFrames("99:59:59:59", 8, 60), "100:00:00:07");
    EXPECT_EQ(AddFrames("0:0:0:0", 0, 30), "00:00:00:00");
}

TEST(AddFrames, RejectsMalformedTimecodesAndBases) {
    for (const char* bad : {"", "00:00:00", "00:00:00:00:00", "00:00:0a:00", "00:-1:00:00",
                            "00:00: 1:00", "00:00:00:99999999999"}) {
        EXPECT_THROW(AddFrames(bad, 8, 25), BdnError) << bad;
    }
    EXPECT_THROW(AddFrames("00:00:00:00", 8, 0), BdnError);
    EXPECT_THROW(AddFrames("00:00:00:00", 8, -25), BdnError);
}

TEST(FrameBase, RoundsTheRateUpToWholeFrames) {
    EXPECT_EQ(FrameBase("23.976"), 24);
    EXPECT_EQ(FrameBase("29.97"), 30);
    EXPECT_EQ(FrameBase("59.94"), 60);
    EXPECT_EQ(FrameBase("24"), 24);
    EXPECT_EQ(FrameBase("25"), 25);
    EXPECT_EQ(FrameBase("50.000"), 50);
    for (const char* bad : {"", "abc", "0", "0.0", "-25", "25.x", "1.2.3", ".5", " 25"}) {
        EXPECT_THROW(FrameBase(bad), BdnError) << bad;
    }
}

// Frames since 00:00:00:00 at the base; the test's own reading of a timecode.
long Frames(const std::string& tc, int base) {
    const auto parts = SplitByDelimiter(tc, ':');
    if (parts.size() != 4) {
        throw std::runtime_error("test: not a timecode: " + tc);
    }
    return ((std::stol(parts[0]) * 60 + std::stol(parts[1])) * 60 + std::stol(parts[2])) * base +
           std::stol(parts[3]);
}

// Width and height from a PNG's header chunk.
std::pair<int, int> PngSize(const std::string& png) {
    auto be32 = [&](std::size_t at) {
        int v = 0;
        for (std::size_t i = at; i < at + 4; ++i) {
            v = v * 256 + static_cast<unsigned char>(png.at(i));
        }
        return v;
    };
    return {be32(16), be32(20)};
}

class AddBlackEventsTest : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile(path_, Converter10()); }

    pugi::xml_document Written() const { return test::ParseXml(ReadFile(path_)); }

    std::string Summary(const char* name) const {
        return Written().child("BDN").child("Description").child("Events").attribute(name).value();
    }

    // Checks one blank event: attributes in order, times and the blank image of its size.
    static void ExpectBlank(pugi::xml_node event, const char* in, const char* out,
                            std::pair<int, int> size = {1920, 1080}) {
        EXPECT_EQ(test::AttributeOrder(event), "Forced,InTC,OutTC");
        EXPECT_STREQ(event.attribute("Forced").value(), "False");
        EXPECT_STREQ(event.attribute("InTC").value(), in);
        EXPECT_STREQ(event.attribute("OutTC").value(), out);
        const pugi::xml_node g = event.child("Graphic");
        EXPECT_EQ(test::AttributeOrder(g), "Width,Height,X,Y");
        EXPECT_STREQ(g.text().get(), "0.png");
        EXPECT_EQ(g.attribute("Width").as_int(), size.first);
        EXPECT_EQ(g.attribute("Height").as_int(), size.second);
        EXPECT_EQ(g.attribute("X").as_int(), 0);
        EXPECT_EQ(g.attribute("Y").as_int(), 0);
    }

    // What an authoring tool checks: events in time order, none overlapping the next, and
    // a summary whose count and first and last times are those of the listed events.
    void ExpectOrderedAndDescribed(int base) const {
        const auto written = Written();
        const auto events = test::ListEvents(written);
        ASSERT_FALSE(events.empty());
        for (std::size_t i = 0; i < events.size(); ++i) {
            const long in = Frames(events[i].attribute("InTC").value(), base);
            const long out = Frames(events[i].attribute("OutTC").value(), base);
            EXPECT_LT(in, out) << "event " << i;
            if (i > 0) {
                EXPECT_LE(Frames(events[i - 1].attribute("OutTC").value(), base), in)
                    << "event " << i << " starts before the one before it ends";
            }
        }
        EXPECT_EQ(Summary("NumberofEvents"), std::to_string(events.size()));
        EXPECT_EQ(Summary("FirstEventInTC"), events.front().attribute("InTC").value());
        EXPECT_EQ(Summary("LastEventOutTC"), events.back().attribute("OutTC").value());
        EXPECT_EQ(Summary("ContentInTC"), "00:00:00:00");
        EXPECT_EQ(Summary("ContentOutTC"), "00:01:05:00");
    }

    // Asserts that the call fails and leaves the XML byte for byte and writes no image.
    void ExpectRefusedUnchanged(const std::string& bytes, int mode, const char* needle) {
        WriteFile(path_, bytes);
        try {
            AddBlackEvents(path_, mode);
            ADD_FAILURE() << "no error for mode " << mode;
        } catch (const BdnError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path_));
            EXPECT_THAT(e.what(), HasSubstr(needle));
        }
        EXPECT_EQ(ReadFile(path_), bytes);
        EXPECT_FALSE(std::filesystem::exists(image_));
    }

    TempDir dir_;
    std::string path_ = dir_.File("task.xml");
    std::string image_ = dir_.File("0.png");
};

TEST_F(AddBlackEventsTest, Mode1PutsTheFirstEventFirstAndWritesTheImage) {
    WriteFile(image_, "something else");
    AddBlackEvents(path_, 1);
    const auto written = Written();
    const auto events = test::ListEvents(written);
    ASSERT_EQ(events.size(), 11u);
    ExpectBlank(events[0], "00:00:00:00", "00:00:00:08");
    EXPECT_STREQ(events[1].child("Graphic").text().get(), "00000000_0.png");
    EXPECT_STREQ(events[10].child("Graphic").text().get(), "00000009_0.png");
    EXPECT_EQ(Summary("FirstEventInTC"), "00:00:00:00");
    EXPECT_EQ(Summary("LastEventOutTC"), "00:01:02:20");
    ExpectOrderedAndDescribed(25);
    EXPECT_EQ(ReadFile(image_), std::string(BlankEventImage()));
}

TEST_F(AddBlackEventsTest, Mode2PutsTheEndEventLastAtTheFrameBase) {
    AddBlackEvents(path_, 2);
    auto written = Written();
    auto events = test::ListEvents(written);
    ASSERT_EQ(events.size(), 11u);
    ExpectBlank(events[10], "00:01:03:03", "00:01:03:11");
    EXPECT_EQ(Summary("FirstEventInTC"), "00:00:01:05");
    ExpectOrderedAndDescribed(25);
    EXPECT_TRUE(std::filesystem::exists(image_));

    // At 23.976 the timecode counts 24 frames a second.
    std::string ntsc = ReplaceOnce(Converter10(), "FrameRate=\"25\"", "FrameRate=\"23.976\"");
    WriteFile(path_, ReplaceOnce(ntsc, "LastEventOutTC=\"00:01:02:20\"",
                                 "LastEventOutTC=\"00:01:02:22\""));
    AddBlackEvents(path_, 2);
    written = Written();
    events = test::ListEvents(written);
    ExpectBlank(events.back(), "00:01:03:06", "00:01:03:14");
}

TEST_F(AddBlackEventsTest, Mode3ListsEveryEventInTimeOrderAndKeepsEverythingElse) {
    const std::string original = ReplaceOnce(Converter10(), "<Events>", "<!-- kept --><Events>");
    WriteFile(path_, original);
    AddBlackEvents(path_, 3);
    const auto written = Written();
    const auto events = test::ListEvents(written);
    ASSERT_EQ(events.size(), 12u);
    ExpectBlank(events[0], "00:00:00:00", "00:00:00:08");
    ExpectBlank(events[11], "00:01:03:03", "00:01:03:11");
    ExpectOrderedAndDescribed(25);
    EXPECT_EQ(ReadFile(path_).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);

    // Apart from the summary and the two new events, the document is what it was.
    auto expected = test::ParseXml(original);
    pugi::xml_node summary = expected.child("BDN").child("Description").child("Events");
    summary.attribute("NumberofEvents") = "12";
    summary.attribute("FirstEventInTC") = "00:00:00:00";
    summary.attribute("LastEventOutTC") = "00:01:03:11";
    auto actual = test::ParseXml(ReadFile(path_));
    pugi::xml_node list = actual.child("BDN").child("Events");
    list.remove_child(list.first_child());
    list.remove_child(list.last_child());
    EXPECT_EQ(test::Flatten(actual), test::Flatten(expected));

    TBDNFile reread;
    LoadBDNFile(path_, reread);
    EXPECT_EQ(reread.Info.Title, "Episode 01 \u2013 \u5b57\u5e55");
    EXPECT_EQ(reread.Events.size(), 12u);
}

TEST_F(AddBlackEventsTest, EachFormatsBlankEventsDeclareTheSizeOfTheirImage) {
    struct Case {
        const char* format;
        std::pair<int, int> size;
    };
    for (const Case& c :
         {Case{"1080p", {1920, 1080}}, Case{"720p", {1280, 720}}, Case{"480p", {720, 480}},
          Case{"480i", {720, 480}}, Case{"576i", {720, 576}}}) {
        SCOPED_TRACE(c.format);
        std::filesystem::remove(image_);
        WriteFile(path_, ReplaceOnce(Converter10(), "VideoFormat=\"1080p\"",
                                     std::string("VideoFormat=\"") + c.format + "\""));
        AddBlackEvents(path_, 3);
        const auto written = Written();
        const auto events = test::ListEvents(written);
        ASSERT_EQ(events.size(), 12u);
        ExpectBlank(events.front(), "00:00:00:00", "00:00:00:08", c.size);
        ExpectBlank(events.back(), "00:01:03:03", "00:01:03:11", c.size);
        ExpectOrderedAndDescribed(25);
        EXPECT_EQ(PngSize(ReadFile(image_)), c.size);
    }
}

TEST_F(AddBlackEventsTest, ABlankEventStopsShortOfEverySubtitle) {
    // A subtitle from the stream's second frame: the first blank event keeps one frame.
    WriteFile(path_, ReplaceOnce(Converter10(), "InTC=\"00:00:01:05\" OutTC",
                                 "InTC=\"00:00:00:01\" OutTC"));
    AddBlackEvents(path_, 1);
    ExpectBlank(test::ListEvents(Written()).front(), "00:00:00:00", "00:00:00:01");
    ExpectOrderedAndDescribed(25);

    // A subtitle from the very first frame leaves no room: nothing is added or written.
    std::filesystem::remove(image_);
    const std::string fromZero =
        ReplaceOnce(Converter10(), "InTC=\"00:00:01:05\" OutTC", "InTC=\"00:00:00:00\" OutTC");
    WriteFile(path_, fromZero);
    AddBlackEvents(path_, 1);
    EXPECT_EQ(ReadFile(path_), fromZero);
    EXPECT_FALSE(std::filesystem::exists(image_));
    AddBlackEvents(path_, 3); // the end event alone
    EXPECT_EQ(test::ListEvents(Written()).size(), 11u);
    EXPECT_EQ(Summary("FirstEventInTC"), "00:00:00:00");
    ExpectOrderedAndDescribed(25);

    // A summary whose last out-time is behind the last subtitle: the end event starts
    // where that subtitle ends, or is left out when it ends later still.
    std::filesystem::remove(image_);
    const std::string early = ReplaceOnce(Converter10(), "LastEventOutTC=\"00:01:02:20\"",
                                          "LastEventOutTC=\"00:01:02:10\"");
    WriteFile(path_, early);
    AddBlackEvents(path_, 2);
    ExpectBlank(test::ListEvents(Written()).back(), "00:01:02:20", "00:01:03:01");
    ExpectOrderedAndDescribed(25);
    std::filesystem::remove(image_);
    const std::string earlier = ReplaceOnce(Converter10(), "LastEventOutTC=\"00:01:02:20\"",
                                            "LastEventOutTC=\"00:01:02:00\"");
    WriteFile(path_, earlier);
    AddBlackEvents(path_, 2);
    EXPECT_EQ(ReadFile(path_), earlier);
    EXPECT_FALSE(std::filesystem::exists(image_));
}

TEST_F(AddBlackEventsTest, TheCountIsThatOfTheListedEvents) {
    // A count above the events listed is mended to what the file holds.
    WriteFile(path_, ReplaceOnce(Converter10(), "NumberofEvents=\"10\"", "NumberofEvents=\"14\""));
    AddBlackEvents(path_, 3);
    ExpectOrderedAndDescribed(25);
    TBDNFile reread;
    LoadBDNFile(path_, reread);
    EXPECT_EQ(reread.Info.NumberofEvents, 12);
    ASSERT_EQ(reread.Events.size(), 12u);
    EXPECT_EQ(reread.Events.back().GraphicFile, "0.png");

    // An empty list gets both blank events, one after the other.
    const std::string bytes = Converter10();
    const auto from = bytes.find("    <Event ");
    const auto to = bytes.find("  </Events>");
    const std::string empty = ReplaceOnce(bytes.substr(0, from) + bytes.substr(to),
                                          "NumberofEvents=\"10\"", "NumberofEvents=\"0\"");
    WriteFile(path_, empty);
    AddBlackEvents(path_, 3);
    const auto written = Written();
    const auto events = test::ListEvents(written);
    ASSERT_EQ(events.size(), 2u);
    ExpectBlank(events[0], "00:00:00:00", "00:00:00:08");
    ExpectBlank(events[1], "00:01:03:03", "00:01:03:11");
    ExpectOrderedAndDescribed(25);
    for (const int mode : {1, 2}) {
        WriteFile(path_, empty);
        AddBlackEvents(path_, mode);
        EXPECT_EQ(test::ListEvents(Written()).size(), 1u);
        ExpectOrderedAndDescribed(25);
    }
}

TEST_F(AddBlackEventsTest, OtherModesTouchNothing) {
    const auto before = std::filesystem::last_write_time(path_);
    for (int mode : {0, 4, -1}) {
        AddBlackEvents(path_, mode);
        AddBlackEvents(dir_.File("does-not-exist.xml"), mode);
    }
    EXPECT_EQ(ReadFile(path_), Converter10());
    EXPECT_EQ(std::filesystem::last_write_time(path_), before);
    EXPECT_FALSE(std::filesystem::exists(image_));
}

TEST_F(AddBlackEventsTest, FailuresLeaveTheFileByteForByteUnchanged) {
    const std::string base = Converter10();
    ExpectRefusedUnchanged(ReplaceOnce(base, "FrameRate=\"25\"", "FrameRate=\"\""), 2,
                           "\"FrameRate\"");
    ExpectRefusedUnchanged(ReplaceOnce(base, "FrameRate=\"25\"", "FrameRate=\"0\""), 3, "below 1");
    ExpectRefusedUnchanged(
        ReplaceOnce(base, "LastEventOutTC=\"00:01:02:20\"", "LastEventOutTC=\"00:01:02\""), 2,
        "\"LastEventOutTC\"");
    ExpectRefusedUnchanged(ReplaceOnce(base, " Forced=\"False\"", ""), 1, "\"Forced\"");
    ExpectRefusedUnchanged(ReplaceOnce(base, "InTC=\"00:00:07:05\"", "InTC=\"7s\""), 1,
                           "\"InTC\" of event number 2");
    ExpectRefusedUnchanged("<?xml version=\"1.0\"?><BDN Version=\"1\" xmlns:xsi=\"x\" "
                           "xsi:noNamespaceSchemaLocation=\"s\"><Description/><Events/></BDN>",
                           1, "summary");
    // Without the declaration the root is not at position 1.
    ExpectRefusedUnchanged(base.substr(base.find("<BDN")), 1, "\"BDN\"");
    // A root named in another case would load as an empty model and blank the header times.
    ExpectRefusedUnchanged(ReplaceOnce(ReplaceOnce(base, "<BDN ", "<bdn "), "</BDN>", "</bdn>"), 1,
                           "\"BDN\"");
    ExpectRefusedUnchanged(ReplaceOnce(base, "  <Events>", "  <Other/>\n  <Events>"), 1,
                           "event list");
    ExpectRefusedUnchanged(ReplaceOnce(base, "encoding=\"UTF-8\"", "encoding=\"windows-1252\""), 1,
                           "windows-1252");
    EXPECT_THROW(AddBlackEvents(dir_.File("missing.xml"), 3), BdnError);
    EXPECT_FALSE(std::filesystem::exists(image_));
}

TEST_F(AddBlackEventsTest, KeepsTheDeclaredEncoding) {
    // UTF-16 little-endian with a byte-order mark, as a Windows tool would write it.
    const std::string utf8 =
        ReplaceOnce(Converter10(), "encoding=\"UTF-8\"", "encoding=\"UTF-16\"");
    pugi::xml_document source = test::ParseXml(utf8);
    std::ostringstream utf16;
    source.save(utf16, "  ", pugi::format_indent | pugi::format_write_bom, pugi::encoding_utf16_le);
    WriteFile(path_, utf16.str());

    TBDNFile loaded;
    LoadBDNFile(path_, loaded);
    EXPECT_EQ(loaded.Info.Title, "Episode 01 \u2013 \u5b57\u5e55");

    AddBlackEvents(path_, 3);
    const std::string bytes = ReadFile(path_);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    const std::string text = Utf16ToUtf8(bytes.substr(2), false);
    EXPECT_THAT(text, HasSubstr("encoding=\"UTF-16\""));
    EXPECT_THAT(text, HasSubstr("Episode 01 \u2013 \u5b57\u5e55"));
    EXPECT_THAT(text, HasSubstr("NumberofEvents=\"12\""));
    EXPECT_EQ(test::ListEvents(test::ParseXml(bytes)).size(), 12u);

    // ISO-8859-1 stays one byte a character.
    WriteFile(path_, ReplaceOnce(ReplaceOnce(Converter10(), "encoding=\"UTF-8\"",
                                             "encoding=\"ISO-8859-1\""),
                                 "Episode 01 \u2013 \u5b57\u5e55", "Caf\xE9"));
    AddBlackEvents(path_, 1);
    EXPECT_THAT(ReadFile(path_), HasSubstr("Title=\"Caf\xE9\""));
    LoadBDNFile(path_, loaded);
    EXPECT_EQ(loaded.Info.Title, "Caf\u00e9");
}

} // namespace
} // namespace pelldrin
