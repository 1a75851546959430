#include "pgs/RunCoding.h"

#include "pgs/DecoderModel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace pelldrin::pgs {

namespace {

constexpr std::size_t kMaxClasses = 255; // written indices 0..254
// A run's object may grow to take a picture whose bounds moved a little (a fading edge).
constexpr std::int64_t kGrowthNum = 5, kGrowthDen = 4;
// Pixels of one class may differ this much in a picture, as they show over black: a renderer
// quantizes each picture of a fade on its own, and steps this small cannot be seen.
constexpr int kTolerance = 3;

} // namespace

// The classes of each picture of the run: each class's colour there and the class of the
// picture before it that it was split from, so that a long run costs no more per picture.
struct ClassTable {
    std::vector<std::vector<YCbCrA>> colours;
    std::vector<std::vector<std::uint8_t>> parents;
    std::vector<std::int16_t> next; // class * 256 + written index -> refined class, -1 unset
    std::vector<std::vector<std::uint8_t>> successors; // the refined classes of each class
};

namespace {

// Two colours as they show over black: weighted by their alpha.
bool LookAlike(const YCbCrA& a, const YCbCrA& b) {
    const auto near = [](int u, int v, int au, int av, int zero) {
        return std::abs((u - zero) * au - (v - zero) * av) <= kTolerance * 255;
    };
    return std::abs(a.a - b.a) <= kTolerance && near(a.y, b.y, a.a, b.a, 16) &&
           near(a.cb, b.cb, a.a, b.a, 128) && near(a.cr, b.cr, a.a, b.a, 128);
}

// A class already split from cls in this picture whose colour looks like colour, or -1.
std::int16_t Successor(const ClassTable& table, std::uint8_t cls, const YCbCrA& colour,
                       const std::vector<YCbCrA>& colours) {
    for (const std::uint8_t s : table.successors[cls]) {
        if (LookAlike(colours[s], colour)) {
            return s;
        }
    }
    return -1;
}

// Whether the picture can join pictures laid out in the areas, and the grown areas if so.
bool LayoutFits(const std::vector<Rect>& have, const Picture& previous, const Picture& picture,
                std::vector<Rect>& areas) {
    if (picture.inFrame != previous.outFrame || picture.objects.size() != have.size()) {
        return false;
    }
    std::int64_t total = 0;
    areas.clear();
    for (std::size_t k = 0; k < have.size(); ++k) {
        const Rect both = Union(have[k], picture.objects[k].area);
        if (both.Area() * kGrowthDen >
            std::max(have[k].Area(), picture.objects[k].area.Area()) * kGrowthNum) {
            return false;
        }
        total += both.Area();
        areas.push_back(both);
    }
    return total <= static_cast<std::int64_t>(kObjectBufferBytes) &&
           (areas.size() < 2 || !areas[0].Overlaps(areas[1]));
}

std::vector<Rect> AreasOf(const std::vector<PictureObject>& objects) {
    std::vector<Rect> areas;
    for (const PictureObject& o : objects) {
        areas.push_back(o.area);
    }
    return areas;
}

// One row of an object's indices laid over a wider area: 0 where the object is not.
void RowOver(const PictureObject& object, const Rect& area, int y, std::uint8_t* row) {
    std::fill_n(row, area.w, std::uint8_t{0});
    const Rect& a = object.area;
    if (y < a.y || y >= a.y + a.h) {
        return;
    }
    std::copy_n(object.indices.data() + static_cast<std::size_t>(y - a.y) * a.w, a.w,
                row + (a.x - area.x));
}

// Splits the classes by the picture's colours over the grown areas; false, leaving the run
// as it was, when they would outgrow the palette.
bool Refine(Run& run, ClassTable& table, const Picture& picture, const std::vector<Rect>& areas) {
    table.next.assign(kMaxClasses * 256, -1);
    table.next[0] = 0; // transparent stays transparent
    table.successors.assign(kMaxClasses, {});
    std::vector<YCbCrA> colours{picture.palette[0]};
    std::vector<std::uint8_t> parents{0};
    std::vector<std::vector<std::uint8_t>> refined(areas.size());
    std::vector<std::uint8_t> classes, indices;
    for (std::size_t k = 0; k < areas.size(); ++k) {
        const Rect& area = areas[k];
        refined[k].resize(static_cast<std::size_t>(area.Area()));
        classes.resize(static_cast<std::size_t>(area.w));
        indices.resize(static_cast<std::size_t>(area.w));
        for (int y = area.y; y < area.y + area.h; ++y) {
            RowOver(run.objects[k], area, y, classes.data());
            RowOver(picture.objects[k], area, y, indices.data());
            std::uint8_t* out = refined[k].data() + static_cast<std::size_t>(y - area.y) * area.w;
            for (int x = 0; x < area.w; ++x) {
                std::int16_t& slot = table.next[std::size_t{classes[x]} * 256 + indices[x]];
                if (slot < 0) {
                    slot = Successor(table, classes[x], picture.palette[indices[x]], colours);
                }
                if (slot < 0) {
                    if (colours.size() == kMaxClasses) {
                        return false;
                    }
                    slot = static_cast<std::int16_t>(colours.size());
                    colours.push_back(picture.palette[indices[x]]);
                    parents.push_back(classes[x]);
                    table.successors[classes[x]].push_back(static_cast<std::uint8_t>(slot));
                }
                out[x] = static_cast<std::uint8_t>(slot);
            }
        }
    }
    for (std::size_t k = 0; k < areas.size(); ++k) {
        run.objects[k] = {areas[k], std::move(refined[k])};
    }
    table.colours.push_back(std::move(colours));
    table.parents.push_back(std::move(parents));
    return true;
}

Run StartRun(std::vector<Picture>& pictures, std::size_t first, ClassTable& table) {
    Picture& picture = pictures[first];
    Run run;
    run.first = first;
    run.count = 1;
    run.inFrame = picture.inFrame;
    run.outFrame = picture.outFrame;
    run.objects = std::move(picture.objects);
    table.colours = {picture.palette};
    table.parents = {std::vector<std::uint8_t>(picture.palette.size(), 0)};
    return run;
}

// Each picture's palette: the colour that the class each final class came from had there.
void FinishRun(Run& run, const ClassTable& table) {
    const std::size_t classes = table.colours.back().size();
    run.palettes.assign(run.count, std::vector<YCbCrA>(classes));
    std::vector<std::uint8_t> ancestor(classes);
    for (std::size_t c = 0; c < classes; ++c) {
        ancestor[c] = static_cast<std::uint8_t>(c);
    }
    for (std::size_t m = run.count; m-- > 0;) {
        for (std::size_t c = 0; c < classes; ++c) {
            run.palettes[m][c] = table.colours[m][ancestor[c]];
            ancestor[c] = table.parents[m][ancestor[c]];
        }
    }
}

} // namespace

Rect Union(const Rect& a, const Rect& b) {
    const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    return {x, y, std::max(a.x + a.w, b.x + b.w) - x, std::max(a.y + a.h, b.y + b.h) - y};
}

RunBuilder::RunBuilder() : table_(std::make_unique<ClassTable>()) {}
RunBuilder::~RunBuilder() = default;

void RunBuilder::Add(std::vector<Picture>& pictures, std::size_t index) {
    if (open_) {
        if (LayoutFits(AreasOf(open_->objects), pictures[index - 1], pictures[index], areas_) &&
            Refine(*open_, *table_, pictures[index], areas_)) {
            ++open_->count;
            open_->outFrame = pictures[index].outFrame;
            pictures[index].objects = {}; // now in the run's classes
            return;
        }
        FinishRun(*open_, *table_);
        runs_.push_back(std::move(*open_));
    }
    open_ = StartRun(pictures, index, *table_);
}

std::vector<Run> RunBuilder::Finish() {
    if (open_) {
        FinishRun(*open_, *table_);
        runs_.push_back(std::move(*open_));
        open_.reset();
    }
    std::vector<Run> runs;
    runs.swap(runs_);
    return runs;
}

std::vector<Run> BuildRuns(std::vector<Picture>& pictures) {
    RunBuilder builder;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        builder.Add(pictures, i);
    }
    return builder.Finish();
}

} // namespace pelldrin::pgs
