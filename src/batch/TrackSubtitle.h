// A task of a Matroska release's track: the track read out into the task's folder as an
// ordinary subtitle file (its fonts in that folder's "fonts" folder), once for the preview
// and the run, and again only when the release changed. The reading itself comes from the
// window (ITrackReader), so the batch needs no Matroska library.
#pragma once

#include "batch/TaskQueue.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// A reading ended by its stop check; nothing of it stays.
class TrackReadStopped : public std::runtime_error {
  public:
    TrackReadStopped() : std::runtime_error("The reading of the track was stopped") {}
};

// What a reading tells while it works: bytes read of the release's size, and a check that
// ends it (by TrackReadStopped) when it returns true.
struct TrackReadCallbacks {
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    std::function<bool()> stop;
};

// Reads tracks of Matroska releases.
class ITrackReader {
  public:
    virtual ~ITrackReader() = default;
    // The name of the subtitle file the track is written as ("Show.S01E01.track3.ass").
    virtual std::string SubtitleName(const std::string& release, const TaskTrack& track) const = 0;
    // What a reading wrote.
    struct Reading {
        std::string subtitlePath;
        std::vector<std::string> warnings;
    };
    // Writes the track into folder as SubtitleName and the release's fonts into its "fonts"
    // folder, and nothing elsewhere. Throws TrackReadStopped when stopped, and another
    // exception naming the release and the cause when it cannot be read.
    virtual Reading Read(const std::string& release, const TaskTrack& track,
                         const std::string& folder, const TrackReadCallbacks& callbacks) = 0;
};

// The file in a track task's folder that names the release and the track read into it, and
// the release's size and time then: the folder is that track's, and holds it as the release
// is while they match.
inline constexpr const char* kTrackStampName = "pelldrin-track.txt";

// The name of the task folder under the output folder for a release's track: the subtitle
// file's name without its extension ("Show.S01E01.track3"), or "... (2)" when a folder of
// that name holds another release's track or other files.
std::string ChooseTrackFolderName(const std::string& release, const TaskTrack& track,
                                  const std::string& subtitleName, const std::string& currentFolder,
                                  const std::string& outputFolder);

// A track read out, ready to be converted as a dropped file is.
struct TrackSubtitle {
    std::string folderName;            // the task folder, under the output folder
    std::string subtitlePath;          // the track as a subtitle file in it
    std::vector<std::string> warnings; // what reading it noticed (kept for a reuse too)
    bool reused = false;               // read before, from the release as it still is
};

// Reads the track into its task folder unless that folder holds it from the release as it
// is; a preview and a run of the same task never read it at the same time (the second waits
// for the first and takes its result). Throws TrackReadStopped when stopped (waiting too),
// and another exception with the reason when the track cannot be read or written; a failed
// or stopped reading leaves no stamp, so the next one reads anew.
TrackSubtitle PrepareTrackSubtitle(ITrackReader& reader, const std::string& release,
                                   const TaskTrack& track, const std::string& currentFolder,
                                   const std::string& outputFolder,
                                   const TrackReadCallbacks& callbacks);

} // namespace pelldrin
