// Matroska files read through FFmpeg: their heads, a text track written out with its fonts,
// and everything a damaged or hostile file can hold. The files are made here, element by
// element, so that each case is exactly the one named.
#include "MatroskaBuilder.h"

#include "base/FileSystem.h"
#include "matroska/MatroskaFile.h"
#include "render/MatroskaCommand.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace pelldrin;
using pelldrin::test::BuildMatroska;
using pelldrin::test::BuiltAttachment;
using pelldrin::test::BuiltBlock;
using pelldrin::test::BuiltTrack;
using pelldrin::test::FsPath;
using pelldrin::test::ReadFile;
using pelldrin::test::TempDir;
using pelldrin::test::WriteFile;

namespace {

const std::string kTestFont = PELLDRIN_TEST_DATA "/fonts/PelldrinTestSerif.ttf";

const std::string kAssHeader = "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\n"
                               "PlayResY: 1080\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize\n"
                               "Style: Default,Pelldrin Test Serif,64\n\n[Events]\n"
                               "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                               "MarginV, Effect, Text\n";

BuiltTrack AssTrack() {
    BuiltTrack t;
    t.codecPrivate = kAssHeader;
    t.language = "jpn";
    t.name = "Signs & Songs";
    return t;
}

// The lines of the test's ASS track, three blocks whose file order is not their ReadOrder.
std::vector<BuiltBlock> AssBlocks(int track = 0) {
    return {{track, 1000, 1500, "1,0,Default,,0,0,0,,First {\\i1}line, with a comma"},
            {track, 1200, 800, "0,2,Default,Name,1,2,3,fx,Second\\Nline"},
            {track, 4000, 0, "2,0,Default,,0,0,0,,Shown no time"}};
}

const std::string kAssLines =
    "Dialogue: 2,0:00:01.20,0:00:02.00,Default,Name,1,2,3,fx,Second\\Nline\n"
    "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,First {\\i1}line, "
    "with a comma\n"
    "Dialogue: 0,0:00:04.00,0:00:04.00,Default,,0,0,0,,Shown no time\n";

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(FsPath(folder), ec)) {
        names.push_back(pelldrin::test::Utf8Path(e.path().lexically_relative(FsPath(folder))));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Warned(const std::vector<std::string>& warnings, const std::string& part) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&](const std::string& w) { return w.find(part) != std::string::npos; });
}

MatroskaFault FaultOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MatroskaError& e) {
        return e.Fault();
    }
    ADD_FAILURE() << "no MatroskaError";
    return MatroskaFault::Unreadable;
}

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

CommandResult Command(std::vector<std::string> args) {
    args.insert(args.begin(), "pelldrin-render");
    std::ostringstream out;
    std::ostringstream err;
    const int status = render::RunMatroskaCommand(args, out, err);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(MatroskaHead, ListsTracksAndAttachmentsAndMatchesChoicesAcrossFiles) {
    TempDir dir;
    BuiltTrack srt;
    srt.codec = "S_TEXT/UTF8";
    srt.language = "eng";
    srt.isDefault = false;
    srt.isForced = true;
    BuiltTrack pgs;
    pgs.codec = "S_HDMV/PGS";
    pgs.isDefault = false;
    BuiltTrack audio;
    audio.codec = "A_PCM/INT/LIT";
    audio.type = 2;
    const std::string font = ReadFile(kTestFont);
    WriteFile(dir.File("a.mkv"), BuildMatroska({audio, AssTrack(), srt, pgs}, AssBlocks(1),
                                               {{"Serif.ttf", "application/x-truetype-font", font},
                                                {"plain name", "font/ttf", font},
                                                {"Other.TTF", "application/octet-stream", font},
                                                {"notes.txt", "text/plain", "words"},
                                                {"fake.ttf", "font/ttf", "not a font at all"}}));
    const MatroskaHead head = ReadMatroskaHead(dir.File("a.mkv"));
    EXPECT_TRUE(IsMatroskaFileName(dir.File("a.mkv")) && IsMatroskaFileName("x/Show.MKS"));
    EXPECT_FALSE(IsMatroskaFileName("a.mkv.ass") || IsMatroskaFileName("mkv"));
    ASSERT_EQ(head.tracks.size(), 3u);
    const MatroskaTrack& ass = head.tracks[0];
    EXPECT_EQ(ass.number, 1); // the audio track is 0
    EXPECT_EQ(ass.codec, "S_TEXT/ASS");
    EXPECT_EQ(ass.kind, TrackKind::Text);
    EXPECT_EQ(ass.language, "jpn");
    EXPECT_EQ(ass.name, "Signs & Songs");
    EXPECT_TRUE(ass.isDefault);
    EXPECT_FALSE(ass.isForced);
    EXPECT_EQ(head.tracks[1].codec, "S_TEXT/UTF8");
    EXPECT_TRUE(head.tracks[1].isForced);
    EXPECT_FALSE(head.tracks[1].isDefault);
    EXPECT_EQ(head.tracks[2].kind, TrackKind::Picture);
    EXPECT_EQ(head.tracks[2].number, 3);
    EXPECT_EQ(head.TextTracks().size(), 2u);
    EXPECT_EQ(head.DefaultTextTrack(), &head.tracks[0]);
    EXPECT_EQ(head.FindTrack(2), &head.tracks[1]);
    EXPECT_EQ(head.FindTrack(0), nullptr);

    ASSERT_EQ(head.attachments.size(), 5u);
    EXPECT_EQ(head.attachments[0].name, "Serif.ttf");
    EXPECT_EQ(head.attachments[0].size, static_cast<std::int64_t>(font.size()));
    const bool fonts[] = {true, true, true, false, false};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(head.attachments[i].font, fonts[i]) << head.attachments[i].name;
    }

    // A season muxed alike, but with the tracks in another order; and one without the name.
    WriteFile(dir.File("b.mkv"), BuildMatroska({srt, pgs, AssTrack()}, AssBlocks(2)));
    EXPECT_EQ(MatchTrack(ass, ReadMatroskaHead(dir.File("b.mkv"))), 2);
    BuiltTrack renamed = AssTrack();
    renamed.name = "Full";
    WriteFile(dir.File("c.mkv"), BuildMatroska({renamed, renamed}, AssBlocks()));
    EXPECT_EQ(MatchTrack(ass, ReadMatroskaHead(dir.File("c.mkv"))), 1) << "by number";
    BuiltTrack ascii = srt;
    ascii.codec = "S_TEXT/ASCII";
    WriteFile(dir.File("d.mkv"), BuildMatroska({ascii}, {{0, 0, 10, "Only"}}));
    const MatroskaHead plain = ReadMatroskaHead(dir.File("d.mkv"));
    EXPECT_EQ(MatchTrack(ass, plain), std::nullopt);
    ASSERT_EQ(plain.TextTracks().size(), 1u);
    EXPECT_EQ(plain.tracks[0].codec, "S_TEXT/ASCII");
    EXPECT_EQ(ExtractedSubtitleName(dir.File("d.mkv"), plain.tracks[0]), "d.track0.srt");

    // The command line lists the same, one field per tab.
    const CommandResult listed = Command({"--tracks", dir.File("a.mkv")});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "track\t1\ttext\tS_TEXT/ASS\tjpn\tdefault\tSigns & Songs\n"
                          "track\t2\ttext\tS_TEXT/UTF8\teng\tforced\t-\n"
                          "track\t3\tpicture\tS_HDMV/PGS\tund\t-\t-\n"
                          "font\tSerif.ttf\tapplication/x-truetype-font\t" +
                              std::to_string(font.size()) + "\nfont\tplain name\tfont/ttf\t" +
                              std::to_string(font.size()) +
                              "\nfont\tOther.TTF\tapplication/octet-stream\t" +
                              std::to_string(font.size()) + "\n");
}

TEST(MatroskaExtract, AssTrackComesOutWholeWithItsFontsCompressedOrNot) {
    const std::string font = ReadFile(kTestFont);
    const std::vector<BuiltAttachment> attachments{
        {"Serif.ttf", "application/x-truetype-font", font},
        {"../../outside.ttf", "font/ttf", font},
        {"serif.TTF", "font/sfnt", font + "x"}, // another font of the same name
        {"Serif.ttf", "font/ttf", font},        // the same again
        {"Fontless", "font/ttf", font},
        {"cover.jpg", "image/jpeg", "\xFF\xD8\xFF\xE0 not really"}};
    for (const auto compression : {BuiltTrack::Compression::None, BuiltTrack::Compression::Zlib}) {
        TempDir dir;
        BuiltTrack track = AssTrack();
        track.compression = compression;
        track.privateCompressed = compression == BuiltTrack::Compression::Zlib;
        WriteFile(dir.File("Show.S01E01.mkv"),
                  BuildMatroska({track}, AssBlocks(), attachments, 9000.0));
        const std::string out = dir.File("task");
        std::int64_t last = -1;
        ExtractCallbacks callbacks;
        callbacks.progress = [&](std::int64_t done, std::int64_t total) {
            EXPECT_GE(done, last);
            EXPECT_EQ(total, static_cast<std::int64_t>(
                                 std::filesystem::file_size(FsPath(dir.File("Show.S01E01.mkv")))));
            last = done;
        };
        const ExtractedTrack done = ExtractTrack(dir.File("Show.S01E01.mkv"), 0, out, callbacks);
        EXPECT_EQ(last, static_cast<std::int64_t>(
                            std::filesystem::file_size(FsPath(dir.File("Show.S01E01.mkv")))));
        EXPECT_EQ(done.subtitlePath, out + "/Show.S01E01.track0.ass");
        EXPECT_EQ(ReadFile(done.subtitlePath), kAssHeader + kAssLines);
        EXPECT_EQ(done.events, 3);
        EXPECT_EQ(Names(out), (std::vector<std::string>{
                                  "Show.S01E01.track0.ass", "fonts", "fonts/Fontless.ttf",
                                  "fonts/Serif.ttf", "fonts/outside.ttf", "fonts/serif (2).TTF"}));
        EXPECT_EQ(ReadFile(out + "/fonts/serif (2).TTF"), font + "x");
        EXPECT_EQ(done.fontPaths.size(), 4u);
        EXPECT_TRUE(Warned(done.warnings, "\"cover.jpg\" (image/jpeg) is no font"));
        EXPECT_TRUE(Warned(done.warnings, "repeats another attachment"));
        EXPECT_TRUE(Warned(done.warnings, "is written as \"serif (2).TTF\""));
    }
}

TEST(MatroskaExtract, SrtTrackWithHeaderStrippingAndBlocksWithoutDuration) {
    TempDir dir;
    BuiltTrack srt;
    srt.codec = "S_TEXT/UTF8";
    srt.compression = BuiltTrack::Compression::HeaderStripping;
    srt.strippedHeader = "<i>";
    // Blocks without a duration, out of time order, as some muxers leave them.
    WriteFile(dir.File("s.mks"), BuildMatroska({srt},
                                               {{0, 5000, std::nullopt, "<i>Third</i>"},
                                                {0, 1000, std::nullopt, "<i>First</i>\r\nrow"},
                                                {0, 2500, std::nullopt, "<i>Second</i>"}},
                                               {}, 7000.0));
    const ExtractedTrack done = ExtractTrack(dir.File("s.mks"), 0, dir.File("out"));
    EXPECT_EQ(ReadFile(done.subtitlePath), "1\n00:00:01,000 --> 00:00:02,500\n<i>First</i>\nrow\n\n"
                                           "2\n00:00:02,500 --> 00:00:05,000\n<i>Second</i>\n\n"
                                           "3\n00:00:05,000 --> 00:00:07,000\n<i>Third</i>\n\n");
    EXPECT_EQ(FileNamePart(done.subtitlePath), "s.track0.srt");
    EXPECT_TRUE(Warned(done.warnings, "3 blocks have no duration"));
    EXPECT_TRUE(done.fontPaths.empty());
    EXPECT_EQ(Names(dir.File("out")), std::vector<std::string>{"s.track0.srt"});
}

TEST(MatroskaExtract, RefusalsNameTheFileAndWriteNothing) {
    TempDir dir;
    const std::string out = dir.File("out");
    BuiltTrack pgs;
    pgs.codec = "S_HDMV/PGS";
    BuiltTrack broken = AssTrack();
    broken.compression = BuiltTrack::Compression::Zlib;
    std::vector<BuiltBlock> blocks = AssBlocks(1);
    for (BuiltBlock& b : blocks) {
        b.rawData = true; // stored as it is, so it does not inflate
    }
    blocks.push_back({0, 0, 100, "not a picture"});
    WriteFile(dir.File("m.mkv"), BuildMatroska({pgs, broken}, blocks));
    WriteFile(dir.File("text.mkv"), kAssHeader);
    std::filesystem::create_directory(FsPath(dir.File("folder.mkv")));

    struct Case {
        std::string file;
        std::int64_t track;
        MatroskaFault fault;
        std::string says;
    };
    const Case cases[] = {
        {dir.File("none.mkv"), 0, MatroskaFault::Unreadable, "no such file"},
        {dir.File("folder.mkv"), 0, MatroskaFault::Unreadable, "not a file"},
        {dir.File("text.mkv"), 0, MatroskaFault::NotMatroska, "not a Matroska file"},
        {dir.File("m.mkv"), 2, MatroskaFault::NoSuchTrack,
         "no subtitle track 2: its subtitle tracks are 0 (S_HDMV/PGS), 1 (S_TEXT/ASS)"},
        {dir.File("m.mkv"), 0, MatroskaFault::NotText, "a picture track"},
        {dir.File("m.mkv"), 1, MatroskaFault::NoText, "gave no block that could be read"},
    };
    for (const Case& c : cases) {
        try {
            ExtractTrack(c.file, c.track, out);
            ADD_FAILURE() << c.file << " track " << c.track << " was extracted";
        } catch (const MatroskaError& e) {
            EXPECT_EQ(e.Fault(), c.fault) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(FileNamePart(c.file)), std::string::npos)
                << e.what();
        }
        // The command line: a failure is status 1 with the same message.
        const CommandResult r = Command({"--extract", std::to_string(c.track), c.file, "-o", out});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(FsPath(out)));
    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"--extract", "1", dir.File("m.mkv")},
          {"--extract", "x", dir.File("m.mkv"), "-o", out},
          {"--tracks"},
          {"--tracks", dir.File("m.mkv"), "-o", out},
          {"--tracks", dir.File("m.mkv"), "--extract", "1", "-o", out},
          {"--extract", "1", dir.File("m.mkv"), "-o", out, "-q"}}) {
        const CommandResult r = Command(usage);
        EXPECT_EQ(r.status, 2) << usage.front() << ' ' << r.err;
        EXPECT_NE(r.err.find("usage: pelldrin-render"), std::string::npos);
    }
}

TEST(MatroskaExtract, LimitsAndAFontsFolderThatIsNoFolderStopItBeforeWriting) {
    TempDir dir;
    const std::string font = ReadFile(kTestFont);
    WriteFile(dir.File("a.mkv"),
              BuildMatroska({AssTrack()}, AssBlocks(), {{"Serif.ttf", "font/ttf", font}}));
    const std::string out = dir.File("out");
    MatroskaLimits head;
    head.headBytes = static_cast<std::int64_t>(font.size()) / 2;
    MatroskaLimits blocks;
    blocks.trackBlocks = 2;
    MatroskaLimits bytes;
    bytes.trackBytes = 60;
    for (const MatroskaLimits& limits : {head, blocks, bytes}) {
        EXPECT_EQ(FaultOf([&] { ExtractTrack(dir.File("a.mkv"), 0, out, {}, limits); }),
                  MatroskaFault::OverLimit);
    }
    EXPECT_EQ(FaultOf([&] { ReadMatroskaHead(dir.File("a.mkv"), head); }),
              MatroskaFault::OverLimit);
    MatroskaLimits oneFont;
    oneFont.fonts = 0;
    const ExtractedTrack noFonts = ExtractTrack(dir.File("a.mkv"), 0, out, {}, oneFont);
    EXPECT_TRUE(noFonts.fontPaths.empty());
    EXPECT_TRUE(Warned(noFonts.warnings, "the rest are not written"));

    // A link or a file where the fonts go would lead them elsewhere.
    TempDir elsewhere;
    const std::string linked = dir.File("linked");
    std::filesystem::create_directory(FsPath(linked));
    std::filesystem::create_directory_symlink(FsPath(elsewhere.Path()), FsPath(linked + "/fonts"));
    EXPECT_THROW(ExtractTrack(dir.File("a.mkv"), 0, linked), FileError);
    EXPECT_TRUE(Names(elsewhere.Path()).empty());
    EXPECT_EQ(Names(linked), std::vector<std::string>{"fonts"});
}

TEST(MatroskaExtract, StopEndsTheReadingAndWritesNothing) {
    TempDir dir;
    // Enough blocks that the reading takes many pieces of the file, and reports progress.
    std::vector<BuiltBlock> blocks;
    for (int i = 0; i < 5000; ++i) {
        blocks.push_back(
            {0, i * 1000, 900, std::to_string(i) + ",0,Default,,0,0,0,," + std::string(1000, 'x')});
    }
    WriteFile(dir.File("long.mkv"), BuildMatroska({AssTrack()}, blocks));
    int calls = 0;
    ExtractCallbacks callbacks;
    callbacks.stop = [&] { return ++calls > 1; };
    try {
        ExtractTrack(dir.File("long.mkv"), 0, dir.File("out"), callbacks);
        ADD_FAILURE() << "not stopped";
    } catch (const MatroskaError& e) {
        EXPECT_EQ(e.Fault(), MatroskaFault::Stopped) << e.what();
    }
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(std::filesystem::exists(FsPath(dir.File("out"))));

    // A callback that throws ends the reading with its own exception.
    callbacks.stop = [] { return false; };
    callbacks.progress = [](std::int64_t, std::int64_t) { throw std::runtime_error("ours"); };
    EXPECT_THROW(ExtractTrack(dir.File("long.mkv"), 0, dir.File("out"), callbacks),
                 std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(FsPath(dir.File("out"))));
}

TEST(MatroskaExtract, ACutShortFileGivesTheLinesBeforeItsEndWithAWarning) {
    TempDir dir;
    std::vector<BuiltBlock> blocks;
    for (int i = 0; i < 100; ++i) {
        blocks.push_back(
            {0, i * 1000, 900, std::to_string(i) + ",0,Default,,0,0,0,,Line " + std::to_string(i)});
    }
    const std::string whole = BuildMatroska({AssTrack()}, blocks);
    WriteFile(dir.File("cut.mkv"), whole.substr(0, whole.size() * 2 / 3));
    const ExtractedTrack done = ExtractTrack(dir.File("cut.mkv"), 0, dir.File("out"));
    EXPECT_GT(done.events, 30);
    EXPECT_LT(done.events, 100);
    EXPECT_TRUE(Warned(done.warnings, "cut.mkv")) << done.warnings.size();
    EXPECT_TRUE(Warned(done.warnings, "ends early"))
        << (done.warnings.empty() ? "" : done.warnings[0]);
    // A file cut inside its head cannot be read at all.
    WriteFile(dir.File("head.mkv"), whole.substr(0, 60));
    EXPECT_EQ(FaultOf([&] { ReadMatroskaHead(dir.File("head.mkv")); }), MatroskaFault::NotMatroska);
}
