#include "pgs/DisplaySchedule.h"

#include "pgs/ObjectRle.h"

#include <algorithm>
#include <limits>

namespace pelldrin::pgs {

struct DisplayScheduler::Slot {
    const Picture* picture = nullptr;
    const Run* run = nullptr;
    const RunPlacement* placement = nullptr;
    const EpochLayout* layout = nullptr;
    std::size_t runIndex = 0, member = 0;
    std::size_t epochKey = 0, runKey = 0;
    bool newEpoch = false, paletteOnly = false;
    DisplaySetOut set;            // all but its times and versions
    std::int64_t duration = 0;    // from DTS to PTS at least
    std::int64_t decodeTicks = 0; // of its objects, one after another
    std::int64_t freeFrom = 0;    // the ids it gives new versions are no longer shown
    std::size_t inputBytes = 0;
    // Where the pictures shown back to back from this one end: unless a later one of them
    // is written, a set that empties the windows comes there.
    std::int64_t clearFrame = 0;
};

namespace {

std::vector<std::int64_t> Areas(const std::vector<Rect>& rects) {
    std::vector<std::int64_t> areas;
    for (const Rect& r : rects) {
        areas.push_back(r.Area());
    }
    return areas;
}

// A set with the windows and nothing in them.
std::int64_t ClearDuration(const std::vector<Rect>& windows) {
    SetWork work;
    work.windows = Areas(windows);
    return DecodeDuration(work);
}

} // namespace

DisplayScheduler::DisplayScheduler(const StreamInfo& info, Sink sink)
    : info_(info), sink_(std::move(sink)), frameTicks_(kClock * info.rateDen / info.rateNum),
      maxLead_(MaxDecodeLead(std::int64_t{info.width} * info.height)) {}

std::int64_t DisplayScheduler::Pts(std::int64_t frame) const {
    return FramePts(frame, info_.rateNum, info_.rateDen);
}

void DisplayScheduler::Schedule(const std::vector<Picture>& pictures, const std::vector<Run>& runs,
                                const GroupPlan& plan, bool nextAbuts,
                                const EventContext& context) {
    const std::size_t epochBase = nextKey_;
    const std::size_t runBase = epochBase + plan.epochs.size();
    nextKey_ = runBase + runs.size();
    const std::size_t lastEpochKey =
        plan.continues && plan.epochs.size() == 1 ? openEpochKey_ : runBase - 1;
    codes_.assign(runs.size(), {});
    std::vector<std::int64_t> chainEnds(pictures.size());
    for (std::size_t i = pictures.size(); i-- > 0;) {
        const bool abuts =
            i + 1 < pictures.size() && pictures[i + 1].inFrame == pictures[i].outFrame;
        chainEnds[i] = abuts ? chainEnds[i + 1] : pictures[i].outFrame;
    }
    for (std::size_t r = 0; r < runs.size(); ++r) {
        Slot slot;
        slot.run = &runs[r];
        slot.runIndex = r;
        slot.placement = &plan.runs[r];
        slot.layout = &plan.epochs[slot.placement->epoch];
        slot.epochKey = plan.continues && slot.placement->epoch == 0
                            ? openEpochKey_
                            : epochBase + slot.placement->epoch;
        slot.runKey = runBase + r;
        for (slot.member = 0; slot.member < runs[r].count; ++slot.member) {
            const std::size_t i = runs[r].first + slot.member;
            slot.picture = &pictures[i];
            slot.clearFrame = chainEnds[i];
            Prepare(slot, context);
            if (report_.pictures++ == 0) {
                report_.firstFrame = slot.picture->inFrame;
            }
            std::int64_t frame = 0, dts = 0;
            if (Place(slot, frame, dts)) {
                WritePicture(slot, Pts(frame), dts);
                if (frame == slot.picture->inFrame) {
                    ++report_.onTime;
                } else {
                    report_.late.push_back({slot.picture->inFrame, frame});
                }
            } else {
                report_.leftOutFrames.push_back(slot.picture->inFrame);
            }
            const bool abuts = i + 1 < pictures.size()
                                   ? pictures[i + 1].inFrame == pictures[i].outFrame
                                   : nextAbuts;
            if (!abuts && showing_) {
                WriteClear(pictures[i].outFrame);
            }
        }
    }
    openEpochKey_ = lastEpochKey;
}

// The slot's set, what it asks of the decoder, and from when its ids are free.
void DisplayScheduler::Prepare(Slot& slot, const EventContext& context) {
    slot.newEpoch = slot.epochKey != epochKey_;
    slot.paletteOnly = !slot.newEpoch && showing_ && runKey_ == slot.runKey;
    DisplaySetOut& set = slot.set;
    set = DisplaySetOut{};
    set.planeWidth = info_.width;
    set.planeHeight = info_.height;
    set.state = slot.newEpoch ? kEpochStart : slot.paletteOnly ? kNormal : kAcquisitionPoint;
    set.paletteOnly = slot.paletteOnly;
    // A new picture takes the palette id that was shown longest ago, so that it can be
    // decoded while the one on screen waits.
    set.paletteId = slot.newEpoch ? 0 : slot.paletteOnly ? paletteId_ : FreestPalette();
    set.palette = &slot.run->palettes[slot.member];
    const std::vector<Rect>& windows = slot.layout->windows;
    if (!slot.paletteOnly) {
        set.windows = windows;
    }
    const std::vector<PictureObject>& objects = slot.run->objects;
    SetWork work;
    work.epochStart = slot.newEpoch;
    work.planePixels = std::int64_t{info_.width} * info_.height;
    work.windows = Areas(windows);
    slot.decodeTicks = 0;
    std::vector<std::string>& codes = codes_[slot.runIndex];
    while (!slot.paletteOnly && codes.size() < objects.size()) {
        codes.push_back(EncodeObject(objects[codes.size()]));
    }
    std::size_t bytes = kSetOverheadBytes;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const unsigned id = slot.placement->objectIds[k];
        set.compositions.push_back({id, slot.placement->windowIds[k], slot.picture->forced,
                                    objects[k].area.x, objects[k].area.y});
        work.shown.push_back(
            {slot.placement->windowIds[k], slot.paletteOnly ? 0 : objects[k].area.Area()});
        if (slot.paletteOnly) {
            continue;
        }
        bytes += ObjectPayloadBytes(codes[k].size());
        set.objects.push_back({id, 0, objects[k].area.w, objects[k].area.h, &codes[k]});
        slot.decodeTicks += DecodeTicks(objects[k].area.Area());
    }
    if (bytes > kSetBufferBytes) {
        EventContext at = context;
        at.number = slot.picture->eventNumber;
        FailEvent(at, slot.picture->inFrame,
                  "its images need " + std::to_string(bytes) +
                      " bytes of coded data, more than the decoder's buffer of " +
                      std::to_string(kSetBufferBytes));
    }
    slot.duration = DecodeDuration(work);
    slot.inputBytes = SetInputBytes(set);
    // An epoch start begins after the set before is shown; otherwise the ids the set defines
    // must no longer be on screen or waiting to be shown: their new versions are decoded
    // after the last set that shows the old ones is presented, not at that very tick.
    slot.freeFrom = lastPts_ + 1;
    if (!slot.newEpoch) {
        slot.freeFrom = paletteShownUntil_[set.paletteId] + 1;
        for (const ObjectOut& o : set.objects) {
            slot.freeFrom = std::max(slot.freeFrom, objectShownUntil_[o.id] + 1);
        }
    }
}

unsigned DisplayScheduler::FreestPalette() const {
    unsigned best = paletteId_ == 0 ? 1 : 0;
    for (unsigned id = 0; id < paletteShownUntil_.size(); ++id) {
        if (id != paletteId_ && paletteShownUntil_[id] < paletteShownUntil_[best]) {
            best = id;
        }
    }
    return best;
}

// The first frame of the picture's own span at which its set can be decoded in time and still
// leave time to take it away at its end; its DTS is as early as the decoder allows.
bool DisplayScheduler::Place(const Slot& slot, std::int64_t& frame, std::int64_t& dts) const {
    if (slot.duration >= kMaxDecodeAhead) {
        return false;
    }
    const std::int64_t earliest =
        std::max({lastDts_, slot.freeFrom,
                  input_.EarliestFor(static_cast<std::int64_t>(slot.inputBytes)), std::int64_t{0}});
    std::int64_t target = std::max(earliest + slot.duration, lastPts_ + 1);
    if (lastPts_ >= 0) {
        // A set with windows draws them after the set before is shown; palette updates come
        // a frame apart.
        target = std::max(target, slot.paletteOnly
                                      ? lastPts_ + frameTicks_
                                      : lastPts_ + WindowsTicks(Areas(slot.layout->windows)) + 1);
    }
    std::int64_t f = target * info_.rateNum / (kClock * info_.rateDen);
    while (Pts(f) < target) {
        ++f;
    }
    frame = std::max(f, slot.picture->inFrame);
    if (frame >= slot.picture->outFrame) {
        return false;
    }
    const std::int64_t pts = Pts(frame);
    dts = std::max(earliest, pts - kMaxDecodeAhead + 1);
    if (!slot.paletteOnly) {
        dts = std::max(dts, pts - WindowsTicks(Areas(slot.layout->windows)) - maxLead_);
    }
    return dts + slot.duration <= pts && ClearFits(pts, dts, slot);
}

// Whether a set that empties the windows can follow where the pictures shown back to back
// end.
bool DisplayScheduler::ClearFits(std::int64_t pts, std::int64_t dts, const Slot& slot) const {
    const std::vector<Rect>& windows = slot.layout->windows;
    const std::int64_t out = Pts(slot.clearFrame);
    if (out - WindowsTicks(Areas(windows)) <= pts) {
        return false;
    }
    InputBudget input = input_;
    input.Take(dts, slot.inputBytes);
    DisplaySetOut clear;
    clear.windows = windows;
    const std::int64_t clearDts =
        std::max({dts + slot.decodeTicks, out - WindowsTicks(Areas(windows)) - maxLead_,
                  input.EarliestFor(static_cast<std::int64_t>(SetInputBytes(clear)))});
    return clearDts + ClearDuration(windows) <= out;
}

void DisplayScheduler::WritePicture(Slot& slot, std::int64_t pts, std::int64_t dts) {
    DisplaySetOut& set = slot.set;
    if (slot.newEpoch) {
        epochKey_ = slot.epochKey;
        windows_ = slot.layout->windows;
        paletteVersions_.assign(kMaxPaletteIds, -1);
        objectVersions_.assign(kMaxObjectIds, -1);
        paletteShownUntil_.assign(kMaxPaletteIds, -1);
        objectShownUntil_.assign(kMaxObjectIds, -1);
    }
    paletteId_ = set.paletteId;
    int& paletteVersion = paletteVersions_[paletteId_];
    paletteVersion = (paletteVersion + 1) & 0xFF;
    set.paletteVersion = static_cast<unsigned>(paletteVersion);
    for (ObjectOut& o : set.objects) {
        int& version = objectVersions_[o.id];
        version = (version + 1) & 0xFF;
        o.version = static_cast<unsigned>(version);
    }
    set.pts = pts;
    set.dts = dts;
    set.compositionNumber = compositionNumber_++;
    Emit(set);
    paletteShownUntil_[paletteId_] = pts;
    for (const CompositionOut& c : set.compositions) {
        objectShownUntil_[c.objectId] = pts;
    }
    showing_ = true;
    runKey_ = slot.runKey;
}

void DisplayScheduler::WriteClear(std::int64_t frame) {
    DisplaySetOut set;
    set.pts = Pts(frame);
    set.planeWidth = info_.width;
    set.planeHeight = info_.height;
    set.compositionNumber = compositionNumber_++;
    set.state = kNormal;
    set.paletteId = paletteId_;
    set.windows = windows_;
    set.dts = std::max({lastDts_, set.pts - WindowsTicks(Areas(windows_)) - maxLead_,
                        input_.EarliestFor(static_cast<std::int64_t>(SetInputBytes(set)))});
    Emit(set);
    showing_ = false;
    runKey_ = 0;
}

// Writes the set's segments and follows what they take from the decoder's input buffer.
void DisplayScheduler::Emit(const DisplaySetOut& set) {
    scratch_.clear();
    WriteDisplaySet(set, scratch_);
    for (std::size_t at = 0; at + 13 <= scratch_.size();) {
        const auto byte = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<std::uint8_t>(scratch_[at + i]));
        };
        const std::int64_t dts = (byte(6) << 24) | (byte(7) << 16) | (byte(8) << 8) | byte(9);
        const std::size_t size = (byte(11) << 8) | byte(12);
        input_.Take(dts, size);
        lastDts_ = std::max(lastDts_, dts);
        at += 13 + size;
    }
    lastPts_ = set.pts;
    sink_(scratch_);
}

} // namespace pelldrin::pgs
