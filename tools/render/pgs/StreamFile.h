// Atomic output of a stream: the only place where the .sup file is created and replaced.
#pragma once

#include <cstdio>
#include <string>

namespace pelldrin::pgs {

// The stream goes to a temporary file beside the target as it grows, so that a long film
// does not sit in memory, and is renamed over the target only when it is complete.
class TempStreamFile {
  public:
    explicit TempStreamFile(std::string target) : target_(std::move(target)) {}
    ~TempStreamFile() { Discard(); }
    TempStreamFile(const TempStreamFile&) = delete;
    TempStreamFile& operator=(const TempStreamFile&) = delete;

    // Appends bytes; throws FileError naming the file when they cannot be written.
    void Write(const std::string& bytes);
    // Flushes the file to the disk and renames it over the target.
    void Commit();
    // Removes the temporary file, if any.
    void Discard();

  private:
    void Open();
    [[noreturn]] void Fail(const char* what);

    std::string target_;
    std::string temp_;
    std::FILE* file_ = nullptr;
};

} // namespace pelldrin::pgs
