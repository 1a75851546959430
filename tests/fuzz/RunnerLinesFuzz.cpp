// A converter's output in chunks of any size through the line cutter, and every
// line ended by a carriage return through the progress parser, the way the runner's
// reading thread does it. The cutter loses and invents no byte.
#include "FuzzSupport.h"

#include "runner/LineCutter.h"
#include "runner/ProgressLine.h"

#include <atomic>

using namespace pelldrin;

namespace {

// Records what the cutter reports and checks the partial-line protocol as it goes.
class CheckingSink : public TLineSink {
  public:
    void LineComplete(const std::string& line, TLineEnd end, bool replacesPartial) override {
        CheckLine(line, replacesPartial);
        if (!lastPartial_.empty() || replacesPartial) {
            FUZZ_CHECK(line.compare(0, lastPartial_.size(), lastPartial_) == 0);
        }
        lastPartial_.clear();
        partialOpen_ = false;
        text += line;
        if (end == TLineEnd::CarriageReturn) {
            ParseProgressLine(line, [&](int maximum, int position) {
                FUZZ_CHECK(line.find(':') != std::string::npos);
                FUZZ_CHECK(line.find('/') != std::string::npos);
                lastProgress = {maximum, position};
            });
        }
        ++complete;
    }

    void LineBegun(const std::string& line, bool replacesPartial) override {
        CheckLine(line, replacesPartial);
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.compare(0, lastPartial_.size(), lastPartial_) == 0);
        lastPartial_ = line;
        partialOpen_ = true;
    }

    std::string text; // every complete line, joined
    int complete = 0;
    std::pair<int, int> lastProgress{0, 0};

  private:
    void CheckLine(const std::string& line, bool replacesPartial) {
        FUZZ_CHECK(line.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos);
        FUZZ_CHECK(replacesPartial == partialOpen_); // replaces exactly what was shown
    }

    std::string lastPartial_;
    bool partialOpen_ = false;
};

std::string WithoutBreaks(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (c != '\0' && c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    // Chunk lengths come from a small generator seeded by the input, so the same
    // output is also tried cut in other places.
    std::uint32_t seed = in.Byte() | (in.Byte() << 8);
    const std::uint8_t stopAt = in.Byte(); // the chunk before which a stop is asked, 255: never
    const std::string_view output = in.Rest();

    TLineCutter cutter;
    CheckingSink sink;
    std::atomic<bool> stop{false};
    std::size_t fed = 0;
    std::size_t chunkNumber = 0;
    while (fed < output.size()) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t length =
            std::min<std::size_t>(1 + (seed >> 16) % 64, output.size() - fed);
        if (chunkNumber++ == stopAt) {
            stop = true;
        }
        cutter.Feed(output.substr(fed, length), sink, &stop);
        fed += length;
        if (stop) {
            break;
        }
    }
    cutter.Finish(sink);
    FUZZ_CHECK(cutter.PendingLine().empty());

    const std::string expected = WithoutBreaks(output.substr(0, fed));
    if (stop) {
        FUZZ_CHECK(expected.compare(0, sink.text.size(), sink.text) == 0);
    } else {
        FUZZ_CHECK(sink.text == expected);
    }
    return 0;
}
