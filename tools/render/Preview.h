// One picture of a task before converting it: the frame at a chosen time, drawn whole.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pelldrin::render {

// True when the arguments ask for a preview (--preview SECONDS).
bool IsPreviewRequest(const std::vector<std::string>& args);

// Draws the frame shown at SECONDS into the -o path as one RGBA PNG of the whole video
// frame, and prints "Box: X Y W H" (the visible pixels' box on the frame) or "Box: none"
// to out; warnings go to err. Takes the renderer's other options (-v, -f must match the
// script). Returns 0 done, 1 failed, 2 bad usage.
int RunPreview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace pelldrin::render
