#include "input/SubtitleTrack.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "input/SrtConvert.h"
#include "input/SubtitleText.h"

#include <cstring>

namespace pelldrin::render {

namespace {

using Warn = std::function<void(const std::string&)>;

std::string TagName(std::string_view text, std::size_t& pos) {
    std::string name;
    while (pos < text.size() &&
           ((text[pos] >= 'a' && text[pos] <= 'z') || (text[pos] >= 'A' && text[pos] <= 'Z'))) {
        name += text[pos++];
    }
    return name;
}

int FindStyle(const ASS_Track* track, const std::string& name) {
    for (int i = track->n_styles - 1; i >= 0; --i) {
        if (track->styles[i].Name != nullptr && name == track->styles[i].Name) {
            return i;
        }
    }
    return track->default_style;
}

using TrackPtr = std::unique_ptr<ASS_Track, LibassFree>;

TrackPtr ReadAss(ASS_Library* library, std::string text, const std::string& path) {
    TrackPtr track(ass_read_memory(library, text.data(), text.size(), nullptr));
    if (track == nullptr) {
        throw SubtitleError(path + ": not a subtitle script that libass can read");
    }
    return track;
}

// Zero bytes end the text for libass, which would drop every line after one: they are
// taken out, and each line that held one is named.
std::string DropZeroBytes(std::string text, const Warn& warn, const std::string& path) {
    if (text.find('\0') == std::string::npos) {
        return text;
    }
    std::string kept;
    kept.reserve(text.size());
    int line = 1;
    int lastNamed = 0;
    int namedLines = 0;
    int otherLines = 0;
    for (const char c : text) {
        if (c == '\n') {
            ++line;
        }
        if (c != '\0') {
            kept += c;
        } else if (line != lastNamed) {
            lastNamed = line;
            if (++namedLines <= 20) {
                warn(path + ": line " + std::to_string(line) +
                     ": a zero byte, which is not text, is left out");
            } else {
                ++otherLines;
            }
        }
    }
    if (otherLines > 0) {
        warn(path + ": zero bytes left out of " + std::to_string(otherLines) + " more lines");
    }
    return kept;
}

// The lines of the [Events] section that libass turns into events, with their numbers.
struct DialogueLine {
    int number;
    std::string_view text;
};

std::vector<DialogueLine> DialogueLines(std::string_view text) {
    std::vector<DialogueLine> lines;
    bool inEvents = false;
    int number = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        auto end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        ++number;
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n') {
            ++end;
        }
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (!line.empty() && line.front() == '[') {
            inEvents = line.size() >= 8 && SameTextN(line, "[Events]", 8);
        } else if (inEvents && line.substr(0, 9) == "Dialogue:") {
            lines.push_back({number, line});
        }
        if (end >= text.size()) {
            break;
        }
    }
    return lines;
}

bool EndsWithText(std::string_view line, std::string_view eventText) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    while (!eventText.empty() && (eventText.back() == ' ' || eventText.back() == '\t')) {
        eventText.remove_suffix(1);
    }
    return line.size() >= eventText.size() &&
           line.substr(line.size() - eventText.size()) == eventText;
}

// Pairs the track's events with the Dialogue lines they came from, in order, and warns
// about each line that gave no event.
std::vector<int> MatchEventLines(const ASS_Track* track, std::string_view text, const Warn& warn,
                                 const std::string& path) {
    const std::vector<DialogueLine> lines = DialogueLines(text);
    std::vector<int> eventLines(static_cast<std::size_t>(track->n_events), 0);
    std::vector<bool> used(lines.size(), false);
    std::size_t next = 0;
    for (int i = 0; i < track->n_events; ++i) {
        const char* eventText = track->events[i].Text != nullptr ? track->events[i].Text : "";
        std::size_t j = next;
        while (j < lines.size() && !EndsWithText(lines[j].text, eventText)) {
            ++j;
        }
        if (j < lines.size()) {
            used[j] = true;
            eventLines[static_cast<std::size_t>(i)] = lines[j].number;
            next = j + 1;
        }
    }
    const std::size_t lost = lines.size() > static_cast<std::size_t>(track->n_events)
                                 ? lines.size() - static_cast<std::size_t>(track->n_events)
                                 : 0;
    if (lost == 0) {
        return eventLines;
    }
    int named = 0;
    for (std::size_t j = 0; j < lines.size() && named < 20; ++j) {
        if (!used[j]) {
            ++named;
            warn(path + ": line " + std::to_string(lines[j].number) +
                 ": a Dialogue line that could not be read is skipped: \"" +
                 QuoteForMessage(lines[j].text, 120) + "\"");
        }
    }
    if (lost > 20) {
        warn(path + ": " + std::to_string(lost) +
             " Dialogue lines in all could not be read and are skipped");
    }
    return eventLines;
}

TrackPtr LoadSrt(ASS_Library* library, const std::string& text, const std::string& path,
                 const Warn& warn, std::vector<int>& eventLines) {
    const std::string stylePath = StripExtension(path) + ".srt.style";
    const SrtStyle style = FileExists(stylePath)
                               ? ParseSrtStyle(ReadSubtitleText(stylePath, {}, warn), stylePath)
                               : DefaultSrtStyle();
    SrtReadSettings settings;
    settings.styleFontSize = style.fontSize;
    settings.warn = [&](const std::string& message) { warn(path + ": " + message); };
    const std::vector<SrtEvent> events = ParseSrt(text, settings);
    if (events.empty()) {
        // Text that gives no cue is not an SRT file we understand; an empty BDN would
        // pass for a good result.
        throw SubtitleError(path + ": no subtitle cue could be read (an SRT file in UTF-8 "
                                   "or UTF-16 is expected)");
    }
    TrackPtr track = ReadAss(library, BuildSrtScriptHeader(style), stylePath);
    const int styleIndex = FindStyle(track.get(), style.name);
    int order = 0;
    for (const SrtEvent& e : events) {
        const int id = ass_alloc_event(track.get());
        if (id < 0) {
            throw SubtitleError(path + ": out of memory");
        }
        ASS_Event& event = track->events[id];
        event.Start = e.startMs;
        event.Duration = e.endMs - e.startMs;
        event.ReadOrder = order++;
        event.Style = styleIndex;
        event.Text = strdup(e.text.c_str());
        event.Name = strdup("");
        event.Effect = strdup("");
        eventLines.push_back(e.line);
        if (event.Text == nullptr || event.Name == nullptr || event.Effect == nullptr) {
            throw SubtitleError(path + ": out of memory");
        }
    }
    return track;
}

} // namespace

bool IsAnimatedEvent(std::string_view text, std::string_view effect) {
    for (std::string_view kind : {"banner;", "scroll up;", "scroll down;"}) {
        if (effect.size() >= kind.size() && SameTextN(effect, kind, kind.size())) {
            return true;
        }
    }
    bool inBlock = false;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '{') {
            inBlock = true;
        } else if (c == '}') {
            inBlock = false;
        } else if (c == '\\' && inBlock) {
            std::size_t p = pos + 1;
            const std::string name = TagName(text, p);
            if (name == "move" || name == "fad" || name == "fade" || name == "t" || name == "k" ||
                name == "K" || name == "kf" || name == "ko" || name == "kt") {
                return true;
            }
        }
    }
    return false;
}

SubtitleFile ReadSubtitleFile(const std::string& path, const std::string& charset,
                              const Warn& warn) {
    const std::string extension = FileExtension(path);
    if (!SameTextN(extension, ".ass", 4) && !SameTextN(extension, ".ssa", 4) &&
        !SameTextN(extension, ".srt", 4)) {
        // Another format (SAMI, WebVTT...) would be read as a script without events.
        throw SubtitleError(path +
                            ": only .ass, .ssa and .srt subtitle files can be converted, "
                            "and \"" +
                            QuoteForMessage(extension, 40) + "\" files are not one of them");
    }
    return SubtitleFile{path, ReadSubtitleText(path, charset, warn)};
}

LoadedTrack LoadTrack(ASS_Library* library, const SubtitleFile& subtitle, const Warn& warn) {
    const std::string& path = subtitle.path;
    const std::string text = DropZeroBytes(subtitle.text, warn, path);
    LoadedTrack loaded;
    if (Trim(text).empty()) {
        warn(path + ": the file is empty; the document has no events");
        loaded.track.reset(ass_new_track(library)); // an empty file has no events, nothing more
        if (loaded.track == nullptr) {
            throw SubtitleError(path + ": out of memory");
        }
        return loaded;
    }
    if (SameTextN(FileExtension(path), ".srt", 4)) {
        loaded.track = LoadSrt(library, text, path, warn, loaded.eventLines);
        return loaded;
    }
    loaded.track = ReadAss(library, text, path);
    loaded.eventLines = MatchEventLines(loaded.track.get(), text, warn, path);
    if (loaded.track->n_events == 0) {
        warn(path + ": no events could be read; the document has no events");
    }
    return loaded;
}

std::vector<EventTiming> TrackTimings(const ASS_Track* track) {
    std::vector<EventTiming> timings;
    timings.reserve(static_cast<std::size_t>(track->n_events));
    for (int i = 0; i < track->n_events; ++i) {
        const ASS_Event& e = track->events[i];
        if (e.Duration <= 0) {
            continue;
        }
        timings.push_back({e.Start, e.Start + e.Duration,
                           IsAnimatedEvent(e.Text ? e.Text : "", e.Effect ? e.Effect : "")});
    }
    return timings;
}

} // namespace pelldrin::render
