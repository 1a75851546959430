// Matroska releases of any bytes: the head and every text track read through FFmpeg and
// written out with the fonts, and the track text rebuilt from blocks of any bytes. Nothing
// but MatroskaError is thrown, nothing is written outside the task folder, every font
// written is one the renderer loads, and the events counted are the events written.
#include "FuzzSupport.h"

#include "base/FontFiles.h"
#include "base/PathText.h"
#include "base/Utf8.h"
#include "matroska/MatroskaFile.h"
#include "matroska/TrackText.h"

#include <filesystem>

using namespace pelldrin;

namespace {

// Lines of the text that start with the prefix.
std::int64_t CountLines(const std::string& text, std::string_view prefix) {
    std::int64_t n = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto end = text.find('\n', pos);
        if (std::string_view(text).substr(pos).rfind(prefix, 0) == 0) {
            ++n;
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    return n;
}

void CheckSrt(const TrackText& t) {
    // Cues end in one blank line and hold none, so blank lines count them.
    std::int64_t cues = 0;
    for (std::size_t pos = t.text.find("\n\n"); pos != std::string::npos;
         pos = t.text.find("\n\n", pos + 2)) {
        ++cues;
    }
    FUZZ_CHECK(cues == t.events);
    FUZZ_CHECK(t.text.find("\n\n\n") == std::string::npos);
}

void ReadFile(std::string_view bytes) {
    const std::string folder = fuzz::ScratchFolder();
    const std::string path = folder + "/in.mkv";
    const std::string out = folder + "/task";
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    fuzz::WriteBytes(path, bytes);
    MatroskaLimits limits;
    limits.headBytes = 1 << 20;
    limits.trackBytes = 1 << 20;
    limits.trackBlocks = 10000;
    MatroskaHead head;
    try {
        head = ReadMatroskaHead(path, limits);
    } catch (const MatroskaError&) {
        return;
    }
    for (const MatroskaTrack& track : head.tracks) {
        FUZZ_CHECK(track.number >= 0);
        std::filesystem::remove_all(out, ec);
        ExtractedTrack done;
        try {
            done = ExtractTrack(path, track.number, out, {}, limits);
        } catch (const MatroskaError&) {
            FUZZ_CHECK(!std::filesystem::exists(out));
            continue;
        }
        FUZZ_CHECK(track.kind == TrackKind::Text);
        FUZZ_CHECK(FolderOf(done.subtitlePath) == out);
        const std::string text = fuzz::ReadBytes(done.subtitlePath);
        if (FileExtension(done.subtitlePath) == ".ass") {
            FUZZ_CHECK(CountLines(text, "Dialogue: ") >= done.events);
        }
        for (const std::string& font : done.fontPaths) {
            FUZZ_CHECK(FolderOf(font) == out + "/fonts");
            FUZZ_CHECK(IsFontFileName(font));
            FUZZ_CHECK(!FontDataExtension(fuzz::ReadBytes(font)).empty());
        }
        // What is in the folder is what the extraction says it wrote.
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
            FUZZ_CHECK(!entry.is_symlink());
            files += entry.is_regular_file() ? 1 : 0;
        }
        FUZZ_CHECK(files == done.fontPaths.size() + 1);
    }
}

// Blocks of any bytes, each "start|end|data" (an end of -1: none), one per line.
void BuildText(fuzz::InputReader& in, bool ssa) {
    std::vector<TextBlock> blocks;
    const std::string header(in.Until('\0'));
    while (!in.Empty() && blocks.size() < 1000) {
        TextBlock b;
        b.start = static_cast<std::int8_t>(in.Byte()) * 997;
        const auto end = static_cast<std::int8_t>(in.Byte());
        if (end != -1) {
            b.end = b.start + end * 13;
        }
        b.data = std::string(in.Until('\0'));
        blocks.push_back(std::move(b));
    }
    const std::size_t headerLines = static_cast<std::size_t>(CountLines(header, "Dialogue: "));
    const TrackText ass = BuildAssTrack(header, blocks, 5000, ssa);
    FUZZ_CHECK(CountLines(ass.text, "Dialogue: ") >= ass.events);
    FUZZ_CHECK(static_cast<std::size_t>(CountLines(ass.text, "Dialogue: ")) <=
               static_cast<std::size_t>(ass.events) + headerLines + blocks.size());
    FUZZ_CHECK(ass.events <= static_cast<std::int64_t>(blocks.size()));
    CheckSrt(BuildSrtTrack(blocks, 5000));
    for (const TextBlock& b : blocks) {
        const std::string name = SafeAttachmentName(b.data, ssa ? ".ttf" : "");
        FUZZ_CHECK(!name.empty() && name != "." && name != "..");
        FUZZ_CHECK(name.find_first_of("/\\:*?\"<>|") == std::string::npos);
        FUZZ_CHECK(IsValidUtf8(name));
        FUZZ_CHECK(name.size() <= 140);
        for (const char c : name) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choice = in.Byte();
    switch (choice % 3) {
    case 0:
        ReadFile(in.Rest());
        break;
    default:
        BuildText(in, choice % 3 == 2);
        break;
    }
    return 0;
}
