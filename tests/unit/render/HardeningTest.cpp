// Runs that must not destroy, mix up or silently lose anything, and the limits that
// keep one run within its memory, time and output.
#include "RenderTestSupport.h"

#include "base/PathText.h"
#include "output/OutputGuard.h"
#include "output/OutputLayout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelldrin::render::test {
namespace {

namespace fs = std::filesystem;

const std::string kWords =
    AssScript("Dialogue: 0,0:00:00.00,0:00:00.40,Default,,0,0,0,,Words\n"); // line 13

RunResult RunInto(const TempDir& dir, std::vector<std::string> outputs,
                  std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-v", "1080p", "-f", "25"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const std::string& o : outputs) {
        args.push_back("-o");
        args.push_back(o);
    }
    args.push_back(dir.File("s.avs"));
    return RunRenderer(args);
}

void WriteInputs(const TempDir& dir, const std::string& subtitle, long long frames = 50) {
    WriteFile(dir.File("s.ass"), subtitle);
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, "25", frames));
}

TEST(RenderOutputs, OutputsNamingInputsOrNonFilesAreRefusedUntouched) {
    TempDir dir;
    WriteInputs(dir, kWords);
    const std::string script = ReadFile(dir.File("s.avs"));
    ::mkfifo(dir.File("fifo").c_str(), 0644);
    fs::create_symlink("/dev/null", dir.File("null"));
    fs::create_directory(dir.File("empty"));
    struct Case {
        std::vector<std::string> outputs;
        std::string cause;
    };
    const std::vector<Case> cases{
        {{dir.File("s.ass")}, "is the input"},
        {{dir.File("s.avs")}, "is the input"},
        {{dir.File("x.xml"), dir.File("s.ass")}, "is the input"},
        {{dir.File("x.xml"), dir.File("./x.xml")}, "would both be written"},
        {{dir.File("null")}, "symbolic link"},
        {{dir.File("fifo")}, "special file"},
        {{dir.File("empty")}, "is a folder"},
        {{"."}, "names a folder"},
        {{"/"}, "names a folder"},
        {{dir.File("s_00001.xml")}, ""}, // fine: its pictures are s_00001_00001.png
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputs[0] + " " + c.cause);
        const auto r = RunInto(dir, c.outputs);
        if (c.cause.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(dir.File("s.ass")), kWords);
        EXPECT_EQ(ReadFile(dir.File("s.avs")), script);
    }
    EXPECT_TRUE(fs::is_symlink(dir.File("null")));
    EXPECT_TRUE(fs::is_fifo(dir.File("fifo")));
    EXPECT_TRUE(fs::is_directory(dir.File("empty")));
    EXPECT_FALSE(fs::exists(dir.File("x.xml")));

    // A subtitle file under one of the pictures' names would be overwritten by it.
    fs::rename(dir.File("s.ass"), dir.File("out_00001.png"));
    WriteFile(dir.File("s.avs"), ScriptText(dir.File("out_00001.png"), 1920, 1080, "25", 50));
    const auto r = RunInto(dir, {dir.File("out.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the name of one of the run's pictures"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir.File("out_00001.png")), kWords);
}

TEST(RenderOutputs, PictureNamesAreReadBackByTheRuleThatWritesThem) {
    const OutputLayout layout("out/ep.1.xml");
    EXPECT_EQ(layout.BaseName(), "ep.1");
    EXPECT_EQ(layout.PictureName(7), "ep.1_00007.png");
    EXPECT_EQ(layout.PictureName(123456, 2), "ep.1_123456_2.png");
    EXPECT_EQ(layout.PicturePath(7, 1), JoinPath("out", "ep.1_00007_1.png"));
    for (const std::string name : {"ep.1_00007.png", "ep.1_123456_2.png", "ep.1_00001.PNG"}) {
        EXPECT_TRUE(layout.IsPictureName(name)) << name;
    }
    for (const std::string name :
         {"ep.1_7.png", "ep.1_000007.png", "ep.1_00007_.png", "ep.1_00007_02.png", "ep.1_00007.xml",
          "ep.2_00007.png", "ep.1_0x007.png", "ep.1_00007_1_1.png", "ep.1_.png"}) {
        EXPECT_FALSE(layout.IsPictureName(name)) << name;
    }
    EXPECT_EQ(OutputLayout("noext").PictureName(1), "noext_00001.png");
}

TEST(RenderOutputs, ASecondRunIntoTheSameFolderFailsAtOnce) {
    TempDir dir;
    WriteInputs(dir, kWords);
    WriteFile(dir.File("other.xml"), "the other run's document");
    {
        const auto otherRun = LockOutputFolders(OutputLayout(dir.File("run.xml")));
        const auto r = RunInto(dir, {dir.File("other.xml")});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("another pelldrin-render run is writing into the folder"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(ReadFile(dir.File("other.xml")), "the other run's document");
        EXPECT_FALSE(fs::exists(dir.File("other_00001.png")));
    }
    EXPECT_EQ(RunInto(dir, {dir.File("other.xml")}).status, 0) << "the lock ends with its run";
}

pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(RenderOutputs, PlantedLinksAndStaleTemporariesDoNotSurvive) {
    TempDir dir;
    WriteInputs(dir, kWords);
    WriteFile(dir.File("victim"), "keep me");
    fs::create_symlink(dir.File("victim"), dir.File("s_00001.png"));
    const std::string dead = std::to_string(DeadPid());
    const std::string live = std::to_string(::getppid());
    WriteFile(dir.File("s_00007.png.tmp" + dead + "_4"), std::string(1000, 'x'));
    WriteFile(dir.File("s.xml.tmp" + dead + "_0"), "half a document");
    WriteFile(dir.File("s.xml.tmp" + live + "_0"), "a live writer's file");
    const auto r = RunInto(dir, {dir.File("s.xml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.File("victim")), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir.File("s_00001.png")));
    EXPECT_EQ(LoadPng(dir.File("s_00001.png")).width,
              ReadEvents(dir.File("s.xml"))[0].graphics[0].width);
    EXPECT_FALSE(fs::exists(dir.File("s_00007.png.tmp" + dead + "_4")));
    EXPECT_FALSE(fs::exists(dir.File("s.xml.tmp" + dead + "_0")));
    EXPECT_TRUE(fs::exists(dir.File("s.xml.tmp" + live + "_0")));
}

TEST(RenderLoss, ZeroBytesUnreadLinesAndEmptyFilesAreReported) {
    TempDir dir;
    using namespace std::string_literals;
    WriteInputs(dir, AssScript("Dialogue: 0,0:00:00.00,0:00:00.40,Default,,0,0,0,,One\n"
                               "Dialogue: 0,0:00:00.40,0:00:00.80,Default,,0,0,0,,Tw\0o\n"s
                               "Dialogue: 0,0:00:00.80,0:00:01.20,Default,,0,0,0,,Three\n"
                               "Dialogue: not an event\n"
                               "Dialogue: 0,0:00:01.20,0:00:01.60,Default,,0,0,0,,Four\n"));
    auto r = RunInto(dir, {dir.File("s.xml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadEvents(dir.File("s.xml")).size(), 4u) << "nothing after the zero byte is lost";
    EXPECT_NE(r.err.find("Warning: " + dir.File("s.ass") + ": line 14: a zero byte"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Warning: " + dir.File("s.ass") +
                         ": line 16: a Dialogue line that could not be read is skipped: "
                         "\"Dialogue: not an event\""),
              std::string::npos)
        << r.err;

    for (const std::string& text :
         {""s, AssScript("Comment: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,Not shown\n")}) {
        WriteInputs(dir, text);
        r = RunInto(dir, {dir.File("s.xml")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("Warning: " + dir.File("s.ass") + ": "), std::string::npos);
        EXPECT_NE(r.err.find("the document has no events"), std::string::npos) << r.err;
    }

    // Events after the script's last frame (50 frames: 2 s) are named, not lost silently.
    WriteInputs(dir, AssScript("Dialogue: 0,0:00:01.00,0:00:01.50,Default,,0,0,0,,Shown\n"
                               "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Late\n"
                               "Dialogue: 0,0:00:07.00,0:00:08.00,Default,,0,0,0,,Later\n"));
    r = RunInto(dir, {dir.File("s.xml")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: " + dir.File("s.ass") +
                         ": 2 events start after the script's last frame (50 frames) and are "
                         "not drawn, from line 14"),
              std::string::npos)
        << r.err;

    // A run that fails on its script or usage leaves no earlier document behind.
    WriteInputs(dir, kWords);
    ASSERT_EQ(RunInto(dir, {dir.File("s.xml")}).status, 0);
    WriteFile(dir.File("s.avs"), "MaskSub(\"" + dir.File("s.ass") + "\", 1920, 1080, 25)\n");
    EXPECT_EQ(RunInto(dir, {dir.File("s.xml")}).status, 1);
    EXPECT_FALSE(fs::exists(dir.File("s.xml")));
    WriteInputs(dir, kWords);
    ASSERT_EQ(RunInto(dir, {dir.File("s.xml")}).status, 0);
    EXPECT_EQ(
        RunRenderer({"-v", "720p", "-f", "25", "-o", dir.File("s.xml"), dir.File("s.avs")}).status,
        2);
    EXPECT_FALSE(fs::exists(dir.File("s.xml")));
}

TEST(RenderLimits, EachLimitStopsNamingTheFileTheLineAndTheOption) {
    TempDir dir;
    struct Case {
        std::string text;
        std::vector<std::string> options;
        std::string expected;
    };
    const std::string at13 = ": line 13";
    const std::vector<Case> cases{
        {"{\\fs900\\bord40\\blur8}Very large words", {"--max-memory=64"}, "--max-memory"},
        {"{\\move(0,0,1900,1000)}Slow", {"--max-events", "20"}, "--max-events"},
        {"Words", {"--max-frame-time=0.000001"}, "--max-frame-time"},
        {"{\\fs300\\bord20\\move(0,0,1200,800)}WWWWW", {"--max-output=20K"}, "--max-output"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        // Four hours: a picture per frame would be 360,000 of them.
        WriteInputs(dir,
                    AssScript("Dialogue: 0,0:00:00.00,4:00:00.00,Default,,0,0,0,," + c.text + "\n"),
                    360000);
        const auto r = RunInto(dir, {dir.File("s.xml")}, c.options);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(dir.File("s.ass") + at13), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.File("s.xml")));
    }
    // The same lines within default limits are drawn.
    WriteInputs(
        dir, AssScript("Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,{\\fs900\\bord40\\blur8}"
                       "Very large words\n"));
    EXPECT_EQ(RunInto(dir, {dir.File("s.xml")}).status, 0);

    // A message shows a long line with control characters on one short line.
    WriteFile(dir.File("s.avs"), "Subtitle(\"" + std::string(100000, 'x') + "\x1b[2J\")\n");
    const auto r = RunInto(dir, {dir.File("s.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.err.size(), 600u);
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

} // namespace
} // namespace pelldrin::render::test
