#include "settings/ConfigStore.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pelldrin;

namespace {

const std::string kSep(1, kPathSeparator);

const std::string kConfig =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- Pelldrin settings -->\n"
    "<Pelldrin>\n"
    "  <Path Output=\"/srv/out\" Avs2bdnxml=\"/pelldrin-render\" VSFilter=\"/vsfilter\" />\n"
    "  <Config DefLang=\"English\" ProcessPriority=\"2\" CloseTrayicon=\"0\" />\n"
    "  <Config DefLang=\"Second\" ProcessPriority=\"3\" CloseTrayicon=\"1\" />\n"
    "</Pelldrin>\n";

struct ConfigFixture : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File("config.xml");
};

} // namespace

TEST_F(ConfigFixture, ReadsTheFirstGroupOfANameUnderAnyRoot) {
    test::WriteFile(path, kConfig);
    EXPECT_EQ(ReadConfigValue(path, "Path", "Avs2bdnxml"), "/pelldrin-render");
    EXPECT_EQ(ReadConfigValue(path, "Config", "DefLang"), "English");
    EXPECT_EQ(ReadConfigValue(path, "Config", "Nothing"), std::nullopt);
    EXPECT_THROW(ReadConfigValue(path, "Missing", "Key"), ConfigError);
}

TEST_F(ConfigFixture, ReadFailuresNameTheFile) {
    EXPECT_THROW(ReadConfigValue(path, "Path", "Output"), ConfigError);
    test::WriteFile(path, "this is not xml <<");
    try {
        ReadConfigValue(path, "Path", "Output");
        FAIL();
    } catch (const ConfigError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
}

TEST_F(ConfigFixture, WriteAddsOrReplacesOneAttributeAndKeepsTheRest) {
    test::WriteFile(path, kConfig);
    ASSERT_TRUE(WriteConfigValue(path, "Config", "CloseTrayicon", "1"));
    ASSERT_TRUE(WriteConfigValue(path, "Path", "Extra", "x & \"y\""));
    ASSERT_TRUE(WriteConfigValue(path, "Config", "ProcessPriority", 1));
    std::string expected = kConfig;
    expected.replace(expected.find("CloseTrayicon=\"0\""), 17, "CloseTrayicon=\"1\"");
    expected.replace(expected.find("ProcessPriority=\"2\""), 19, "ProcessPriority=\"1\"");
    expected.replace(expected.find("VSFilter=\"/vsfilter\""), 20,
                     "VSFilter=\"/vsfilter\" Extra=\"x &amp; &quot;y&quot;\"");
    EXPECT_EQ(test::ReadFile(path), expected);
    EXPECT_EQ(ReadConfigValue(path, "Path", "Extra"), "x & \"y\"");
}

TEST_F(ConfigFixture, WriteFailuresReturnFalseAndLeaveTheFile) {
    test::WriteFile(path, kConfig);
    EXPECT_FALSE(WriteConfigValue(path, "NoGroup", "Key", "v"));
    EXPECT_EQ(test::ReadFile(path), kConfig);
    EXPECT_FALSE(WriteConfigValue(dir.File("none.xml"), "Path", "Output", "v"));
    EXPECT_FALSE(FileExists(dir.File("none.xml")));
    test::WriteFile(path, "<broken");
    EXPECT_FALSE(WriteConfigValue(path, "Path", "Output", "v"));
    EXPECT_EQ(test::ReadFile(path), "<broken");
}

TEST_F(ConfigFixture, LoadSettingsReadsAllFour) {
    test::WriteFile(path, kConfig);
    const Settings s = LoadSettings(path, "/prog");
    EXPECT_EQ(s.OutputFolder, "/srv/out" + kSep);
    EXPECT_EQ(s.CloseToTray, 0);
    EXPECT_EQ(s.PriorityIndex, 2);
    EXPECT_EQ(s.DefaultLanguage, "English");
    EXPECT_TRUE(s.missing.empty());
}

TEST_F(ConfigFixture, TheWindowPlaceIsTakenOnlyWhole) {
    test::WriteFile(path, kConfig);
    EXPECT_EQ(LoadSettings(path, "/prog").Window, std::nullopt);
    ASSERT_TRUE(WriteWindowPlace(path, {-20, 30, 640, 480}));
    Settings s = LoadSettings(path, "/prog");
    EXPECT_EQ(s.Window, (WindowPlace{-20, 30, 640, 480}));
    EXPECT_TRUE(s.missing.empty());
    // A value missing, not a number or making no window: the window's own defaults.
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"WindowWidth", "0"}, {"WindowHeight", "tall"}, {"WindowTop", "99999999999"}}) {
        ASSERT_TRUE(WriteWindowPlace(path, {-20, 30, 640, 480}));
        ASSERT_TRUE(WriteConfigValue(path, "Config", key, value));
        s = LoadSettings(path, "/prog");
        EXPECT_EQ(s.Window, std::nullopt) << key;
        EXPECT_TRUE(s.missing.empty()) << key;
    }
}

TEST_F(ConfigFixture, LoadSettingsKeepsAFinalSeparatorAndResolvesRelativeFolders) {
    test::WriteFile(path, "<c><Path Output=\"/srv/out/\"/><Config CloseTrayicon=\"2\" "
                          "ProcessPriority=\"0\" DefLang=\"\"/></c>");
    Settings s = LoadSettings(path, "/prog");
    EXPECT_EQ(s.OutputFolder, "/srv/out/");
    EXPECT_EQ(s.CloseToTray, 2);
    EXPECT_EQ(s.DefaultLanguage, "");
    EXPECT_TRUE(s.missing.empty());
    ASSERT_TRUE(WriteConfigValue(path, "Path", "Output", "output"));
    EXPECT_EQ(LoadSettings(path, "/prog").OutputFolder, "/prog" + kSep + "output" + kSep);
}

TEST_F(ConfigFixture, LoadSettingsNeverThrowsAndListsWhatWasMissing) {
    // Missing, empty, not XML: every value takes its default.
    for (const std::string& content :
         {std::string("<none/>"), std::string(""), std::string("garbage \x01\x02")}) {
        test::WriteFile(path, content);
        const Settings s = LoadSettings(path, "/prog");
        EXPECT_EQ(s.OutputFolder, "/prog" + kSep + "output" + kSep);
        EXPECT_EQ(s.CloseToTray, 1);
        EXPECT_EQ(s.PriorityIndex, 0);
        EXPECT_EQ(s.DefaultLanguage, "");
        EXPECT_EQ(s.missing,
                  (std::vector<std::string>{"Path/Output", "Config/CloseTrayicon",
                                            "Config/ProcessPriority", "Config/DefLang"}));
    }
    const Settings none = LoadSettings(dir.File("absent.xml"), "/prog");
    EXPECT_EQ(none.missing.size(), 4u);

    // A group without one key, and a value that is no number.
    test::WriteFile(path, "<c><Path Output=\"/o\"/><Config ProcessPriority=\"high\" "
                          "DefLang=\"English\"/></c>");
    const Settings s = LoadSettings(path, "/prog");
    EXPECT_EQ(s.OutputFolder, "/o" + kSep);
    EXPECT_EQ(s.PriorityIndex, 0);
    EXPECT_EQ(s.CloseToTray, 1);
    EXPECT_EQ(s.missing,
              (std::vector<std::string>{"Config/CloseTrayicon", "Config/ProcessPriority"}));
}
