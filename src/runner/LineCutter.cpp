#include "runner/LineCutter.h"

namespace pelldrin {

namespace {

bool IsSpecial(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

} // namespace

void TLineCutter::Feed(std::string_view chunk, TLineSink& sink, const std::atomic<bool>* stop) {
    std::size_t i = 0;
    const std::size_t n = chunk.size();
    while (i < n) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            break;
        }
        // Ordinary bytes are taken as one run; a stop can only fall between runs.
        std::size_t j = i;
        while (j < n && !IsSpecial(chunk[j])) {
            ++j;
        }
        if (j > i) {
            pending_.append(chunk.data() + i, j - i);
            i = j;
            continue;
        }
        const char c = chunk[i++];
        if (c == '\0') {
            continue;
        }
        TLineEnd end = TLineEnd::LineFeed;
        if (c == '\r') {
            end = TLineEnd::CarriageReturn;
            if (i < n && chunk[i] == '\n') {
                ++i;
            }
        }
        const bool replaces = lastIsPartial_;
        lastIsPartial_ = false;
        std::string line;
        line.swap(pending_);
        sink.LineComplete(line, end, replaces);
    }
    if (!pending_.empty()) {
        const bool replaces = lastIsPartial_;
        lastIsPartial_ = true;
        sink.LineBegun(pending_, replaces);
    }
}

void TLineCutter::Finish(TLineSink& sink) {
    if (pending_.empty()) {
        return;
    }
    const bool replaces = lastIsPartial_;
    lastIsPartial_ = false;
    std::string line;
    line.swap(pending_);
    sink.LineComplete(line, TLineEnd::EndOfOutput, replaces);
}

} // namespace pelldrin
