// Reading the converter's progress lines.
#pragma once

#include <functional>
#include <string_view>

namespace pelldrin {

// Gives the maximum and then the position of a progress line to the sink; other lines
// are ignored. A progress line reads "label: done/total - text: text": only the text
// between the first two colons counts, and in it only the part before its first dash.
void ParseProgressLine(std::string_view line,
                       const std::function<void(int maximum, int position)>& sink);

} // namespace pelldrin
