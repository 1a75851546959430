#include "matroska/TrackText.h"

#include "base/FontFiles.h"
#include "base/PathText.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <numeric>

namespace pelldrin {

namespace {

// Seconds a block without an end is shown when nothing after it ends it and the file's
// length is not known.
constexpr std::int64_t kShownSeconds = 5;

std::string Plural(std::int64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

// Gives every block an end and keeps times within kMaxTrackTimeMs; blocks that start past
// it are removed. `perSecond` is the unit of the times (100 or 1000).
void SettleTimes(std::vector<TextBlock>& blocks, std::int64_t fileEnd, std::int64_t perSecond,
                 std::vector<std::string>& warnings) {
    const std::int64_t maxTime = kMaxTrackTimeMs / (1000 / perSecond);
    std::int64_t late = 0;
    std::int64_t negative = 0;
    std::vector<TextBlock> kept;
    kept.reserve(blocks.size());
    for (TextBlock& b : blocks) {
        if (b.start > maxTime) {
            ++late;
            continue;
        }
        if (b.start < 0 || (b.end && *b.end < 0)) {
            ++negative;
            b.start = std::max<std::int64_t>(b.start, 0);
            if (b.end) {
                b.end = std::max<std::int64_t>(*b.end, 0);
            }
        }
        kept.push_back(std::move(b));
    }
    blocks = std::move(kept);
    if (late > 0) {
        warnings.push_back(Plural(late, "block starts", "blocks start") +
                           " after 100 hours, taken for damage: left out");
    }
    if (negative > 0) {
        warnings.push_back(Plural(negative, "block has a time", "blocks have times") +
                           " before zero: moved to zero");
    }

    // Players end a block without a duration where the next one starts.
    std::vector<std::size_t> byStart(blocks.size());
    std::iota(byStart.begin(), byStart.end(), std::size_t{0});
    std::stable_sort(byStart.begin(), byStart.end(), [&](std::size_t a, std::size_t b) {
        return blocks[a].start < blocks[b].start;
    });
    std::int64_t open = 0;
    std::int64_t toFileEnd = 0;
    std::int64_t guessed = 0;
    std::size_t next = 0;
    for (std::size_t k = 0; k < byStart.size(); ++k) {
        TextBlock& b = blocks[byStart[k]];
        if (b.end) {
            b.end = std::min(*b.end, maxTime);
            continue;
        }
        ++open;
        next = std::max(next, k + 1);
        while (next < byStart.size() && blocks[byStart[next]].start <= b.start) {
            ++next;
        }
        if (next < byStart.size()) {
            b.end = blocks[byStart[next]].start;
        } else if (fileEnd > b.start) {
            b.end = std::min(fileEnd, maxTime);
            ++toFileEnd;
        } else {
            b.end = std::min(b.start + kShownSeconds * perSecond, maxTime);
            ++guessed;
        }
    }
    if (open > 0) {
        std::string w = Plural(open, "block has", "blocks have") +
                        " no duration: each ends where the next one starts";
        if (toFileEnd > 0) {
            w += "; the last at the end of the file";
        } else if (guessed > 0) {
            w += "; the last after " + std::to_string(kShownSeconds) + " seconds";
        }
        warnings.push_back(w);
    }
}

// H:MM:SS.cc
std::string AssTime(std::int64_t cs) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld.%02lld",
                  static_cast<long long>(cs / 360000), static_cast<long long>(cs / 6000 % 60),
                  static_cast<long long>(cs / 100 % 60), static_cast<long long>(cs % 100));
    return buffer;
}

// HH:MM:SS,mmm
std::string SrtTime(std::int64_t ms) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buffer;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Cuts line ends off the end of the text.
std::string_view WithoutLineEnds(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The header with the lines added at the end of its [Events] section; a header without one
// gets a new section with the standard format line.
std::string AddEvents(std::string_view header, const std::vector<std::string>& lines, bool ssa) {
    const std::string eol = header.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    // Where each line of the header starts.
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == '\n' ||
            (header[i] == '\r' && (i + 1 == header.size() || header[i + 1] != '\n'))) {
            starts.push_back(i + 1);
        }
    }
    if (starts.back() == header.size()) {
        starts.pop_back();
    }
    const auto lineAt = [&](std::size_t k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : header.size();
        return Trim(header.substr(starts[k], end - starts[k]));
    };

    std::size_t events = starts.size();
    for (std::size_t k = 0; k < starts.size(); ++k) {
        if (Lower(lineAt(k)) == "[events]") {
            events = k;
            break;
        }
    }
    std::string out;
    std::string body;
    for (const std::string& line : lines) {
        body += line;
        body += eol;
    }
    if (events == starts.size()) {
        out.assign(header);
        if (!out.empty() && out.back() != '\n') {
            out += out.back() == '\r' ? "\n" : eol;
        }
        if (!out.empty()) {
            out += eol;
        }
        out += "[Events]" + eol;
        out += ssa ? "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                     "Effect, Text"
                   : "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                     "Effect, Text";
        out += eol + body;
        return out;
    }
    // The section's last line that is not blank, before the next section.
    std::size_t last = events;
    for (std::size_t k = events + 1; k < starts.size(); ++k) {
        const std::string line = lineAt(k);
        if (!line.empty() && line.front() == '[') {
            break;
        }
        if (!line.empty()) {
            last = k;
        }
    }
    const std::size_t at = last + 1 < starts.size() ? starts[last + 1] : header.size();
    out.assign(header.substr(0, at));
    // After a lone CR too, which not every reader takes for a line end.
    if (out.back() != '\n') {
        out += out.back() == '\r' ? "\n" : eol;
    }
    out += body;
    out.append(header.substr(at));
    return out;
}

} // namespace

TrackText BuildAssTrack(std::string_view header, std::vector<TextBlock> blocks,
                        std::int64_t fileEnd, bool ssa) {
    TrackText out;
    SettleTimes(blocks, fileEnd, 100, out.warnings);

    struct Line {
        std::int64_t readOrder;
        std::string text;
    };
    std::vector<Line> lines;
    lines.reserve(blocks.size());
    std::int64_t malformed = 0;
    std::int64_t broken = 0;
    for (const TextBlock& b : blocks) {
        const std::string_view data = WithoutLineEnds(b.data);
        const auto first = data.find(',');
        const auto second = first == std::string_view::npos ? first : data.find(',', first + 1);
        std::int64_t readOrder = 0;
        if (second == std::string_view::npos || !TryParseInt(data.substr(0, first), readOrder) ||
            readOrder < 0) {
            ++malformed;
            continue;
        }
        std::string_view layer = data.substr(first + 1, second - first - 1);
        if (ssa && layer.empty()) {
            layer = "Marked=0"; // mkvmerge keeps no value of SSA's Marked field
        }
        std::string text = Cat({"Dialogue: ", layer, ",", AssTime(b.start), ",", AssTime(*b.end),
                                ",", data.substr(second + 1)});
        // A line break inside would end the line early and lose the rest of it.
        if (text.find_first_of("\r\n") != std::string::npos) {
            ++broken;
            std::string joined;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\r' || text[i] == '\n') {
                    joined += "\\N";
                    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                        ++i;
                    }
                } else {
                    joined += text[i];
                }
            }
            text = std::move(joined);
        }
        lines.push_back({readOrder, std::move(text)});
    }
    if (malformed > 0) {
        out.warnings.push_back(Plural(malformed, "block does", "blocks do") +
                               " not start with a ReadOrder number and a layer: left out");
    }
    if (broken > 0) {
        out.warnings.push_back(Plural(broken, "line holds", "lines hold") +
                               " line breaks: written as \\N");
    }

    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.readOrder < b.readOrder; });
    std::int64_t repeated = 0;
    std::int64_t missing = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::int64_t step = lines[i].readOrder - lines[i - 1].readOrder;
        if (step == 0) {
            ++repeated;
        } else if (step > 1) {
            missing += step - 1;
        }
    }
    if (!lines.empty()) {
        missing += lines.front().readOrder;
    }
    if (repeated > 0) {
        out.warnings.push_back(Plural(repeated, "block repeats", "blocks repeat") +
                               " the ReadOrder number of another: kept in the file's order");
    }
    if (missing > 0) {
        out.warnings.push_back("the ReadOrder numbers of " +
                               Plural(missing, "line are", "lines are") +
                               " not in the track: a part of the file may be damaged, or it was "
                               "cut from a longer one");
    }

    std::vector<std::string> texts;
    texts.reserve(lines.size());
    for (Line& line : lines) {
        texts.push_back(std::move(line.text));
    }
    out.events = static_cast<std::int64_t>(texts.size());
    out.text = AddEvents(header, texts, ssa);
    return out;
}

TrackText BuildSrtTrack(std::vector<TextBlock> blocks, std::int64_t fileEnd) {
    TrackText out;
    SettleTimes(blocks, fileEnd, 1000, out.warnings);

    std::int64_t outOfOrder = 0;
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        if (blocks[i].start < blocks[i - 1].start) {
            ++outOfOrder;
        }
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const TextBlock& a, const TextBlock& b) { return a.start < b.start; });
    if (outOfOrder > 0) {
        out.warnings.push_back(
            Plural(outOfOrder, "block comes", "blocks come") +
            " before an earlier one in time: the cues are written in time order");
    }

    std::int64_t empty = 0;
    std::int64_t blankLines = 0;
    for (const TextBlock& b : blocks) {
        // One line end throughout, and no blank line, which would end the cue early (a line
        // of blanks does too).
        std::string text;
        std::int64_t blanksHere = 0;
        for (std::size_t pos = 0; pos <= b.data.size();) {
            std::size_t end = b.data.find_first_of("\r\n", pos);
            if (end == std::string::npos) {
                end = b.data.size();
            }
            const std::string_view line = std::string_view(b.data).substr(pos, end - pos);
            if (Trim(line).empty()) {
                ++blanksHere;
            } else {
                blankLines += blanksHere;
                blanksHere = 0;
                text += text.empty() ? "" : "\n";
                text.append(line);
            }
            pos = end + (b.data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        if (text.empty()) {
            ++empty;
            continue;
        }
        ++out.events;
        out.text += Cat({std::to_string(out.events), "\n", SrtTime(b.start), " --> ",
                         SrtTime(*b.end), "\n", text, "\n\n"});
    }
    if (empty > 0) {
        out.warnings.push_back(Plural(empty, "block holds", "blocks hold") +
                               " no text: no cue for it");
    }
    if (blankLines > 0) {
        out.warnings.push_back(Plural(blankLines, "blank line", "blank lines") +
                               " inside cues would end them early: left out");
    }
    return out;
}

std::string SafeAttachmentName(std::string_view stored, std::string_view fontExtension) {
    const auto slash = stored.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        stored.remove_prefix(slash + 1);
    }
    std::string name;
    for (std::size_t i = 0; i < stored.size();) {
        const std::size_t length = Utf8SequenceLength(stored, i);
        if (length == 0) {
            name += '_';
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(stored[i]);
        if (length == 1 &&
            (c < 0x20 || c == 0x7F ||
             std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos)) {
            name += '_';
        } else {
            name.append(stored.substr(i, length));
        }
        i += length;
    }
    // Windows drops trailing dots and blanks, which would make "a." and "a" one file.
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        name.pop_back();
    }
    const std::size_t maxBytes = 120;
    if (name.size() > maxBytes) {
        const std::string extension = FileExtension(name);
        const std::size_t keep = extension.size() < 20 ? extension.size() : 0;
        name =
            std::string(Utf8Prefix(name, maxBytes - keep)) + (keep > 0 ? extension : std::string());
    }
    if (name.empty()) {
        name = "attachment";
    }
    // Names Windows keeps for devices, with any extension.
    static constexpr std::array<std::string_view, 4> kDevices{"con", "prn", "aux", "nul"};
    const std::string stem = Lower(name.substr(0, name.find('.')));
    const bool numbered = stem.size() == 4 &&
                          (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
                          stem[3] >= '0' && stem[3] <= '9';
    if (numbered || std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) {
        name.insert(0, "_");
    }
    if (!fontExtension.empty() && !IsFontFileName(name)) {
        name += fontExtension;
    }
    return name;
}

} // namespace pelldrin
