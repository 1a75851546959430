// Runs: pictures shown back to back in one layout, drawn from one set of objects whose
// palette changes from picture to picture. Fades and recolourings then cost a palette each
// instead of new objects.
#pragma once

#include "PgsPicture.h"

#include <cstddef>
#include <vector>

namespace pelldrin::pgs {

struct Run {
    std::size_t first = 0, count = 0; // pictures [first, first + count) of the list
    // Each pixel holds a class: pixels of one class have one colour in every picture.
    std::vector<PictureObject> objects;
    std::vector<std::vector<YCbCrA>> palettes; // per picture of the run, by class
};

// Splits the pictures into runs; a run ends where the layout changes, where a picture does not
// start as the previous one ends, or where the classes would outgrow the palette. The objects
// of each run's first picture move into the run.
std::vector<Run> BuildRuns(std::vector<Picture>& pictures);

} // namespace pelldrin::pgs
