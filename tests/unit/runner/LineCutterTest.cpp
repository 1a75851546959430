#include "runner/LineCutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pelldrin;
using Log = std::vector<std::string>;

namespace {

// Records every report as text: "LF|text", "CR|text", "END|text", "begun|text", with a
// leading "~" when the report replaces a partial line.
class TRecordingSink final : public TLineSink {
  public:
    Log log;
    void LineComplete(const std::string& line, TLineEnd end, bool replacesPartial) override {
        const char* kind = end == TLineEnd::LineFeed         ? "LF|"
                           : end == TLineEnd::CarriageReturn ? "CR|"
                                                             : "END|";
        log.push_back((replacesPartial ? "~" : "") + std::string(kind) + line);
    }
    void LineBegun(const std::string& line, bool replacesPartial) override {
        log.push_back((replacesPartial ? "~" : "") + std::string("begun|") + line);
    }
};

Log Cut(const std::vector<std::string>& chunks, bool finish = true) {
    TLineCutter cutter;
    TRecordingSink sink;
    for (const std::string& chunk : chunks) {
        cutter.Feed(chunk, sink);
    }
    if (finish) {
        cutter.Finish(sink);
    }
    return sink.log;
}

} // namespace

TEST(LineCutter, LineEndsWithinOneChunk) {
    // CR LF is one end, LF alone another; only CR endings are marked CR.
    EXPECT_EQ(Cut({"frame: 1/10 - x: y\r\nplain\n"}), (Log{"CR|frame: 1/10 - x: y", "LF|plain"}));
    // A lone CR between two texts, as a progress counter rewriting itself.
    EXPECT_EQ(Cut({"a\rb\r"}), (Log{"CR|a", "CR|b"}));
    // Two line ends in a row give an empty line; LF CR is two ends.
    EXPECT_EQ(Cut({"a\n\nb\n"}), (Log{"LF|a", "LF|", "LF|b"}));
    EXPECT_EQ(Cut({"a\n\rb\n"}), (Log{"LF|a", "CR|", "LF|b"}));
    EXPECT_EQ(Cut({"\r\n\r\n"}), (Log{"CR|", "CR|"}));
    EXPECT_EQ(Cut({""}), Log{});
}

TEST(LineCutter, CarriageReturnAtTheEndOfAChunkThenLineFeedGivesAnExtraEmptyLine) {
    EXPECT_EQ(Cut({"abc\r", "\ndef\n"}), (Log{"CR|abc", "LF|", "LF|def"}));
    // The same bytes in one chunk give no empty line.
    EXPECT_EQ(Cut({"abc\r\ndef\n"}), (Log{"CR|abc", "LF|def"}));
}

TEST(LineCutter, ZeroBytesAreDroppedAndOtherBytesKeptUnchanged) {
    const std::string chunk("a\0b\0\0\n\xE4\xB8\xAD\x01\x7F\xFF\n", 13);
    EXPECT_EQ(Cut({chunk}), (Log{"LF|ab", "LF|\xE4\xB8\xAD\x01\x7F\xFF"}));
    // A zero between CR and LF keeps them apart.
    EXPECT_EQ(Cut({std::string("a\r\0\n", 4)}), (Log{"CR|a", "LF|"}));
}

TEST(LineCutter, PartialLineIsReportedAfterEachChunkAndReplacedByTheWholeLine) {
    EXPECT_EQ(Cut({"abc", "def", "ghi\nx\n"}),
              (Log{"begun|abc", "~begun|abcdef", "~LF|abcdefghi", "LF|x"}));
    // A chunk of zero bytes only reports the unchanged beginning again.
    EXPECT_EQ(Cut({"ab", std::string("\0", 1), "\r"}), (Log{"begun|ab", "~begun|ab", "~CR|ab"}));
    // A chunk that ends one line and begins the next.
    EXPECT_EQ(Cut({"one\ntw", "o\n"}), (Log{"LF|one", "begun|tw", "~LF|two"}));
}

TEST(LineCutter, FinishReportsTheTextAfterTheLastLineEndOnce) {
    EXPECT_EQ(Cut({"line\ntail"}), (Log{"LF|line", "begun|tail", "~END|tail"}));
    EXPECT_EQ(Cut({"line\n"}), (Log{"LF|line"}));
    // Without Finish the tail stays pending.
    TLineCutter cutter;
    TRecordingSink sink;
    cutter.Feed("a\nbc", sink);
    EXPECT_EQ(cutter.PendingLine(), "bc");
    cutter.Finish(sink);
    cutter.Finish(sink);
    EXPECT_EQ(sink.log, (Log{"LF|a", "begun|bc", "~END|bc"}));
    EXPECT_EQ(cutter.PendingLine(), "");
}

TEST(LineCutter, StopRequestDropsTheRestOfTheChunk) {
    std::atomic<bool> stop{false};
    TLineCutter cutter;
    // Raises the stop from inside the sink, as a request arriving mid-chunk.
    class TStoppingSink final : public TLineSink {
      public:
        explicit TStoppingSink(std::atomic<bool>& stop) : stop_(stop) {}
        Log log;
        void LineComplete(const std::string& line, TLineEnd, bool) override {
            log.push_back(line);
            stop_ = true;
        }
        void LineBegun(const std::string& line, bool) override { log.push_back("begun|" + line); }

      private:
        std::atomic<bool>& stop_;
    } sink(stop);
    cutter.Feed("first\nsecond\nthird", sink, &stop);
    cutter.Feed("more\n", sink, &stop);
    EXPECT_EQ(sink.log, (Log{"first"}));
    EXPECT_EQ(cutter.PendingLine(), "");
}
