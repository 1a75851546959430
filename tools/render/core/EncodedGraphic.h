// A graphic of an event as the encoders hand it to the files: its place on the frame and the
// bytes of its PNG.
#pragma once

#include <cstdint>
#include <vector>

namespace pelldrin::render {

struct EncodedGraphic {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::uint8_t> png;
};

} // namespace pelldrin::render
