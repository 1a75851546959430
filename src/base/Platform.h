// What the program asks of the system that each system answers its own way: process ids,
// the program's own folder, and a lock that keeps two programs out of one folder.
// PlatformPosix.cpp and PlatformWin.cpp hold the two answers.
#pragma once

#include "base/FileSystem.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace pelldrin {

// This process's id.
std::int64_t CurrentProcessId();

// True when the process with this id no longer runs; false while it runs or when the
// system cannot tell.
bool ProcessIsGone(std::int64_t pid);

// The folder the running program was started from, or empty when it cannot be told.
std::string ProgramFolder();

// Another holder has the folder's lock.
class FolderTakenError : public FileError {
  public:
    using FileError::FileError;
};

// An exclusive lock on the file `lockName` in a folder ("" for the current one), held while
// it lives. The file is made when missing and stays afterwards, so no one locks a removed
// file; a link or a special file planted under its name is never followed or waited on.
class FolderLock {
  public:
    // Throws FolderTakenError at once when another holder has the lock, FileError naming
    // the lock file when it cannot be made or locked.
    FolderLock(const std::string& folder, std::string_view lockName);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;            // the lock file, on POSIX systems
    void* handle_ = nullptr; // the lock file, on Windows
};

} // namespace pelldrin
