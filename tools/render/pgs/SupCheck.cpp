#include "pgs/SupCheck.h"

#include "pgs/DecoderModel.h"
#include "pgs/PgsPicture.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace pelldrin::pgs {

namespace {

constexpr std::uint8_t kPds = 0x14, kOds = 0x15, kPcs = 0x16, kWds = 0x17, kEnd = 0x80;
constexpr std::uint8_t kStateNormal = 0x00, kStateAcquisition = 0x40, kStateEpoch = 0x80;
constexpr std::size_t kHeaderBytes = 13;
constexpr std::size_t kKeptViolations = 1000;

struct Segment {
    std::uint8_t type = 0;
    std::int64_t pts = 0, dts = 0;
    std::string payload;
};

struct Composition {
    unsigned objectId = 0, windowId = 0;
    bool cropped = false;
    Rect place; // x, y of the object; w, h filled from its definition
    Rect crop;
};

struct ObjectDef {
    unsigned id = 0;
    int w = 0, h = 0;
    std::size_t length = 0; // announced data length, counting width and height
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
    std::vector<Rect> windows;
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

// Counts the pixels of each line of an object's code.
bool CodeFitsSize(const std::string& code, int w, int h) {
    int lines = 0;
    std::int64_t x = 0;
    std::size_t i = 0;
    while (i < code.size()) {
        if (code[i] != 0) { // one pixel per byte up to the next escape
            const std::size_t escape = std::min(code.find('\0', i), code.size());
            x += static_cast<std::int64_t>(escape - i);
            i = escape;
            continue;
        }
        if (i + 1 >= code.size()) {
            return false;
        }
        const unsigned flags = Get8(code, i + 1);
        if (flags == 0) {
            if (x != w) {
                return false;
            }
            ++lines;
            x = 0;
            i += 2;
            continue;
        }
        const bool isLong = (flags & 0x40) != 0, coloured = (flags & 0x80) != 0;
        const std::size_t size = 2 + (isLong ? 1 : 0) + (coloured ? 1 : 0);
        if (i + size > code.size()) {
            return false;
        }
        x += isLong ? ((flags & 0x3F) << 8) | Get8(code, i + 2) : (flags & 0x3F);
        i += size;
    }
    return lines == h && x == 0;
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
    std::string pending;
    std::vector<Segment> open; // segments of the set being read
    SupCheckSummary summary;
    // The epoch.
    std::vector<Rect> windows;
    std::map<unsigned, Rect> objects; // sizes by id
    std::int64_t objectBytes = 0;
    std::map<unsigned, unsigned> paletteVersions;
    std::vector<Composition> shown;
    // The stream.
    int planeW = 0, planeH = 0;
    std::int64_t prevPts = -1, prevDecodeEnd = 0;

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
};

SupChecker::SupChecker(bool checkCode) : state_(std::make_unique<State>()) {
    state_->checkCode = checkCode;
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
    shown = set.compositions;
}

bool SupChecker::State::ParseSet(ReadSet& set) {
    if (!ParseComposition(open.front(), set)) {
        return false;
    }
    for (std::size_t i = 1; i < open.size(); ++i) {
        const Segment& s = open[i];
        set.bytes += s.payload.size();
        if (s.dts > s.pts) {
            Violation(set.pts, "a segment's DTS comes after its PTS");
        }
        if (s.type == kWds) {
            ParseWindows(s, set);
        } else if (s.type == kPds && s.payload.size() >= 2 && s.payload.size() % 5 == 2) {
            set.palettes.emplace_back(Get8(s.payload, 0), Get8(s.payload, 1));
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
        set.objects.push_back(std::move(o));
    } else if (set.objects.empty() || set.objects.back().id != id || set.objects.back().complete) {
        Violation(set.pts, "an object continues without its first fragment");
        return;
    } else {
        set.objects.back().code += p.substr(4);
    }
    ObjectDef& o = set.objects.back();
    if (flags & 0x40) {
        o.complete = true;
        if (o.code.size() + 4 != o.length || (checkCode && !CodeFitsSize(o.code, o.w, o.h))) {
            Violation(set.pts, "object " + std::to_string(id) + "'s data does not decode to its " +
                                   std::to_string(o.w) + "x" + std::to_string(o.h) + " pixels");
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
    if (set.compositions.size() > kMaxSetObjects || set.windows.size() > kMaxWindows) {
        Violation(set.pts, "more than two objects or windows in a display set");
    }
    if (set.state == kStateEpoch) {
        windows = set.windows;
        objects.clear();
        objectBytes = 0;
        paletteVersions.clear();
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const Rect& w = windows[i];
            if (w.w <= 0 || w.h <= 0 || w.x + w.w > planeW || w.y + w.h > planeH) {
                Violation(set.pts, "window " + std::to_string(i) + " lies outside the plane");
            }
            if (i > 0 && w.Overlaps(windows[0])) {
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
    if (objects.size() > kMaxObjectIds) {
        Violation(set.pts, "more than 64 object ids in an epoch");
    }
    if (objectBytes > static_cast<std::int64_t>(kObjectBufferBytes)) {
        Violation(set.pts, "the epoch's objects outgrow the 4 MiB object buffer");
    }
    if (set.bytes > kSetBufferBytes) {
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
    if (paletteVersions.size() > kMaxPaletteIds) {
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
        Rect shownRect{c.place.x, c.place.y, it->second.w, it->second.h};
        if (c.cropped) {
            shownRect = {c.place.x, c.place.y, c.crop.w, c.crop.h};
            if (!Rect{0, 0, it->second.w, it->second.h}.Contains(c.crop)) {
                Violation(set.pts, "a crop lies outside its object");
            }
        }
        if (c.windowId >= windows.size() || !windows[c.windowId].Contains(shownRect)) {
            Violation(set.pts,
                      "object " + std::to_string(c.objectId) + " does not lie inside its window");
        }
    }
}

void SupChecker::State::CheckTiming(const ReadSet& set) {
    SetWork work;
    work.epochStart = set.state == kStateEpoch;
    work.paletteOnly = set.paletteOnly;
    work.planePixels = std::int64_t{planeW} * planeH;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const bool drawn = std::any_of(set.compositions.begin(), set.compositions.end(),
                                       [i](const Composition& c) { return c.windowId == i; });
        (drawn ? work.drawnWindows : work.emptyWindows).push_back(windows[i].Area());
    }
    for (const ObjectDef& o : set.objects) {
        work.decodedObjects.push_back(std::int64_t{o.w} * o.h);
    }
    const std::int64_t duration = DecodeDuration(work);
    if (set.pts <= prevPts) {
        Violation(set.pts, "the PTS does not increase");
    }
    if (set.dts > set.pts - duration) {
        Violation(set.pts, "decoding starts at " + std::to_string(set.dts) + " but needs " +
                               std::to_string(duration) + " ticks before the PTS");
    }
    if (set.pts - set.dts >= kMaxDecodeAhead) {
        Violation(set.pts, "decoding starts a second or more before the PTS");
    }
    const std::int64_t earliest = work.epochStart ? prevPts : prevDecodeEnd;
    if (set.dts < earliest) {
        Violation(set.pts, work.epochStart
                               ? "an epoch starts decoding before the previous set is shown"
                               : "decoding starts before the previous set is decoded");
    }
    prevPts = set.pts;
    prevDecodeEnd = set.dts + duration;
}

SupCheckSummary CheckSupStream(std::string_view bytes) {
    SupChecker checker;
    checker.Feed(bytes);
    return checker.Finish();
}

std::string FormatViolation(const SupViolation& violation) {
    return "display set " + std::to_string(violation.set) + " at " + Clock(violation.pts) + ": " +
           violation.rule;
}

std::string SummaryLine(const SupCheckSummary& summary) {
    return std::to_string(summary.sets) + " display sets, " + std::to_string(summary.epochs) +
           " epochs, " + std::to_string(summary.acquisitionPoints) + " acquisition points, " +
           std::to_string(summary.paletteOnly) + " palette-only sets, " +
           std::to_string(summary.violationCount) + " violations";
}

} // namespace pelldrin::pgs
