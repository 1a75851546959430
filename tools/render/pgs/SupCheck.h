// The stream checker: reads a .sup and judges it against the decoder model that players follow.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::pgs {

struct SupViolation {
    std::int64_t set = 0; // display set number, from 1; 0 before the first
    std::int64_t pts = 0; // of the display set, 90 kHz
    std::string rule;
};

struct SupCheckSummary {
    std::int64_t sets = 0, epochs = 0, acquisitionPoints = 0, paletteOnly = 0;
    std::int64_t violationCount = 0;
    std::vector<SupViolation> violations; // the first ones, all when there are few
    // The most bytes of segments whose DTS fall within one second, and the DTS that ends it.
    std::int64_t peakBytesPerSecond = 0, peakDts = 0;
};

struct SupCheckOptions {
    // Also decode each object's code to see that it fills its size; a writer that checks its
    // own stream may leave that out.
    bool checkCode = true;
    // The video's frame rate: a palette-only set comes at least a frame after the set before.
    // Without it, the shortest frame of any rate the renderer writes.
    std::int64_t rateNum = 60000, rateDen = 1001;
};

// Takes a stream in pieces of any size, so that a writer can check as it writes.
class SupChecker {
  public:
    explicit SupChecker(const SupCheckOptions& options = {});
    ~SupChecker();
    SupChecker(const SupChecker&) = delete;
    SupChecker& operator=(const SupChecker&) = delete;

    // Reads more of the stream.
    void Feed(std::string_view bytes);
    // Judges what is left (an unfinished set or segment is a violation) and sums up.
    SupCheckSummary Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Checks a whole stream.
SupCheckSummary CheckSupStream(std::string_view bytes, const SupCheckOptions& options = {});

// "display set 12 at 0:00:01.234: <rule>"
std::string FormatViolation(const SupViolation& violation);
// "1729 display sets, 3 epochs, 120 acquisition points, 1500 palette-only sets, 0 violations"
std::string SummaryLine(const SupCheckSummary& summary);
// "input peak 12.3 Mbit/s within one second, at 0:01:02.345 (DTS)"
std::string InputPeakLine(const SupCheckSummary& summary);

} // namespace pelldrin::pgs
