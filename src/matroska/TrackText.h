// A Matroska text track turned back into the subtitle file it was made from: an ASS or SSA
// script from the track's header and one Dialogue line per block, or numbered SRT cues;
// and the file names its attachments can safely be written under.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// One block of a text track, in the order the file holds it. Its times are in the unit of
// the text it goes into: centiseconds for ASS and SSA, milliseconds for SRT.
struct TextBlock {
    std::int64_t start = 0;
    std::optional<std::int64_t> end; // none when the block has no duration
    std::string data;
};

// A rebuilt subtitle file: its text, the events it holds, and what did not come through
// as it was (without the file's name, which the caller adds).
struct TrackText {
    std::string text;
    std::int64_t events = 0;
    std::vector<std::string> warnings;
};

// Times past this are taken for damage (a hundred hours, in milliseconds): a block that
// starts later is left out, an end later is cut to it.
inline constexpr std::int64_t kMaxTrackTimeMs = std::int64_t{100} * 3600 * 1000;

// The script of an ASS or SSA track: the header (the track's codec private data, kept byte
// for byte with its [Fonts] and [Graphics]) with one "Dialogue:" line per block added at
// the end of its [Events] section (or a new [Events] section), in the order of the blocks'
// ReadOrder numbers. A block is "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,
// Text" as muxers store it; its line keeps every byte of it (an SSA line whose Marked field
// the muxer left empty gets "Marked=0"). A block without an end ends
// where the next block in time starts, or at fileEnd (centiseconds; 0 when unknown).
TrackText BuildAssTrack(std::string_view header, std::vector<TextBlock> blocks,
                        std::int64_t fileEnd, bool ssa);

// Numbered SRT cues in time order, one per block that holds text; ends as for ASS, in
// milliseconds.
TrackText BuildSrtTrack(std::vector<TextBlock> blocks, std::int64_t fileEnd);

// A file name for an attachment stored as `stored` that stays inside the folder it is
// written to and that every system can hold: the last part of the stored name, characters
// that Windows refuses replaced by "_", device names such as "CON" prefixed with "_", at
// most 120 bytes; "attachment" when nothing is left. A font whose name the renderer would
// not load as one gets `fontExtension` added (a font "Arial" becomes "Arial.ttf").
std::string SafeAttachmentName(std::string_view stored, std::string_view fontExtension);

} // namespace pelldrin
