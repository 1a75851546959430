// Loads a subtitle file into libass and tells when each event shows and moves.
#pragma once

#include <ass/ass.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// Frees each libass object with its own call.
struct LibassFree {
    void operator()(ASS_Library* library) const { ass_library_done(library); }
    void operator()(ASS_Track* track) const { ass_free_track(track); }
    void operator()(ASS_Renderer* renderer) const { ass_renderer_done(renderer); }
};

// A subtitle file's text in UTF-8, read once for the whole run.
struct SubtitleFile {
    std::string path;
    std::string text;
};

// Reads an .ass, .ssa or .srt file in the encoding charset names or else the one
// recognised, which warn is told when it is a legacy one. Throws SubtitleError naming the
// file for another kind of file or bytes that do not read, FileError when it cannot be read.
SubtitleFile ReadSubtitleFile(const std::string& path, const std::string& charset,
                              const std::function<void(const std::string&)>& warn);

// An event's span in milliseconds, end exclusive, and whether its picture can
// change while it shows.
struct EventTiming {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    bool animated = false;
};

// True when the text's override tags or the effect move, fade, transform or colour
// the event over time (\move \fad \fade \t \k \K \kf \ko, Banner and Scroll effects).
bool IsAnimatedEvent(std::string_view text, std::string_view effect);

// The timing of every event of a track that lasts at all.
std::vector<EventTiming> TrackTimings(const ASS_Track* track);

// A track and the line of the file each of its events came from (0 where unknown).
struct LoadedTrack {
    std::unique_ptr<ASS_Track, LibassFree> track;
    std::vector<int> eventLines;
};

// Loads the text into a track of the library: .srt files (by the path's extension) are
// converted, with the style from "<name>.srt.style" beside them when present; .ass and .ssa
// go to libass. Throws SubtitleError or FileError naming the file. What is read but lost
// (zero bytes, lines libass skips, a file without events) is reported through warn.
LoadedTrack LoadTrack(ASS_Library* library, const SubtitleFile& text,
                      const std::function<void(const std::string&)>& warn);

} // namespace pelldrin::render
