// Run-length coding of an object's palette indices as the stream defines it.
#pragma once

#include "pgs/PgsPicture.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelldrin::pgs {

// Where an object's pixels come from: a block of input indices inside a larger, fully
// transparent area, so that small images can be padded without copying them.
struct RleSource {
    const std::uint8_t* pixels = nullptr; // width*height input indices, row-major
    int width = 0, height = 0;
    int padLeft = 0, padTop = 0, padRight = 0, padBottom = 0;
    const std::uint16_t* remap = nullptr; // written index per input index, >255 if undefined
};

// The most bytes EncodeRle can write for an area of this size.
std::size_t RleWorstCase(int width, int height);

// Codes the padded area row by row into out, which must hold RleWorstCase bytes. Returns
// the end of the code, or nullptr when a pixel uses an index that the remap leaves undefined.
std::uint8_t* EncodeRle(const RleSource& source, std::uint8_t* out);

// The code of an object whose pixels are already written indices.
std::string EncodeObject(const PictureObject& object);

} // namespace pelldrin::pgs
