// pelldrin-render --tracks FILE.mkv and --extract N FILE.mkv -o FOLDER: a Matroska release's
// subtitle tracks and fonts listed, or a text track written out with its fonts, as the
// window does before it converts one.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pelldrin::render {

// True when the arguments ask for --tracks or --extract.
bool IsMatroskaRequest(const std::vector<std::string>& args);

// --tracks prints a line per subtitle track ("track", number, "text", "picture" or "other",
// codec id, language, flags, name) and per attached font ("font", name, MIME type, bytes),
// the fields separated by tabs. --extract writes the track and its fonts and prints
// "Subtitle: PATH" and a "Font: PATH" line per font. Warnings go to err. Returns 0 done,
// 1 failed (the file, the track or a write), 2 bad usage.
int RunMatroskaCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace pelldrin::render
