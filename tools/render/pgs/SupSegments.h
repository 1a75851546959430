// Segment output: one display set as the bytes of its segments.
#pragma once

#include "pgs/PgsPicture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin::pgs {

// Room for the composition, window, palette and end segments of a set.
inline constexpr std::size_t kSetOverheadBytes = 2048;

// Composition states.
inline constexpr std::uint8_t kNormal = 0x00, kAcquisitionPoint = 0x40, kEpochStart = 0x80;

struct CompositionOut {
    unsigned objectId = 0, windowId = 0;
    bool forced = false;
    int x = 0, y = 0;
};

struct ObjectOut {
    unsigned id = 0, version = 0;
    int width = 0, height = 0;
    const std::string* code = nullptr; // run-length code
};

struct DisplaySetOut {
    std::int64_t pts = 0, dts = 0;
    int planeWidth = 0, planeHeight = 0;
    unsigned compositionNumber = 0;
    std::uint8_t state = kNormal;
    bool paletteOnly = false;
    unsigned paletteId = 0, paletteVersion = 0;
    std::vector<CompositionOut> compositions;
    std::vector<Rect> windows;                    // left out of a palette-only set
    const std::vector<YCbCrA>* palette = nullptr; // no palette segment when null
    std::vector<ObjectOut> objects;
};

// Appends the set's segments. Objects are decoded one after another from the set's DTS, so
// each object segment carries its own decoding span; the window segment's PTS is when the
// windows begin to be drawn; the end segment is decoded last and carries the set's PTS.
void WriteDisplaySet(const DisplaySetOut& set, std::string& out);

// What the set's segments take from the decoder's input buffer.
std::size_t SetInputBytes(const DisplaySetOut& set);

// Bytes of segment payload the objects take, for the set's buffer budget.
std::size_t ObjectPayloadBytes(std::size_t codeSize);

} // namespace pelldrin::pgs
