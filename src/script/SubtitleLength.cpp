#include "script/SubtitleLength.h"

#include "base/FileSystem.h"
#include "base/TextDecoding.h"
#include "base/TextHelpers.h"

#include <limits>

namespace pelldrin {

namespace {

// Hours beyond this are not a time any subtitle file means; the bound keeps
// the frame count inside 32 bits at every rate.
constexpr std::int64_t kMaxHours = 9999;
constexpr int kMarginFrames = 100;

std::string_view TrimView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

bool ReadNumber(std::string_view text, std::int64_t max, std::int64_t& value) {
    text = TrimView(text);
    if (text.empty()) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > max) {
            return false;
        }
    }
    return true;
}

// Piece `index` of text split at delimiter, as SplitByDelimiter would give it;
// false when the split has fewer pieces.
bool PieceAt(std::string_view text, char delimiter, std::size_t index, std::string_view& piece) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const auto pos = text.find(delimiter, start);
        if (pos == std::string_view::npos) {
            return false;
        }
        start = pos + 1;
    }
    const auto end = text.find(delimiter, start);
    piece =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    return true;
}

std::size_t CountChar(std::string_view text, char c) {
    std::size_t n = 0;
    for (const char x : text) {
        n += (x == c);
    }
    return n;
}

struct ScanState {
    std::int64_t latestEnd = 0; // whole seconds
    std::string fraction;
};

void ScanAssLine(std::string_view line, ScanState& state) {
    std::string_view head;
    if (line.find(':') == std::string_view::npos) {
        return;
    }
    PieceAt(line, ':', 0, head);
    if (TrimView(head) != "Dialogue") {
        return;
    }
    if (CountChar(line, ',') < 9) {
        return; // fewer than ten comma pieces
    }
    std::string_view endField;
    PieceAt(line, ',', 2, endField);
    endField = TrimView(endField);
    std::string_view timePart;
    PieceAt(endField, '.', 0, timePart);
    std::int64_t seconds = 0;
    if (!ReadTimeOfDay(timePart, seconds)) {
        return; // not a time: the line does not count
    }
    std::string_view fractionPart;
    if (PieceAt(endField, '.', 1, fractionPart)) {
        state.fraction.assign(fractionPart);
        if (!endField.empty() && fractionPart.size() == 2) {
            state.fraction += '0'; // hundredths become milliseconds
        }
    } else {
        state.fraction.clear(); // an end time without a fraction
    }
    if (seconds > state.latestEnd) {
        state.latestEnd = seconds;
    }
}

void ScanSrtLine(std::string_view line, ScanState& state) {
    std::string_view afterArrow;
    if (!PieceAt(line, '>', 1, afterArrow)) {
        return;
    }
    // The whole seconds end at the milliseconds' separator: a comma, or a full stop as
    // many players also read (a file written so would otherwise count as no time at all).
    const std::string_view end = TrimView(afterArrow);
    const std::string_view timePart = end.substr(0, end.find_first_of(",."));
    std::int64_t seconds = 0;
    if (ReadTimeOfDay(timePart, seconds) && seconds > state.latestEnd) {
        state.latestEnd = seconds;
    }
}

// Calls onLine for every line of UTF-8 text; breaks are CR, LF, CR LF, VT,
// FF, U+2028 and U+2029.
template <typename F> void ForEachLine(std::string_view text, F&& onLine) {
    std::size_t start = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        std::size_t breakLength = 0;
        if (c == '\r') {
            breakLength = (i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
        } else if (c == '\n' || c == '\v' || c == '\f') {
            breakLength = 1;
        } else if (c == '\xE2' && i + 2 < n && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            breakLength = 3;
        }
        if (breakLength > 0) {
            onLine(text.substr(start, i - start));
            i += breakLength;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) {
        onLine(text.substr(start));
    }
}

// The text of a file's bytes as the renderer reads it, up to a zero character. Bytes that
// are not UTF-8 are scanned as they are: the times are ASCII, which every legacy encoding
// writes alike, so the scan needs no guess at the encoding. A UTF-8 byte-order mark stays
// on the first line, where no rule needs it.
std::string ScanText(std::string_view bytes) {
    std::string text;
    try {
        text = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? std::string(bytes) : DecodeText(bytes).text;
    } catch (const TextDecodeError&) {
        text.assign(bytes); // broken UTF-16 or UTF-8: the renderer names the byte
    }
    if (const auto zero = text.find('\0'); zero != std::string::npos) {
        text.resize(zero);
    }
    return text;
}

// "H:MM:SS" with an optional fraction after one of the separators (".50", ",000") as seconds.
std::optional<double> ReadEventTime(std::string_view text, std::string_view separators) {
    text = TrimView(text);
    const auto cut = text.find_first_of(separators);
    std::int64_t seconds = 0;
    if (!ReadTimeOfDay(text.substr(0, cut), seconds)) {
        return std::nullopt;
    }
    double fraction = 0;
    if (cut != std::string_view::npos) {
        double scale = 0.1;
        for (const char c : TrimView(text.substr(cut + 1))) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            fraction += (c - '0') * scale;
            scale /= 10;
        }
    }
    return static_cast<double>(seconds) + fraction;
}

std::optional<double> EventStart(std::string_view line, int kind) {
    if (kind == skAssSsa) {
        std::string_view head;
        std::string_view startField;
        if (line.find(':') == std::string_view::npos || !PieceAt(line, ':', 0, head) ||
            TrimView(head) != "Dialogue" || CountChar(line, ',') < 9 ||
            !PieceAt(line, ',', 1, startField)) {
            return std::nullopt;
        }
        return ReadEventTime(startField, ".");
    }
    const auto arrow = line.find("-->");
    if (kind != skSrt || arrow == std::string_view::npos) {
        return std::nullopt;
    }
    // Players also read a full stop before the milliseconds.
    return ReadEventTime(line.substr(0, arrow), ",.");
}

} // namespace

std::optional<double> FirstEventSecondsInText(std::string_view bytes, int kind) {
    std::optional<double> first;
    ForEachLine(ScanText(bytes), [&](std::string_view line) {
        const auto start = EventStart(line, kind);
        if (start && (!first || *start < *first)) {
            first = start;
        }
    });
    return first;
}

std::optional<double> FirstEventSeconds(const std::string& path, int kind) {
    return FirstEventSecondsInText(ReadWholeFile(path), kind);
}

bool ReadTimeOfDay(std::string_view text, std::int64_t& seconds) {
    std::string_view parts[3];
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const auto pos = text.find(':', start);
        if (count == 3) {
            return false; // more than three numbers
        }
        parts[count++] = text.substr(start, pos == std::string_view::npos ? pos : pos - start);
        if (pos == std::string_view::npos) {
            break;
        }
        start = pos + 1;
    }
    std::int64_t hours = 0;
    std::int64_t minutes = 0;
    std::int64_t secs = 0;
    if (!ReadNumber(parts[0], kMaxHours, hours)) {
        return false;
    }
    if (count > 1 && !ReadNumber(parts[1], 59, minutes)) {
        return false;
    }
    if (count > 2 && !ReadNumber(parts[2], 59, secs)) {
        return false;
    }
    seconds = hours * 3600 + minutes * 60 + secs;
    return true;
}

std::int32_t CountSubtitleFramesInText(std::string_view bytes, int kind, double rate) {
    const std::string text = ScanText(bytes);

    ScanState state;
    if (kind == skAssSsa) {
        ForEachLine(text, [&](std::string_view line) { ScanAssLine(line, state); });
    } else if (kind == skSrt) {
        ForEachLine(text, [&](std::string_view line) { ScanSrtLine(line, state); });
    }

    std::int64_t milliseconds = 0;
    if (!TryParseInt(state.fraction, milliseconds)) {
        milliseconds = 0;
    }
    const double duration =
        static_cast<double>(state.latestEnd) + static_cast<double>(milliseconds) / 1000.0;
    double x = duration * rate;
    if (!(x > 0)) {
        x = 0; // also catches NaN from a nonsense rate
    }
    if (x > static_cast<double>(std::numeric_limits<std::int32_t>::max() - kMarginFrames)) {
        throw std::range_error("The subtitles last too long to count in frames");
    }
    return static_cast<std::int32_t>(RoundHalfUp(x) + kMarginFrames);
}

std::int32_t CountSubtitleFrames(const std::string& path, int kind, double rate) {
    const std::string bytes = ReadWholeFile(path);
    try {
        return CountSubtitleFramesInText(bytes, kind, rate);
    } catch (const std::range_error& e) {
        throw FileError("\"" + path + "\": " + e.what());
    }
}

} // namespace pelldrin
