// The bytes this process holds allocated and their peak, counted through the address
// sanitizer's allocation hooks, so a test can see what a library call allocates.
#pragma once

#include <cstdint>

namespace pelldrin::test {

// False in a build without the address sanitizer, where nothing is counted.
bool MallocMeterAvailable();

// Bytes allocated and not yet freed since the meter started.
std::int64_t MallocCurrentBytes();

// Starts a new peak at the current bytes and returns them.
std::int64_t MallocResetPeak();

// The most bytes held at once since the last reset.
std::int64_t MallocPeakBytes();

} // namespace pelldrin::test
