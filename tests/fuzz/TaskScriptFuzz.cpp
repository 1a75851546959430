// One task built from any record, file name and subtitle text: what the builder
// writes is what the renderer reads back, and its command line splits into the
// converter's arguments with the output paths and the script intact.
#include "FuzzSupport.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "input/RenderScript.h"
#include "runner/CommandLineSplit.h"
#include "script/SubtitleLength.h"
#include "script/TaskScript.h"

#include <filesystem>

using namespace pelldrin;

namespace {

constexpr const char* kDefaultTemplate = "%0:s -t %1:s -l zho -v %2:s -f %3:s -a1 -p1 -b1 -m3";
constexpr const char* kQuotingTemplate = "\"%0:s\" -t \"%1:s\" -v %2:s -f %3:s";
constexpr const char* kExtensions[] = {".ass", ".ssa", ".srt", ".SRT", ".txt", ""};
constexpr const char* kFormatFields[] = {"0", "1", "2", "3", "4", "5", "-1", " 2"};
constexpr const char* kRateFields[] = {"0", "1", "2", "3", "4", " 1", "01", "x"};
constexpr const char* kStyleText = "Style: Default,Arial,20\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t c1 = in.Byte();
    const std::uint8_t c2 = in.Byte();
    const std::string formatField = kFormatFields[c1 & 7];
    const std::string rateField = kRateFields[(c1 >> 3) & 7];
    const bool makeSup = (c1 >> 6) & 1;
    const bool hdr10 = (c1 >> 7) & 1;
    // Templates: the fuzzed one, the shipped one, or one that quotes the values itself.
    const int templateKind = c2 >> 4 < 8 ? 0 : c2 >> 4 < 12 ? 1 : 2;
    const std::string extension = kExtensions[(c2 & 15) % std::size(kExtensions)];
    const std::string name(in.Until('\x01'));
    // A style name comes from a list of file names, so it holds no zero byte.
    const std::string_view styleField = in.Until('\x01');
    const std::string styleFile(styleField.substr(0, styleField.find('\0')));
    const std::string fuzzedTemplate(in.Until('\x01'));
    const std::string_view subtitle = in.Rest();
    // A quote the template leaves open joins the arguments after it; that is the
    // template's own doing, so only templates without quotes are checked here.
    const std::string templ = templateKind == 1   ? kDefaultTemplate
                              : templateKind == 2 ? kQuotingTemplate
                                                  : fuzzedTemplate;
    const bool checkArguments = templateKind != 0 || templ.find('"') == std::string::npos;

    const std::string scratch = fuzz::ScratchFolder();
    const std::string current = scratch + "/current folder";
    const std::string sources = scratch + "/sources";
    const std::string output = scratch + "/out/";
    std::error_code ignored;
    std::filesystem::remove_all(sources, ignored);
    std::filesystem::remove_all(output, ignored);
    std::filesystem::create_directories(current + "/srtstyle");
    std::filesystem::create_directories(sources);
    fuzz::WriteBytes(current + "/srtstyle/a.style", kStyleText);

    const std::string sourcePath = sources + "/" + name + extension;
    if (name.find('/') == std::string::npos && name.find('\0') == std::string::npos &&
        name + extension != "." && name + extension != ".." && !(name + extension).empty() &&
        name.size() + extension.size() <= 255) {
        fuzz::WriteBytes(sourcePath, subtitle);
    }
    const std::string taskLine = formatField + "|" + rateField + "|" + (makeSup ? "1" : "0") +
                                 "|1|" + templ + "|tag|" + styleFile + "|1" +
                                 (hdr10 ? "|hdr10|203" : "");

    TaskScript task;
    try {
        task = BuildTaskScript(sourcePath, taskLine, current, "/conv", "/plugin.so", output);
    } catch (const TaskScriptError&) {
        return 0;
    } catch (const FileError&) {
        return 0;
    }
    // HDR10 pictures are a UHD disc's 1920x1080 graphics: a 1080p task's alone.
    FUZZ_CHECK(!hdr10 || formatField == "0");

    // The script reads back as what was asked for.
    const std::string script = fuzz::ReadBytes(task.scriptPath);
    FUZZ_CHECK(!script.empty());
    const std::string ext = FileExtension(sourcePath);
    const bool isAss = SameTextN(ext, ".ass", 4) || SameTextN(ext, ".ssa", 4);
    const std::int32_t frames = CountSubtitleFramesInText(subtitle, isAss ? skAssSsa : skSrt,
                                                          FrameRateFor(rateField)->decimal);
    render::RenderScript read;
    try {
        read = render::ParseRenderScript(script, task.scriptPath);
    } catch (const render::ScriptError& e) {
        // Every count the scan can give is one the renderer reads.
        std::fprintf(stderr, "%s\n", e.what());
        FUZZ_CHECK(!"the renderer cannot read the script the builder wrote");
    }
    FUZZ_CHECK(read.subtitlePath == sourcePath);
    FUZZ_CHECK(read.frames == frames);
    FUZZ_CHECK(task.taskFolder == FolderOf(task.scriptPath));
    // Directly under the output folder, never the output folder itself or above it.
    FUZZ_CHECK(JoinPath(FolderOf(task.taskFolder), "") == output);
    FUZZ_CHECK(FileNamePart(task.taskFolder) != "." && FileNamePart(task.taskFolder) != "..");
    FUZZ_CHECK(fuzz::FolderEntries(task.taskFolder).size() == 1); // the script, no temporary

    // The style beside an SRT file is the chosen one from the style folder, or none.
    const std::string stylePath = StripExtension(sourcePath) + ".srt.style";
    if (SameTextN(ext, ".srt", 4)) {
        // A name the file system cannot hold gets no style file; the subtitle still renders.
        const bool chosen = styleFile == "a.style" && FileNamePart(stylePath).size() <= 255;
        FUZZ_CHECK(FileExists(stylePath) == chosen);
        if (chosen) {
            // Pelldrin's mark on its first line, then the chosen style as it stands.
            const std::string copy = fuzz::ReadBytes(stylePath);
            FUZZ_CHECK(copy.rfind(kStyleCopyMarker, 0) == 0);
            FUZZ_CHECK(copy.substr(copy.find('\n') + 1) == kStyleText);
        }
    }

    if (!checkArguments) {
        return 0;
    }
    const auto args = SplitCommandLine(task.commandLine);
    const std::string xmlPath =
        JoinPath(task.taskFolder, StripExtension(FileNamePart(task.scriptPath)) + ".xml");
    const std::size_t tail = makeSup ? 5 : 3;
    FUZZ_CHECK(args.size() >= tail);
    const std::size_t t = args.size() - tail;
    FUZZ_CHECK(args[t] == "-o" && args[t + 1] == xmlPath);
    if (makeSup) {
        FUZZ_CHECK(args[t + 2] == "-o" && args[t + 3] == StripExtension(xmlPath) + ".sup");
    }
    FUZZ_CHECK(args.back() == task.scriptPath);
    const std::size_t colourArgs = hdr10 ? 4 : 0;
    if (hdr10) {
        FUZZ_CHECK(t >= 4 && args[t - 4] == "--colour" && args[t - 3] == "hdr10" &&
                   args[t - 2] == "--white" && args[t - 1] == "203");
    }
    if (templateKind != 0) {
        const std::string stem = StripExtension(FileNamePart(sourcePath));
        const std::string track = makeSup && HasByteAbove128(stem) ? "Unknow" : stem;
        FUZZ_CHECK(args.size() == (templateKind == 1 ? 13 : 7) + colourArgs + tail);
        FUZZ_CHECK(args[0] == current + "/conv");
        FUZZ_CHECK(args[1] == "-t" && args[2] == track);
    }
    return 0;
}
