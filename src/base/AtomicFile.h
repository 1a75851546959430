// Files written whole or not at all: the bytes go to a temporary file beside the
// target, which is renamed over the target only once it is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelldrin {

// A file being written under a temporary name in the target's folder. Commit makes it the
// target; destroying it uncommitted removes the temporary file and leaves the target as it
// was. The temporary file is created new (never through a link or over an existing file)
// and named "<target>.tmp<pid>_<n>" (CurrentProcessId), so a program can recognise leftovers
// of a killed run.
class AtomicFile {
  public:
    enum class Durability {
        Synced,  // flushed to the disk before the rename: after a power loss, old or new
        Buffered // left to the system; for files a later synced file refers to
    };
    // On Linux a Buffered file that replaces a plain file with no other name takes that file
    // over instead of making a new one: the earlier file moves to the temporary name and is
    // written anew, so no file is made or removed (the pictures of a task converted again).
    // The name still never shows a half-written file, but should the writing fail, neither
    // the earlier file nor the new one is left.

    // Creates the temporary file; throws FileError naming the target.
    explicit AtomicFile(std::string path, Durability durability = Durability::Synced);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends bytes; throws FileError naming the target (a full disk, say).
    void Write(std::string_view bytes);
    // Completes the file and renames it over the target, which keeps its permissions;
    // throws FileError naming the target, and the target is then unchanged.
    void Commit();

    const std::string& TargetPath() const;
    const std::string& TempPath() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes bytes to path through an AtomicFile, so a crash or a full disk never leaves half a
// file. Throws FileError naming path.
void AtomicWriteFile(std::string_view path, std::string_view bytes);

// When the file name has the form of an AtomicFile's temporary file: the id of the process that
// made it, or -1 when the number is too large to be one.
std::optional<std::int64_t> AtomicTempWriter(std::string_view fileName);

// True when the file name has the form of an AtomicFile's temporary file.
bool IsAtomicTempName(std::string_view fileName);

} // namespace pelldrin
