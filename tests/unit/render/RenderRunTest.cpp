// Whole runs of the renderer: times, pictures against libass's own frames, SRT,
// UTF-16, empty files, 480i, and the ways a run is refused.
#include "RenderTestSupport.h"

#include "bdn/SubFile.h"
#include "drawing/Composite.h"
#include "drawing/FrameScan.h"
#include "input/LibassSession.h"

#include "PelldrinVersion.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pelldrin::render::test {
namespace {

struct RateCase {
    std::string rate;
    int base;
    std::vector<std::string> timecodes; // in/out of the two events
    std::string contentOut;             // of a 4000-frame clip
};

TEST(RenderRun, StaticEventsGiveTheirFramesAtEveryRate) {
    // Expected timecodes worked out from the exact rates: an event starting at
    // 60.50 s begins on the first frame at or after that time.
    const std::vector<RateCase> cases{
        {"23.976", 24, {"00:00:01:00", "00:00:03:00", "00:01:00:11", "00:01:02:05"}, "00:02:46:16"},
        {"24", 24, {"00:00:01:00", "00:00:03:00", "00:01:00:12", "00:01:02:06"}, "00:02:46:16"},
        {"25", 25, {"00:00:01:00", "00:00:03:00", "00:01:00:13", "00:01:02:07"}, "00:02:40:00"},
        {"29.97", 30, {"00:00:01:00", "00:00:03:00", "00:01:00:14", "00:01:02:06"}, "00:02:13:10"},
        {"50", 50, {"00:00:01:00", "00:00:03:00", "00:01:00:25", "00:01:02:13"}, "00:01:20:00"},
        {"59.94", 60, {"00:00:01:00", "00:00:03:00", "00:01:00:27", "00:01:02:12"}, "00:01:06:40"},
    };
    TempDir dir;
    WriteFile(dir.File("s.ass"),
              AssScript("Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,First line\n"
                        "Dialogue: 0,0:01:00.50,0:01:02.25,Default,,0,0,0,,Second line\n"));
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.rate);
        WriteFile(dir.File("s.avs"), ScriptText(dir.File("s.ass"), 1920, 1080, c.rate, 4000));
        const auto r =
            RunRenderer({"-t", "s", "-l", "zho", "-v", "1080p", "-f", c.rate, "-a1", "-p1", "-b1",
                         "-m3", "-o", dir.File("s.xml"), dir.File("s.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Progress: 4000/4000 - Events: 2\r"), std::string::npos) << r.out;
        const auto events = ReadEvents(dir.File("s.xml"));
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].inTC, c.timecodes[0]);
        EXPECT_EQ(events[0].outTC, c.timecodes[1]);
        EXPECT_EQ(events[1].inTC, c.timecodes[2]);
        EXPECT_EQ(events[1].outTC, c.timecodes[3]);
        EXPECT_EQ(events[0].forced, "False");

        TBDNFile bdn;
        LoadBDNFile(dir.File("s.xml"), bdn);
        EXPECT_EQ(bdn.Info.Version, "0.93");
        EXPECT_EQ(bdn.Info.FrameRate, c.rate);
        EXPECT_EQ(bdn.Info.DropFrame, "false");
        EXPECT_EQ(bdn.Info.EventType, "Graphic");
        EXPECT_EQ(bdn.Info.NumberofEvents, 2);
        EXPECT_EQ(bdn.Info.FirstEventInTC, c.timecodes[0]);
        EXPECT_EQ(bdn.Info.LastEventOutTC, c.timecodes[3]);
        EXPECT_EQ(bdn.Info.ContentInTC, "00:00:00:00");
        EXPECT_EQ(bdn.Info.ContentOutTC, c.contentOut);
        EXPECT_TRUE(std::filesystem::exists(dir.File(bdn.Events[1].GraphicFile)));
    }
}

// The frame that the BDN events show at frame n: each graphic's PNG at its X, Y.
RgbaImage FrameFromBdn(const std::string& folder, const std::vector<EventOut>& events, int base,
                       long long n, int width, int height, std::map<std::string, RgbaImage>& pngs) {
    RgbaImage frame;
    frame.width = width;
    frame.height = height;
    frame.pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
    for (const EventOut& e : events) {
        if (n < TimecodeFrame(e.inTC, base) || n >= TimecodeFrame(e.outTC, base)) {
            continue;
        }
        for (const GraphicOut& g : e.graphics) {
            auto it = pngs.find(g.file);
            if (it == pngs.end()) {
                it = pngs.emplace(g.file, LoadPng(folder + "/" + g.file)).first;
            }
            const RgbaImage& png = it->second;
            EXPECT_EQ(png.width, g.width);
            EXPECT_EQ(png.height, g.height);
            EXPECT_TRUE(g.x >= 0 && g.y >= 0 && g.x + png.width <= width &&
                        g.y + png.height <= height);
            for (int row = 0; row < png.height; ++row) {
                std::uint8_t* dst = frame.Row(g.y + row) + g.x * 4;
                const std::uint8_t* src = png.Row(row);
                for (int x = 0; x < png.width; ++x) {
                    if (src[x * 4 + 3] != 0) {
                        std::copy_n(src + x * 4, 4, dst + x * 4);
                    }
                }
            }
        }
    }
    return frame;
}

// Largest and mean error between two frames, colour weighted by alpha; rows that
// match exactly are skipped, which keeps the check quick.
void FrameError(const RgbaImage& a, const RgbaImage& b, int& worst, double& mean) {
    worst = 0;
    double total = 0;
    const std::size_t rowBytes = static_cast<std::size_t>(a.width) * 4;
    for (int row = 0; row < a.height; ++row) {
        const std::uint8_t* pa = a.Row(row);
        const std::uint8_t* pb = b.Row(row);
        if (std::memcmp(pa, pb, rowBytes) == 0) {
            continue;
        }
        for (std::size_t i = 0; i < rowBytes; i += 4) {
            for (int c = 0; c < 4; ++c) {
                const int wa = c == 3 ? pa[i + 3] : pa[i + c] * pa[i + 3] / 255;
                const int wb = c == 3 ? pb[i + 3] : pb[i + c] * pb[i + 3] / 255;
                worst = std::max(worst, std::abs(wa - wb));
                total += std::abs(wa - wb);
            }
        }
    }
    mean = total / static_cast<double>(a.pixels.size());
}

const char* const kMixedEvents =
    "Dialogue: 0,0:00:00.20,0:00:01.60,Default,,0,0,0,,Bottom line, {\\i1}italic{\\i0}\n"
    "Dialogue: 0,0:00:00.60,0:00:01.20,Default,,0,0,0,,{\\an8}Top line while the bottom shows\n"
    "Dialogue: 0,0:00:01.60,0:00:02.00,Default,,0,0,0,,Bottom line, {\\i1}italic{\\i0}\n"
    "Dialogue: 0,0:00:02.00,0:00:02.60,Default,,0,0,0,,{\\move(200,300,600,320)}Moving\n"
    "Dialogue: 0,0:00:02.60,0:00:03.20,Default,,0,0,0,,{\\fad(160,160)}Fading "
    "\xE4\xB8\xAD\xE6\x96\x87\n"
    "Dialogue: 0,0:00:03.20,0:00:03.80,Default,,0,0,0,,{\\k12}Ka{\\kf20}ra{\\ko10}o{\\K8}ke\n"
    "Dialogue: 0,0:00:03.80,0:00:04.40,Default,,0,0,0,,{\\t(0,400,\\c&H0000FF&\\frz15)}Turning\n"
    "Dialogue: 0,0:00:04.40,0:00:04.60,Default,,0,0,0,,Short\n"
    "Dialogue: 0,0:00:04.70,0:00:04.90,Default,,0,0,0,,Short\n";

// Renders the mixed file and compares every frame with libass's own frame.
void CheckEveryFrame(const std::string& format, const std::string& rate, bool palette) {
    const VideoFormat* f = FindVideoFormat(format);
    const FrameRate* fr = FindFrameRate(rate);
    TempDir dir;
    WriteFile(dir.File("m.ass"), AssScript(kMixedEvents));
    const long long frames = fr->num * 5 / fr->den;
    WriteFile(dir.File("m.avs"), ScriptText(dir.File("m.ass"), f->renderWidth, f->renderHeight,
                                            rate, frames, f->renderWidth != f->width));
    const auto r = RunRenderer({"-t", "m", "-v", format, "-f", rate, "-a1", palette ? "-p1" : "-p0",
                                "-b1", "-m3", "-o", dir.File("m.xml"), dir.File("m.avs")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto events = ReadEvents(dir.File("m.xml"));
    ASSERT_GT(events.size(), 20u); // the animated spans give an event per changed frame
    bool sawSplit = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
        sawSplit = sawSplit || events[i].graphics.size() == 2;
        for (const GraphicOut& g : events[i].graphics) {
            EXPECT_GE(g.x, 0);
            EXPECT_LE(g.x + g.width, f->width);
            EXPECT_LE(g.y + g.height, f->height);
        }
        if (i > 0) { // in time order, never overlapping
            EXPECT_LE(TimecodeFrame(events[i - 1].outTC, fr->timecodeBase),
                      TimecodeFrame(events[i].inTC, fr->timecodeBase));
        }
    }
    EXPECT_TRUE(sawSplit);
    TBDNFile bdn; // the project's own loader takes the file, split events and all
    LoadBDNFile(dir.File("m.xml"), bdn);
    EXPECT_EQ(bdn.Info.NumberofEvents, static_cast<int>(events.size()));

    LibassSession session(dir.File("m.ass"));
    ASS_Renderer* renderer =
        session.StartRenderer({f->width, f->height, f->renderWidth, f->renderHeight});
    const FrameClock clock{fr->num, fr->den};
    std::map<std::string, RgbaImage> pngs;
    int shownFrames = 0;
    for (long long n = 0; n < frames; ++n) {
        int change = 0;
        const ASS_Image* images =
            ass_render_frame(renderer, session.Track(), clock.MsOfFrame(n), &change);
        const RgbaImage expected = CompositeFullFrame(images, f->width, f->height);
        const RgbaImage actual =
            FrameFromBdn(dir.Path(), events, fr->timecodeBase, n, f->width, f->height, pngs);
        shownFrames += images != nullptr;
        if (!palette) {
            ASSERT_TRUE(expected.pixels == actual.pixels) << "frame " << n;
        } else {
            int worst = 0;
            double mean = 0;
            FrameError(expected, actual, worst, mean);
            ASSERT_LE(worst, 48) << "frame " << n;
            ASSERT_LT(mean, 0.05) << "frame " << n;
        }
    }
    EXPECT_GT(shownFrames, frames / 2);
}

TEST(RenderRun, RgbaPicturesAreLibassFramesPixelForPixel) {
    CheckEveryFrame("1080p", "25", false);
}

TEST(RenderRun, PalettePicturesStayWithinThePaletteError) {
    CheckEveryFrame("720p", "23.976", true);
}

TEST(RenderRun, AnamorphicFramesAre720WideAndMatchLibass) {
    CheckEveryFrame("480i", "29.97", false);
    CheckEveryFrame("576i", "25", true);
}

TEST(RenderRun, AnamorphicPictureIsTheWidePictureSqueezed) {
    TempDir dir;
    WriteFile(dir.File("w.ass"),
              AssScript("Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,Wide enough words\n"));
    const auto box = [&](const FrameGeometry& g) {
        LibassSession session(dir.File("w.ass"));
        int change = 0;
        return CompositeVisible(
            ass_render_frame(session.StartRenderer(g), session.Track(), 500, &change), g.width,
            g.height);
    };
    const RgbaImage wide = box({854, 480, 854, 480});
    const RgbaImage squeezed = box({720, 480, 854, 480});
    ASSERT_FALSE(wide.Empty());
    EXPECT_NEAR(squeezed.width, wide.width * 720.0 / 854.0, 3.0);
    EXPECT_NEAR(squeezed.x + squeezed.width / 2.0, 360.0, 3.0);
    EXPECT_NEAR(squeezed.height, wide.height, 2.0);
    EXPECT_NEAR(squeezed.y, wide.y, 2.0);
}

// How many opaque pixels of the picture have this colour.
int CountColour(const RgbaImage& img, std::array<int, 3> colour) {
    int n = 0;
    for (std::size_t i = 0; i < img.pixels.size(); i += 4) {
        n += img.pixels[i + 3] == 255 && img.pixels[i] == colour[0] &&
             img.pixels[i + 1] == colour[1] && img.pixels[i + 2] == colour[2];
    }
    return n;
}

TEST(RenderRun, SrtWithTheDefaultStyleAndWithAStyleFile) {
    TempDir dir;
    WriteFile(dir.File("film.srt"), "1\r\n00:00:01,250 --> 00:00:02,000\r\nPlain <i>white</i>\r\n"
                                    "second line\r\n\r\n"
                                    "2\r\n00:00:02,500 --> 00:00:03,500\r\n"
                                    "<font color=\"#00FFFF\">cyan</font> and white\r\n");
    WriteFile(dir.File("film.avs"), ScriptText(dir.File("film.srt"), 1920, 1080, "25", 100));
    const std::vector<std::string> args{"-t",
                                        "film",
                                        "-v",
                                        "1080p",
                                        "-f",
                                        "25",
                                        "-p0",
                                        "-o",
                                        dir.File("film.xml"),
                                        dir.File("film.avs")};
    auto r = RunRenderer(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto events = ReadEvents(dir.File("film.xml"));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].inTC, "00:00:01:07"); // 1.25 s = frame 31.25, shown from frame 32
    EXPECT_EQ(events[0].outTC, "00:00:02:00");
    EXPECT_EQ(events[1].inTC, "00:00:02:13");
    const RgbaImage plain = LoadPng(dir.File(events[0].graphics[0].file));
    EXPECT_GT(CountColour(plain, {255, 255, 255}), 500);
    EXPECT_EQ(CountColour(plain, {255, 255, 0}), 0);
    EXPECT_GT(plain.height, 100); // two lines
    EXPECT_GT(events[0].graphics[0].y, 900);
    const RgbaImage mixed = LoadPng(dir.File(events[1].graphics[0].file));
    EXPECT_GT(CountColour(mixed, {0, 255, 255}), 100) << "<font color> turns the text cyan";
    EXPECT_GT(CountColour(mixed, {255, 255, 255}), 100) << "</font> returns to the style colour";

    // A yellow top-aligned style beside the file.
    WriteFile(dir.File("film.srt.style"),
              "; test style\n[V4+ Styles]\nPlayResX: 1920\nPlayResY: 1080\n"
              "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
              "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
              "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
              "Style: Yellow,DejaVu Sans,40,&H0000FFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,"
              "100,100,0,0,1,2,0,8,20,20,30,1\n");
    r = RunRenderer(args);
    ASSERT_EQ(r.status, 0) << r.err;
    events = ReadEvents(dir.File("film.xml"));
    ASSERT_EQ(events.size(), 2u);
    const RgbaImage yellow = LoadPng(dir.File(events[0].graphics[0].file));
    EXPECT_GT(CountColour(yellow, {255, 255, 0}), 500);
    EXPECT_EQ(CountColour(yellow, {255, 255, 255}), 0);
    EXPECT_LT(events[0].graphics[0].y, 100);
    EXPECT_LT(yellow.height, plain.height);

    // A broken style is an error that names the style file.
    WriteFile(dir.File("film.srt.style"), "Style: Broken\nFontsize: 3\n");
    r = RunRenderer(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("film.srt.style") + ": line 2"), std::string::npos) << r.err;
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (char c : ascii) {
        out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
}

TEST(RenderRun, SrtAsPlayersShowIt) {
    TempDir dir;
    // Cues 4 and 5 differ only in a hidden tag, 6 and 7 only in the size and face.
    WriteFile(dir.File("p.srt"),
              "1\r\n00:00:00,000 --> 00:00:01,000\r\n"
              "This text should be big and <font color=\"Brown\">brown</font>\r\n\r\n"
              "2\r\n00:00:01,000 --> 00:00:02,000\r\n"
              "{\\an8}<b><font color=\"rgb(0, 128, 255)\">top <i>blue</i></font> white</b>\r\n\r\n"
              "3\r\n00:00:02,000 --> 00:00:03,000\r\n"
              "<font color=\"bleu\">{sic} C:\\new a < b</font>\r\n\r\n"
              "4\r\n00:00:03,000 --> 00:00:04,000\r\n<invalid_tag>Hidden</invalid_tag>\r\n\r\n"
              "5\r\n00:00:05,000 --> 00:00:06,000\r\nHidden\r\n\r\n"
              "6\r\n00:00:07,000 --> 00:00:08,000\r\n<font size=\"32\">Big</font>\r\n\r\n"
              "7\r\n00:00:09,000 --> 00:00:10,000\r\nBig\r\n\r\n"
              "8\r\n00:00:11,000 --> 00:00:12,000\r\n<font face=\"DejaVu Serif\">Big</font>\r\n\r\n"
              "9\r\n00:00:13,000 --> 00:00:14,000\r\n{sic}\r\n");
    WriteFile(dir.File("p.avs"), ScriptText(dir.File("p.srt"), 1920, 1080, "25", 400));
    const auto r =
        RunRenderer({"-v", "1080p", "-f", "25", "-o", dir.File("p.xml"), dir.File("p.avs")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Warning: " + dir.File("p.srt") +
                         ": line 11 (cue 3): unknown colour \"bleu\"; the text keeps the colour "
                         "it has\n");
    const auto events = ReadEvents(dir.File("p.xml"));
    ASSERT_EQ(events.size(), 9u);
    std::vector<RgbaImage> pictures;
    for (const auto& e : events) {
        ASSERT_EQ(e.graphics.size(), 1u);
        pictures.push_back(LoadPng(dir.File(e.graphics[0].file)));
    }
    EXPECT_GT(CountColour(pictures[0], {165, 42, 42}), 300) << "brown";
    EXPECT_GT(CountColour(pictures[0], {255, 255, 255}), 300);
    EXPECT_GT(events[0].graphics[0].y, 900);

    EXPECT_LT(events[1].graphics[0].y, 150) << "{\\an8} puts the cue at the top";
    EXPECT_GT(CountColour(pictures[1], {0, 128, 255}), 300);
    EXPECT_GT(CountColour(pictures[1], {255, 255, 255}), 300) << "</font> returns to white";

    // The unknown colour keeps white; "\\n" written in the text does not break the line.
    EXPECT_GT(CountColour(pictures[2], {255, 255, 255}), 300);
    EXPECT_LT(pictures[2].height, pictures[6].height + 10);
    EXPECT_GT(pictures[8].width, pictures[4].width / 3) << "a cue of \"{sic}\" alone is drawn";

    EXPECT_EQ(ReadFile(dir.File(events[3].graphics[0].file)),
              ReadFile(dir.File(events[4].graphics[0].file)))
        << "a hidden tag draws exactly its content";
    // size 32 is twice the normal 16, so twice the style's 58.
    EXPECT_NEAR(static_cast<double>(pictures[5].height) / pictures[6].height, 2.0, 0.25);
    EXPECT_NEAR(static_cast<double>(pictures[5].width) / pictures[6].width, 2.0, 0.25);
    EXPECT_NE(ReadFile(dir.File(events[7].graphics[0].file)),
              ReadFile(dir.File(events[6].graphics[0].file)))
        << "the serif face changes the glyphs";
}

TEST(RenderRun, SrtWithoutCuesIsAnErrorNamingTheFile) {
    TempDir dir;
    WriteFile(dir.File("j.srt"), "Not a subtitle file at all.\r\nJust words.\r\n");
    WriteFile(dir.File("j.avs"), ScriptText(dir.File("j.srt"), 1920, 1080, "25", 100));
    const auto r =
        RunRenderer({"-v", "1080p", "-f", "25", "-o", dir.File("j.xml"), dir.File("j.avs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Warning: " + dir.File("j.srt") + ": line 1: text outside any cue"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(dir.File("j.srt") + ": no subtitle cue could be read"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("j.xml")));
}

TEST(RenderRun, Utf16FilesRenderLikeTheirUtf8Form) {
    TempDir dir;
    const std::string text =
        AssScript("Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,Same words either way\n");
    std::vector<std::string> results;
    for (const std::string& bytes : {text, Utf16(text, false), Utf16(text, true)}) {
        WriteFile(dir.File("u.ass"), bytes);
        WriteFile(dir.File("u.avs"), ScriptText(dir.File("u.ass"), 1280, 720, "50", 100));
        const auto r =
            RunRenderer({"-v", "720p", "-f", "50", "-o", dir.File("u.xml"), dir.File("u.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto events = ReadEvents(dir.File("u.xml"));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].inTC, "00:00:00:25");
        results.push_back(ReadFile(dir.File("u.xml")) +
                          ReadFile(dir.File(events[0].graphics[0].file)));
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

TEST(RenderRun, FilesWithoutEventsGiveAnEmptyValidDocument) {
    TempDir dir;
    for (const std::string name : {"e.ass", "e.srt", "zero.ass"}) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), name == "e.ass"   ? AssScript("")
                                  : name == "e.srt" ? std::string("\r\n")
                                                    : std::string());
        WriteFile(dir.File("e.avs"), ScriptText(dir.File(name), 1920, 1080, "25", 500));
        const auto r = RunRenderer({"-t", "e", "-l", "eng", "-v", "1080p", "-f", "25", "-o",
                                    dir.File("e.xml"), dir.File("e.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Progress: 500/500 - Events: 0\r"), std::string::npos);
        TBDNFile bdn;
        LoadBDNFile(dir.File("e.xml"), bdn);
        EXPECT_EQ(bdn.Info.NumberofEvents, 0);
        EXPECT_TRUE(bdn.Events.empty());
        EXPECT_EQ(bdn.Info.Title, "e");
        EXPECT_EQ(bdn.Info.LanguageCode, "eng");
        EXPECT_EQ(bdn.Info.ContentOutTC, "00:00:20:00");
        EXPECT_EQ(bdn.Info.FirstEventInTC, "00:00:00:00");
    }
}

TEST(RenderRun, ForcedFullFrameAndPgsOutput) {
    TempDir dir;
    WriteFile(dir.File("f.ass"),
              AssScript("Dialogue: 0,0:00:00.00,0:00:00.40,Default,,0,0,0,,Forced words\n"));
    WriteFile(dir.File("f.avs"), ScriptText(dir.File("f.ass"), 1920, 1080, "24", 24));
    const auto r =
        RunRenderer({"-t", "f", "-v", "1080p", "-f", "24", "-a0", "-p1", "-b1", "-F1", "-o",
                     dir.File("f.xml"), "-o", dir.File("f.sup"), dir.File("f.avs")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto events = ReadEvents(dir.File("f.xml"));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].forced, "True");
    ASSERT_EQ(events[0].graphics.size(), 1u);
    EXPECT_EQ(events[0].graphics[0].width, 1920);
    EXPECT_EQ(events[0].graphics[0].height, 1080);
    EXPECT_EQ(events[0].graphics[0].x, 0);
    const std::string sup = ReadFile(dir.File("f.sup"));
    ASSERT_GT(sup.size(), 13u);
    EXPECT_EQ(sup.substr(0, 2), "PG");
}

TEST(RenderRun, HelpAndVersionGoToStandardOutput) {
    const auto r = RunRenderer({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: pelldrin-render", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--max-events N"), std::string::npos);
    EXPECT_EQ(r.err, "");
    // The program itself, which knows its version.
    TempDir dir;
    const std::string command = "'" + std::string(PELLDRIN_RENDER_EXE) + "' --version >'" +
                                dir.File("out.txt") + "' 2>'" + dir.File("err.txt") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(ReadFile(dir.File("out.txt")),
              std::string("pelldrin-render ") + kProgramVersion + "\n");
    EXPECT_EQ(ReadFile(dir.File("err.txt")), "");
}

TEST(RenderRun, RefusalsAndFailuresHaveTheirStatusAndName) {
    TempDir dir;
    WriteFile(dir.File("b.ass"),
              AssScript("Dialogue: 0,0:00:00.00,0:00:00.40,Default,,0,0,0,,Words\n"));
    const auto script = [&](const std::string& text) { WriteFile(dir.File("b.avs"), text); };
    const auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"-t", "b", "-v", "1080p", "-f", "25"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(dir.File("b.avs"));
        return RunRenderer(args);
    };
    script(ScriptText(dir.File("b.ass"), 1920, 1080, "25", 50));

    auto r = run({"-q", "1", "-o", dir.File("b.xml")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option \"-q\""), std::string::npos);
    EXPECT_NE(r.err.find("usage: pelldrin-render"), std::string::npos);

    r = RunRenderer({"-v", "1080p", "-f", "23.976", "-o", dir.File("b.xml"), dir.File("b.avs")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("does not match the script's rate 25"), std::string::npos) << r.err;
    r = RunRenderer({"-v", "720p", "-f", "25", "-o", dir.File("b.xml"), dir.File("b.avs")});
    EXPECT_EQ(r.status, 2);

    script(ScriptText(dir.File("b.ass"), 1920, 1080, "25", 50) + "Subtitle(\"x\")\r\n");
    r = run({"-o", dir.File("b.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("b.avs") + ": line 3 \"Subtitle(\"x\")\""), std::string::npos)
        << r.err;

    r = RunRenderer({"-v", "1080p", "-f", "25", "-o", dir.File("b.xml"), dir.File("none.avs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("none.avs")), std::string::npos) << r.err;

    script(ScriptText(dir.File("missing.ass"), 1920, 1080, "25", 50));
    r = run({"-o", dir.File("b.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("missing.ass")), std::string::npos) << r.err;

    WriteFile(dir.File("junk.ass"), "just some words, no script at all\n");
    script(ScriptText(dir.File("junk.ass"), 1920, 1080, "25", 50));
    r = run({"-o", dir.File("b.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("junk.ass") + ": not a subtitle script"), std::string::npos)
        << r.err;

    // A good run, then a failing one to the same place: no stale document is left.
    script(ScriptText(dir.File("b.ass"), 1920, 1080, "25", 50));
    ASSERT_EQ(run({"-o", dir.File("b.xml")}).status, 0);
    ASSERT_TRUE(std::filesystem::exists(dir.File("b.xml")));
    script(ScriptText(dir.File("missing.ass"), 1920, 1080, "25", 50));
    EXPECT_EQ(run({"-o", dir.File("b.xml")}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.xml")));

    // Pictures that have no folder to go to: the failure names it, and no XML appears.
    script(ScriptText(dir.File("b.ass"), 1920, 1080, "25", 50));
    r = run({"-o", dir.File("nofolder/b.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File("nofolder") + "\" of the BDN XML output does not exist"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("nofolder/b.xml")));
}

// Karaoke, a sign that moves and turns, fades, a move that stops early (equal frames across
// the drawing threads' pieces), back-to-back equal lines, gaps and a full-frame effect.
std::string AnimatedEvents() {
    std::string events;
    const auto line = [&](int layer, const std::string& from, const std::string& to,
                          const std::string& text) {
        events += "Dialogue: " + std::to_string(layer) + ",0:00:" + from + ",0:00:" + to +
                  ",Default,,0,0,0,," + text + "\n";
    };
    line(0, "00.50", "03.50", "{\\fad(200,200)}{\\kf40}ka{\\kf50}ra{\\kf60}o{\\kf40}ke no yo");
    line(1, "00.80", "03.20", "{\\an8\\move(300,90,1500,150)\\t(\\frz6\\fscx120)}Station 4");
    line(0, "04.00", "07.00", "{\\move(200,900,600,900,0,300)}Stops early");
    line(0, "07.00", "08.00", "Twice the same");
    line(0, "08.00", "09.00", "Twice the same");
    line(2, "08.60", "08.90",
         "{\\an7\\pos(0,0)\\bord0\\shad0\\p1\\alpha&H40&\\t(\\alpha&HFF&)}m 0 0 l 1920 0 1920 "
         "1080 0 1080{\\p0}");
    line(0, "09.50", "10.50", "{\\t(\\1c&H00FF00&)}Last");
    return events;
}

TEST(RenderRun, DrawingThreadsGiveTheSameBytesAndLimits) {
    TempDir dir;
    WriteFile(dir.File("a.ass"), AssScript(AnimatedEvents()));
    WriteFile(dir.File("a.avs"), ScriptText(dir.File("a.ass"), 1920, 1080, "23.976", 264));
    // Pieces of one thread's frames end inside the stopped move and the equal lines.
    std::map<std::string, std::string> first;
    for (const std::string threads : {"1", "2", "5"}) {
        const std::string out = dir.File("t" + threads);
        std::filesystem::create_directories(pelldrin::test::FsPath(out));
        const auto r =
            RunRenderer({"-t", "a", "-v", "1080p", "-f", "23.976", "-a1", "-p1", "-b1", "--threads",
                         threads, "-o", out + "/a.xml", "-o", out + "/a.sup", dir.File("a.avs")});
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(pelldrin::test::FsPath(out))) {
            files[entry.path().filename().string()] =
                ReadFile(pelldrin::test::Utf8Path(entry.path()));
        }
        if (threads == "1") {
            first = std::move(files);
            EXPECT_GT(first.size(), 60u); // the XML, the SUP, a PNG per changed frame
            continue;
        }
        EXPECT_EQ(files.size(), first.size()) << threads << " threads";
        for (const auto& [name, bytes] : first) {
            EXPECT_TRUE(files[name] == bytes) << name << " differs with " << threads << " threads";
        }
    }
    // The picture limit stops the run at the same place with the same message.
    const auto limited = [&](const std::string& threads) {
        return RunRenderer({"-v", "1080p", "-f", "23.976", "--max-events", "40", "--threads",
                            threads, "-o", dir.File("l.xml"), dir.File("a.avs")});
    };
    const auto one = limited("1");
    const auto many = limited("5");
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(many.status, 1);
    EXPECT_EQ(many.err, one.err);
    EXPECT_NE(one.err.find("--max-events"), std::string::npos) << one.err;
}

#ifndef _WIN32
// A stream the disk will not take (here: a file size limit) fails the run with the stream's
// name, though the stream is written on a thread of its own; no stream or XML is left.
TEST(RenderRun, AStreamThatCannotBeWrittenFailsTheRun) {
    TempDir dir;
    WriteFile(dir.File("m.ass"),
              AssScript("Dialogue: 0,0:00:00.00,0:00:10.00,Default,,0,0,0,,"
                        "{\\move(100,500,1800,600)}Moving words across the frame\n"));
    WriteFile(dir.File("m.avs"), ScriptText(dir.File("m.ass"), 1920, 1080, "24", 240));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Pictures of about 10 KB fit; the stream (megabytes) does not.
        const rlimit limit{256 * 1024, 256 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        const auto r = RunRenderer({"-v", "1080p", "-f", "24", "-a1", "-p1", "-o",
                                    dir.File("m.xml"), "-o", dir.File("m.sup"), dir.File("m.avs")});
        WriteFile(dir.File("err.txt"), r.err);
        std::_Exit(r.status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const std::string err = ReadFile(dir.File("err.txt"));
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("m.sup"), std::string::npos) << err;
    for (const auto& entry :
         std::filesystem::directory_iterator(pelldrin::test::FsPath(dir.Path()))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.find(".sup") == std::string::npos && name != "m.xml") << name;
    }
}
#endif

} // namespace
} // namespace pelldrin::render::test
