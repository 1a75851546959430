// The command line and the task script: what is accepted, and how refusals read.
#include "input/RenderOptions.h"
#include "input/RenderScript.h"
#include "runner/CommandLineSplit.h"
#include "script/TaskRecord.h"
#include "script/TaskScript.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelldrin::render {
namespace {

std::vector<std::string> Args(std::initializer_list<std::string> rest) {
    std::vector<std::string> args{"/opt/tools/pelldrin-render"};
    args.insert(args.end(), rest);
    return args;
}

std::string UsageMessage(const std::vector<std::string>& args) {
    try {
        ParseRenderOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(RenderOptions, DefaultTemplateWithAttachedValues) {
    const auto o = ParseRenderOptions(
        Args({"-t", "movie", "-l", "zho", "-v", "1080p", "-f", "23.976", "-a1", "-p1", "-b1", "-m3",
              "-o", "/out/movie/movie.xml", "-o", "/out/movie/movie.sup", "/out/movie/movie.avs"}));
    EXPECT_EQ(o.title, "movie");
    EXPECT_EQ(o.language, "zho");
    EXPECT_EQ(o.format->label, "1080p");
    EXPECT_EQ(o.rate->num, 24000);
    EXPECT_EQ(o.rate->den, 1001);
    EXPECT_EQ(o.rate->timecodeBase, 24);
    EXPECT_TRUE(o.crop && o.palette && o.split);
    EXPECT_EQ(o.minGap, 3);
    EXPECT_EQ(o.xmlPath, "/out/movie/movie.xml");
    EXPECT_EQ(o.supPath, "/out/movie/movie.sup");
    EXPECT_EQ(o.scriptPath, "/out/movie/movie.avs");
}

TEST(RenderOptions, SeparateValuesDefaultsAndQuotedPaths) {
    const auto o =
        ParseRenderOptions(Args({"-v", "480i", "-f", "29.97", "-a", "0", "-p", "0", "-F", "1", "-m",
                                 "12", "-o", "/my films/a b.xml", "/my films/a b.avs"}));
    EXPECT_FALSE(o.crop);
    EXPECT_FALSE(o.palette);
    EXPECT_FALSE(o.split);
    EXPECT_TRUE(o.forced);
    EXPECT_EQ(o.minGap, 12);
    EXPECT_EQ(o.title, "a b"); // from the XML name when -t is missing
    EXPECT_TRUE(o.supPath.empty());
    EXPECT_EQ(o.format->width, 720);
    EXPECT_EQ(o.format->renderWidth, 854);
}

TEST(RenderOptions, UnquotedTitleWithBlanksIsRejoined) {
    const auto o = ParseRenderOptions(Args({"-t", "My", "Home", "Movie", "-l", "eng", "-v", "720p",
                                            "-f", "25", "-o", "x.xml", "x.avs"}));
    EXPECT_EQ(o.title, "My Home Movie");
    EXPECT_EQ(o.scriptPath, "x.avs");
}

TEST(RenderOptions, HelpAndVersionAskForNothingElse) {
    EXPECT_EQ(ParseRenderOptions(Args({"--version"})).request, RenderRequest::Version);
    EXPECT_EQ(ParseRenderOptions(Args({"-l", "eng", "--help", "-o"})).request, RenderRequest::Help);
    // As the value of an option it is only a value.
    const auto o = ParseRenderOptions(
        Args({"-t", "--help", "-v", "1080p", "-f", "25", "-o", "a.xml", "a.avs"}));
    EXPECT_EQ(o.request, RenderRequest::Render);
    EXPECT_EQ(o.title, "--help");
}

TEST(RenderOptions, ColourIsSdrUnlessHdr10IsAskedForWithASensibleWhite) {
    const auto sdr = ParseRenderOptions(Args({"-v", "720p", "-f", "25", "-o", "a.xml", "a.avs"}));
    EXPECT_EQ(sdr.colour.kind, ColorKind::Sdr);
    const auto hdr = ParseRenderOptions(
        Args({"-v", "1080p", "-f", "25", "--colour", "hdr10", "-o", "a.xml", "a.avs"}));
    EXPECT_EQ(hdr.colour.kind, ColorKind::Hdr10);
    EXPECT_EQ(hdr.colour.whiteNits, 203);
    // The white may come first; the range's ends are allowed.
    for (const char* white : {"80", "1000"}) {
        const auto o = ParseRenderOptions(Args({"-v", "1080p", "-f", "25", "--white", white,
                                                "--colour=hdr10", "-o", "a.xml", "a.avs"}));
        EXPECT_EQ(o.colour.whiteNits, std::stoi(white));
    }
    const auto refused = [](std::initializer_list<std::string> colour) {
        std::vector<std::string> args = Args({"-v", "1080p", "-f", "25"});
        args.insert(args.end(), colour);
        args.insert(args.end(), {"-o", "a.xml", "a.avs"});
        return UsageMessage(args);
    };
    EXPECT_NE(refused({"--colour", "HDR"}).find("--colour takes sdr or hdr10, not \"HDR\""),
              std::string::npos);
    for (const char* white : {"79", "1001", "203.5", "bright", ""}) {
        EXPECT_NE(refused({"--colour", "hdr10", "--white", white}).find("--white takes"),
                  std::string::npos)
            << white;
    }
    // An SDR picture has no white to set, and only 1080p graphics go on a UHD disc.
    EXPECT_NE(refused({"--white", "300"}).find("--colour hdr10"), std::string::npos);
    EXPECT_NE(refused({"--colour", "sdr", "--white", "203"}).find("--colour hdr10"),
              std::string::npos);
    EXPECT_NE(
        UsageMessage(Args({"-v", "720p", "-f", "25", "--colour", "hdr10", "-o", "a.xml", "a.avs"}))
            .find("not -v 720p"),
        std::string::npos);
}

TEST(RenderOptions, UsageErrorsSayWhatIsWrong) {
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "-x", "1", "-o", "a.xml", "a.avs"}))
                  .find("unknown option \"-x\""),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "-o", "a.xml", "-m"}))
                  .find("-m needs a value"),
              std::string::npos);
    // An unknown long option is named as such, with or without something after it.
    for (const auto& args : {Args({"--bogus"}), Args({"--bogus", "1", "a.avs"})}) {
        EXPECT_NE(UsageMessage(args).find("unknown option \"--bogus\""), std::string::npos);
    }
    EXPECT_NE(UsageMessage(Args({"-v", "1080x", "-f", "25", "-o", "a.xml", "a.avs"}))
                  .find("unknown video format \"1080x\""),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "30", "-o", "a.xml", "a.avs"}))
                  .find("unknown frame rate \"30\""),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "-a2", "-o", "a.xml", "a.avs"}))
                  .find("-a takes 0 or 1"),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "-m0", "-o", "a.xml", "a.avs"}))
                  .find("-m takes"),
              std::string::npos);
    EXPECT_NE(
        UsageMessage(Args({"-v", "1080p", "-f", "25", "-o", "a", "-o", "b", "-o", "c", "a.avs"}))
            .find("at most two outputs"),
        std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "a.avs"})).find("-o X.xml"),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "-o", "a.xml"})).find("script"),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-f", "25", "-o", "a.xml", "a.avs"})).find("-v"),
              std::string::npos);
    EXPECT_NE(UsageMessage(Args({"-v", "1080p", "-f", "25", "stray", "-o", "a.xml", "a.avs"}))
                  .find("unexpected argument \"stray\""),
              std::string::npos);
}

std::string ScriptFailure(const std::string& text) {
    try {
        ParseRenderScript(text, "/t/movie.avs");
    } catch (const ScriptError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(RenderScript, ReadsTheBuildersLines) {
    const auto s = ParseRenderScript("LoadPlugin(\"C:\\Tools\\VSFilter.dll\")\r\n"
                                     "MaskSub(\"/subs/ep, (1).ass\", 854, 480, 29.97, 35379)\r\n"
                                     "LanczosResize(720,480)\r\n",
                                     "/t/movie.avs");
    EXPECT_EQ(s.subtitlePath, "/subs/ep, (1).ass");
    EXPECT_EQ(s.renderWidth, 854);
    EXPECT_EQ(s.renderHeight, 480);
    EXPECT_EQ(s.width, 720);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(s.rate->text, "29.97");
    EXPECT_EQ(s.frames, 35379);

    const auto t =
        ParseRenderScript("# made by hand\n\nMaskSub(\"a.srt\",1920,1080,59.94,0)\n", "/t/x.avs");
    EXPECT_EQ(t.width, 1920);
    EXPECT_EQ(t.frames, 0);
    EXPECT_EQ(t.rate->num, 60000);
}

TEST(RenderScript, BadLinesAreNamedWithTheirNumber) {
    const std::string plugin = "LoadPlugin(\"/x.dll\")\r\n";
    EXPECT_EQ(ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 23.976, 100)\r\nBlur(1)\r\n"),
              "/t/movie.avs: line 3 \"Blur(1)\": unknown function \"Blur\"");
    EXPECT_NE(
        ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 23.98, 100)\r\n").find("line 2"),
        std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 25)\r\n").find("line 2"),
              std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(a.ass, 1920, 1080, 25, 10)\r\n").find("quotes"),
              std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(\"a.ass\", -5, 1080, 25, 10)\r\n").find("width"),
              std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 25, 1.5)\r\n").find("frame"),
              std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 25, 10)\r\n"
                                     "LanczosResize(640,480)\r\n")
                  .find("line 3"),
              std::string::npos);
    EXPECT_NE(ScriptFailure("LanczosResize(720,480)\r\n").find("before MaskSub"),
              std::string::npos);
    EXPECT_NE(ScriptFailure(plugin + "MaskSub(\"a.ass\", 1920, 1080, 25, 10\r\n").find("line 2"),
              std::string::npos);
    EXPECT_EQ(ScriptFailure(plugin), "/t/movie.avs: no MaskSub line");
    EXPECT_NE(
        ScriptFailure(plugin + "MaskSub(\"a\", 9, 9, 25, 1)\r\nMaskSub(\"a\", 9, 9, 25, 1)\r\n")
            .find("second MaskSub"),
        std::string::npos);
}

TEST(RenderScript, FormatAndRateMustMatchTheCommandLine) {
    const auto script = ParseRenderScript("MaskSub(\"a.ass\", 854, 480, 23.976, 10)\r\n"
                                          "LanczosResize(720,480)\r\n",
                                          "a.avs");
    RenderOptions options;
    options.format = FindVideoFormat("480i");
    options.rate = FindFrameRate("23.976");
    EXPECT_NO_THROW(CheckScriptMatchesOptions(script, options));
    options.format = FindVideoFormat("480p"); // 720x480 without the squeeze
    EXPECT_THROW(CheckScriptMatchesOptions(script, options), UsageError);
    options.format = FindVideoFormat("480i");
    options.rate = FindFrameRate("24");
    EXPECT_THROW(CheckScriptMatchesOptions(script, options), UsageError);
}

} // namespace
} // namespace pelldrin::render

namespace pelldrin::render {
namespace {

// What the window offers, the builder writes and the renderer reads come from one table;
// every task format and rate the window lists must give a script the renderer runs.
TEST(FormatTable, EveryTaskFormatAndRateTheBuilderWritesTheRendererAccepts) {
    pelldrin::test::TempDir dir;
    pelldrin::test::WriteFile(dir.File("ep.ass"), "");
    for (std::size_t f = 0; f < kTaskFormatCount; ++f) {
        for (std::size_t r = 0; r < kTaskRateCount; ++r) {
            SCOPED_TRACE(std::string(kVideoFormats[f].label) + " " +
                         std::string(kFrameRates[r].text));
            TaskControls controls;
            controls.formatIndex = static_cast<int>(f);
            controls.rateIndex = static_cast<int>(r);
            const TaskScript task =
                BuildTaskScript(dir.File("ep.ass"), BuildTaskLine(dir.File("ep.ass"), controls),
                                dir.Path(), "/pelldrin-render", "/pelldrin-render", "out");
            const RenderOptions options = ParseRenderOptions(SplitCommandLine(task.commandLine));
            const RenderScript script = ReadRenderScript(options.scriptPath);
            EXPECT_NO_THROW(CheckScriptMatchesOptions(script, options));
            EXPECT_EQ(options.format, &kVideoFormats[f]);
            EXPECT_EQ(options.rate, &kFrameRates[r]);
            EXPECT_EQ(script.width, kVideoFormats[f].width);
            EXPECT_EQ(script.height, kVideoFormats[f].height);
        }
    }
}

} // namespace
} // namespace pelldrin::render
