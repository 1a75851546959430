// The bounds one run keeps to, and the threads that draw it.
#pragma once

#include <cstdint>

namespace pelldrin::render {

// Each set by a long option of the command line.
struct RenderLimits {
    std::int64_t memoryMb = 1024;                      // --max-memory MB
    double frameSeconds = 10;                          // --max-frame-time SECONDS
    std::int64_t events = 200'000;                     // --max-events N
    std::int64_t outputBytes = std::int64_t{20} << 30; // --max-output SIZE (20G)
    // --threads N: the threads that draw. One unless asked: drawing is a small share of the
    // work (the encoders already fill the other core), and each libass renderer costs memory.
    int threads = 1;
};

} // namespace pelldrin::render
