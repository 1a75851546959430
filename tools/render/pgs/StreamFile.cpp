#include "StreamFile.h"

#include "script/FileUtil.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace pelldrin::pgs {

void TempStreamFile::Write(const std::string& bytes) {
    if (file_ == nullptr) {
        Open();
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        Fail("Cannot write \"");
    }
}

void TempStreamFile::Commit() {
    if (file_ == nullptr) {
        Open(); // an empty stream is still a stream
    }
    bool ok = std::fflush(file_) == 0;
#ifndef _WIN32
    ok = ok && ::fsync(::fileno(file_)) == 0;
#endif
    const int error = errno;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) {
        errno = error;
        Fail("Cannot write \"");
    }
    std::error_code ec;
    std::filesystem::rename(ToFsPath(temp_), ToFsPath(target_), ec);
    if (ec) {
        Discard();
        throw FileError("Cannot replace \"" + target_ + "\": " + ec.message());
    }
    temp_.clear();
}

void TempStreamFile::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(ToFsPath(temp_), ignored);
        temp_.clear();
    }
}

void TempStreamFile::Open() {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(::getpid());
#endif
    temp_ = target_ + ".tmp" + std::to_string(pid) + "_" + std::to_string(counter++);
#ifdef _WIN32
    file_ = _wfopen(ToFsPath(temp_).c_str(), L"wb");
#else
    file_ = std::fopen(temp_.c_str(), "wb");
#endif
    if (file_ == nullptr) {
        const int error = errno;
        temp_.clear();
        errno = error;
        Fail("Cannot create \"");
    }
}

void TempStreamFile::Fail(const char* what) {
    const std::string cause = std::strerror(errno);
    Discard();
    throw FileError(what + target_ + "\": " + cause);
}

} // namespace pelldrin::pgs
