// The whole run of pelldrin-render: command line in, PNGs and BDN XML out.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// Runs the renderer with the arguments (args[0] is the program). Progress lines go
// to out, messages to err; --help and --version answer on out, the latter with version.
// Returns the exit status: 0 done, 1 failed, 2 bad usage.
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              std::string_view version = {});

} // namespace pelldrin::render
