// Shared by the fuzz targets: a scratch folder for the files a target must write,
// plain file access that does not go through the code under test, a reader that
// takes choices off the front of the input, and a check that stops the run.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace pelldrin::fuzz {

// Stops the run with a message; libFuzzer saves the input that got here.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::pelldrin::fuzz::Fail(__FILE__, __LINE__, #condition);                                \
        }                                                                                          \
    } while (false)

// A folder of this process's own, on a memory file system when there is one so
// that the many small writes cost little; removed when the process ends.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string base = "/tmp";
        if (::access("/dev/shm", W_OK) == 0) {
            base = "/dev/shm";
        }
        std::string pattern = base + "/pelldrin-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string toRemove;
        toRemove = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(toRemove, ignored);
        });
        return pattern;
    }();
    return folder;
}

// Writes the bytes to path, replacing what is there.
inline void WriteBytes(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// The whole file, or empty when there is none.
inline std::string ReadBytes(const std::string& path) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return out;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

// The names in a folder, for checking that nothing was left behind.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// Takes choices off the front of the input; the rest is the text under test.
class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : bytes_(reinterpret_cast<const char*>(data), size) {}

    // The next byte, or 0 once the input is used up.
    std::uint8_t Byte() {
        if (bytes_.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return b;
    }

    // The text up to the next separator (which is consumed), or all that is left.
    std::string_view Until(char separator) {
        const auto pos = bytes_.find(separator);
        const std::string_view piece = bytes_.substr(0, pos);
        bytes_.remove_prefix(pos == std::string_view::npos ? bytes_.size() : pos + 1);
        return piece;
    }

    std::string_view Rest() const { return bytes_; }
    bool Empty() const { return bytes_.empty(); }

  private:
    std::string_view bytes_;
};

} // namespace pelldrin::fuzz
