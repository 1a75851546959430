// Runs: pictures shown back to back in one layout, drawn from one set of objects whose
// palette changes from picture to picture. Fades and recolourings then cost a palette each
// instead of new objects.
#pragma once

#include "pgs/PgsPicture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pelldrin::pgs {

struct Run {
    std::size_t first = 0, count = 0;       // pictures [first, first + count) of the list
    std::int64_t inFrame = 0, outFrame = 0; // shown from the first picture to the last
    // Each pixel holds a class: pixels of one class have one colour in every picture.
    std::vector<PictureObject> objects;
    std::vector<std::vector<YCbCrA>> palettes; // per picture of the run, by class
};

// The classes of each picture of the open run (defined with the builder).
struct ClassTable;

// Splits pictures into runs as they come; a run ends where the layout changes, where a picture
// does not start as the previous one ends, or where the classes would outgrow the palette.
// Each picture's objects move into its run or are folded into it and dropped, so a long fade
// holds one set of objects, not one a picture.
class RunBuilder {
  public:
    RunBuilder();
    ~RunBuilder();
    RunBuilder(const RunBuilder&) = delete;
    RunBuilder& operator=(const RunBuilder&) = delete;

    // Takes pictures[index], the list's last picture so far.
    void Add(std::vector<Picture>& pictures, std::size_t index);
    // The runs of the pictures added since the last call.
    std::vector<Run> Finish();

  private:
    std::unique_ptr<ClassTable> table_;
    std::optional<Run> open_;
    std::vector<Run> runs_;
    std::vector<Rect> areas_;
};

// All the runs of a list of pictures at once.
std::vector<Run> BuildRuns(std::vector<Picture>& pictures);

} // namespace pelldrin::pgs
