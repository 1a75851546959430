// Matroska releases in the window: a track of a release's head as a task's track, the
// tracks that one choice gives each release of a drop, and the reader that the worker and
// the preview read a task's track with.
#pragma once

#include "batch/TrackSubtitle.h"
#include "matroska/MatroskaFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin {

// What a task keeps of a release's track.
TaskTrack TaskTrackOf(const MatroskaTrack& track);

// The text tracks of `other` that serve the tracks numbered `chosen` of `chosenHead` (a
// season's episodes muxed alike): each chosen track's match by language, codec and name,
// else by number, once each, in the order chosen. `missing` tells whether a chosen track
// found none.
std::vector<TaskTrack> MatchedTracks(const MatroskaHead& chosenHead,
                                     const std::vector<std::int64_t>& chosen,
                                     const MatroskaHead& other, bool& missing);

// Reads a task's track out of its release with the Matroska library.
class MatroskaTrackReader : public ITrackReader {
  public:
    std::string SubtitleName(const std::string& release, const TaskTrack& track) const override;
    // Fails, before writing anything, when the release's track of that number is no longer
    // the one the task names (the release was muxed again since it was dropped).
    Reading Read(const std::string& release, const TaskTrack& track, const std::string& folder,
                 const TrackReadCallbacks& callbacks) override;
};

} // namespace pelldrin
