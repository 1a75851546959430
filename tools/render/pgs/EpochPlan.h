// Placement: which runs share an epoch, the epoch's fixed windows, and the object ids.
#pragma once

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
// object buffer; windows grow to cover the epoch's objects, at most two of them.
GroupPlan PlanEpochs(const std::vector<Run>& runs);

} // namespace pelldrin::pgs
