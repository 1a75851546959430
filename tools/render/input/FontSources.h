// Fonts as users have them: a "fonts" folder beside the subtitle or the program, fonts
// embedded in the script, and warnings that name what is missing.
#pragma once

#include "input/SubtitleTrack.h"

#include <ass/ass.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pelldrin::render {

// The "fonts" folders (any letter case) directly inside each of the given folders, in
// that order; missing ones are left out.
std::vector<std::string> FontFolders(const std::vector<std::string>& parents);

// Adds every font file (by extension) of the folders to the library, so that a renderer
// created afterwards finds them by their family names. A file that cannot be read gives a
// warning. Returns the number of files added.
int AddFontFiles(ASS_Library* library, const std::vector<std::string>& folders,
                 const std::function<void(const std::string&)>& warn);

// Turns libass's messages about fonts into warnings a user can act on: a font the script
// names that is not there (once per family, with the face used instead), and a character
// no face can draw (once per character, with the first line of the subtitle file that
// holds it). Other messages pass unchanged; repeats of a font warning are dropped.
class FontReport {
  public:
    // The subtitle text is searched only when a character is missing, to find its line.
    explicit FontReport(std::shared_ptr<const SubtitleFile> subtitle);

    // The warning for a libass message (without the "libass: " prefix), or nullopt
    // when it repeats one already given.
    std::optional<std::string> Translate(const std::string& message);

  private:
    std::string LineOf(char32_t codePoint);

    std::shared_ptr<const SubtitleFile> subtitle_;
    std::optional<std::vector<std::string>> lines_;
    std::set<std::string> families_;
    std::set<char32_t> characters_;
};

} // namespace pelldrin::render
