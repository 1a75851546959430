#include "render/SubtitleTrack.h"

#include "render/SrtConvert.h"
#include "base/Utf8.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pelldrin::render {

namespace {

constexpr int kWarnLevel = 2;

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

ASS_Track* ReadAss(ASS_Library* library, std::string text, const std::string& path) {
    ASS_Track* track = ass_read_memory(library, text.data(), text.size(), nullptr);
    if (track == nullptr) {
        throw SubtitleError(path + ": not a subtitle script that libass can read");
    }
    return track;
}

ASS_Track* LoadSrt(const AssLibrary& library, const std::string& text, const std::string& path) {
    const std::string stylePath = StripExtension(path) + ".srt.style";
    const SrtStyle style =
        FileExists(stylePath)
            ? ParseSrtStyle(DecodeSubtitleText(ReadWholeFile(stylePath)), stylePath)
            : DefaultSrtStyle();
    SrtReadSettings settings;
    settings.styleFontSize = style.fontSize;
    settings.warn = [&](const std::string& message) { library.Warn(path + ": " + message); };
    const std::vector<SrtEvent> events = ParseSrt(text, settings);
    if (events.empty()) {
        // Text that gives no cue is not an SRT file we understand; an empty BDN would
        // pass for a good result.
        throw SubtitleError(path + ": no subtitle cue could be read (an SRT file in UTF-8 "
                                   "or UTF-16 is expected)");
    }
    ASS_Track* track = ReadAss(library.Get(), BuildSrtScriptHeader(style), stylePath);
    const int styleIndex = FindStyle(track, style.name);
    int order = 0;
    for (const SrtEvent& e : events) {
        const int id = ass_alloc_event(track);
        if (id < 0) {
            ass_free_track(track);
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
        if (event.Text == nullptr || event.Name == nullptr || event.Effect == nullptr) {
            ass_free_track(track);
            throw SubtitleError(path + ": out of memory");
        }
    }
    return track;
}

} // namespace

AssLibrary::AssLibrary(std::function<void(const std::string&)> onMessage)
    : onMessage_(std::move(onMessage)) {
    library_ = ass_library_init();
    if (library_ == nullptr) {
        throw SubtitleError("libass: cannot initialise the library");
    }
    ass_set_message_cb(library_, &AssLibrary::OnMessage, this);
    ass_set_extract_fonts(library_, 1);
}

AssLibrary::~AssLibrary() {
    ass_library_done(library_);
}

void AssLibrary::OnMessage(int level, const char* format, va_list args, void* data) {
    auto* self = static_cast<AssLibrary*>(data);
    if (level > kWarnLevel) {
        return;
    }
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    self->Warn(std::string("libass: ") + buffer);
}

void AssLibrary::Warn(const std::string& message) const {
    if (onMessage_) {
        onMessage_(message);
    }
}

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

SubtitleTrack::SubtitleTrack(const AssLibrary& library, const std::string& path) {
    const std::string text = DecodeSubtitleText(ReadWholeFile(path));
    if (Trim(text).empty()) {
        track_ = ass_new_track(library.Get()); // an empty file has no events, nothing more
        if (track_ == nullptr) {
            throw SubtitleError(path + ": out of memory");
        }
        return;
    }
    if (SameTextN(FileExtension(path), ".srt", 4)) {
        track_ = LoadSrt(library, text, path);
    } else {
        track_ = ReadAss(library.Get(), text, path);
    }
}

SubtitleTrack::~SubtitleTrack() {
    ass_free_track(track_);
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
