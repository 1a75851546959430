// Splitting a command line into program arguments by the Windows rules, so that
// a command template means the same on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelldrin {

// Splits a command line the way a Windows program sees it: the program name ends at
// the first blank outside double quotes and takes no escapes; in the arguments after
// it, 2n backslashes before a quote give n backslashes and the quote opens or closes
// a quoted part, 2n+1 give n backslashes and a literal quote, other backslashes stay
// as they are, and "" inside a quoted part gives one quote. Leading blanks are
// skipped; a blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace pelldrin
