#include "batch/TrackSubtitle.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "script/TaskScript.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>

namespace pelldrin {

namespace {

constexpr const char* kStampFirstLine =
    "; written by Pelldrin: the Matroska track read into this folder, and its release then";

// The release as it is on disk; a changed size or time means a changed release.
struct ReleaseState {
    std::int64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const ReleaseState&) const = default;
};

std::optional<ReleaseState> StateOf(const std::string& path) {
    std::error_code error;
    const auto fsPath = ToFsPath(path);
    const auto size = std::filesystem::file_size(fsPath, error);
    if (error) {
        return std::nullopt;
    }
    const auto time = std::filesystem::last_write_time(fsPath, error);
    if (error) {
        return std::nullopt;
    }
    return ReleaseState{static_cast<std::int64_t>(size),
                        static_cast<std::int64_t>(time.time_since_epoch().count())};
}

struct Stamp {
    std::string release;
    std::int64_t track = -1;
    ReleaseState state;
    std::string subtitle; // the subtitle file's name in the folder
    std::vector<std::string> warnings;
};

bool OneLine(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

std::string StampText(const Stamp& stamp) {
    std::string text = std::string(kStampFirstLine) + "\n";
    text += "Release=" + stamp.release + "\n";
    text += "Track=" + std::to_string(stamp.track) + "\n";
    text += "Size=" + std::to_string(stamp.state.size) + "\n";
    text += "Modified=" + std::to_string(stamp.state.modified) + "\n";
    text += "Subtitle=" + stamp.subtitle + "\n";
    for (std::string warning : stamp.warnings) {
        for (char& c : warning) {
            if (c == '\r' || c == '\n') {
                c = ' ';
            }
        }
        text += "Warning=" + warning + "\n";
    }
    return text;
}

std::optional<Stamp> ReadStamp(const std::string& folder) {
    std::string text;
    try {
        text = ReadWholeFile(JoinPath(folder, kTrackStampName));
    } catch (const FileError&) {
        return std::nullopt;
    }
    Stamp stamp;
    bool haveSize = false;
    bool haveTime = false;
    for (const std::string& line : SplitByDelimiter(text, '\n')) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "Release") {
            stamp.release = value;
        } else if (key == "Track") {
            TryParseInt(value, stamp.track);
        } else if (key == "Size") {
            haveSize = TryParseInt(value, stamp.state.size);
        } else if (key == "Modified") {
            haveTime = TryParseInt(value, stamp.state.modified);
        } else if (key == "Subtitle") {
            stamp.subtitle = value;
        } else if (key == "Warning") {
            stamp.warnings.push_back(value);
        }
    }
    if (stamp.release.empty() || stamp.track < 0 || !haveSize || !haveTime) {
        return std::nullopt;
    }
    return stamp;
}

bool StampNames(const std::optional<Stamp>& stamp, const std::string& release,
                const TaskTrack& track) {
    return stamp && stamp->release == release && stamp->track == track.number;
}

// One reading of a release's track at a time: a preview and a run may want it together.
std::mutex gClaimsMutex;
std::condition_variable gClaimEnded;
std::set<std::string> gClaims;

class TrackClaim {
  public:
    TrackClaim(std::string key, const std::function<bool()>& stop) : key_(std::move(key)) {
        std::unique_lock lock(gClaimsMutex);
        while (gClaims.count(key_) != 0) {
            if (stop && stop()) {
                throw TrackReadStopped();
            }
            gClaimEnded.wait_for(lock, std::chrono::milliseconds(100));
        }
        gClaims.insert(key_);
    }
    ~TrackClaim() {
        {
            std::lock_guard lock(gClaimsMutex);
            gClaims.erase(key_);
        }
        gClaimEnded.notify_all();
    }
    TrackClaim(const TrackClaim&) = delete;
    TrackClaim& operator=(const TrackClaim&) = delete;

  private:
    std::string key_;
};

} // namespace

std::string ChooseTrackFolderName(const std::string& release, const TaskTrack& track,
                                  const std::string& subtitleName, const std::string& currentFolder,
                                  const std::string& outputFolder) {
    return ChooseFolderName(
        StripExtension(subtitleName), TaskOutputBase(currentFolder, outputFolder),
        [&](const std::string& folder) { return StampNames(ReadStamp(folder), release, track); },
        release);
}

TrackSubtitle PrepareTrackSubtitle(ITrackReader& reader, const std::string& release,
                                   const TaskTrack& track, const std::string& currentFolder,
                                   const std::string& outputFolder,
                                   const TrackReadCallbacks& callbacks) {
    const TrackClaim claim(release + '\n' + std::to_string(track.number), callbacks.stop);
    const std::string subtitleName = reader.SubtitleName(release, track);
    TrackSubtitle result;
    result.folderName =
        ChooseTrackFolderName(release, track, subtitleName, currentFolder, outputFolder);
    const std::string folder =
        JoinPath(TaskOutputBase(currentFolder, outputFolder), result.folderName);
    result.subtitlePath = JoinPath(folder, subtitleName);

    // Taken before the reading: a release that changes while it is read is read again.
    const std::optional<ReleaseState> state = StateOf(release);
    const std::optional<Stamp> stamp = ReadStamp(folder);
    if (state && StampNames(stamp, release, track) && stamp->state == *state &&
        stamp->subtitle == subtitleName && FileExists(result.subtitlePath)) {
        result.warnings = stamp->warnings;
        result.reused = true;
        return result;
    }
    CreateFolders(folder);
    ITrackReader::Reading reading = reader.Read(release, track, folder, callbacks);
    result.subtitlePath = std::move(reading.subtitlePath);
    result.warnings = std::move(reading.warnings);
    // The stamp keeps a folder its track's even when it cannot tell the release's state; then
    // it never matches, and the track is read each time.
    Stamp written{release, track.number, state.value_or(ReleaseState{-1, 0}),
                  FileNamePart(result.subtitlePath), result.warnings};
    if (OneLine(release) && OneLine(written.subtitle)) {
        AtomicWriteFile(JoinPath(folder, kTrackStampName), StampText(written));
    }
    return result;
}

} // namespace pelldrin
