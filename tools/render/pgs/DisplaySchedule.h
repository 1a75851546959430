// Timing: turns planned runs into display sets whose DTS and PTS follow the decoder model,
// leaving out pictures the decoder cannot draw in time.
#pragma once

#include "pgs/DecoderModel.h"
#include "pgs/EpochPlan.h"
#include "pgs/SupInput.h"
#include "pgs/SupSegments.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::pgs {

class DisplayScheduler {
  public:
    using Sink = std::function<void(std::string_view)>;
    // The display sets' bytes go to the sink in stream order.
    DisplayScheduler(const StreamInfo& info, Sink sink);

    // Writes a group of pictures. nextAbuts: the next group begins where this one ends, so
    // its last picture is replaced rather than taken away. A plan that continues carries on
    // with the last epoch of the group before.
    void Schedule(const std::vector<Picture>& pictures, const std::vector<Run>& runs,
                  const GroupPlan& plan, bool nextAbuts, const EventContext& context);
    // The pictures shown on time, late or left out so far.
    const SupReport& Report() const { return report_; }

  private:
    struct Slot;
    void Prepare(Slot& slot, const EventContext& context);
    bool Place(const Slot& slot, std::int64_t& frame, std::int64_t& dts) const;
    bool ClearFits(std::int64_t pts, std::int64_t dts, const Slot& slot) const;
    void WritePicture(Slot& slot, std::int64_t pts, std::int64_t dts);
    void WriteClear(std::int64_t frame);
    void Emit(const DisplaySetOut& set);
    unsigned FreestPalette() const;
    std::int64_t Pts(std::int64_t frame) const;

    StreamInfo info_;
    Sink sink_;
    SupReport report_;
    std::int64_t frameTicks_ = 0;
    std::int64_t maxLead_ = 0; // the most a set with windows decodes before they are drawn
    // The stream so far: the last set's PTS and the DTS of its last segment.
    std::int64_t lastPts_ = -1, lastDts_ = -1;
    InputBudget input_;
    unsigned compositionNumber_ = 0;
    std::size_t epochKey_ = 0, runKey_ = 0, nextKey_ = 1; // 0: none
    std::size_t openEpochKey_ = 0; // the last epoch of the last group, which the next may continue
    std::vector<Rect> windows_;
    bool showing_ = false;
    unsigned paletteId_ = 0;
    // Per id of the epoch: its version, and the PTS of the last set that shows it (a new
    // version may be decoded only from then on).
    std::vector<int> paletteVersions_, objectVersions_;
    std::vector<std::int64_t> paletteShownUntil_, objectShownUntil_;
    // The current group's run codes, made when a run is first written whole.
    std::vector<std::vector<std::string>> codes_;
    std::string scratch_;
};

} // namespace pelldrin::pgs
