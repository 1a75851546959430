// Placement: which runs share an epoch, the epoch's fixed windows, and the object ids.
#pragma once

#include "pgs/PgsTypes.h"
#include "pgs/RunCoding.h"

#include <cstddef>
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
};

// Puts consecutive runs into one epoch while their objects find ids within the decoder's
// object buffer; windows grow to cover the epoch's objects, at most two of them. An id keeps
// its size for the epoch, so an object may be padded with transparent pixels to the size of
// an id that is free: the run's objects then grow.
GroupPlan PlanEpochs(std::vector<Run>& runs, const StreamInfo& info);

} // namespace pelldrin::pgs
