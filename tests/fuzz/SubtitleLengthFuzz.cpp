// The subtitle length scan over any bytes: it ends, gives a count of at least the
// margin, and agrees with itself when the same text comes as UTF-16.
#include "FuzzSupport.h"

#include "script/SubtitleLength.h"
#include "base/TextHelpers.h"

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace pelldrin;

namespace {

// The rates a task can ask for, and a few no task asks for.
constexpr double kRates[] = {23.976, 29.97, 25.0, 24.0,
                             0.0,    -1.0,  1e12, std::numeric_limits<double>::quiet_NaN()};

// The UTF-16 LE form, byte-order mark first, of a text that is plain ASCII.
std::string AsciiToUtf16Le(std::string_view text) {
    std::string out = "\xFF\xFE";
    for (const char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choice = in.Byte();
    const int kind = choice & 1;
    const double rate = kRates[(choice >> 1) % std::size(kRates)];
    const std::string_view text = in.Rest();

    std::int32_t frames = 0;
    bool counted = false;
    try {
        frames = CountSubtitleFramesInText(text, kind, rate);
        counted = true;
    } catch (const std::range_error&) {
        FUZZ_CHECK(rate > 0); // only a long span at a real rate is too long to count
    }
    if (counted) {
        FUZZ_CHECK(frames >= 100);
        if (!(rate > 0)) {
            FUZZ_CHECK(frames == 100);
        }
    }

    // The same ASCII text as UTF-16 must measure the same.
    const std::string_view untilZero = text.substr(0, text.find('\0'));
    if (counted && !HasByteAbove128(untilZero) &&
        untilZero.find('\x80') == std::string_view::npos && untilZero.substr(0, 2) != "\xFF\xFE" &&
        untilZero.substr(0, 2) != "\xFE\xFF") {
        FUZZ_CHECK(CountSubtitleFramesInText(AsciiToUtf16Le(untilZero), kind, rate) == frames);
    }

    std::int64_t seconds = -1;
    if (ReadTimeOfDay(text.substr(0, 64), seconds)) {
        FUZZ_CHECK(seconds >= 0 && seconds <= 9999LL * 3600 + 59 * 60 + 59);
    }
    return 0;
}
