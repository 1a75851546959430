#include "pgs/SupCheck.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>

namespace pelldrin::pgs {

namespace {

// The decoder model as players follow it, read here from the segments alone and apart from
// the writer's planning, so that a wrong reading in either shows as a violation instead of
// passing both.
constexpr std::int64_t kTicksPerSecond = 90000;
constexpr std::int64_t kDecodePixelsPerSecond = 16000000; // Rd: objects into the buffer
constexpr std::int64_t kDrawPixelsPerSecond = 32000000;   // Rc: the plane and its windows
constexpr std::size_t kSetObjectsMost = 2, kWindowsMost = 2;
constexpr std::size_t kObjectIdsMost = 64, kPaletteIdsMost = 8; // in an epoch
constexpr std::int64_t kObjectBufferBytes = std::int64_t{4} << 20;
constexpr std::size_t kCodedBufferBytes = std::size_t{1} << 20;
// The input buffer: full a second before the first segment, refilled at 16 Mbit/s; each
// segment takes its size less the "PG" marker of its header.
constexpr std::int64_t kInputBytes = std::int64_t{1} << 20;
constexpr std::int64_t kInputBytesPerSecond = 2000000;
constexpr std::int64_t kInputHeaderBytes = 11;

constexpr std::uint8_t kPds = 0x14, kOds = 0x15, kPcs = 0x16, kWds = 0x17, kEnd = 0x80;
constexpr std::uint8_t kStateNormal = 0x00, kStateAcquisition = 0x40, kStateEpoch = 0x80;
constexpr std::size_t kHeaderBytes = 13;
constexpr std::size_t kKeptViolations = 1000;

// Ticks to handle this many pixels at a rate, rounded up.
std::int64_t TicksFor(std::int64_t pixels, std::int64_t pixelsPerSecond) {
    return (pixels * kTicksPerSecond + pixelsPerSecond - 1) / pixelsPerSecond;
}
std::int64_t DrawTime(std::int64_t pixels) {
    return TicksFor(pixels, kDrawPixelsPerSecond);
}
std::int64_t DecodeTime(std::int64_t pixels) {
    return TicksFor(pixels, kDecodePixelsPerSecond);
}

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    std::int64_t Pixels() const { return std::int64_t{w} * h; }
    bool Holds(const Box& o) const {
        return x <= o.x && y <= o.y && o.x + o.w <= x + w && o.y + o.h <= y + h;
    }
    bool Meets(const Box& o) const {
        return o.x < x + w && x < o.x + o.w && o.y < y + h && y < o.y + o.h;
    }
    bool operator==(const Box&) const = default;
};

std::int64_t DrawTime(const std::vector<Box>& windows) {
    std::int64_t ticks = 0;
    for (const Box& w : windows) {
        ticks += DrawTime(w.Pixels());
    }
    return ticks;
}

// An object the set shows: its window, and the pixels decoded for it in this set (0 when an
// earlier set defined it).
struct Shown {
    unsigned window = 0;
    std::int64_t decodedPixels = 0;
};

// From a set's DTS to its PTS at the least: the plane is cleared (an epoch start), or else
// the windows that show nothing; objects decode one after another, and a window is drawn
// once the objects it shows are decoded and the drawing before it is done. Never less than
// drawing every window, and a tick.
std::int64_t SetDuration(bool epochStart, std::int64_t planePixels, const std::vector<Box>& windows,
                         const std::vector<Shown>& shown) {
    std::int64_t drawn = 0; // when the drawing so far is done
    if (epochStart) {
        drawn = DrawTime(planePixels);
    } else {
        for (unsigned i = 0; i < windows.size(); ++i) {
            if (std::none_of(shown.begin(), shown.end(),
                             [i](const Shown& s) { return s.window == i; })) {
                drawn += DrawTime(windows[i].Pixels());
            }
        }
    }
    std::int64_t decoded = 0; // when the decoding so far is done
    for (std::size_t k = 0; k < shown.size(); ++k) {
        decoded += DecodeTime(shown[k].decodedPixels);
        const bool windowDone = k + 1 == shown.size() || shown[k + 1].window != shown[k].window;
        if (windowDone) {
            const unsigned w = shown[k].window;
            drawn =
                std::max(drawn, decoded) + (w < windows.size() ? DrawTime(windows[w].Pixels()) : 0);
        }
    }
    return std::max(drawn, DrawTime(windows) + 1);
}

// What the input buffer holds as segments arrive, in bytes times ticks so that the refill is
// exact.
class InputLevel {
  public:
    // Refills up to dts and takes a segment of this payload; false when the buffer runs dry
    // (it is then empty).
    bool Take(std::int64_t dts, std::size_t payload) {
        if (last_ >= 0 && dts > last_) {
            // Capped first, so that long pauses cannot overflow.
            const std::int64_t refill =
                std::min(dts - last_, kTicksPerSecond) * kInputBytesPerSecond;
            level_ = std::min(kFull, level_ + refill);
        }
        last_ = std::max(last_, dts);
        level_ -= (static_cast<std::int64_t>(payload) + kInputHeaderBytes) * kTicksPerSecond;
        if (level_ >= 0) {
            return true;
        }
        level_ = 0;
        return false;
    }

  private:
    static constexpr std::int64_t kFull = kInputBytes * kTicksPerSecond;
    std::int64_t level_ = kFull;
    std::int64_t last_ = -1;
};

struct Segment {
    std::uint8_t type = 0;
    std::int64_t pts = 0, dts = 0;
    std::string payload;
};

struct Composition {
    unsigned objectId = 0, windowId = 0;
    bool cropped = false;
    Box place; // x, y of the object; w, h filled from its definition
    Box crop;
};

struct ObjectDef {
    unsigned id = 0;
    int w = 0, h = 0;
    std::int64_t dts = 0, pts = 0; // of its first fragment
    std::size_t length = 0;        // announced data length, counting width and height
    std::string code;
    bool complete = false;
};

// One display set as read.
struct ReadSet {
    std::int64_t pts = 0, dts = 0;
    int planeW = 0, planeH = 0;
    std::uint8_t state = 0;
    bool paletteOnly = false;
    unsigned paletteId = 0;
    std::vector<Composition> compositions;
    int windowSegments = 0;
    std::vector<Box> windows;
    std::vector<std::pair<unsigned, unsigned>> palettes; // id, version
    std::vector<ObjectDef> objects;
    std::size_t bytes = 0;
};

unsigned Get16(const std::string& p, std::size_t at) {
    return (unsigned{static_cast<std::uint8_t>(p[at])} << 8) | static_cast<std::uint8_t>(p[at + 1]);
}

unsigned Get8(const std::string& p, std::size_t at) {
    return static_cast<std::uint8_t>(p[at]);
}

// How an object's code fails to fill its size, or empty when it does.
std::string CodeFault(const std::string& code, int w, int h) {
    int lines = 0;
    std::int64_t x = 0;
    std::size_t i = 0;
    while (i < code.size()) {
        if (code[i] != 0) { // one pixel per byte up to the next escape
            const std::size_t escape = std::min(code.find('\0', i), code.size());
            x += static_cast<std::int64_t>(escape - i);
            i = escape;
        } else if (i + 1 >= code.size()) {
            return "ends inside a code";
        } else if (const unsigned flags = Get8(code, i + 1); flags == 0) {
            if (x != w) {
                return "codes " + std::to_string(x) + " pixels on line " + std::to_string(lines) +
                       " instead of " + std::to_string(w);
            }
            ++lines;
            x = 0;
            i += 2;
        } else {
            const bool isLong = (flags & 0x40) != 0, coloured = (flags & 0x80) != 0;
            const std::size_t size = 2 + (isLong ? 1 : 0) + (coloured ? 1 : 0);
            if (i + size > code.size()) {
                return "ends inside a code";
            }
            x += isLong ? ((flags & 0x3F) << 8) | Get8(code, i + 2) : (flags & 0x3F);
            i += size;
        }
        if (x > w) {
            return "codes more pixels than its width on line " + std::to_string(lines);
        }
    }
    if (x != 0) {
        return "does not end its last line with an end-of-line code";
    }
    return lines == h ? "" : "codes " + std::to_string(lines) + " lines";
}

std::string Clock(std::int64_t pts) {
    const std::int64_t ms = pts / 90;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

} // namespace

struct SupChecker::State {
    bool checkCode = true;
    std::int64_t frameTicks = 0; // the shortest a frame can be in whole ticks
    std::string pending;
    std::vector<Segment> open; // segments of the set being read
    SupCheckSummary summary;
    // The epoch.
    std::vector<Box> windows;
    std::map<unsigned, Box> objects; // sizes by id
    std::int64_t objectBytes = 0;
    std::map<unsigned, unsigned> paletteVersions;
    std::vector<Composition> shown;
    // The PTS of the last set that showed each object and palette id: a new version may
    // only be decoded once that set is presented.
    std::map<unsigned, std::int64_t> objectShownUntil, paletteShownUntil;
    // The stream.
    int planeW = 0, planeH = 0;
    std::int64_t prevPts = -1, lastDts = -1;
    InputLevel input;
    std::deque<std::pair<std::int64_t, std::int64_t>> lastSecond; // DTS and input bytes
    std::int64_t lastSecondBytes = 0;

    void Violation(std::int64_t pts, std::string rule) {
        ++summary.violationCount;
        if (summary.violations.size() < kKeptViolations) {
            summary.violations.push_back({summary.sets, pts, std::move(rule)});
        }
    }

    void TakeSegments();
    void CloseSet();
    bool ParseSet(ReadSet& set);
    bool ParseComposition(const Segment& s, ReadSet& set);
    void ParseWindows(const Segment& s, ReadSet& set);
    void ParseObject(const Segment& s, ReadSet& set);
    void CheckLayout(const ReadSet& set);
    void CheckObjects(ReadSet& set);
    void CheckPalettes(const ReadSet& set);
    void CheckCompositions(const ReadSet& set);
    void CheckTiming(const ReadSet& set);
    void CheckSegmentTimes(const Segment& s, const ReadSet& set, bool& dry);
    void CountInput(const Segment& s);
    void NoteShown(const ReadSet& set);
    void CheckNewVersion(const char* what, unsigned id, std::int64_t dts,
                         const std::map<unsigned, std::int64_t>& shownUntil, const ReadSet& set);
};

SupChecker::SupChecker(const SupCheckOptions& options) : state_(std::make_unique<State>()) {
    state_->checkCode = options.checkCode;
    state_->frameTicks = kTicksPerSecond * options.rateDen / options.rateNum;
}
SupChecker::~SupChecker() = default;

void SupChecker::Feed(std::string_view bytes) {
    state_->pending.append(bytes);
    state_->TakeSegments();
}

SupCheckSummary SupChecker::Finish() {
    State& s = *state_;
    if (!s.pending.empty()) {
        s.Violation(s.prevPts, "the stream ends inside a segment");
    }
    if (!s.open.empty()) {
        const std::int64_t pts = s.open.front().pts;
        s.CloseSet();
        s.Violation(pts, "the last display set has no end segment");
    }
    if (!s.shown.empty()) {
        s.Violation(s.prevPts, "the stream ends with a picture on screen: no set takes it away");
    }
    return s.summary;
}

void SupChecker::State::TakeSegments() {
    std::size_t pos = 0;
    while (pending.size() - pos >= kHeaderBytes) {
        if (pending[pos] != 'P' || pending[pos + 1] != 'G') {
            Violation(prevPts, "a segment does not begin with \"PG\"");
            pending.clear();
            return;
        }
        const std::size_t size = Get16(pending, pos + 11);
        if (pending.size() - pos - kHeaderBytes < size) {
            break;
        }
        Segment s;
        s.pts = (std::int64_t{Get16(pending, pos + 2)} << 16) | Get16(pending, pos + 4);
        s.dts = (std::int64_t{Get16(pending, pos + 6)} << 16) | Get16(pending, pos + 8);
        s.type = static_cast<std::uint8_t>(pending[pos + 10]);
        s.payload = pending.substr(pos + kHeaderBytes, size);
        pos += kHeaderBytes + size;
        if (s.type == kPcs && !open.empty()) {
            const std::int64_t pts = open.front().pts;
            CloseSet();
            Violation(pts, "a display set has no end segment");
        }
        if (s.type != kPcs && open.empty()) {
            Violation(s.pts, "a segment comes outside a display set");
            continue;
        }
        const bool end = s.type == kEnd;
        open.push_back(std::move(s));
        if (end) {
            CloseSet();
        }
    }
    pending.erase(0, pos);
}

void SupChecker::State::CloseSet() {
    ++summary.sets;
    ReadSet set;
    const bool readable = ParseSet(set);
    open.clear();
    if (!readable) {
        return;
    }
    if (set.state == kStateEpoch) {
        ++summary.epochs;
    } else if (set.state == kStateAcquisition) {
        ++summary.acquisitionPoints;
    }
    summary.paletteOnly += set.paletteOnly ? 1 : 0;
    CheckLayout(set);
    CheckObjects(set);
    CheckPalettes(set);
    CheckCompositions(set);
    CheckTiming(set);
    NoteShown(set);
    shown = set.compositions;
}

bool SupChecker::State::ParseSet(ReadSet& set) {
    if (!ParseComposition(open.front(), set)) {
        return false;
    }
    bool dry = false;
    for (std::size_t i = 0; i < open.size(); ++i) {
        const Segment& s = open[i];
        CheckSegmentTimes(s, set, dry);
        CountInput(s);
        if (i == 0) {
            continue;
        }
        set.bytes += s.payload.size();
        if (s.type == kWds) {
            ParseWindows(s, set);
        } else if (s.type == kPds && s.payload.size() >= 2 && s.payload.size() % 5 == 2) {
            set.palettes.emplace_back(Get8(s.payload, 0), Get8(s.payload, 1));
            if (s.pts != s.dts) {
                Violation(set.pts, "a palette segment's PTS differs from its DTS");
            }
            if (set.state != kStateEpoch) {
                CheckNewVersion("palette", Get8(s.payload, 0), s.dts, paletteShownUntil, set);
            }
        } else if (s.type == kOds && s.payload.size() >= 4) {
            ParseObject(s, set);
        } else if (s.type == kEnd && i + 1 == open.size() && s.payload.empty()) {
            continue;
        } else {
            Violation(set.pts,
                      "a malformed or misplaced segment of type " + std::to_string(s.type));
        }
    }
    for (const ObjectDef& o : set.objects) {
        if (!o.complete) {
            Violation(set.pts, "object " + std::to_string(o.id) + " is not complete");
        }
    }
    if (set.paletteOnly ? set.windowSegments != 0 || !set.objects.empty()
                        : set.windowSegments != 1) {
        Violation(set.pts, set.paletteOnly ? "a palette-only set carries windows or objects"
                                           : "a display set needs exactly one window segment");
    }
    return true;
}

bool SupChecker::State::ParseComposition(const Segment& s, ReadSet& set) {
    const std::string& p = s.payload;
    set.pts = s.pts;
    set.dts = s.dts;
    set.bytes = p.size();
    if (p.size() < 11) {
        Violation(s.pts, "a composition segment is too short");
        return false;
    }
    set.planeW = static_cast<int>(Get16(p, 0));
    set.planeH = static_cast<int>(Get16(p, 2));
    set.state = static_cast<std::uint8_t>(p[7]);
    set.paletteOnly = (Get8(p, 8) & 0x80) != 0;
    set.paletteId = Get8(p, 9);
    std::size_t at = 11;
    for (unsigned i = 0; i < Get8(p, 10); ++i) {
        if (at + 8 > p.size()) {
            Violation(s.pts, "a composition segment is too short for its objects");
            return false;
        }
        Composition c;
        c.objectId = Get16(p, at);
        c.windowId = Get8(p, at + 2);
        c.cropped = (Get8(p, at + 3) & 0x80) != 0;
        c.place = {static_cast<int>(Get16(p, at + 4)), static_cast<int>(Get16(p, at + 6)), 0, 0};
        at += 8;
        if (c.cropped) {
            if (at + 8 > p.size()) {
                Violation(s.pts, "a composition segment is too short for its crop");
                return false;
            }
            c.crop = {static_cast<int>(Get16(p, at)), static_cast<int>(Get16(p, at + 2)),
                      static_cast<int>(Get16(p, at + 4)), static_cast<int>(Get16(p, at + 6))};
            at += 8;
        }
        set.compositions.push_back(c);
    }
    if (at != p.size()) {
        Violation(s.pts, "a composition segment has bytes beyond its objects");
    }
    return true;
}

void SupChecker::State::ParseWindows(const Segment& s, ReadSet& set) {
    ++set.windowSegments;
    const std::string& p = s.payload;
    if (p.empty() || p.size() != 1 + 9 * std::size_t{Get8(p, 0)}) {
        Violation(set.pts, "a window segment's size does not match its windows");
        return;
    }
    for (std::size_t at = 1; at < p.size(); at += 9) {
        set.windows.push_back(
            {static_cast<int>(Get16(p, at + 1)), static_cast<int>(Get16(p, at + 3)),
             static_cast<int>(Get16(p, at + 5)), static_cast<int>(Get16(p, at + 7))});
    }
    if (s.pts != set.pts - DrawTime(set.windows)) {
        Violation(set.pts, "a window segment's PTS is not the set's PTS less the time to draw "
                           "its windows");
    } else if (s.pts == s.dts) {
        Violation(set.pts, "a window segment's PTS equals its DTS");
    }
    // A decoder is built for the worst case of an epoch start: its windows are drawn at most
    // twice the plane's clear time after the set begins decoding.
    const std::int64_t clear = DrawTime(std::int64_t{set.planeW} * set.planeH);
    if (s.pts - s.dts > 2 * clear) {
        Violation(set.pts, "its windows are drawn " + std::to_string(s.pts - s.dts) +
                               " ticks after the set begins decoding, more than twice the " +
                               std::to_string(clear) + " ticks that clear the plane");
    }
}

void SupChecker::State::ParseObject(const Segment& s, ReadSet& set) {
    const std::string& p = s.payload;
    const unsigned id = Get16(p, 0);
    const unsigned flags = Get8(p, 3);
    if (flags & 0x80) {
        if (p.size() < 11) {
            Violation(set.pts, "an object segment is too short");
            return;
        }
        ObjectDef o;
        o.id = id;
        o.length = (std::size_t{Get8(p, 4)} << 16) | Get16(p, 5);
        o.w = static_cast<int>(Get16(p, 7));
        o.h = static_cast<int>(Get16(p, 9));
        o.code = p.substr(11);
        o.dts = s.dts;
        o.pts = s.pts;
        set.objects.push_back(std::move(o));
        if (set.state != kStateEpoch) {
            CheckNewVersion("object", id, s.dts, objectShownUntil, set);
        }
    } else if (set.objects.empty() || set.objects.back().id != id || set.objects.back().complete) {
        Violation(set.pts, "an object continues without its first fragment");
        return;
    } else {
        set.objects.back().code += p.substr(4);
    }
    ObjectDef& o = set.objects.back();
    if (s.pts != o.dts + DecodeTime(std::int64_t{o.w} * o.h) || s.dts != o.dts) {
        Violation(set.pts, "an object segment's PTS is not its DTS plus the time to decode "
                           "object " +
                               std::to_string(id));
    }
    if (flags & 0x40) {
        o.complete = true;
        const std::string fault = checkCode ? CodeFault(o.code, o.w, o.h) : "";
        if (o.code.size() + 4 != o.length || !fault.empty()) {
            Violation(set.pts, "object " + std::to_string(id) + "'s data does not decode to its " +
                                   std::to_string(o.w) + "x" + std::to_string(o.h) + " pixels" +
                                   (fault.empty() ? "" : ": it " + fault));
        }
    }
}

void SupChecker::State::CheckLayout(const ReadSet& set) {
    if (summary.sets == 1 && set.state != kStateEpoch) {
        Violation(set.pts, "the stream does not begin with an epoch start");
    }
    if (set.state != kStateNormal && set.state != kStateAcquisition && set.state != kStateEpoch) {
        Violation(set.pts, "composition state " + std::to_string(set.state) +
                               " does not belong in a stream");
    }
    if (summary.sets == 1) {
        planeW = set.planeW;
        planeH = set.planeH;
    } else if (set.planeW != planeW || set.planeH != planeH) {
        Violation(set.pts, "the plane size changes");
    }
    if (set.compositions.size() > kSetObjectsMost || set.windows.size() > kWindowsMost) {
        Violation(set.pts, "more than two objects or windows in a display set");
    }
    if (set.state == kStateEpoch) {
        windows = set.windows;
        objects.clear();
        objectBytes = 0;
        paletteVersions.clear();
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const Box& w = windows[i];
            if (w.w <= 0 || w.h <= 0 || w.x + w.w > planeW || w.y + w.h > planeH) {
                Violation(set.pts, "window " + std::to_string(i) + " lies outside the plane");
            }
            if (i > 0 && w.Meets(windows[0])) {
                Violation(set.pts, "the windows overlap");
            }
        }
    } else if (!set.paletteOnly && set.windows != windows) {
        Violation(set.pts, "the windows change within an epoch");
    }
}

void SupChecker::State::CheckObjects(ReadSet& set) {
    for (const ObjectDef& o : set.objects) {
        const auto it = objects.find(o.id);
        if (it == objects.end()) {
            objects[o.id] = {0, 0, o.w, o.h};
            objectBytes += std::int64_t{o.w} * o.h;
        } else if (it->second.w != o.w || it->second.h != o.h) {
            Violation(set.pts, "object " + std::to_string(o.id) + " changes its size in an epoch");
        }
    }
    if (objects.size() > kObjectIdsMost) {
        Violation(set.pts, "more than 64 object ids in an epoch");
    }
    if (objectBytes > kObjectBufferBytes) {
        Violation(set.pts, "the epoch's objects outgrow the 4 MiB object buffer");
    }
    if (set.bytes > kCodedBufferBytes) {
        Violation(set.pts, "the display set's segments outgrow the 1 MiB coded buffer");
    }
}

void SupChecker::State::CheckPalettes(const ReadSet& set) {
    bool updated = false;
    for (const auto& [id, version] : set.palettes) {
        const auto it = paletteVersions.find(id);
        if (set.paletteOnly && id == set.paletteId) {
            updated = it != paletteVersions.end() && version == ((it->second + 1) & 0xFF);
        }
        paletteVersions[id] = version;
    }
    if (paletteVersions.size() > kPaletteIdsMost) {
        Violation(set.pts, "more than 8 palette ids in an epoch");
    }
    if (set.paletteOnly && (!updated || set.state != kStateNormal)) {
        Violation(set.pts, "a palette-only set must be a normal set that raises the version of "
                           "the palette it shows by one");
    }
    if (set.paletteOnly && (set.compositions.size() != shown.size() ||
                            !std::equal(shown.begin(), shown.end(), set.compositions.begin(),
                                        [](const Composition& a, const Composition& b) {
                                            return a.objectId == b.objectId &&
                                                   a.windowId == b.windowId;
                                        }))) {
        Violation(set.pts, "a palette-only set changes the objects on screen");
    }
}

void SupChecker::State::CheckCompositions(const ReadSet& set) {
    const bool selfContained = set.state != kStateNormal;
    const auto definedHere = [&](unsigned id) {
        return std::any_of(set.objects.begin(), set.objects.end(),
                           [id](const ObjectDef& o) { return o.id == id; });
    };
    const bool paletteHere = std::any_of(set.palettes.begin(), set.palettes.end(),
                                         [&](const auto& p) { return p.first == set.paletteId; });
    if (!set.compositions.empty() && !paletteVersions.contains(set.paletteId)) {
        Violation(set.pts, "palette " + std::to_string(set.paletteId) + " is not defined");
    } else if (selfContained && !set.compositions.empty() && !paletteHere) {
        Violation(set.pts, "an acquisition point or epoch start lacks its palette");
    }
    for (const Composition& c : set.compositions) {
        const auto it = objects.find(c.objectId);
        if (it == objects.end()) {
            Violation(set.pts, "object " + std::to_string(c.objectId) + " is not defined");
            continue;
        }
        if (selfContained && !definedHere(c.objectId)) {
            Violation(set.pts, "an acquisition point or epoch start lacks object " +
                                   std::to_string(c.objectId));
        }
        Box shownBox{c.place.x, c.place.y, it->second.w, it->second.h};
        if (c.cropped) {
            shownBox = {c.place.x, c.place.y, c.crop.w, c.crop.h};
            if (!Box{0, 0, it->second.w, it->second.h}.Holds(c.crop)) {
                Violation(set.pts, "a crop lies outside its object");
            }
        }
        if (c.windowId >= windows.size() || !windows[c.windowId].Holds(shownBox)) {
            Violation(set.pts,
                      "object " + std::to_string(c.objectId) + " does not lie inside its window");
        }
    }
}

void SupChecker::State::CheckTiming(const ReadSet& set) {
    const bool epochStart = set.state == kStateEpoch;
    const std::int64_t plane = std::int64_t{planeW} * planeH;
    std::vector<Shown> shownHere;
    for (const Composition& c : set.compositions) {
        std::int64_t decoded = 0;
        for (const ObjectDef& o : set.objects) {
            decoded = o.id == c.objectId ? std::int64_t{o.w} * o.h : decoded;
        }
        shownHere.push_back({c.windowId, decoded});
    }
    const std::int64_t duration = SetDuration(epochStart, plane, windows, shownHere);
    if (set.pts <= prevPts) {
        Violation(set.pts, "the PTS does not increase");
    }
    if (set.dts > set.pts - duration) {
        Violation(set.pts, "decoding starts at " + std::to_string(set.dts) + " but needs " +
                               std::to_string(duration) + " ticks before the PTS");
    }
    if (prevPts >= 0 && set.windowSegments == 1 && set.pts - DrawTime(windows) <= prevPts) {
        Violation(set.pts, "its windows begin to be drawn before the previous set is shown");
    }
    if (prevPts >= 0 && set.paletteOnly && set.pts - prevPts < frameTicks) {
        Violation(set.pts, "a palette-only set comes less than a frame after the previous set");
    }
    if (epochStart && set.dts <= prevPts) {
        Violation(set.pts, "an epoch starts decoding before the previous set is shown");
    } else if (epochStart && set.pts - set.dts <= DrawTime(plane)) {
        Violation(set.pts, "an epoch start leaves no time to clear the plane");
    }
    prevPts = set.pts;
}

// Every segment lies within its set's decoding, in stream order, less than a second ahead.
void SupChecker::State::CheckSegmentTimes(const Segment& s, const ReadSet& set, bool& dry) {
    if (s.dts > s.pts) {
        Violation(set.pts, "a segment's DTS comes after its PTS");
    } else if (s.pts - s.dts >= kTicksPerSecond) {
        Violation(set.pts, "decoding starts a second or more before the PTS");
    }
    if (s.dts < set.dts || s.pts > set.pts) {
        Violation(set.pts, "a segment's DTS or PTS lies outside its display set's");
    }
    if (s.dts < lastDts) {
        Violation(set.pts, "the DTS goes back from one segment to the next");
    }
    lastDts = std::max(lastDts, s.dts);
    if (!input.Take(s.dts, s.payload.size()) && !dry) {
        dry = true;
        Violation(set.pts, "the input buffer runs dry: segments come faster than 16 Mbit/s allow");
    }
}

// The busiest second of input.
void SupChecker::State::CountInput(const Segment& s) {
    const std::int64_t bytes = static_cast<std::int64_t>(s.payload.size()) + kInputHeaderBytes;
    lastSecond.emplace_back(s.dts, bytes);
    lastSecondBytes += bytes;
    while (lastSecond.front().first <= s.dts - kTicksPerSecond) {
        lastSecondBytes -= lastSecond.front().second;
        lastSecond.pop_front();
    }
    if (lastSecondBytes > summary.peakBytesPerSecond) {
        summary.peakBytesPerSecond = lastSecondBytes;
        summary.peakDts = s.dts;
    }
}

void SupChecker::State::CheckNewVersion(const char* what, unsigned id, std::int64_t dts,
                                        const std::map<unsigned, std::int64_t>& shownUntil,
                                        const ReadSet& set) {
    const auto it = shownUntil.find(id);
    // The set that shows the old version is being presented at its PTS: a new version
    // decoded at that very tick would be composed into it.
    if (it != shownUntil.end() && dts <= it->second) {
        Violation(set.pts, std::string(what) + " " + std::to_string(id) +
                               " gets a new version at " + Clock(dts) +
                               ", not after the set that shows its old one at " +
                               Clock(it->second));
    }
}

void SupChecker::State::NoteShown(const ReadSet& set) {
    if (set.state == kStateEpoch) {
        objectShownUntil.clear();
        paletteShownUntil.clear();
    }
    for (const Composition& c : set.compositions) {
        objectShownUntil[c.objectId] = set.pts;
    }
    if (!set.compositions.empty()) {
        paletteShownUntil[set.paletteId] = set.pts;
    }
}

SupCheckSummary CheckSupStream(std::string_view bytes, const SupCheckOptions& options) {
    SupChecker checker(options);
    checker.Feed(bytes);
    return checker.Finish();
}

std::string FormatViolation(const SupViolation& violation) {
    return "display set " + std::to_string(violation.set) + " at " + Clock(violation.pts) + ": " +
           violation.rule;
}

std::string InputPeakLine(const SupCheckSummary& summary) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f",
                  static_cast<double>(summary.peakBytesPerSecond) * 8 / 1e6);
    return std::string("input peak ") + rate + " Mbit/s within one second, at " +
           Clock(summary.peakDts) + " (DTS)";
}

std::string SummaryLine(const SupCheckSummary& summary) {
    return std::to_string(summary.sets) + " display sets, " + std::to_string(summary.epochs) +
           " epochs, " + std::to_string(summary.acquisitionPoints) + " acquisition points, " +
           std::to_string(summary.paletteOnly) + " palette-only sets, " +
           std::to_string(summary.violationCount) + " violations";
}

} // namespace pelldrin::pgs
