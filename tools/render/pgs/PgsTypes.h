// The plain types of the PGS writer: its input events, the stream's frame and rate, its
// error, and its report of what the decoder model let through.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin::pgs {

struct Rgba {
    std::uint8_t r, g, b, a; // straight (not premultiplied) alpha
};

// One object of a display set: palette indices, row-major, width*height bytes.
struct IndexedObject {
    int x = 0, y = 0, width = 0, height = 0; // position on the video frame
    std::vector<std::uint8_t> pixels;
};

// One subtitle event: shown from inFrame (inclusive) to outFrame (exclusive).
struct SupEvent {
    std::int64_t inFrame = 0, outFrame = 0;
    bool forced = false;
    std::vector<Rgba> palette;          // at most 256 entries, shared by the objects
    std::vector<IndexedObject> objects; // 1 or 2 (the -b 1 split gives two)
};

// The YCbCr of the palettes: the disc's video decides it. Bt2020 is the non-constant-luminance
// matrix of HDR10 video, whose pictures come already PQ-coded.
enum class ColorMatrix { Bt601, Bt709, Bt2020 };

struct StreamInfo {
    int width = 1920, height = 1080;         // the video frame
    int rateNum = 24000, rateDen = 1001;     // exact frame rate, e.g. 24000/1001 for 23.976
    ColorMatrix matrix = ColorMatrix::Bt709; // Bt601 for 480 and 576 formats, Bt2020 for HDR10
};

// An event that cannot be written within the decoder's limits, or a misuse of the writer.
class SupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What the decoder model let the writer show.
struct SupReport {
    std::int64_t pictures = 0;    // events given
    std::int64_t onTime = 0;      // shown at their own first frame
    std::int64_t firstFrame = -1; // where the first event starts
    // Events shown a few frames late, as the decoder needed the time: where each starts and
    // the frame it shows from.
    struct Late {
        std::int64_t due = 0, shown = 0;
        bool operator==(const Late&) const = default;
    };
    std::vector<Late> late;
    // In-frames of events left out (the previous picture stays).
    std::vector<std::int64_t> leftOutFrames;
};

// One line for the user: how many pictures were late or left out, and where.
std::string DescribeReport(const SupReport& report);

} // namespace pelldrin::pgs
