#include "app/Releases.h"

#include <algorithm>
#include <stdexcept>

namespace pelldrin {

namespace {

// "chi "简体中文" (S_TEXT/ASS)": a track as a message describes it.
std::string Described(const TaskTrack& track) {
    std::string text = track.language;
    if (!track.name.empty()) {
        text += " \"" + track.name + "\"";
    }
    return text + " (" + track.codec + ")";
}

} // namespace

TaskTrack TaskTrackOf(const MatroskaTrack& track) {
    return {track.number, track.language, track.name, track.codec};
}

std::vector<TaskTrack> MatchedTracks(const MatroskaHead& chosenHead,
                                     const std::vector<std::int64_t>& chosen,
                                     const MatroskaHead& other, bool& missing) {
    missing = false;
    std::vector<TaskTrack> matched;
    for (const std::int64_t number : chosen) {
        const MatroskaTrack* track = chosenHead.FindTrack(number);
        const auto match = track ? MatchTrack(*track, other) : std::nullopt;
        const MatroskaTrack* found = match ? other.FindTrack(*match) : nullptr;
        if (!found) {
            missing = true;
            continue;
        }
        // Two chosen tracks may meet in one (one by its name, the other by its number).
        if (std::none_of(matched.begin(), matched.end(),
                         [&](const TaskTrack& t) { return t.number == found->number; })) {
            matched.push_back(TaskTrackOf(*found));
        }
    }
    return matched;
}

std::string MatroskaTrackReader::SubtitleName(const std::string& release,
                                              const TaskTrack& track) const {
    MatroskaTrack described;
    described.number = track.number;
    described.codec = track.codec;
    return ExtractedSubtitleName(release, described);
}

ITrackReader::Reading MatroskaTrackReader::Read(const std::string& release, const TaskTrack& track,
                                                const std::string& folder,
                                                const TrackReadCallbacks& callbacks) {
    // Only the head, which is quick: a release muxed again may hold another track under
    // the number, which must not be converted in the named one's place.
    const MatroskaHead head = ReadMatroskaHead(release);
    const MatroskaTrack* now = head.FindTrack(track.number);
    if (now == nullptr) {
        throw std::runtime_error("\"" + release + "\" no longer has a track " +
                                 std::to_string(track.number) + " (it was " + Described(track) +
                                 "); drop the file again to choose its track");
    }
    if (TaskTrackOf(*now) != track) {
        throw std::runtime_error("\"" + release + "\", track " + std::to_string(track.number) +
                                 " is now " + Described(TaskTrackOf(*now)) + ", not " +
                                 Described(track) +
                                 " as when it was added; drop the file "
                                 "again to choose its track");
    }
    ExtractCallbacks extractCallbacks{callbacks.progress, callbacks.stop};
    try {
        ExtractedTrack read = ExtractTrack(release, track.number, folder, extractCallbacks);
        return {std::move(read.subtitlePath), std::move(read.warnings)};
    } catch (const MatroskaError& e) {
        if (e.Fault() == MatroskaFault::Stopped) {
            throw TrackReadStopped();
        }
        throw;
    }
}

} // namespace pelldrin
