#include "script/TaskScript.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelldrin;
namespace fs = std::filesystem;

namespace {

const std::string kTemplate = "%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3";
const std::string kSep(1, kPathSeparator);

// Ends at 0:24:31.45, like the fixture.
const std::string kAss = "[Events]\r\nDialogue: 0,0:24:28.00,0:24:31.45,Default,,0,0,0,,Hi\r\n";
// Ends at 10 seconds: 340 frames at 23.976 or 24, 350 at 25, 400 at 29.97.
const std::string kTenSecondsAss = "Dialogue: 0,0:00:01.00,0:00:10.00,Default,,0,0,0,,Hi\r\n";
const std::string kTenSecondsSrt = "1\r\n00:00:01,000 --> 00:00:10,000\r\nHi\r\n";

std::string Line(const std::string& format, const std::string& rate, const std::string& sup,
                 const std::string& templ = kTemplate, const std::string& style = "") {
    return format + "|" + rate + "|" + sup + "|1|" + templ + "|tag|" + style + "|1";
}

struct TaskScriptFixture : ::testing::Test {
    test::TempDir dir;
    std::string cwd = JoinPath(dir.Path(), "prog");
    std::string out = JoinPath(dir.Path(), "out") + kSep;

    void SetUp() override { fs::create_directories(cwd); }

    std::string Subtitle(const std::string& name, const std::string& text = kAss) {
        const std::string folder = JoinPath(dir.Path(), "subs");
        fs::create_directories(ToFsPath(folder));
        const std::string path = JoinPath(folder, name);
        test::WriteFile(FromFsPath(ToFsPath(path)), text);
        return path;
    }

    TaskScript Build(const std::string& source, const std::string& line) {
        return BuildTaskScript(source, line, cwd, kSep + "conv", kSep + "plug.so", out);
    }
};

} // namespace

TEST_F(TaskScriptFixture, WorkedExampleComesOutByteForByte) {
    const std::string source = std::string(PELLDRIN_TEST_DATA) + "/script/movie.ass";
    const TaskScript t = BuildTaskScript(source, Line("0", "0", "1"), cwd, kSep + "avs2bdnxml.exe",
                                         kSep + "VSFilter.dll", out);
    const std::string folder = out + "movie";
    EXPECT_EQ(t.taskFolder, folder);
    EXPECT_EQ(t.scriptPath, folder + kSep + "movie.avs");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(test::ReadFile(t.scriptPath), "LoadPlugin(\"" + cwd + kSep + "VSFilter.dll\")\r\n" +
                                                "MaskSub(\"" + source +
                                                "\", 1920, 1080, 23.976, 35379)\r\n");
    EXPECT_EQ(t.commandLine, cwd + kSep + "avs2bdnxml.exe -t movie -l zho -v 1080p -f 23.976" +
                                 " -a1 -p1 -b1 -m3 -o \"" + folder + kSep + "movie.xml\" -o \"" +
                                 folder + kSep + "movie.sup\" \"" + folder + kSep + "movie.avs\"");
}

TEST_F(TaskScriptFixture, EveryFormatAndRate) {
    const std::string source = Subtitle("clip.ass", kTenSecondsAss);
    const char* labels[] = {"1080p", "720p", "480p", "480i", "576i"};
    const char* sizes[] = {"1920, 1080", "1280, 720", "720, 480", "854, 480", "1024, 576"};
    const char* extra[] = {"", "", "", "LanczosResize(720,480)\r\n", "LanczosResize(720,576)\r\n"};
    const char* rates[] = {"23.976", "29.97", "25", "24"};
    const char* frames[] = {"340", "400", "350", "340"};
    for (int f = 0; f < 5; ++f) {
        for (int r = 0; r < 4; ++r) {
            SCOPED_TRACE(std::to_string(f) + "/" + std::to_string(r));
            const TaskScript t = Build(source, Line(std::to_string(f), std::to_string(r), "0"));
            const std::string script = test::ReadFile(t.scriptPath);
            EXPECT_EQ(script.substr(script.find("MaskSub(")),
                      "MaskSub(\"" + source + "\", " + sizes[f] + ", " + rates[r] + ", " +
                          frames[r] + ")\r\n" + extra[f]);
            EXPECT_NE(
                t.commandLine.find(std::string(" -v ") + labels[f] + " -f " + rates[r] + " -a1"),
                std::string::npos)
                << t.commandLine;
        }
    }
}

TEST_F(TaskScriptFixture, PlainFormHasOneOutputAndKeepsTheName) {
    const std::string name = "\xE5\xAD\x97\xE5\xB9\x95";
    const std::string source = Subtitle(name + ".ass");
    const TaskScript plain = Build(source, Line("1", "2", "0"));
    const std::string folder = out + name + kSep;
    EXPECT_EQ(plain.commandLine, cwd + kSep + "conv -t " + name +
                                     " -l zho -v 720p -f 25 -a1 -p1 -b1 -m3 -o \"" + folder + name +
                                     ".xml\" \"" + folder + name + ".avs\"");
    const TaskScript sup = Build(source, Line("1", "2", "1"));
    EXPECT_NE(sup.commandLine.find(" -t Unknow -l"), std::string::npos) << sup.commandLine;
    EXPECT_NE(sup.commandLine.find("-o \"" + folder + name + ".sup\""), std::string::npos);
    // The track name is the only place the name is replaced.
    EXPECT_EQ(sup.scriptPath, folder + name + ".avs");
    // MakeSup counts as set only when it is 1.
    EXPECT_EQ(Build(source, Line("1", "2", "2")).commandLine.find(".sup"), std::string::npos);
}

TEST_F(TaskScriptFixture, NamesWithSpacesAndSeveralDots) {
    const std::string source = Subtitle("my ep.01.v2.ass");
    const TaskScript t = Build(source, Line("0", "0", "1"));
    const std::string folder = out + "my ep.01.v2";
    EXPECT_EQ(t.taskFolder, folder);
    EXPECT_EQ(t.scriptPath, folder + kSep + "my ep.01.v2.avs");
    EXPECT_NE(t.commandLine.find(" -t \"my ep.01.v2\" -l "), std::string::npos) << t.commandLine;
    EXPECT_NE(t.commandLine.find("\"" + folder + kSep + "my ep.01.v2.sup\""), std::string::npos);
    EXPECT_NE(test::ReadFile(t.scriptPath).find("MaskSub(\"" + source + "\", "), std::string::npos);

    // A converter folder with a blank stays one argument; a template that
    // quotes it already is not quoted twice.
    const std::string spaced = JoinPath(dir.Path(), "my prog");
    const TaskScript q =
        BuildTaskScript(source, Line("0", "0", "0"), spaced, kSep + "conv", kSep + "plug.so", out);
    EXPECT_EQ(q.commandLine.rfind("\"" + spaced + kSep + "conv\" -t \"my ep.01.v2\"", 0), 0u)
        << q.commandLine;
    const TaskScript own = BuildTaskScript(source, Line("0", "0", "0", "\"%0:s\" -t '%1:s'"),
                                           spaced, kSep + "conv", kSep + "plug.so", out);
    EXPECT_EQ(own.commandLine.rfind("\"" + spaced + kSep + "conv\" -t '\"my ep.01.v2\"' -o", 0), 0u)
        << own.commandLine;
}

TEST_F(TaskScriptFixture, OutputFolderWithOrWithoutSeparatorAndSiblingTasks) {
    const std::string a = Subtitle("a.ass");
    const std::string b = Subtitle("b.ass");
    const std::string base = JoinPath(dir.Path(), "deep") + kSep + "er" + kSep + "out";
    const TaskScript first =
        BuildTaskScript(a, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so", base);
    const TaskScript second =
        BuildTaskScript(b, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so", base + kSep);
    EXPECT_EQ(first.taskFolder, base + kSep + "a");
    EXPECT_EQ(second.taskFolder, base + kSep + "b");
    EXPECT_TRUE(fs::is_regular_file(first.scriptPath));
    EXPECT_TRUE(fs::is_regular_file(second.scriptPath));

    // A relative output folder lies under the program's folder.
    const TaskScript rel =
        BuildTaskScript(a, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so", "output");
    EXPECT_EQ(rel.taskFolder, cwd + kSep + "output" + kSep + "a");
    EXPECT_TRUE(fs::is_directory(rel.taskFolder));
}

TEST_F(TaskScriptFixture, SrtStyleStep) {
    fs::create_directories(JoinPath(cwd, "srtstyle"));
    test::WriteFile(JoinPath(JoinPath(cwd, "srtstyle"), "Big Font.style"), "style-bytes");
    const std::string srt = Subtitle("show.SRT", kTenSecondsSrt);
    const std::string style = JoinPath(dir.Path(), "subs") + kSep + "show.srt.style";

    // Capital extension: scanned as SRT (340 frames, an ASS scan finds none) and styled.
    const TaskScript t = Build(srt, Line("0", "0", "0", kTemplate, "Big Font.style"));
    EXPECT_NE(test::ReadFile(t.scriptPath).find(", 23.976, 340)\r\n"), std::string::npos);
    const std::string copy = test::ReadFile(style);
    EXPECT_EQ(copy.rfind(kStyleCopyMarker, 0), 0u);
    EXPECT_EQ(copy.substr(copy.size() - 11), "style-bytes");
    EXPECT_TRUE(t.warnings.empty());

    // No style chosen: the marked copy goes and none takes its place.
    Build(srt, Line("0", "0", "0", kTemplate, ""));
    EXPECT_FALSE(fs::exists(style));

    // A missing source or a name that reaches outside the style folder: no copy.
    for (const std::string& chosen :
         {std::string("Missing.style"), ".." + kSep + "outside.style"}) {
        test::WriteFile(JoinPath(cwd, "outside.style"), "outside");
        test::WriteFile(style, std::string(kStyleCopyMarker) + " stale\r\nold");
        Build(srt, Line("0", "0", "0", kTemplate, chosen));
        EXPECT_FALSE(fs::exists(style)) << chosen;
    }

    // The user's own style file is kept and used whatever is chosen, and named in a warning.
    for (const char* chosen : {"", "Big Font.style"}) {
        test::WriteFile(style, "\xEF\xBB\xBFmine");
        const TaskScript own = Build(srt, Line("0", "0", "0", kTemplate, chosen));
        EXPECT_EQ(test::ReadFile(style), "\xEF\xBB\xBFmine");
        ASSERT_EQ(own.warnings.size(), 1u);
        EXPECT_NE(own.warnings[0].find(style), std::string::npos);
    }
}

TEST_F(TaskScriptFixture, SsaAndAssxAreScannedAsAssWithoutStyleStep) {
    fs::create_directories(JoinPath(cwd, "srtstyle"));
    test::WriteFile(JoinPath(JoinPath(cwd, "srtstyle"), "s.style"), "s");
    for (const char* name : {"ep.ssa", "ep.assx"}) {
        SCOPED_TRACE(name);
        const std::string source = Subtitle(name, kTenSecondsAss);
        const std::string style = JoinPath(dir.Path(), "subs") + kSep + "ep.srt.style";
        test::WriteFile(style, "keep");
        const TaskScript t = Build(source, Line("0", "2", "0", kTemplate, "s.style"));
        EXPECT_NE(test::ReadFile(t.scriptPath).find(", 25, 350)\r\n"), std::string::npos);
        EXPECT_EQ(test::ReadFile(style), "keep");
    }
}

TEST_F(TaskScriptFixture, BadRecordsAreRefusedBeforeAnythingIsWritten) {
    const std::string source = Subtitle("movie.ass");
    const struct {
        std::string line;
        std::string cause;
    } cases[] = {
        {"0|0|1|1|" + kTemplate + "|tag|", "7 fields"},
        {"0|0|1|1|a|b|tag||1", "9 fields"},
        {Line("6", "0", "0"), "FormatIndex 6"},
        {Line("-1", "0", "0"), "FormatIndex -1"},
        {Line("x", "0", "0"), "FormatIndex \"x\""},
        {Line("", "0", "0"), "FormatIndex \"\""},
        {Line("0", "6", "0"), "RateIndex \"6\""},
        {Line("0", " 0", "0"), "RateIndex \" 0\""},
        {Line("0", "0", "yes"), "MakeSup \"yes\""},
        {Line("0", "0", "0", "%0:s %4:s"), "argument 4"},
        {Line("0", "0", "0", "%0:s %x"), "unknown directive"},
        {Line("0", "0", "0", "%0:s 50%"), "ends inside"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            Build(source, c.line);
            ADD_FAILURE() << "no error";
        } catch (const TaskScriptError& e) {
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(TaskScriptFixture, PathsTheScriptCannotCarryAreRefused) {
    const std::string quoted = Subtitle("say \"hi\".ass");
    const std::string broken = Subtitle("two\nlines.ass");
    EXPECT_THROW(Build(quoted, Line("0", "0", "0")), TaskScriptError);
    EXPECT_THROW(Build(broken, Line("0", "0", "0")), TaskScriptError);
    const std::string fine = Subtitle("fine.ass");
    EXPECT_THROW(BuildTaskScript(fine, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so",
                                 out + "a\"b"),
                 TaskScriptError);
    EXPECT_THROW(BuildTaskScript(fine, Line("0", "0", "0"), cwd, "", kSep + "plug.so", out),
                 TaskScriptError);
    EXPECT_THROW(
        BuildTaskScript(fine, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so", " "),
        TaskScriptError);
    EXPECT_THROW(Build(Subtitle(".ass"), Line("0", "0", "0")), TaskScriptError);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(TaskScriptFixture, FileFailuresNameThePath) {
    const std::string missing = JoinPath(dir.Path(), "nowhere.ass");
    try {
        Build(missing, Line("0", "0", "0"));
        FAIL();
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(out));

    // The output folder is a file, so no task folder can be made under it.
    const std::string source = Subtitle("movie.ass");
    const std::string blocker = JoinPath(dir.Path(), "blocker");
    test::WriteFile(blocker, "x");
    try {
        BuildTaskScript(source, Line("0", "0", "0"), cwd, kSep + "conv", kSep + "plug.so", blocker);
        FAIL();
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(blocker + kSep + "movie"), std::string::npos)
            << e.what();
    }

    // A folder in the script's place cannot be replaced by the script.
    fs::create_directories(out + "movie" + kSep + "movie.avs" + kSep + "inside");
    try {
        Build(source, Line("0", "0", "0"));
        FAIL();
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(out + "movie" + kSep + "movie.avs"), std::string::npos)
            << e.what();
    }
}
