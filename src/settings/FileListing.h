// Lists the entries of a folder that match a wildcard mask.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// True when name matches mask: "*" stands for any run of characters, "?" for
// one character; ASCII letters match either case, as file masks do on Windows.
bool MatchesMask(std::string_view name, std::string_view mask);

// folder + separator + name for every entry of folder that matches mask, files
// and folders alike, sorted by name so the order does not depend on the file
// system. A missing or unreadable folder gives an empty list.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask);

} // namespace pelldrin
