// The renderer's errors. Each message names the file and the cause; main() turns a
// UsageError into exit status 2 and every other one into 1.
#pragma once

#include <stdexcept>

namespace pelldrin::render {

// A command line the renderer cannot run with; the program exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A script the renderer cannot follow; the message names the file and the line.
class ScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A subtitle or style file the renderer cannot read; the message names the file.
class SubtitleError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A run that would go beyond one of its limits; the message names the file, the line
// and the limit with the option that sets it.
class LimitError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A picture that could not be encoded or written.
class PngError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An output the renderer refuses to write; the message names the path and the cause.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

} // namespace pelldrin::render
