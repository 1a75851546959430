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

// Owns the libass library handle. Warnings, libass's own at warning level or above
// and those about the subtitle file, go to onMessage (nothing else is printed).
class AssLibrary {
  public:
    explicit AssLibrary(std::function<void(const std::string&)> onMessage = {});
    ~AssLibrary();
    AssLibrary(const AssLibrary&) = delete;
    AssLibrary& operator=(const AssLibrary&) = delete;
    ASS_Library* Get() const { return library_; }
    // Passes one warning line to onMessage.
    void Warn(const std::string& message) const;

  private:
    static void OnMessage(int level, const char* format, va_list args, void* data);
    ASS_Library* library_ = nullptr;
    std::function<void(const std::string&)> onMessage_;
};

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

// A loaded track; .srt files (by extension) are converted, .ass and .ssa go to libass.
class SubtitleTrack {
  public:
    // Loads the file, in the encoding charset names or else the one recognised; for SRT
    // the style comes from "<name>.srt.style" beside it when present. Throws
    // SubtitleError or FileError naming the file. What is read but lost (zero bytes,
    // lines libass skips, a file without events) and a legacy encoding that was
    // recognised are reported through the library's warnings.
    SubtitleTrack(const AssLibrary& library, const std::string& path,
                  const std::string& charset = {});
    ~SubtitleTrack();
    SubtitleTrack(const SubtitleTrack&) = delete;
    SubtitleTrack& operator=(const SubtitleTrack&) = delete;

    ASS_Track* Get() const { return track_; }
    // The line of the file each event of the track came from (0 where unknown).
    const std::vector<int>& EventLines() const { return eventLines_; }

  private:
    ASS_Track* track_ = nullptr;
    std::vector<int> eventLines_;
};

} // namespace pelldrin::render
