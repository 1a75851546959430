// The fonts a release brings (a fonts folder beside the subtitle or the program, fonts
// embedded in the script), the warnings for what is missing, and the preview picture.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace pelldrin::render::test {
namespace {

using pelldrin::test::FsPath;

const std::string kTestFont = std::string(PELLDRIN_TEST_DATA) + "/fonts/PelldrinTestSerif.ttf";

std::string SerifScript(const std::string& text = "Serif words") {
    std::string script =
        AssScript("Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,{\\fnPelldrin Test Serif}" +
                  text + "\n");
    return script;
}

// The ASS [Fonts] encoding: three bytes become four characters of six bits plus 33,
// 80 characters a line.
std::string EmbeddedFontSection(const std::string& name, const std::string& bytes) {
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned value = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            value = value << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < n + 1; ++k) {
            encoded += static_cast<char>(((value >> (18 - 6 * k)) & 63) + 33);
        }
    }
    std::string section = "\n[Fonts]\nfontname: " + name + "\n";
    for (std::size_t i = 0; i < encoded.size(); i += 80) {
        section += encoded.substr(i, 80) + "\n";
    }
    return section;
}

struct Rendered {
    RunResult run;
    RgbaImage picture;
};

Rendered RenderSerif(TempDir& dir, const std::string& subtitle) {
    WriteFile(dir.File("s.ass"), subtitle);
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, "24", 24));
    Rendered r;
    r.run = RunRenderer({"-v", "1080p", "-f", "24", "-o", dir.File("s.xml"), dir.File("s.avs")});
    const auto events = ReadEvents(dir.File("s.xml"));
    if (r.run.status == 0 && events.size() == 1 && !events[0].graphics.empty()) {
        r.picture = LoadPng(dir.File(events[0].graphics[0].file));
    }
    return r;
}

TEST(Fonts, ReleaseFontsFromTheFolderBesideTheScriptOrEmbeddedInIt) {
    TempDir without;
    const Rendered fallback = RenderSerif(without, SerifScript());
    ASSERT_EQ(fallback.run.status, 0) << fallback.run.err;
    EXPECT_NE(fallback.run.err.find("Warning: the font \"Pelldrin Test Serif\" is not installed"),
              std::string::npos)
        << fallback.run.err;

    TempDir folder; // any letter case
    std::filesystem::create_directory(FsPath(folder.File("Fonts")));
    std::filesystem::copy_file(FsPath(kTestFont), FsPath(folder.File("Fonts/a.TTF")));
    const Rendered fromFolder = RenderSerif(folder, SerifScript());
    ASSERT_EQ(fromFolder.run.status, 0) << fromFolder.run.err;
    EXPECT_EQ(fromFolder.run.err.find("Warning"), std::string::npos) << fromFolder.run.err;
    EXPECT_FALSE(fromFolder.picture.Empty());
    EXPECT_NE(fromFolder.picture, fallback.picture) << "drawn with the fallback face";

    TempDir embedded;
    const Rendered fromScript = RenderSerif(
        embedded, SerifScript() + EmbeddedFontSection("serif_0.ttf", ReadFile(kTestFont)));
    ASSERT_EQ(fromScript.run.status, 0) << fromScript.run.err;
    EXPECT_EQ(fromScript.run.err.find("Warning"), std::string::npos) << fromScript.run.err;
    EXPECT_EQ(fromScript.picture, fromFolder.picture);
}

TEST(Fonts, TheProgramFoldersFontsServeEveryScript) {
    // The real program, copied into a folder of its own with the font beside it.
    TempDir program;
    std::filesystem::copy_file(PELLDRIN_RENDER_EXE, FsPath(program.File("pelldrin-render")));
    std::filesystem::create_directory(FsPath(program.File("fonts")));
    std::filesystem::copy_file(FsPath(kTestFont), FsPath(program.File("fonts/serif.ttf")));
    TempDir work;
    WriteFile(work.File("s.ass"), SerifScript());
    WriteFile(work.File("s.avs"), ScriptText(work.File("s.ass"), 1920, 1080, "24", 24));
    const std::string command = "'" + program.File("pelldrin-render") +
                                "' -v 1080p -f 24 -o '" + work.File("s.xml") + "' '" +
                                work.File("s.avs") + "' 2>'" + work.File("err.txt") + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(work.File("err.txt"));
    EXPECT_EQ(ReadFile(work.File("err.txt")).find("Warning"), std::string::npos)
        << ReadFile(work.File("err.txt"));
}

TEST(Fonts, ACharacterNoFaceHasIsNamedWithItsFirstLine) {
    TempDir dir;
    const Rendered r = RenderSerif(
        dir, AssScript("Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,Plain\n"
                       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,Linear B \xF0\x90\x80\x80\n"
                       "Dialogue: 0,0:00:00.50,0:00:01.00,Default,,0,0,0,,Again \xF0\x90\x80\x80\n"));
    ASSERT_EQ(r.run.status, 0) << r.run.err;
    const auto first = r.run.err.find("U+10000");
    ASSERT_NE(first, std::string::npos) << r.run.err;
    EXPECT_EQ(r.run.err.find("U+10000", first + 1), std::string::npos) << "warned twice";
    EXPECT_NE(r.run.err.find("first used on line 14: Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,"
                             "0,,Linear B"),
              std::string::npos)
        << r.run.err;
}

TEST(Preview, DrawsTheWholeFrameWithTheBoxTheConversionGives) {
    TempDir dir;
    WriteFile(dir.File("p.ass"),
              AssScript("Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Look here\n"));
    WriteFile(dir.File("p.avs"), ScriptText(dir.File("p.ass"), 1280, 720, "25", 75));
    ASSERT_EQ(RunRenderer({"-v", "720p", "-f", "25", "-o", dir.File("p.xml"), dir.File("p.avs")})
                  .status,
              0);
    const auto events = ReadEvents(dir.File("p.xml"));
    ASSERT_EQ(events.size(), 1u);
    const GraphicOut& g = events[0].graphics.at(0);

    const auto shown = RunRenderer(
        {"-v", "720p", "-f", "25", "--preview", "1.5", "-o", dir.File("shown.png"), dir.File("p.avs")});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, "Box: " + std::to_string(g.x) + " " + std::to_string(g.y) + " " +
                             std::to_string(g.width) + " " + std::to_string(g.height) + "\n");
    const RgbaImage frame = LoadPng(dir.File("shown.png"));
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(frame.height, 720);
    RgbaImage converted = LoadPng(dir.File(g.file));
    converted.x = g.x;
    converted.y = g.y;
    EXPECT_EQ(CropToVisible(frame), converted);

    const auto before = RunRenderer(
        {"-v", "720p", "-f", "25", "--preview", "0.5", "-o", dir.File("none.png"), dir.File("p.avs")});
    ASSERT_EQ(before.status, 0) << before.err;
    EXPECT_EQ(before.out, "Box: none\n");
    EXPECT_EQ(RunRenderer({"-v", "720p", "-f", "25", "--preview", "soon", "-o", dir.File("x.png"),
                           dir.File("p.avs")})
                  .status,
              2);
}

} // namespace
} // namespace pelldrin::render::test
