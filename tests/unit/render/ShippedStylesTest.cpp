// The .style files shipped in data/srtstyle parse and draw an SRT file.
#include "RenderTestSupport.h"

#include "input/SrtConvert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace pelldrin::render::test {
namespace {

const std::string kStyleFolder = std::string(PELLDRIN_TEST_DATA) + "/../../data/srtstyle";

int CountOpaque(const RgbaImage& img, int r, int g, int b) {
    int n = 0;
    for (std::size_t i = 0; i < img.pixels.size(); i += 4) {
        n += img.pixels[i + 3] == 255 && img.pixels[i] == r && img.pixels[i + 1] == g &&
             img.pixels[i + 2] == b;
    }
    return n;
}

TEST(ShippedStyles, EachStyleDrawsBothCues) {
    std::map<std::string, std::vector<EventOut>> results;
    TempDir dir;
    WriteFile(dir.File("canal.srt"),
              ReadFile(std::string(PELLDRIN_TEST_DATA) + "/render/canal.srt"));
    WriteFile(dir.File("canal.avs"), ScriptText(dir.File("canal.srt"), 1920, 1080, "25", 100));
    for (const auto& entry : std::filesystem::directory_iterator(kStyleFolder)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::string text = ReadFile(entry.path().string());
        EXPECT_NO_THROW(ParseSrtStyle(text, name));
        WriteFile(dir.File("canal.srt.style"), text);
        const auto r = RunRenderer({"-t", "canal", "-v", "1080p", "-f", "25", "-p0", "-o",
                                    dir.File(name + ".xml"), dir.File("canal.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto events = ReadEvents(dir.File(name + ".xml"));
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].inTC, "00:00:00:13");
        EXPECT_EQ(events[1].inTC, "00:00:02:00");
        for (const EventOut& e : events) {
            ASSERT_EQ(e.graphics.size(), 1u);
            EXPECT_GT(e.graphics[0].y + e.graphics[0].height, 900); // near the bottom
        }
        results[name] = events;
    }
    ASSERT_EQ(results.size(), 4u);
    const auto picture = [&](const std::string& style, int event) {
        return LoadPng(dir.File(results.at(style)[event].graphics[0].file));
    };
    EXPECT_GT(CountOpaque(picture("Yellow.style", 0), 255, 255, 0), 500);
    EXPECT_EQ(CountOpaque(picture("White-1080p.style", 0), 255, 255, 0), 0);
    EXPECT_GT(CountOpaque(picture("White-1080p.style", 0), 255, 255, 255), 500);
    EXPECT_GT(results["Large-Print.style"][0].graphics[0].height,
              results["White-1080p.style"][0].graphics[0].height * 5 / 4);
    // The amber <font> shows in the second cue whatever the style.
    EXPECT_GT(CountOpaque(picture("CJK-WenQuanYi.style", 1), 255, 192, 0), 100);
}

} // namespace
} // namespace pelldrin::render::test
