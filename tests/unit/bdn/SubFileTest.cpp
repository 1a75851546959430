#include "bdn/SubFile.h"
#include "BdnTestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelldrin {
namespace {

using test::Converter10;
using test::ReadFile;
using test::ReplaceOnce;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

// Loads bytes written to a fresh file; the path is returned for error-message checks.
TBDNFile LoadText(const TempDir& dir, const std::string& bytes, TBDNFile file = {}) {
    const std::string path = dir.File("in.xml");
    WriteFile(path, bytes);
    LoadBDNFile(path, file);
    return file;
}

// The message of the BdnError that loading bytes raises.
std::string LoadError(const std::string& bytes) {
    TempDir dir;
    try {
        LoadText(dir, bytes);
    } catch (const BdnError& e) {
        return e.what();
    }
    return "no error";
}

TEST(LoadBDNFile, ReadsTheConverterFileIntoTheModel) {
    TempDir dir;
    const TBDNFile file = LoadText(dir, Converter10());
    const TBDNInfo& i = file.Info;
    EXPECT_EQ(i.Version, "0.93");
    EXPECT_EQ(i.XmlnsXsi, "http://www.w3.org/2001/XMLSchema-instance");
    EXPECT_EQ(i.SchemaLocation, "BD-03-006-0093b BDN File Format.xsd");
    EXPECT_EQ(i.Title, "Episode 01 \u2013 \u5b57\u5e55");
    EXPECT_EQ(i.Content, "");
    EXPECT_EQ(i.LanguageCode, "zho");
    EXPECT_EQ(i.VideoFormat, "1080p");
    EXPECT_EQ(i.FrameRate, "25");
    EXPECT_EQ(i.DropFrame, "False");
    EXPECT_EQ(i.LastEventOutTC, "00:01:02:20");
    EXPECT_EQ(i.FirstEventInTC, "00:00:01:05");
    EXPECT_EQ(i.ContentInTC, "00:00:00:00");
    EXPECT_EQ(i.ContentOutTC, "00:01:05:00");
    EXPECT_EQ(i.EventType, "Graphic");
    EXPECT_EQ(i.NumberofEvents, 10);
    ASSERT_EQ(file.Events.size(), 10u);
    const TBDNEvents expectedSecond{"False", "00:00:07:05", "00:00:11:10", 610,
                                    124,     655,           890,           "00000001_0.png"};
    EXPECT_EQ(file.Events[1], expectedSecond);
    EXPECT_EQ(file.Events[9].OutTC, "00:01:02:20");
    EXPECT_EQ(file.Events[9].GraphicFile, "00000009_0.png");
}

TEST(LoadBDNFile, DescriptionOrderAndUnknownElementsDoNotMatter) {
    const std::string shuffled =
        "<?xml version=\"1.0\"?><BDN Version=\"1\" xmlns:xsi=\"x\" "
        "xsi:noNamespaceSchemaLocation=\"s\"><Description><!-- note -->"
        "<Events LastEventOutTC=\"a\" FirstEventInTC=\"b\" ContentInTC=\"c\" ContentOutTC=\"d\" "
        "NumberofEvents=\"1\" Type=\"Graphic\"/><Extra Foo=\"1\"/>"
        "<Format VideoFormat=\"720p\" FrameRate=\"50\" DropFrame=\"False\"/>"
        "<Language Code=\"eng\"/><Name Title=\"T\" Content=\"C\"/></Description>"
        "<Events><Event Forced=\"True\" InTC=\"i\" OutTC=\"o\">"
        "<Graphic Width=\"1\" Height=\"2\" X=\"-3\" Y=\"4\">a.png</Graphic></Event></Events></BDN>";
    TempDir dir;
    const TBDNFile file = LoadText(dir, shuffled);
    EXPECT_EQ(file.Info.Title, "T");
    EXPECT_EQ(file.Info.LanguageCode, "eng");
    EXPECT_EQ(file.Info.FrameRate, "50");
    EXPECT_EQ(file.Info.ContentOutTC, "d");
    ASSERT_EQ(file.Events.size(), 1u);
    EXPECT_EQ(file.Events[0], (TBDNEvents{"True", "i", "o", 1, 2, -3, 4, "a.png"}));
}

TEST(LoadBDNFile, EdgeShapesOfTheEventList) {
    const std::string base = Converter10();
    TempDir dir;

    // Fewer events than the count: the rest stay empty.
    const TBDNFile fewer =
        LoadText(dir, ReplaceOnce(base, "NumberofEvents=\"10\"", "NumberofEvents=\"12\""));
    ASSERT_EQ(fewer.Events.size(), 12u);
    EXPECT_EQ(fewer.Events[9].GraphicFile, "00000009_0.png");
    EXPECT_EQ(fewer.Events[10], TBDNEvents{});
    EXPECT_EQ(fewer.Events[11], TBDNEvents{});

    // Two Graphic children: the second one wins.
    const TBDNFile two = LoadText(
        dir, ReplaceOnce(base, "00000000_0.png</Graphic>",
                         "00000000_0.png</Graphic><Graphic Width=\"7\" Height=\"8\" X=\"9\" "
                         "Y=\"10\">second.png</Graphic>"));
    EXPECT_EQ(two.Events[0],
              (TBDNEvents{"False", "00:00:01:05", "00:00:05:10", 7, 8, 9, 10, "second.png"}));

    // An empty attribute value is an empty text, not a missing one.
    EXPECT_EQ(
        LoadText(dir, ReplaceOnce(base, "DropFrame=\"False\"", "DropFrame=\"\"")).Info.DropFrame,
        "");

    // More events than the count cannot be held by the model.
    EXPECT_THAT(LoadError(ReplaceOnce(base, "NumberofEvents=\"10\"", "NumberofEvents=\"9\"")),
                HasSubstr("more events than NumberofEvents (9)"));
}

TEST(LoadBDNFile, RootOtherThanBdnLeavesTheModelAsItWas) {
    TBDNFile before;
    before.Info.Title = "kept";
    before.Events.resize(2);
    TempDir dir;
    std::string lower = ReplaceOnce(Converter10(), "<BDN ", "<bdn ");
    lower = ReplaceOnce(lower, "</BDN>", "</bdn>");
    EXPECT_EQ(LoadText(dir, lower, before), before);
}

TEST(LoadBDNFile, MissingOrBadValuesAreErrorsNamingFileAndPlace) {
    const std::string base = Converter10();
    const std::string noContent = LoadError(ReplaceOnce(base, " Content=\"\"", ""));
    EXPECT_THAT(noContent, HasSubstr("in.xml"));
    EXPECT_THAT(noContent, HasSubstr("\"Name\" in \"Description\" has no attribute \"Content\""));

    EXPECT_THAT(LoadError(ReplaceOnce(base, "<Event Forced=\"False\" InTC=\"00:00:13:05\"",
                                      "<Event InTC=\"00:00:13:05\"")),
                HasSubstr("\"Event\" number 3 in the event list has no attribute \"Forced\""));
    EXPECT_THAT(LoadError(ReplaceOnce(base, " Y=\"950\"", "")), HasSubstr("\"Y\""));
    EXPECT_THAT(LoadError(ReplaceOnce(base, "00000000_0.png", "")),
                HasSubstr("names no image file"));
    EXPECT_THAT(LoadError(ReplaceOnce(base, "Width=\"600\"", "Width=\"6x0\"")),
                HasSubstr("\"Width\" of \"Graphic\" of element \"Event\" number 1"));
    EXPECT_THAT(LoadError(ReplaceOnce(base, "NumberofEvents=\"10\"", "NumberofEvents=\"\"")),
                HasSubstr("\"NumberofEvents\""));
    EXPECT_THAT(LoadError(ReplaceOnce(base, "NumberofEvents=\"10\"", "NumberofEvents=\"-1\"")),
                HasSubstr("not a possible event count"));
    // A count far beyond anything the file could hold is refused rather than allocated.
    EXPECT_THAT(
        LoadError(ReplaceOnce(base, "NumberofEvents=\"10\"", "NumberofEvents=\"2000000000\"")),
        HasSubstr("not a possible event count"));
    EXPECT_THAT(LoadError("<BDN><Description>"), HasSubstr("not well-formed XML"));
}

TEST(LoadBDNFile, UnreadableFileLeavesTheModelUnchanged) {
    TempDir dir;
    TBDNFile file;
    file.Info.Title = "kept";
    EXPECT_THROW(LoadBDNFile(dir.File("missing.xml"), file), BdnError);
    WriteFile(dir.File("bad.xml"), "<BDN Version=\"1\"><Description></BDN>");
    EXPECT_THROW(LoadBDNFile(dir.File("bad.xml"), file), BdnError);
    EXPECT_EQ(file.Info.Title, "kept");
}

TEST(SaveBDNHeader, ChangesExactlyTheThreeSummaryValues) {
    TempDir dir;
    const std::string path = dir.File("a.xml");
    const std::string original = ReplaceOnce(Converter10(), "<Events>", "<!-- keep me --><Events>");
    WriteFile(path, original);
    TBDNFile file;
    LoadBDNFile(path, file);
    file.Info.NumberofEvents = 12;
    file.Info.LastEventOutTC = "01:00:00:00";
    file.Info.ContentOutTC = "01:00:00:05";
    file.Info.FirstEventInTC = "99:99:99:99"; // not one of the three: must not be written
    SaveBDNHeader(path, file);

    auto expected = test::ParseXml(original);
    pugi::xml_node summary = expected.child("BDN").child("Description").child("Events");
    summary.attribute("LastEventOutTC") = "01:00:00:00";
    summary.attribute("ContentOutTC") = "01:00:00:05";
    summary.attribute("NumberofEvents") = "12";
    EXPECT_EQ(test::Flatten(test::ParseXml(ReadFile(path))), test::Flatten(expected));
    EXPECT_THAT(ReadFile(path), HasSubstr("NumberofEvents=\"12\""));
}

TEST(SaveBDNHeader, WithoutAFileBuildsTheSkeleton) {
    TempDir dir;
    const std::string path = dir.File("new.xml");
    TBDNFile file;
    LoadBDNFile(std::string(PELLDRIN_TEST_DATA) + "/bdn/converter10.xml", file);
    SaveBDNHeader(path, file);

    const std::string written = ReadFile(path);
    EXPECT_EQ(written.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    const auto doc = test::ParseXml(written);
    EXPECT_EQ(test::AttributeOrder(doc.child("BDN").child("Description").child("Events")),
              "LastEventOutTC,FirstEventInTC,ContentInTC,ContentOutTC,NumberofEvents,Type");
    EXPECT_TRUE(test::ListEvents(doc).empty());

    TBDNFile reread;
    LoadBDNFile(path, reread);
    EXPECT_EQ(reread.Info, file.Info); // the summary carries the model's count, 10
}

TEST(SaveBDNHeader, MissingSummaryIsAnErrorAndTheFileStaysAsItWas) {
    TempDir dir;
    const std::string path = dir.File("a.xml");
    const std::string noSummary =
        ReplaceOnce(Converter10(), "<Events LastEventOutTC", "<Summary LastEventOutTC");
    WriteFile(path, noSummary);
    TBDNFile file;
    file.Info.NumberofEvents = 3;
    EXPECT_THROW(SaveBDNHeader(path, file), BdnError);
    EXPECT_EQ(ReadFile(path), noSummary);
}

} // namespace
} // namespace pelldrin
