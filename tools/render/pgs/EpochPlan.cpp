#include "pgs/EpochPlan.h"

#include "pgs/DecoderModel.h"

#include <algorithm>
#include <limits>

namespace pelldrin::pgs {

namespace {

// A new id's size is rounded up to these steps, so that later objects of about the same size
// fit it too.
constexpr int kWidthStep = 16, kHeightStep = 8;
// An object takes an id up to this much larger than itself while new ids can be made.
constexpr std::int64_t kSlackNum = 3, kSlackDen = 2;
// An id whose last run ended this many frames before a run is free for it: the run's set can
// be decoded while the sets before it wait to be shown.
constexpr std::int64_t kAheadFrames = 2;

// Steps by which a window left open widens.
constexpr int kWidenX = 16, kWidenY = 8;

using IdSlot = OpenEpoch::Id;

struct IdTable {
    std::vector<IdSlot> ids;
    std::int64_t bytes = 0;
};

struct Choice {
    unsigned id = 0;
    Rect area; // the object's area grown to the id's size
};

std::int64_t Ticks(const std::vector<Rect>& windows) {
    std::vector<std::int64_t> areas;
    for (const Rect& r : windows) {
        areas.push_back(r.Area());
    }
    return WindowsTicks(areas);
}

// Where an object grows to a size: inside one of the windows if it can, else from one of its
// corners; always on the plane and off the run's other objects. False when it cannot.
bool GrowTo(const Rect& area, int w, int h, const StreamInfo& info,
            const std::vector<Rect>& windows, const std::vector<Choice>& others, Rect& grown) {
    if (w > info.width || h > info.height) {
        return false;
    }
    const auto fits = [&](const Rect& r) {
        return r.Contains(area) && std::none_of(others.begin(), others.end(), [&](const Choice& c) {
                   return c.area.Overlaps(r);
               });
    };
    for (const Rect& window : windows) {
        if (window.w >= w && window.h >= h) {
            grown = {std::clamp(area.x, window.x, window.x + window.w - w),
                     std::clamp(area.y, window.y, window.y + window.h - h), w, h};
            if (fits(grown)) {
                return true;
            }
        }
    }
    for (const bool right : {false, true}) {
        for (const bool bottom : {false, true}) {
            grown = {std::clamp(right ? area.x + area.w - w : area.x, 0, info.width - w),
                     std::clamp(bottom ? area.y + area.h - h : area.y, 0, info.height - h), w, h};
            if (fits(grown)) {
                return true;
            }
        }
    }
    return false;
}

int RoundUp(int v, int step, int limit) {
    return std::min(limit, (v + step - 1) / step * step);
}

struct Planner {
    const StreamInfo& info;
    std::int64_t frameTicks = 0;

    // An id for an object of a run: one of its size, or a little larger, free since a few
    // frames before the run (so that the run can be decoded ahead); else a new id; else, with
    // the buffer full, the id the object fits that was used longest ago. False when the epoch
    // has no room for it.
    bool TakeId(IdTable& table, const Rect& area, const Run& run, const std::vector<Rect>& windows,
                std::vector<Choice>& chosen) const {
        const auto pick = [&](bool full) {
            int best = -1;
            Rect bestRect;
            for (std::size_t i = 0; i < table.ids.size(); ++i) {
                const IdSlot& slot = table.ids[i];
                const std::int64_t slotArea = std::int64_t{slot.w} * slot.h;
                Rect grown;
                const bool taken = std::any_of(chosen.begin(), chosen.end(),
                                               [i](const Choice& c) { return c.id == i; });
                if (taken || slot.w < area.w || slot.h < area.h ||
                    (!full && (slot.lastOut > run.inFrame - kAheadFrames ||
                               slotArea * kSlackDen > area.Area() * kSlackNum)) ||
                    !GrowTo(area, slot.w, slot.h, info, windows, chosen, grown)) {
                    continue;
                }
                const IdSlot* b = best < 0 ? nullptr : &table.ids[static_cast<std::size_t>(best)];
                const bool better =
                    b == nullptr || (full ? slot.lastOut < b->lastOut
                                          : slotArea < std::int64_t{b->w} * b->h ||
                                                (slotArea == std::int64_t{b->w} * b->h &&
                                                 slot.lastOut < b->lastOut));
                if (better) {
                    best = static_cast<int>(i);
                    bestRect = grown;
                }
            }
            if (best >= 0) {
                chosen.push_back({static_cast<unsigned>(best), bestRect});
            }
            return best >= 0;
        };
        if (pick(false)) {
            return true;
        }
        if (table.ids.size() < kMaxObjectIds) {
            Rect grown;
            if (!GrowTo(area, RoundUp(area.w, kWidthStep, info.width),
                        RoundUp(area.h, kHeightStep, info.height), info, windows, chosen, grown) ||
                table.bytes + grown.Area() > static_cast<std::int64_t>(kObjectBufferBytes)) {
                grown = area;
            }
            if (table.bytes + grown.Area() <= static_cast<std::int64_t>(kObjectBufferBytes)) {
                chosen.push_back({static_cast<unsigned>(table.ids.size()), grown});
                table.ids.push_back({grown.w, grown.h, -1});
                table.bytes += grown.Area();
                return true;
            }
        }
        return pick(true);
    }

    // Ids for every object of the run, into table and chosen; false when the epoch has no
    // room for them.
    bool ChooseIds(IdTable& table, const Run& run, const std::vector<Rect>& windows,
                   std::vector<Choice>& chosen) const {
        chosen.clear();
        for (const PictureObject& o : run.objects) {
            if (!TakeId(table, o.area, run, windows, chosen)) {
                return false;
            }
        }
        for (const Choice& c : chosen) {
            table.ids[c.id].lastOut = run.outFrame;
        }
        return true;
    }
};

// Grows the run's objects to their ids' sizes: their rows move into the grown areas, the rest
// is transparent.
void ApplyIds(Run& run, const std::vector<Choice>& chosen, std::vector<unsigned>& ids) {
    ids.clear();
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        ids.push_back(chosen[k].id);
        PictureObject& o = run.objects[k];
        if (chosen[k].area == o.area) {
            continue;
        }
        PictureObject grown{
            chosen[k].area,
            std::vector<std::uint8_t>(static_cast<std::size_t>(chosen[k].area.Area()), 0)};
        for (int y = 0; y < o.area.h; ++y) {
            std::copy_n(o.indices.data() + static_cast<std::size_t>(y) * o.area.w, o.area.w,
                        grown.indices.data() +
                            static_cast<std::size_t>(o.area.y - grown.area.y + y) * grown.area.w +
                            (o.area.x - grown.area.x));
        }
        o = std::move(grown);
    }
}

// Makes room for an area in at most two windows that never overlap: it grows a window, opens
// a second one, or the two join and it takes the second, whichever covers the least.
void Cover(std::vector<Rect>& windows, const Rect& area) {
    if (std::any_of(windows.begin(), windows.end(),
                    [&](const Rect& w) { return w.Contains(area); })) {
        return;
    }
    std::vector<std::vector<Rect>> options;
    if (windows.size() < kMaxWindows) {
        options.push_back(windows);
        options.back().push_back(area);
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
        options.push_back(windows);
        options.back()[i] = Union(windows[i], area);
    }
    if (windows.size() == 2) {
        options.push_back({Union(windows[0], windows[1]), area});
    }
    Rect all = area;
    for (const Rect& w : windows) {
        all = Union(all, w);
    }
    std::vector<Rect> best{all};
    std::int64_t bestArea = all.Area();
    for (const std::vector<Rect>& o : options) {
        const bool apart = o.size() < 2 || !o[0].Overlaps(o[1]);
        const std::int64_t covered = o.size() < 2 ? o[0].Area() : o[0].Area() + o[1].Area();
        if (apart && covered < bestArea) {
            best = o;
            bestArea = covered;
        }
    }
    windows = std::move(best);
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

// Widens the windows, each in turn a step in each direction, while they stay on the plane,
// apart, and drawn within the limit: later objects of the epoch then find room in them.
void Widen(std::vector<Rect>& windows, const StreamInfo& info, std::int64_t limitTicks) {
    if (Ticks(windows) >= limitTicks) {
        return;
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            for (int side = 0; side < 4; ++side) {
                Rect r = windows[i];
                const int x1 = r.x + r.w, y1 = r.y + r.h;
                switch (side) {
                case 0:
                    r.x = std::max(0, r.x - kWidenX);
                    break;
                case 1:
                    r.y = std::max(0, r.y - kWidenY);
                    break;
                case 2:
                    r.w = std::min(info.width, x1 + kWidenX) - r.x;
                    break;
                default:
                    r.h = std::min(info.height, y1 + kWidenY) - r.y;
                    break;
                }
                r.w += windows[i].x - r.x;
                r.h += windows[i].y - r.y;
                std::vector<Rect> trial = windows;
                trial[i] = r;
                const bool apart = trial.size() < 2 || !trial[0].Overlaps(trial[1]);
                if (r != windows[i] && apart && Ticks(trial) < limitTicks) {
                    windows = std::move(trial);
                    grew = true;
                }
            }
        }
    }
}

} // namespace

GroupPlan PlanEpochs(std::vector<Run>& runs, const StreamInfo& info, OpenEpoch& carry,
                     bool leaveOpen) {
    const Planner planner{info, kClock * info.rateDen / info.rateNum};
    GroupPlan plan;
    plan.runs.resize(runs.size());
    IdTable ids;
    if (carry.open) {
        plan.epochs.push_back({carry.windows});
        ids.ids = carry.ids;
        for (const IdSlot& slot : ids.ids) {
            ids.bytes += std::int64_t{slot.w} * slot.h;
        }
    }
    std::size_t epochStart = 0; // the first run of the open epoch
    std::vector<Choice> chosen;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        RunPlacement& placement = plan.runs[r];
        // A run joins the epoch while its objects find ids, and while the windows stay within
        // what can be drawn in a frame (when they are not beyond it already): a set with
        // windows then follows the one before at the next frame, and a new epoch costs a
        // frame once instead of at every picture.
        if (!plan.epochs.empty()) {
            std::vector<Rect>& windows = plan.epochs.back().windows;
            IdTable after = ids;
            if (planner.ChooseIds(after, runs[r], windows, chosen)) {
                std::vector<Rect> grown = windows;
                for (const Choice& c : chosen) {
                    Cover(grown, c.area);
                }
                // The open epoch's windows are on screen already and cannot change.
                const bool written = carry.open && plan.epochs.size() == 1;
                if (written ? grown == windows
                            : Ticks(grown) < planner.frameTicks ||
                                  Ticks(windows) >= planner.frameTicks) {
                    ids = std::move(after);
                    windows = std::move(grown);
                    placement.epoch = plan.epochs.size() - 1;
                    ApplyIds(runs[r], chosen, placement.objectIds);
                    continue;
                }
            }
            AssignWindows(runs, plan, plan.epochs.size() - 1, epochStart, r);
        }
        epochStart = r;
        plan.epochs.emplace_back();
        ids = IdTable{};
        planner.ChooseIds(ids, runs[r], {}, chosen); // a run alone always fits
        for (const Choice& c : chosen) {
            Cover(plan.epochs.back().windows, c.area);
        }
        placement.epoch = plan.epochs.size() - 1;
        ApplyIds(runs[r], chosen, placement.objectIds);
    }
    if (!plan.epochs.empty()) {
        AssignWindows(runs, plan, plan.epochs.size() - 1, epochStart, runs.size());
    }
    plan.continues = carry.open && !runs.empty() && plan.runs[0].epoch == 0;
    const bool lastWritten = carry.open && plan.epochs.size() == 1;
    carry = OpenEpoch{};
    if (leaveOpen && !plan.epochs.empty()) {
        std::vector<Rect>& windows = plan.epochs.back().windows;
        // Up to half a frame's drawing: the other half is left for decoding an object into an
        // id that the picture before shows, when the epoch's ids run short.
        if (!lastWritten) {
            Widen(windows, info, planner.frameTicks / 2);
        }
        carry = {true, windows, std::move(ids.ids)};
    }
    return plan;
}

} // namespace pelldrin::pgs
