#include "pgs/DisplaySchedule.h"

#include "pgs/DecoderModel.h"
#include "pgs/ObjectRle.h"

#include <algorithm>

namespace pelldrin::pgs {

struct DisplayScheduler::Slot {
    const Picture* picture = nullptr;
    const Run* run = nullptr;
    const RunPlacement* placement = nullptr;
    const EpochLayout* layout = nullptr;
    std::size_t runIndex = 0, member = 0;
    std::size_t epochKey = 0, runKey = 0;
    bool newEpoch = false, paletteOnly = false;
    std::int64_t duration = 0;
};

namespace {

// Window areas drawn (holding an object of the set) and left empty.
void SplitWindows(const std::vector<Rect>& windows, const std::vector<unsigned>& used,
                  SetWork& work) {
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const bool drawn = std::find(used.begin(), used.end(), i) != used.end();
        (drawn ? work.drawnWindows : work.emptyWindows).push_back(windows[i].Area());
    }
}

} // namespace

DisplayScheduler::DisplayScheduler(const StreamInfo& info, Sink sink)
    : info_(info), sink_(std::move(sink)) {}

std::int64_t DisplayScheduler::Pts(std::int64_t frame) const {
    return FramePts(frame, info_.rateNum, info_.rateDen);
}

std::int64_t DisplayScheduler::ClearTicks() const {
    SetWork work;
    work.planePixels = std::int64_t{info_.width} * info_.height;
    SplitWindows(windows_, {}, work);
    return DecodeDuration(work);
}

void DisplayScheduler::Schedule(const std::vector<Picture>& pictures, const std::vector<Run>& runs,
                                const GroupPlan& plan, bool nextAbuts,
                                const EventContext& context) {
    const std::size_t epochBase = nextKey_;
    const std::size_t runBase = epochBase + plan.epochs.size();
    nextKey_ = runBase + runs.size();
    codes_.assign(runs.size(), {});
    for (std::size_t r = 0; r < runs.size(); ++r) {
        Slot slot;
        slot.run = &runs[r];
        slot.runIndex = r;
        slot.placement = &plan.runs[r];
        slot.layout = &plan.epochs[slot.placement->epoch];
        slot.epochKey = epochBase + slot.placement->epoch;
        slot.runKey = runBase + r;
        for (slot.member = 0; slot.member < runs[r].count; ++slot.member) {
            const std::size_t i = runs[r].first + slot.member;
            slot.picture = &pictures[i];
            slot.newEpoch = slot.epochKey != epochKey_;
            slot.paletteOnly = !slot.newEpoch && showing_ && runKey_ == slot.runKey;
            SetWork work;
            work.epochStart = slot.newEpoch;
            work.paletteOnly = slot.paletteOnly;
            work.planePixels = std::int64_t{info_.width} * info_.height;
            SplitWindows(slot.layout->windows, slot.placement->windowIds, work);
            for (std::size_t k = 0; !slot.paletteOnly && k < runs[r].objects.size(); ++k) {
                work.decodedObjects.push_back(runs[r].objects[k].area.Area());
            }
            slot.duration = DecodeDuration(work);

            ++report_.pictures;
            std::int64_t frame = 0, dts = 0;
            if (Place(slot, frame, dts)) {
                WritePicture(slot, Pts(frame), dts, context);
                if (frame == slot.picture->inFrame) {
                    ++report_.onTime;
                } else {
                    report_.lateFrames.push_back(slot.picture->inFrame);
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
}

// The first frame of the picture's own span at which its set can be decoded in time and still
// leave time to take it away at its end.
bool DisplayScheduler::Place(const Slot& slot, std::int64_t& frame, std::int64_t& dts) const {
    const std::int64_t earliest =
        slot.newEpoch ? std::max({lastPts_, decodeEnd_, std::int64_t{0}}) : decodeEnd_;
    const std::int64_t target = std::max(earliest + slot.duration, lastPts_ + 1);
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
    if (dts + slot.duration > pts) {
        return false;
    }
    SetWork clear;
    clear.planePixels = std::int64_t{info_.width} * info_.height;
    SplitWindows(slot.layout->windows, {}, clear);
    const std::int64_t out = Pts(slot.picture->outFrame);
    const std::int64_t clearDts = std::max(dts + slot.duration, out - kMaxDecodeAhead + 1);
    return clearDts + DecodeDuration(clear) <= out;
}

void DisplayScheduler::WritePicture(const Slot& slot, std::int64_t pts, std::int64_t dts,
                                    const EventContext& context) {
    DisplaySetOut set;
    set.state = slot.paletteOnly ? kNormal : kAcquisitionPoint;
    if (slot.newEpoch) {
        set.state = kEpochStart;
        epochKey_ = slot.epochKey;
        windows_ = slot.layout->windows;
        paletteVersions_.assign(kMaxPaletteIds, -1);
        objectVersions_.assign(kMaxObjectIds, -1);
        paletteId_ = 0;
    } else if (!slot.paletteOnly) {
        paletteId_ ^= 1; // the palette on screen stays as it is until this set is shown
    }
    int& paletteVersion = paletteVersions_[paletteId_];
    paletteVersion = (paletteVersion + 1) & 0xFF;
    set.pts = pts;
    set.dts = dts;
    set.planeWidth = info_.width;
    set.planeHeight = info_.height;
    set.compositionNumber = compositionNumber_++;
    set.paletteOnly = slot.paletteOnly;
    set.paletteId = paletteId_;
    set.paletteVersion = static_cast<unsigned>(paletteVersion);
    set.palette = &slot.run->palettes[slot.member];
    if (!slot.paletteOnly) {
        set.windows = windows_;
    }
    const std::vector<PictureObject>& objects = slot.run->objects;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        set.compositions.push_back({slot.placement->objectIds[k], slot.placement->windowIds[k],
                                    slot.picture->forced, objects[k].area.x, objects[k].area.y});
    }
    if (!slot.paletteOnly) {
        std::vector<std::string>& codes = codes_[slot.runIndex];
        std::size_t bytes = kSetOverheadBytes;
        while (codes.size() < objects.size()) {
            codes.push_back(EncodeObject(objects[codes.size()]));
        }
        for (std::size_t k = 0; k < objects.size(); ++k) {
            bytes += ObjectPayloadBytes(codes[k].size());
            int& version = objectVersions_[slot.placement->objectIds[k]];
            version = (version + 1) & 0xFF;
            set.objects.push_back({slot.placement->objectIds[k], static_cast<unsigned>(version),
                                   objects[k].area.w, objects[k].area.h, &codes[k]});
        }
        if (bytes > kSetBufferBytes) {
            EventContext at = context;
            at.number = slot.picture->eventNumber;
            FailEvent(at, slot.picture->inFrame,
                      "its images need " + std::to_string(bytes) +
                          " bytes of coded data, more than the decoder's buffer of " +
                          std::to_string(kSetBufferBytes));
        }
    }
    sink_(set);
    lastPts_ = pts;
    decodeEnd_ = dts + slot.duration;
    showing_ = true;
    runKey_ = slot.runKey;
}

void DisplayScheduler::WriteClear(std::int64_t frame) {
    DisplaySetOut set;
    set.pts = Pts(frame);
    set.dts = std::max(decodeEnd_, set.pts - kMaxDecodeAhead + 1);
    set.planeWidth = info_.width;
    set.planeHeight = info_.height;
    set.compositionNumber = compositionNumber_++;
    set.state = kNormal;
    set.paletteId = paletteId_;
    set.windows = windows_;
    sink_(set);
    lastPts_ = set.pts;
    decodeEnd_ = set.dts + ClearTicks();
    showing_ = false;
    runKey_ = 0;
}

} // namespace pelldrin::pgs
