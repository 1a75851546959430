#include "settings/Language.h"
#include "base/FileSystem.h"
#include "settings/ConfigStore.h"
#include "settings/FileListing.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

using namespace pelldrin;
namespace fs = std::filesystem;

namespace {

const std::string kMenuData = std::string(PELLDRIN_TEST_DATA) + "/lang/menu";
const std::string kShippedData = std::string(PELLDRIN_TEST_DATA) + "/../../data";

// Records every caption the way the window would receive it.
struct RecordingTarget : ICaptionTarget {
    std::vector<std::pair<std::string, std::string>> calls;
    void SetCaption(const std::string& key, const std::string& text) override {
        calls.emplace_back(key, text);
    }
};

std::vector<std::pair<std::string, std::string>> CaptionsOf(const std::string& prefix) {
    std::vector<std::pair<std::string, std::string>> expected;
    for (int i = 1; i <= 20; ++i) {
        char key[8];
        std::snprintf(key, sizeof key, "L%03d", i);
        expected.emplace_back(key, prefix + " caption " + std::to_string(i));
    }
    // The test files predate the later captions: those come built in, in English but
    // for those that were fixed texts before they had keys.
    for (const auto& [key, text] :
         std::vector<std::pair<std::string, std::string>>{{"L021", "Preview..."},
                                                          {"L022", "About..."},
                                                          {"L023", "\u5f53\u524d\u8fdb\u5ea6"},
                                                          {"L024", "Normal"},
                                                          {"L025", "Lower"},
                                                          {"L026", "Higher"},
                                                          {"L027", "Realtime(Warning)"},
                                                          {"L028", "Close"},
                                                          {"L029", "Show warnings..."},
                                                          {"L030", "Open output folder"},
                                                          {"L031", "Copy"},
                                                          {"L032", "File"},
                                                          {"L033", "Add files..."},
                                                          {"L034", "Add folder..."},
                                                          {"L035", "(no style)"}}) {
        expected.emplace_back(key, text);
    }
    return expected;
}

std::vector<std::string> NamesOf(const LanguageMenu& menu) {
    std::vector<std::string> names;
    for (const auto& e : menu.entries) {
        names.push_back(e.name);
    }
    return names;
}

std::string Format(const LanguageTexts& slots, const std::string& key, FormatArg arg) {
    return FormatMessageText(slots, key, std::span<const FormatArg>(&arg, 1));
}

// Screen columns of a caption: CJK characters take two.
std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            columns += c >= 0xE0 ? 2 : 1;
        }
    }
    return columns;
}

} // namespace

TEST(LanguageMenu, ValidFilesByNameDefaultAppliedBrokenOnesSkipped) {
    LanguageTexts slots;
    RecordingTarget target;
    std::ostringstream warnings;
    const LanguageMenu menu = BuildLanguageMenu(kMenuData, "Beta", slots, target, warnings);

    EXPECT_EQ(NamesOf(menu), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(menu.entries[1].file, JoinPath(kMenuData, "Beta.xml"));
    EXPECT_EQ(menu.caption, "Beta menu");
    EXPECT_EQ(menu.applied, 1u);
    EXPECT_EQ(target.calls, CaptionsOf("Beta"));
    EXPECT_EQ(slots.Name, "Beta");
    EXPECT_EQ(MessageText(slots, "C003"), "Beta message 3");

    const std::string w = warnings.str();
    for (const char* skipped :
         {"Broken.xml", "Dir.xml", "NoLang.xml", "MissingKey.xml\" has no L013"}) {
        EXPECT_NE(w.find(skipped), std::string::npos) << skipped << " in " << w;
    }
    EXPECT_EQ(w.find("notes.txt"), std::string::npos);
}

TEST(LanguageMenu, NoFileMatchingTheSavedNameAppliesNothing) {
    LanguageTexts slots;
    RecordingTarget target;
    std::ostringstream warnings;
    // The comparison is byte for byte, so case counts.
    const LanguageMenu menu = BuildLanguageMenu(kMenuData, "beta", slots, target, warnings);
    EXPECT_EQ(menu.entries.size(), 2u);
    EXPECT_EQ(menu.caption, "");
    EXPECT_FALSE(menu.applied);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(slots.Name, "");
    // Message boxes still have a text to show.
    EXPECT_EQ(MessageText(slots, "C003"), *BuiltInMessage("C003"));
}

TEST(LanguageMenu, NoMenuWithoutValidFiles) {
    test::TempDir dir;
    LanguageTexts slots;
    RecordingTarget target;
    std::ostringstream warnings;
    EXPECT_TRUE(BuildLanguageMenu(dir.File("lang"), "English", slots, target, warnings).Empty());
    fs::create_directories(dir.File("lang"));
    test::WriteFile(dir.File("lang/English.xml"), "not xml");
    EXPECT_TRUE(BuildLanguageMenu(dir.File("lang"), "English", slots, target, warnings).Empty());
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(slots.Name, "");
}

TEST(LanguageMenu, SeveralFilesWithTheSavedNameTheLastWins) {
    test::TempDir dir;
    fs::copy_file(JoinPath(kMenuData, "Alpha.xml"), dir.File("1.xml"));
    std::string second = test::ReadFile(JoinPath(kMenuData, "Beta.xml"));
    second.replace(second.find("Name=\"Beta\""), 11, "Name=\"Alpha\"");
    test::WriteFile(dir.File("2.xml"), second);
    LanguageTexts slots;
    RecordingTarget target;
    const LanguageMenu menu = BuildLanguageMenu(dir.Path(), "Alpha", slots, target);
    EXPECT_EQ(NamesOf(menu), (std::vector<std::string>{"Alpha", "Alpha"}));
    EXPECT_EQ(menu.caption, "Beta menu");
    EXPECT_EQ(menu.applied, 1u);
    EXPECT_EQ(target.calls, CaptionsOf("Beta"));
}

TEST(LanguageSwitch, SavesTheNameAndAppliesAtOnceUnlessTheFileBroke) {
    test::TempDir dir;
    const std::string config = dir.File("config.xml");
    fs::copy_file(kShippedData + "/config.xml", config);
    fs::create_directories(dir.File("lang"));
    fs::copy_file(JoinPath(kMenuData, "Alpha.xml"), dir.File("lang/Alpha.xml"));
    fs::copy_file(JoinPath(kMenuData, "Beta.xml"), dir.File("lang/Beta.xml"));

    LanguageTexts slots;
    RecordingTarget target;
    LanguageMenu menu = BuildLanguageMenu(dir.File("lang"), "Alpha", slots, target);
    ASSERT_EQ(menu.applied, 0u);
    target.calls.clear();

    ASSERT_TRUE(SwitchLanguage(menu, 1, config, slots, target));
    EXPECT_EQ(ReadConfigValue(config, "Config", "DefLang"), "Beta");
    EXPECT_EQ(target.calls, CaptionsOf("Beta"));
    EXPECT_EQ(MessageText(slots, "C001"), "Beta message 1");
    EXPECT_EQ(menu.applied, 1u);
    EXPECT_EQ(menu.caption, "Alpha menu"); // the top caption changes at the next start

    // Alpha's file has become invalid: nothing changes, nothing is saved.
    test::WriteFile(dir.File("lang/Alpha.xml"), "<Language />");
    target.calls.clear();
    std::ostringstream warnings;
    EXPECT_FALSE(SwitchLanguage(menu, 0, config, slots, target, warnings));
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(slots.Name, "Beta");
    EXPECT_EQ(menu.applied, 1u);
    EXPECT_EQ(ReadConfigValue(config, "Config", "DefLang"), "Beta");
    EXPECT_NE(warnings.str().find("Alpha.xml"), std::string::npos);
    EXPECT_FALSE(SwitchLanguage(menu, 5, config, slots, target, warnings));

    // A configuration that cannot be written does not stop the switch.
    fs::remove(config);
    test::WriteFile(dir.File("lang/Alpha.xml"), test::ReadFile(JoinPath(kMenuData, "Alpha.xml")));
    EXPECT_TRUE(SwitchLanguage(menu, 0, config, slots, target));
    EXPECT_EQ(slots.Name, "Alpha");
}

TEST(LanguageMessages, FormattedWithFallbacksToEnglish) {
    const LanguageTexts beta = LoadLanguageTexts(JoinPath(kMenuData, "Beta.xml"));
    EXPECT_EQ(Format(beta, "C005", std::int64_t{42}), "Beta took 42 s");
    EXPECT_EQ(Format(beta, "C013", std::int64_t{2}), "Beta: 2 failed");
    EXPECT_EQ(Format(beta, "C014", std::string("Path/Output")), "Beta defaults: Path/Output");

    // Alpha has no later keys: the English texts stand in.
    const LanguageTexts alpha = LoadLanguageTexts(JoinPath(kMenuData, "Alpha.xml"));
    EXPECT_EQ(alpha.Messages.count("C013"), 0u);
    EXPECT_EQ(Format(alpha, "C013", std::int64_t{3}),
              "3 file(s) could not be converted; they stay in the list marked as failed.");
    EXPECT_EQ(MessageText(alpha, "C016"), "Pelldrin");

    // A translation whose directive does not fit its argument.
    LanguageTexts bad = beta;
    bad.Messages["C005"] = "took %s";
    EXPECT_EQ(Format(bad, "C005", std::int64_t{7}), "Conversion finished in 7 second(s).");
    bad.Messages["C005"] = "took %1:d";
    EXPECT_EQ(Format(bad, "C005", std::int64_t{7}), "Conversion finished in 7 second(s).");
    EXPECT_EQ(MessageText(bad, "C999"), "C999");
}

TEST(LanguageFile, ReadXmlValueAndInvalidFiles) {
    const std::string alpha = JoinPath(kMenuData, "Alpha.xml");
    EXPECT_EQ(ReadXmlValue(alpha, "Lang", "Name"), "Alpha");
    EXPECT_EQ(ReadXmlValue(alpha, "Other", "Name"), "not this one");
    EXPECT_EQ(ReadXmlValue(alpha, "Lang", "C099"), std::nullopt);
    EXPECT_THROW(ReadXmlValue(alpha, "Missing", "Name"), LanguageError);
    EXPECT_THROW(ReadXmlValue(JoinPath(kMenuData, "Broken.xml"), "Lang", "Name"), LanguageError);
    EXPECT_THROW(LoadLanguageTexts(JoinPath(kMenuData, "Dir.xml")), LanguageError);
}

TEST(ShippedData, LanguageFilesAreCompleteAndFit) {
    const auto files = ListFiles(kShippedData + "/lang", "*.xml");
    ASSERT_GE(files.size(), 2u);
    std::vector<std::string> names;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const LanguageTexts texts = LoadLanguageTexts(file);
        names.push_back(texts.Name);
        for (const std::string& key : MessageKeys()) {
            EXPECT_EQ(texts.Messages.count(key), 1u) << key;
        }
        for (const std::string& key : CaptionKeys()) {
            EXPECT_EQ(texts.Captions.count(key), 1u) << key;
        }
        // Formatting must work without falling back to English.
        for (const auto& [key, arg] : std::vector<std::pair<std::string, FormatArg>>{
                 {"C005", std::int64_t{12}}, {"C013", std::int64_t{2}}, {"C014", "Path/Output"}}) {
            const std::string text = ExpandDirectives(texts.Messages.at(key), {&arg, 1});
            EXPECT_NE(text.find(std::holds_alternative<std::string>(arg) ? "Path/Output" : "2"),
                      std::string::npos)
                << key << ": " << text;
        }
        for (const auto& [key, caption] : texts.Captions) {
            EXPECT_FALSE(caption.empty()) << key;
            EXPECT_LE(Columns(caption), 18u) << key << ": " << caption;
        }
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "English"), names.end());

    const LanguageTexts english = LoadLanguageTexts(kShippedData + "/lang/English.xml");
    for (const std::string& key : MessageKeys()) {
        EXPECT_EQ(english.Messages.at(key), BuiltInMessage(key)) << key;
    }
}

TEST(ShippedData, ConfigurationHasEveryKeyInTheWrittenForm) {
    test::TempDir dir;
    const std::string config = dir.File("config.xml");
    fs::copy_file(kShippedData + "/config.xml", config);
    const Settings s = LoadSettings(config, "/prog");
    EXPECT_TRUE(s.missing.empty());
    EXPECT_EQ(s.OutputFolder,
              "/prog" + std::string(1, kPathSeparator) + "output" + std::string(1, kPathSeparator));
    EXPECT_EQ(s.CloseToTray, 1);
    EXPECT_EQ(s.PriorityIndex, 0);
    EXPECT_EQ(s.DefaultLanguage, "English");
    EXPECT_EQ(ReadConfigValue(config, "Path", "Avs2bdnxml"), "/pelldrin-render");
    EXPECT_EQ(ReadConfigValue(config, "Path", "VSFilter"), "/pelldrin-render");

    // A write of an unchanged value leaves the file byte for byte as shipped.
    const std::string shipped = test::ReadFile(config);
    ASSERT_TRUE(WriteConfigValue(config, "Config", "DefLang", "English"));
    EXPECT_EQ(test::ReadFile(config), shipped);
}
