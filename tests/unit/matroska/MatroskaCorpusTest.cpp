// Releases made from the real subtitle files of the shared corpus with mkvmerge and FFmpeg,
// as users get them: the track read out converts to the same BDN XML and pictures as the
// file it was made from, with the same fonts in a fonts folder.
#include "base/FileSystem.h"
#include "matroska/MatroskaFile.h"
#include "render/MatroskaCommand.h"
#include "render/Renderer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace pelldrin;
using pelldrin::test::FsPath;
using pelldrin::test::ReadFile;
using pelldrin::test::TempDir;
using pelldrin::test::WriteFile;

namespace {

namespace fs = std::filesystem;

const std::string kCorpus = PELLDRIN_CORPUS;

// Skips the test unless the corpus and the tools that make releases are there.
#define REQUIRE_CORPUS_AND_TOOLS()                                                                 \
    do {                                                                                           \
        if (!fs::is_directory(FsPath(kCorpus))) {                                                  \
            GTEST_SKIP() << "no corpus of real subtitle files at " << kCorpus;                     \
        }                                                                                          \
        if (std::system("command -v mkvmerge >/dev/null && command -v ffmpeg >/dev/null") != 0) {  \
            GTEST_SKIP() << "mkvmerge or ffmpeg is missing (scripts/install-deps installs them)";  \
        }                                                                                          \
    } while (false)

std::string Q(const std::string& path) {
    return "'" + path + "'";
}

// Runs a tool through the shell; mkvmerge's status 1 means warnings, the file is written.
void Tool(const std::string& command, const TempDir& dir, bool warningsAllowed = false) {
    const int status = std::system((command + " >" + Q(dir.File("tool.log")) + " 2>&1").c_str());
    const bool ok =
        status == 0 || (warningsAllowed && WIFEXITED(status) && WEXITSTATUS(status) == 1);
    ASSERT_TRUE(ok) << command << "\n" << ReadFile(dir.File("tool.log"));
}

// A folder with links to a corpus file and the corpus's fonts beside it, as a user has them.
std::string OriginalWithFonts(const TempDir& dir, const std::string& corpusFile,
                              const std::string& name) {
    const std::string folder = dir.File("original");
    fs::create_directories(FsPath(folder));
    fs::create_symlink(FsPath(kCorpus + "/" + corpusFile), FsPath(folder + "/" + name));
    if (!fs::exists(FsPath(folder + "/fonts"))) {
        fs::create_directory_symlink(FsPath(kCorpus + "/fonts"), FsPath(folder + "/fonts"));
    }
    return folder + "/" + name;
}

struct Converted {
    int status = -1;
    std::string err;
    std::string xml;
    std::vector<std::string> pictures;
};

// The subtitle converted as the window's default task does, into a folder of its own, with
// every output named "task" so that two conversions can be compared byte for byte.
Converted Convert(const std::string& subtitle, const std::string& folder, int width, int height,
                  int frames) {
    fs::create_directories(FsPath(folder));
    WriteFile(folder + "/task.avs", "MaskSub(\"" + subtitle + "\", " + std::to_string(width) +
                                        ", " + std::to_string(height) + ", 23.976, " +
                                        std::to_string(frames) + ")\r\n");
    std::ostringstream out;
    std::ostringstream err;
    Converted c;
    c.status = render::RunRender({"pelldrin-render", "-t", "task", "-v",
                                  std::to_string(height) + "p", "-f", "23.976", "-a1", "-p1", "-b1",
                                  "-m3", "-o", folder + "/task.xml", folder + "/task.avs"},
                                 out, err);
    c.err = err.str();
    c.xml = ReadFile(folder + "/task.xml");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(FsPath(folder))) {
        if (e.path().extension() == ".png") {
            names.push_back(pelldrin::test::Utf8Path(e.path()));
        }
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        c.pictures.push_back(ReadFile(n));
    }
    return c;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The lines of a text that hold the part.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> found;
    for (const std::string& line : Lines(text)) {
        if (line.find(part) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

void ExpectSameConversion(const std::string& original, const std::string& extracted,
                          const TempDir& dir, int width, int height, int frames,
                          bool draws = true) {
    const Converted a = Convert(original, dir.File("converted-original"), width, height, frames);
    const Converted b = Convert(extracted, dir.File("converted-extracted"), width, height, frames);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.xml.find("<Event ") != std::string::npos, draws);
    EXPECT_EQ(a.xml, b.xml);
    ASSERT_EQ(a.pictures.size(), b.pictures.size());
    for (std::size_t i = 0; i < a.pictures.size(); ++i) {
        EXPECT_EQ(a.pictures[i], b.pictures[i]) << "picture " << i + 1;
    }
    // The same fonts were found: the attached ones as those in the original's fonts folder.
    EXPECT_EQ(LinesWith(a.err, "is not installed"), LinesWith(b.err, "is not installed"));
}

} // namespace

TEST(MatroskaCorpus, ReleasesConvertAsTheFilesTheyWereMadeFrom) {
    REQUIRE_CORPUS_AND_TOOLS();
    struct Case {
        std::string corpusFile;
        std::string mux; // the muxer's command line, with IN and OUT
        int width, height, frames;
        bool draws = true;
    };
    const std::string fonts = kCorpus + "/fonts/";
    const Case cases[] = {
        // Karaoke with the two fonts it names attached, one of them as a generic file.
        {"ass/jso_railgun_op.ass",
         "mkvmerge -o OUT --attachment-mime-type application/x-truetype-font --attach-file " +
             Q(fonts + "CabinCondensed-Regular.ttf") +
             " --attachment-mime-type application/octet-stream --attach-file " +
             Q(fonts + "SourceSansPro-SemiBold.ttf") + " IN",
         1280, 720, 400},
        // SSA v4, zlib-compressed as mkvmerge offers it.
        {"ssa/astisub_example-in_v4.ssa", "mkvmerge -o OUT --compression 0:zlib IN", 1920, 1080,
         3700},
        // FFmpeg keeps a script's [Graphics] in the track's header, and attaches at the end.
        {"ass/pysubs2_attached_images_aegisub.ass",
         "ffmpeg -nostdin -v error -i IN -attach " + Q(fonts + "CabinCondensed-Regular.ttf") +
             " -metadata:s:t mimetype=font/ttf -c copy -f matroska OUT",
         1920, 1080, 200, false},
        // SRT, whose cues mkvmerge sorts by time.
        {"srt/csf_bridge_of_spies_zh_asstags_overlaps.srt", "mkvmerge -o OUT IN", 1920, 1080, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.corpusFile);
        TempDir dir;
        const std::string name = FileNamePart(c.corpusFile);
        const std::string original = OriginalWithFonts(dir, c.corpusFile, name);
        std::string command = c.mux;
        command.replace(command.find("IN"), 2, Q(original));
        command.replace(command.find("OUT"), 3, Q(dir.File("Release.mkv")));
        ASSERT_NO_FATAL_FAILURE(Tool(command, dir, true));

        const MatroskaHead head = ReadMatroskaHead(dir.File("Release.mkv"));
        ASSERT_EQ(head.TextTracks().size(), 1u);
        const ExtractedTrack done =
            ExtractTrack(dir.File("Release.mkv"), head.TextTracks()[0]->number, dir.File("task"));
        for (const auto& a : head.attachments) {
            EXPECT_TRUE(a.font) << a.name;
        }
        EXPECT_EQ(done.fontPaths.size(), head.attachments.size());
        ASSERT_NO_FATAL_FAILURE(ExpectSameConversion(original, done.subtitlePath, dir, c.width,
                                                     c.height, c.frames, c.draws));
        if (name.find(".srt") != std::string::npos) {
            continue;
        }
        // Every event line of the original is in the extracted file, in its order, but for
        // the value of SSA's Marked field, which mkvmerge does not keep.
        const auto events = [](const std::string& text) {
            std::vector<std::string> found;
            for (std::string line : LinesWith(text, "Dialogue: ")) {
                if (line.rfind("Dialogue: Marked=", 0) == 0) {
                    line.replace(0, line.find(','), "Dialogue: Marked");
                }
                found.push_back(line);
            }
            return found;
        };
        EXPECT_EQ(events(ReadFile(original)), events(ReadFile(done.subtitlePath)));
        const std::string text = ReadFile(original);
        const auto graphics = text.find("[Graphics]");
        if (graphics != std::string::npos) {
            const std::string section = text.substr(graphics, text.find("[Events]") - graphics);
            EXPECT_NE(ReadFile(done.subtitlePath).find(section), std::string::npos);
        }
    }
}

TEST(MatroskaCorpus, TwoTextTracksBesideAPictureTrackAndACutShortCopy) {
    REQUIRE_CORPUS_AND_TOOLS();
    TempDir dir;
    const std::string ass = OriginalWithFonts(dir, "ass/jso_railgun_op.ass", "op.ass");
    const std::string srt =
        OriginalWithFonts(dir, "srt/csf_loki_s01e05_split_an9_simultaneous.srt", "loki.srt");
    // A picture track: the opening's first seconds as a PGS stream.
    {
        std::ostringstream out;
        std::ostringstream err;
        fs::create_directories(FsPath(dir.File("sup")));
        WriteFile(dir.File("sup/pgs.avs"), "MaskSub(\"" + ass + "\", 1280, 720, 23.976, 400)\r\n");
        ASSERT_EQ(render::RunRender({"pelldrin-render", "-v", "720p", "-f", "23.976", "-o",
                                     dir.File("sup/pgs.xml"), "-o", dir.File("sup/pgs.sup"),
                                     dir.File("sup/pgs.avs")},
                                    out, err),
                  0)
            << err.str();
    }
    ASSERT_NO_FATAL_FAILURE(
        Tool("mkvmerge -o " + Q(dir.File("Show.mkv")) + " --language 0:jpn --track-name " +
                 "'0:Romaji' --default-track-flag 0:0 " + Q(ass) + " --language 0:chi " +
                 "--track-name 0:简体中文 --default-track-flag 0:1 " + Q(srt) +
                 " --language 0:eng --default-track-flag 0:0 " + Q(dir.File("sup/pgs.sup")) +
                 " --attach-file " + Q(kCorpus + "/fonts/CabinCondensed-Regular.ttf"),
             dir, true));

    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(
        render::RunMatroskaCommand({"pelldrin-render", "--tracks", dir.File("Show.mkv")}, out, err),
        0)
        << err.str();
    EXPECT_EQ(out.str(), "track\t0\ttext\tS_TEXT/ASS\tjpn\t-\tRomaji\n"
                         "track\t1\ttext\tS_TEXT/UTF8\tchi\tdefault\t简体中文\n"
                         "track\t2\tpicture\tS_HDMV/PGS\teng\t-\t-\n"
                         "font\tCabinCondensed-Regular.ttf\tfont/ttf\t" +
                             std::to_string(fs::file_size(
                                 FsPath(kCorpus + "/fonts/CabinCondensed-Regular.ttf"))) +
                             "\n");
    const MatroskaHead head = ReadMatroskaHead(dir.File("Show.mkv"));
    EXPECT_EQ(head.DefaultTextTrack()->number, 1);

    const ExtractedTrack chinese = ExtractTrack(dir.File("Show.mkv"), 1, dir.File("task1"));
    EXPECT_EQ(FileNamePart(chinese.subtitlePath), "Show.track1.srt");
    ASSERT_NO_FATAL_FAILURE(ExpectSameConversion(srt, chinese.subtitlePath, dir, 1920, 1080, 2000));
    try {
        ExtractTrack(dir.File("Show.mkv"), 2, dir.File("task2"));
        ADD_FAILURE() << "a picture track was extracted";
    } catch (const MatroskaError& e) {
        EXPECT_EQ(e.Fault(), MatroskaFault::NotText) << e.what();
    }

    // A download cut short: the lines before the cut, said so, and a conversion that runs.
    const std::string whole = ReadFile(dir.File("Show.mkv"));
    WriteFile(dir.File("Cut.mkv"), whole.substr(0, whole.size() / 2));
    const ExtractedTrack cut = ExtractTrack(dir.File("Cut.mkv"), 0, dir.File("cut"));
    const ExtractedTrack full = ExtractTrack(dir.File("Show.mkv"), 0, dir.File("full"));
    EXPECT_GT(cut.events, 0);
    EXPECT_LT(cut.events, full.events);
    EXPECT_TRUE(std::any_of(cut.warnings.begin(), cut.warnings.end(), [](const std::string& w) {
        return w.find("ends early") != std::string::npos;
    }));
    EXPECT_EQ(Convert(cut.subtitlePath, dir.File("converted-cut"), 1280, 720, 400).status, 0);
}
