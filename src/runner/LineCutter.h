// Cuts a console program's output, chunk by chunk as it is read, into lines.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace pelldrin {

// What ended a complete line.
enum class TLineEnd {
    LineFeed,       // LF alone
    CarriageReturn, // CR, or CR LF within one chunk
    EndOfOutput     // the program ended without a final line end
};

// Receives the lines a TLineCutter finds, in order.
class TLineSink {
  public:
    virtual ~TLineSink() = default;
    // A complete line. replacesPartial: the last reported line was its beginning,
    // so a list that shows partial lines should replace that entry.
    virtual void LineComplete(const std::string& line, TLineEnd end, bool replacesPartial) = 0;
    // The beginning of a line whose end has not arrived yet, reported after every chunk.
    virtual void LineBegun(const std::string& line, bool replacesPartial) = 0;
};

// Keeps the line begun in an earlier chunk. Byte-exact: zero bytes are dropped,
// nothing else is converted; CR LF counts as one line end only when both bytes
// arrive in the same chunk.
class TLineCutter {
  public:
    // Cuts one chunk. When stop turns true the rest of the chunk is dropped.
    void Feed(std::string_view chunk, TLineSink& sink, const std::atomic<bool>* stop = nullptr);
    // Reports the pending line, if any, as complete: the output has ended.
    void Finish(TLineSink& sink);
    // The line begun but not yet ended.
    const std::string& PendingLine() const { return pending_; }

  private:
    std::string pending_;
    bool lastIsPartial_ = false;
};

} // namespace pelldrin
