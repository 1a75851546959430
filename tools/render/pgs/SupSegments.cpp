#include "pgs/SupSegments.h"

#include "pgs/DecoderModel.h"

#include <algorithm>

namespace pelldrin::pgs {

namespace {

constexpr std::uint8_t kPds = 0x14, kOds = 0x15, kPcs = 0x16, kWds = 0x17, kEnd = 0x80;
constexpr std::uint8_t kForcedFlag = 0x40;
constexpr std::uint8_t kFirstInSequence = 0x80, kLastInSequence = 0x40;
// A segment stays small enough to travel in one PES packet with its PTS and DTS once muxed:
// the packet's 16-bit length also counts 13 bytes of packet header and the segment's own
// 3-byte header.
constexpr std::size_t kMaxSegmentPayload = 65535 - 16;
// The first fragment of an object carries its data length and size.
constexpr std::size_t kObjectHeader = 4, kFirstFragmentExtra = 7;
constexpr auto kInputOverhead = static_cast<std::size_t>(kSegmentInputOverhead);

void Put8(std::string& out, unsigned v) {
    out.push_back(static_cast<char>(v & 0xFF));
}

void Put16(std::string& out, unsigned v) {
    Put8(out, v >> 8);
    Put8(out, v);
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}

void PutHeader(std::string& out, std::int64_t pts, std::int64_t dts, std::uint8_t type,
               std::size_t size) {
    out += "PG";
    Put32(out, static_cast<std::uint32_t>(pts));
    Put32(out, static_cast<std::uint32_t>(dts));
    Put8(out, type);
    Put16(out, static_cast<unsigned>(size));
}

void PutComposition(const DisplaySetOut& set, std::string& out) {
    PutHeader(out, set.pts, set.dts, kPcs, 11 + 8 * set.compositions.size());
    Put16(out, static_cast<unsigned>(set.planeWidth));
    Put16(out, static_cast<unsigned>(set.planeHeight));
    Put8(out, 0x10); // frame rate field, fixed by practice
    Put16(out, set.compositionNumber & 0xFFFF);
    Put8(out, set.state);
    Put8(out, set.paletteOnly ? 0x80 : 0);
    Put8(out, set.paletteId);
    Put8(out, static_cast<unsigned>(set.compositions.size()));
    for (const CompositionOut& c : set.compositions) {
        Put16(out, c.objectId);
        Put8(out, c.windowId);
        Put8(out, c.forced ? kForcedFlag : 0);
        Put16(out, static_cast<unsigned>(c.x));
        Put16(out, static_cast<unsigned>(c.y));
    }
}

// The windows are drawn in the time before the set's PTS; the segment's PTS is when that
// drawing must begin.
void PutWindows(const DisplaySetOut& set, std::string& out) {
    std::vector<std::int64_t> areas;
    for (const Rect& w : set.windows) {
        areas.push_back(w.Area());
    }
    PutHeader(out, set.pts - WindowsTicks(areas), set.dts, kWds, 1 + 9 * set.windows.size());
    Put8(out, static_cast<unsigned>(set.windows.size()));
    for (std::size_t i = 0; i < set.windows.size(); ++i) {
        const Rect& w = set.windows[i];
        Put8(out, static_cast<unsigned>(i));
        Put16(out, static_cast<unsigned>(w.x));
        Put16(out, static_cast<unsigned>(w.y));
        Put16(out, static_cast<unsigned>(w.w));
        Put16(out, static_cast<unsigned>(w.h));
    }
}

void PutPalette(const DisplaySetOut& set, std::string& out) {
    const std::vector<YCbCrA>& entries = *set.palette;
    PutHeader(out, set.dts, set.dts, kPds, 2 + 5 * entries.size());
    Put8(out, set.paletteId);
    Put8(out, set.paletteVersion);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Put8(out, static_cast<unsigned>(i));
        Put8(out, entries[i].y);
        Put8(out, entries[i].cr);
        Put8(out, entries[i].cb);
        Put8(out, entries[i].a);
    }
}

// The object data (length, size, code) split into fragments of at most one segment each.
void PutObject(const ObjectOut& object, std::int64_t dts, std::int64_t pts, std::string& out) {
    const std::string& code = *object.code;
    std::size_t done = 0;
    bool first = true;
    do {
        const std::size_t room =
            kMaxSegmentPayload - kObjectHeader - (first ? kFirstFragmentExtra : 0);
        const std::size_t take = std::min(room, code.size() - done);
        const bool last = done + take == code.size();
        PutHeader(out, pts, dts, kOds, kObjectHeader + (first ? kFirstFragmentExtra : 0) + take);
        Put16(out, object.id);
        Put8(out, object.version);
        Put8(out, (first ? kFirstInSequence : 0) | (last ? kLastInSequence : 0));
        if (first) {
            const std::size_t length = code.size() + 4; // counts width and height
            Put8(out, static_cast<unsigned>(length >> 16));
            Put16(out, static_cast<unsigned>(length & 0xFFFF));
            Put16(out, static_cast<unsigned>(object.width));
            Put16(out, static_cast<unsigned>(object.height));
        }
        out.append(code, done, take);
        done += take;
        first = false;
    } while (done < code.size());
}

} // namespace

void WriteDisplaySet(const DisplaySetOut& set, std::string& out) {
    PutComposition(set, out);
    if (!set.paletteOnly) {
        PutWindows(set, out);
    }
    if (set.palette != nullptr) {
        PutPalette(set, out);
    }
    std::int64_t decoded = set.dts;
    for (const ObjectOut& object : set.objects) {
        const std::int64_t end = decoded + DecodeTicks(std::int64_t{object.width} * object.height);
        PutObject(object, decoded, end, out);
        decoded = end;
    }
    // The set is complete once decoded, and shown with its composition.
    PutHeader(out, set.pts, decoded, kEnd, 0);
}

std::size_t SetInputBytes(const DisplaySetOut& set) {
    std::size_t bytes = kInputOverhead + 11 + 8 * set.compositions.size();
    if (!set.paletteOnly) {
        bytes += kInputOverhead + 1 + 9 * set.windows.size();
    }
    if (set.palette != nullptr) {
        bytes += kInputOverhead + 2 + 5 * set.palette->size();
    }
    const std::size_t perSegment = kMaxSegmentPayload - kObjectHeader;
    for (const ObjectOut& object : set.objects) {
        const std::size_t data = kFirstFragmentExtra + object.code->size();
        bytes += ObjectPayloadBytes(object.code->size()) +
                 kInputOverhead * ((data + perSegment - 1) / perSegment);
    }
    return bytes + kInputOverhead; // the end segment
}

std::size_t ObjectPayloadBytes(std::size_t codeSize) {
    const std::size_t data = kFirstFragmentExtra + codeSize;
    const std::size_t perSegment = kMaxSegmentPayload - kObjectHeader;
    const std::size_t fragments = (data + perSegment - 1) / perSegment;
    return data + fragments * kObjectHeader;
}

} // namespace pelldrin::pgs
