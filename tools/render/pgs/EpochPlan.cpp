#include "pgs/EpochPlan.h"

#include "pgs/DecoderModel.h"

#include <limits>

namespace pelldrin::pgs {

namespace {

struct IdTable {
    std::vector<Rect> sizes; // by id: only w and h count
    std::int64_t bytes = 0;
};

// An id of the object's size that the run does not use yet, or a new one; false when the
// epoch has no room for it.
bool TakeId(IdTable& ids, const Rect& area, const std::vector<unsigned>& taken, unsigned& id) {
    for (std::size_t i = 0; i < ids.sizes.size(); ++i) {
        const bool free = taken.empty() || taken[0] != i;
        if (free && ids.sizes[i].w == area.w && ids.sizes[i].h == area.h) {
            id = static_cast<unsigned>(i);
            return true;
        }
    }
    if (ids.sizes.size() >= kMaxObjectIds ||
        ids.bytes + area.Area() > static_cast<std::int64_t>(kObjectBufferBytes)) {
        return false;
    }
    id = static_cast<unsigned>(ids.sizes.size());
    ids.sizes.push_back(area);
    ids.bytes += area.Area();
    return true;
}

bool TakeIds(IdTable& ids, const Run& run, std::vector<unsigned>& out) {
    IdTable trial = ids;
    out.clear();
    for (const PictureObject& o : run.objects) {
        unsigned id = 0;
        if (!TakeId(trial, o.area, out, id)) {
            return false;
        }
        out.push_back(id);
    }
    ids = std::move(trial);
    return true;
}

// Grows the window that takes the area at the least cost, or opens a second one; when
// neither keeps the windows apart, one window covers everything.
void Cover(std::vector<Rect>& windows, const Rect& area) {
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    int choice = -2; // -1: a new window
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Rect grown = Union(windows[i], area);
        const bool apart = windows.size() < 2 || !grown.Overlaps(windows[1 - i]);
        if (apart && grown.Area() - windows[i].Area() < best) {
            best = grown.Area() - windows[i].Area();
            choice = static_cast<int>(i);
        }
    }
    const bool separate =
        windows.size() < kMaxWindows && (windows.empty() || !windows[0].Overlaps(area));
    if (separate && area.Area() < best) {
        windows.push_back(area);
    } else if (choice >= 0) {
        windows[static_cast<std::size_t>(choice)] =
            Union(windows[static_cast<std::size_t>(choice)], area);
    } else {
        Rect all = area;
        for (const Rect& w : windows) {
            all = Union(all, w);
        }
        windows = {all};
    }
}

// Gives the runs [begin, end), those of the epoch, the windows that hold their objects.
void AssignWindows(const std::vector<Run>& runs, GroupPlan& plan, std::size_t epoch,
                   std::size_t begin, std::size_t end) {
    const std::vector<Rect>& windows = plan.epochs[epoch].windows;
    for (std::size_t r = begin; r < end; ++r) {
        RunPlacement& placement = plan.runs[r];
        placement.windowIds.clear();
        for (const PictureObject& o : runs[r].objects) {
            unsigned id = 0;
            while (!windows[id].Contains(o.area)) {
                ++id;
            }
            placement.windowIds.push_back(id);
        }
    }
}

} // namespace

GroupPlan PlanEpochs(const std::vector<Run>& runs) {
    GroupPlan plan;
    plan.runs.resize(runs.size());
    IdTable ids;
    std::size_t epochStart = 0; // the first run of the open epoch
    for (std::size_t r = 0; r < runs.size(); ++r) {
        RunPlacement& placement = plan.runs[r];
        if (plan.epochs.empty() || !TakeIds(ids, runs[r], placement.objectIds)) {
            if (!plan.epochs.empty()) {
                AssignWindows(runs, plan, plan.epochs.size() - 1, epochStart, r);
            }
            epochStart = r;
            plan.epochs.emplace_back();
            ids = IdTable{};
            TakeIds(ids, runs[r], placement.objectIds); // a run alone always fits
        }
        placement.epoch = plan.epochs.size() - 1;
        for (const PictureObject& o : runs[r].objects) {
            Cover(plan.epochs.back().windows, o.area);
        }
    }
    if (!plan.epochs.empty()) {
        AssignWindows(runs, plan, plan.epochs.size() - 1, epochStart, runs.size());
    }
    return plan;
}

} // namespace pelldrin::pgs
