#include "runner/ProgressLine.h"

#include "base/TextHelpers.h"

#include <cstdint>
#include <limits>

namespace pelldrin {

namespace {

bool ReadCount(std::string_view text, int& value) {
    std::int64_t wide = 0;
    if (!TryParseInt(Trim(text), wide) || wide < std::numeric_limits<int>::min() ||
        wide > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(wide);
    return true;
}

} // namespace

void ParseProgressLine(std::string_view line,
                       const std::function<void(int maximum, int position)>& sink) {
    const auto colonPieces = SplitByDelimiter(line, ':');
    if (colonPieces.size() <= 2) {
        return;
    }
    const auto dashPieces = SplitByDelimiter(colonPieces[1], '-');
    if (dashPieces.size() == 1) {
        return;
    }
    // A line that passes both checks but holds no "done/total" pair is not progress.
    const auto slashPieces = SplitByDelimiter(dashPieces[0], '/');
    if (slashPieces.size() < 2) {
        return;
    }
    int maximum = 0;
    int position = 0;
    if (!ReadCount(slashPieces[1], maximum) || !ReadCount(slashPieces[0], position)) {
        return;
    }
    if (sink) {
        sink(maximum, position);
    }
}

} // namespace pelldrin
