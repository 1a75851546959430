// Placement: which runs share an epoch, the epoch's fixed windows, and the object ids.
#pragma once

#include "pgs/PgsTypes.h"
#include "pgs/RunCoding.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelldrin::pgs {

struct EpochLayout {
    std::vector<Rect> windows; // one or two, never overlapping, fixed for the epoch
};

struct RunPlacement {
    std::size_t epoch = 0;           // index into GroupPlan::epochs
    std::vector<unsigned> objectIds; // per object of the run
    std::vector<unsigned> windowIds; // the window holding each object
};

struct GroupPlan {
    std::vector<EpochLayout> epochs;
    std::vector<RunPlacement> runs; // per run
    // The first epoch is the one the group before left open: its windows stay as they were.
    bool continues = false;
};

// The last epoch of a group that was cut short for memory: the next group carries on with it
// rather than start an epoch, which the decoder cannot fit between pictures shown back to back.
struct OpenEpoch {
    struct Id {
        int w = 0, h = 0;
        std::int64_t lastOut = -1; // where the last run that used the id ends
    };
    bool open = false;
    std::vector<Rect> windows;
    std::vector<Id> ids;
};

// Puts consecutive runs into one epoch while their objects find ids within the decoder's
// object buffer; windows grow to cover the epoch's objects, at most two of them. An id keeps
// its size for the epoch, so an object may be padded with transparent pixels to the size of
// an id that is free: the run's objects then grow. With carry open, the first runs join the
// open epoch where its windows and ids hold them. When leaveOpen, the last epoch's windows
// are widened up to half a frame's drawing, so that the next group can carry on with it, and
// carry says how it ends; otherwise carry is closed.
GroupPlan PlanEpochs(std::vector<Run>& runs, const StreamInfo& info, OpenEpoch& carry,
                     bool leaveOpen);

} // namespace pelldrin::pgs
