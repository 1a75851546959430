#include "base/Platform.h"

#include "base/PathText.h"
#include "base/Utf8.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelldrin {

std::int64_t CurrentProcessId() {
    return static_cast<std::int64_t>(::getpid());
}

bool ProcessIsGone(std::int64_t pid) {
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::string ProgramFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : FolderOf(FromFsPath(self));
}

FolderLock::FolderLock(const std::string& folder, std::string_view lockName) {
    const std::string path = JoinPath(folder.empty() ? std::string(".") : folder, lockName);
    const auto fail = [&](const std::string& cause) {
        throw FileError("\"" + QuoteForMessage(path) + "\": " + cause);
    };
    // O_NONBLOCK: a FIFO planted under the name must not stall the program.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        fail("not a plain file");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK) {
            throw FolderTakenError("\"" + QuoteForMessage(path) + "\" is locked");
        }
        fail(std::strerror(error));
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_); // releases the lock; the file stays
    }
}

} // namespace pelldrin
