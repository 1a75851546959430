// Reads a .sup file back: its raw segments, and the pictures FFmpeg's decoder makes of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin::pgs::test {

struct Segment {
    std::uint32_t pts = 0, dts = 0;
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
};

// Splits a stream into its segments; fails the calling test on a malformed header.
std::vector<Segment> ReadSegments(const std::string& bytes);

struct DecodedRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool forced = false;
    std::vector<std::uint32_t> argb;   // w*h pixels, 0xAARRGGBB
    std::vector<std::uint8_t> indices; // w*h palette indices, for a palette decoded otherwise
};

struct DecodedSet {
    std::int64_t pts = 0; // 90 kHz
    std::vector<DecodedRect> rects;
};

// Decodes every display set of the file with libavcodec's PGS decoder. Throws
// std::runtime_error on any decoder error or error message.
std::vector<DecodedSet> DecodeSup(const std::string& path);

} // namespace pelldrin::pgs::test
