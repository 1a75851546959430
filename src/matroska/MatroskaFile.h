// Matroska releases (.mkv, .mks): their subtitle tracks and attached fonts, read with
// FFmpeg's libavformat as media players read them, and a text track written out as the
// ordinary subtitle file it was made from, with its fonts beside it.
//
// A track is named by its track ID as mkvtoolnix gives it (mkvmerge --identify,
// mkvextract, MKVToolNix GUI), the tools users pull tracks out with by hand: the file's
// tracks counted from 0 in the order its Tracks element lists them. FFmpeg's stream index
// is that number, as FFmpeg makes a stream of every track in that order (Matroska's own
// TrackNumber it does not hand over). A track FFmpeg cannot read at all (of an unknown type,
// or without a codec id) gets no stream; a head with one says so in a warning, as the
// numbers after it are then one less than mkvtoolnix's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// Why a Matroska file could not be read, or a track not extracted.
enum class MatroskaFault {
    Unreadable,  // missing, not a regular file, or a read failed
    NotMatroska, // the bytes are no Matroska file (or its head is damaged beyond reading)
    NoSuchTrack, // no subtitle track of that number
    NotText,     // a picture track, or a text format that is not ASS, SSA or SRT
    NoText,      // the track gave no block that could be read
    OverLimit,   // beyond one of MatroskaLimits
    Stopped,     // the stop check asked to end
};

// A Matroska file or track that cannot be read; the message names the file and the cause.
class MatroskaError : public std::runtime_error {
  public:
    MatroskaError(MatroskaFault fault, const std::string& message)
        : std::runtime_error(message), fault_(fault) {}
    MatroskaFault Fault() const { return fault_; }

  private:
    MatroskaFault fault_;
};

// What a read may take. While FFmpeg opens a file it reads every attachment into memory, and
// holds one that is no picture three times as long as the file is open (the element read,
// the stream's extradata, and the copy of it that the open makes for the stream's codec
// context), so the bytes the head may read bound the memory of a read to about three times
// headBytes. A track's blocks are held until they are sorted.
struct MatroskaLimits {
    std::int64_t headBytes = std::int64_t{256} << 20;  // read while opening (attachments)
    std::int64_t trackBytes = std::int64_t{256} << 20; // text of the extracted track
    std::int64_t trackBlocks = 1'000'000;              // blocks of the extracted track
    std::int64_t fonts = 1000;                         // fonts written by one extraction
};

// What a subtitle track is to Pelldrin.
enum class TrackKind {
    Text,      // ASS, SSA or SRT: converts
    Picture,   // PGS, VobSub, DVB: listed, not convertible
    OtherText, // another text format (WebVTT, Blu-ray TextST, ...): listed, not convertible
};

// A subtitle track as the file's head describes it.
struct MatroskaTrack {
    std::int64_t number = 0; // the track ID, counted from 0
    std::string codec;       // the Matroska codec id, e.g. "S_TEXT/ASS", "S_HDMV/PGS"
    std::string language = "und";
    std::string name;
    bool isDefault = false;
    bool isForced = false;
    TrackKind kind = TrackKind::OtherText;
};

// An attached file.
struct MatroskaAttachment {
    std::string name; // as stored
    std::string mimeType;
    std::int64_t size = 0;
    bool font = false; // a font that an extraction writes: so named or typed, and its data is one
};

// A Matroska file's head: its subtitle tracks and attachments, in the file's order.
struct MatroskaHead {
    std::string path;
    std::int64_t fileSize = 0;
    std::vector<MatroskaTrack> tracks;
    std::vector<MatroskaAttachment> attachments;
    std::vector<std::string> warnings; // what FFmpeg reported, naming the file

    // The track of that number, or nullptr.
    const MatroskaTrack* FindTrack(std::int64_t number) const;
    // The tracks of kind Text.
    std::vector<const MatroskaTrack*> TextTracks() const;
    // The text track to offer first: the first flagged default, else the first; nullptr
    // when there is none.
    const MatroskaTrack* DefaultTextTrack() const;
};

// True for the names Pelldrin takes as Matroska files (.mkv, .mks; any letter case).
bool IsMatroskaFileName(const std::string& path);

// Reads the head of the file only (tracks, attachments through the seek head), never its
// clusters, so a file of any length is listed at once. Throws MatroskaError (Unreadable,
// NotMatroska, OverLimit).
MatroskaHead ReadMatroskaHead(const std::string& path, const MatroskaLimits& limits = {});

// The text track of `other` that corresponds to `chosen` of another file: the first with
// the same language, codec and name (the one with the same number among several), else the
// text track with the same number; nullopt when neither exists. One choice thus serves a
// season of releases muxed alike.
std::optional<std::int64_t> MatchTrack(const MatroskaTrack& chosen, const MatroskaHead& other);

// The name the extracted subtitle file gets: the Matroska file's name without its
// extension, ".track", the number, and ".ass" (ASS and SSA) or ".srt" (SRT, plain text):
// "Show.S01E01.mkv", track 3 -> "Show.S01E01.track3.ass".
std::string ExtractedSubtitleName(const std::string& matroskaPath, const MatroskaTrack& track);

// Called while a track is read: progress with the bytes read of the file's size, and a
// check that ends the reading (within a read of at most a megabyte) when it returns true.
struct ExtractCallbacks {
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    std::function<bool()> stop;
};

// What an extraction wrote.
struct ExtractedTrack {
    MatroskaTrack track;
    std::string subtitlePath;           // the .ass or .srt file
    std::vector<std::string> fontPaths; // in the folder's "fonts" folder
    std::int64_t events = 0;            // Dialogue lines or cues written
    std::vector<std::string> warnings;  // each names the file (and the track)
};

// Reads track `number` of the file and writes it into `folder` (created when missing) as
// ExtractedSubtitleName, UTF-8 as the track holds it, and every attachment that is a font
// into folder/fonts under a name of its own; an attachment that is no font is left out with
// a warning, and so is a font over kMaxFontFileBytes. Nothing is written outside the folder,
// and nothing at all when the reading fails or is stopped; each file is written whole or
// not at all. Throws MatroskaError, or FileError when writing fails.
ExtractedTrack ExtractTrack(const std::string& path, std::int64_t number, const std::string& folder,
                            const ExtractCallbacks& callbacks = {},
                            const MatroskaLimits& limits = {});

} // namespace pelldrin
