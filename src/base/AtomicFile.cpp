#include "base/AtomicFile.h"

#include "base/FileSystem.h"
#include "base/Platform.h"
#include "base/Utf8.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "base/SystemHeaders.h"

namespace pelldrin {

namespace fs = std::filesystem;

namespace {

// The temporary file keeps at most this many bytes of the target's name, so that its
// name stays within the file system's limit (255) when the target's is close to it.
constexpr std::size_t kMaxTempStem = 200;
// Small writes (a PNG encoder's) are gathered into blocks of this size.
constexpr std::size_t kBlockSize = 1 << 16;

std::string TempNameFor(std::string_view path) {
    static std::atomic<unsigned> counter{0};
    const auto separator = path.find_last_of(kPathSeparators);
    const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const std::string_view folder = path.substr(0, nameStart);
    const std::string_view name = Utf8Prefix(path.substr(nameStart), kMaxTempStem);
    return std::string(folder) + std::string(name) + ".tmp" + std::to_string(CurrentProcessId()) +
           "_" + std::to_string(counter.fetch_add(1));
}

} // namespace

#ifdef _WIN32

struct AtomicFile::Impl {
    std::string target, temp;
    Durability durability = Durability::Synced;
    bool committed = false;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string buffer;

    [[noreturn]] void Fail(const char* what, DWORD error) {
        throw FileError(std::string(what) + " \"" + target + "\": " + WindowsErrorText(error));
    }
    void Open() {
        // CREATE_NEW never opens what is already there, link or file.
        file = ::CreateFileW(ToWide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Fail("Cannot write", ::GetLastError());
        }
    }
    void WriteOut(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD written = 0;
            if (::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) == 0 ||
                written == 0) {
                Fail("Cannot write", ::GetLastError());
            }
            done += written;
        }
    }
    void Close() {
        if (durability == Durability::Synced && ::FlushFileBuffers(file) == 0) {
            Fail("Cannot write", ::GetLastError());
        }
        const HANDLE handle = file;
        file = INVALID_HANDLE_VALUE;
        if (::CloseHandle(handle) == 0) {
            Fail("Cannot write", ::GetLastError());
        }
    }
    // A scanner or indexer that has the target open for a moment makes the rename fail,
    // so it is tried a few times.
    void RenameOver() {
        const std::wstring from = ToWide(temp);
        const std::wstring to = ToWide(target);
        for (int attempt = 0;; ++attempt) {
            if (::MoveFileExW(from.c_str(), to.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
                return;
            }
            const DWORD error = ::GetLastError();
            if (attempt == 20 ||
                (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
                Fail("Cannot replace", error);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    void Discard() {
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
        ::DeleteFileW(ToWide(temp).c_str());
    }
};

#else

struct AtomicFile::Impl {
    std::string target, temp;
    Durability durability = Durability::Synced;
    bool committed = false;
    int fd = -1;
    bool takenOver = false; // an earlier file of the target's name is being written over
    std::uint64_t written = 0;
    std::string buffer;

    [[noreturn]] void Fail(const char* what, int error) {
        throw FileError(std::string(what) + " \"" + target + "\": " + std::strerror(error));
    }
    void Open() {
        if (durability == Durability::Buffered && TakeOver()) {
            return;
        }
        // O_EXCL with O_NOFOLLOW: never through a planted link, never over an existing file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            Fail("Cannot write", errno);
        }
        // A replaced file keeps its permissions (a config.xml kept private stays private).
        struct stat existing {};
        if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            ::fchmod(fd, existing.st_mode & 07777);
        }
    }
    // A file rewritten where an earlier one of that name is (a picture converted again) takes
    // the earlier file over: it moves to the temporary name and is written over from its start,
    // so that no file is made and none removed. On some file systems (ext4 without a journal) a
    // file made soon after many were removed costs more than writing it: converting an
    // animated opening again into its folder took a quarter longer than into a new one.
    // Only a plain file with one name that can be written is taken over; anything else (a
    // link, a folder, a file with other names) is moved back and a new file made as always.
    // Linux alone: moving without replacing needs renameat2.
    bool TakeOver() {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
        if (::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, temp.c_str(), RENAME_NOREPLACE) != 0) {
            return false;
        }
        // Looked at before it is opened, so that a pipe or a device is never opened; and once
        // open, it must still be the file looked at.
        struct stat moved = {};
        struct stat held = {};
        const auto plain = [](const struct stat& st) {
            return S_ISREG(st.st_mode) && st.st_nlink == 1;
        };
        if (::lstat(temp.c_str(), &moved) == 0 && plain(moved)) {
            fd = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd >= 0 && ::fstat(fd, &held) == 0 && plain(held) && held.st_ino == moved.st_ino &&
            held.st_dev == moved.st_dev) {
            takenOver = true;
            return true;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        // Back under its name; should the name have been taken meanwhile, what was moved stays
        // under the temporary name, which the next run's clean-up removes.
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
#endif
        return false;
    }
    void WriteOut(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                Fail("Cannot write", errno);
            }
            done += static_cast<std::size_t>(n);
        }
        written += bytes.size();
    }
    void Close() {
        // A file taken over is written over its earlier bytes and cut to the new length only
        // now: emptying it first would give its blocks back and take them again, and a file
        // system mounted to discard freed blocks waits for the disk each time.
        if (takenOver && ::ftruncate(fd, static_cast<off_t>(written)) != 0) {
            Fail("Cannot write", errno);
        }
        if (durability == Durability::Synced && ::fsync(fd) != 0) {
            Fail("Cannot write", errno);
        }
        const int handle = fd;
        fd = -1;
        if (::close(handle) != 0) {
            Fail("Cannot write", errno);
        }
    }
    void RenameOver() {
        if (::rename(temp.c_str(), target.c_str()) != 0) {
            Fail("Cannot replace", errno);
        }
    }
    void Discard() {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        ::unlink(temp.c_str());
    }
};

#endif

AtomicFile::AtomicFile(std::string path, Durability durability) : impl_(std::make_unique<Impl>()) {
    impl_->temp = TempNameFor(path);
    impl_->target = std::move(path);
    impl_->durability = durability;
    impl_->Open();
}

AtomicFile::~AtomicFile() {
    if (!impl_->committed) {
        impl_->Discard();
    }
}

void AtomicFile::Write(std::string_view bytes) {
    if (impl_->committed) {
        throw FileError("\"" + impl_->target + "\" was already written");
    }
    if (impl_->buffer.size() + bytes.size() > kBlockSize) {
        impl_->WriteOut(impl_->buffer);
        impl_->buffer.clear();
    }
    if (bytes.size() >= kBlockSize) {
        impl_->WriteOut(bytes); // large blocks go straight through, never copied
    } else {
        impl_->buffer.append(bytes);
    }
}

void AtomicFile::Commit() {
    if (impl_->committed) {
        throw FileError("\"" + impl_->target + "\" was already written");
    }
    impl_->WriteOut(impl_->buffer);
    impl_->buffer.clear();
    impl_->Close();
    impl_->RenameOver();
    impl_->committed = true;
}

const std::string& AtomicFile::TargetPath() const {
    return impl_->target;
}

const std::string& AtomicFile::TempPath() const {
    return impl_->temp;
}

void AtomicWriteFile(std::string_view path, std::string_view bytes) {
    AtomicFile file{std::string(path)};
    file.Write(bytes);
    file.Commit();
}

std::optional<std::int64_t> AtomicTempWriter(std::string_view fileName) {
    const auto tmp = fileName.rfind(".tmp");
    if (tmp == std::string_view::npos || tmp == 0) {
        return std::nullopt;
    }
    const std::string_view tail = fileName.substr(tmp + 4);
    const auto underscore = tail.find('_');
    const auto allDigits = [](std::string_view s) {
        return !s.empty() &&
               std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (underscore == std::string_view::npos || !allDigits(tail.substr(0, underscore)) ||
        !allDigits(tail.substr(underscore + 1))) {
        return std::nullopt;
    }
    std::int64_t pid = 0;
    for (const char c : tail.substr(0, underscore)) {
        if (pid > (std::numeric_limits<std::int64_t>::max() - 9) / 10) {
            return -1;
        }
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

bool IsAtomicTempName(std::string_view fileName) {
    return AtomicTempWriter(fileName).has_value();
}

} // namespace pelldrin
