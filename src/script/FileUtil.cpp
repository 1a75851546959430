#include "script/FileUtil.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <chrono>
#include <climits>
#include <process.h>
#include <thread>
#include <windows.h>
#define PELLDRIN_GETPID _getpid
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define PELLDRIN_GETPID getpid
#endif

namespace pelldrin {

namespace fs = std::filesystem;

#ifdef _WIN32

std::wstring ToWide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw FileError("A text of " + std::to_string(text.size()) + " bytes is too long");
    }
    const int length = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int size = ::MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (size == 0) {
        codePage = CP_ACP;
        flags = 0;
        size = ::MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), size);
    return wide;
}

std::string FromWide(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw FileError("A text of " + std::to_string(text.size()) + " characters is too long");
    }
    const int length = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string WindowsErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text = FromWide(std::wstring_view(buffer, length));
    }
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(code) : text;
}

fs::path ToFsPath(std::string_view utf8Path) {
    return fs::path(ToWide(utf8Path));
}

std::string FromFsPath(const fs::path& path) {
    return FromWide(path.native());
}

#else

fs::path ToFsPath(std::string_view utf8Path) {
    std::u8string u8(utf8Path.begin(), utf8Path.end());
    return fs::path(u8);
}

std::string FromFsPath(const fs::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

#endif

bool IsAbsolutePath(std::string_view path) {
#ifdef _WIN32
    const fs::path p = ToFsPath(path);
    return p.has_root_directory() || p.has_root_name();
#else
    return ToFsPath(path).is_absolute();
#endif
}

std::string CurrentFolder() {
    std::string folder = FromFsPath(fs::current_path());
    while (folder.size() > 1 && EndsWithSeparator(folder)) {
#ifdef _WIN32
        if (folder.size() == 3 && folder[1] == ':') {
            break; // "C:\" is the root; "C:" would name the drive's current folder
        }
#endif
        folder.pop_back();
    }
    return folder;
}

bool EndsWithSeparator(std::string_view path) {
    return !path.empty() && kPathSeparators.find(path.back()) != std::string_view::npos;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    if (!result.empty() && !EndsWithSeparator(result)) {
        result += kPathSeparator;
    }
    result += name;
    return result;
}

std::string FolderOf(std::string_view path) {
    const auto sep = path.find_last_of(kPathSeparators);
    if (sep == std::string_view::npos) {
        return {};
    }
    if (sep == 0) {
        return std::string(path.substr(0, 1)); // the root folder
    }
#ifdef _WIN32
    if (sep == 2 && path[1] == ':') {
        return std::string(path.substr(0, 3)); // a drive's root, not its current folder
    }
#endif
    return std::string(path.substr(0, sep));
}

bool FileExists(std::string_view path) {
    std::error_code ec;
    return fs::exists(ToFsPath(path), ec);
}

std::string ReadWholeFile(std::string_view path) {
    std::error_code ec;
    if (fs::is_directory(ToFsPath(path), ec)) {
        throw FileError("Cannot read \"" + std::string(path) + "\": it is a folder");
    }
    // Opening a pipe or a device waits for a writer that may never come; only plain
    // files are read.
    const auto type = fs::status(ToFsPath(path), ec).type();
    if (!ec && type != fs::file_type::regular && type != fs::file_type::not_found) {
        throw FileError("Cannot read \"" + std::string(path) + "\": it is not a plain file");
    }
    std::ifstream in(ToFsPath(path), std::ios::binary);
    if (!in) {
        throw FileError("Cannot open \"" + std::string(path) + "\": " + std::strerror(errno));
    }
    // Sized from the file so that a large file is read without regrowing the buffer;
    // whatever is still there afterwards (a growing file) is appended.
    std::string bytes;
    const auto size = fs::file_size(ToFsPath(path), ec);
    if (!ec && size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (!in.bad()) {
        in.clear();
        bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (in.bad()) {
        throw FileError("Cannot read \"" + std::string(path) + "\"");
    }
    return bytes;
}

namespace {

// The temporary file keeps at most this many bytes of the target's name, so that its
// name stays within the file system's limit (255) when the target's is close to it.
constexpr std::size_t kMaxTempStem = 200;

std::string TempNameFor(std::string_view path) {
    static std::atomic<unsigned> counter{0};
    const auto separator = path.find_last_of(kPathSeparators);
    const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    std::size_t keep = path.size();
    if (keep - nameStart > kMaxTempStem) {
        keep = nameStart + kMaxTempStem;
        while (keep > nameStart && (static_cast<unsigned char>(path[keep]) & 0xC0) == 0x80) {
            --keep; // whole UTF-8 characters only
        }
    }
    return std::string(path.substr(0, keep)) + ".tmp" + std::to_string(PELLDRIN_GETPID()) + "_" +
           std::to_string(counter.fetch_add(1));
}

#ifdef _WIN32
// Writes all bytes to a new file and flushes them to the disk before the rename,
// so that after a power loss the target is either the old or the new content.
bool WriteAndFlush(const std::wstring& tempPath, std::string_view bytes, DWORD& error) {
    const HANDLE file = ::CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        ok = ::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) != 0 && written > 0;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file) != 0;
    if (!ok) {
        error = ::GetLastError();
    }
    if (::CloseHandle(file) == 0 && ok) {
        error = ::GetLastError();
        ok = false;
    }
    return ok;
}

// Renames the temporary file over the target. A scanner or indexer that has the
// target open for a moment makes the rename fail, so it is tried a few times.
bool RenameOver(const std::wstring& tempPath, const std::wstring& path, DWORD& error) {
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(tempPath.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return true;
        }
        error = ::GetLastError();
        if (attempt == 20 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}
#else
// Writes all bytes to a new file and flushes them to the disk before the rename,
// so that after a power loss the target is either the old or the new content.
bool WriteAndSync(const std::string& tempPath, std::string_view bytes, int& error,
                  const std::string& targetPath) {
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return false;
    }
    // A replaced file keeps its permissions (a config.xml kept private stays private).
    struct stat target {};
    if (::stat(targetPath.c_str(), &target) == 0) {
        ::fchmod(fd, target.st_mode & 07777);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        error = errno;
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = errno;
        return false;
    }
    return true;
}
#endif

} // namespace

void AtomicWriteFile(std::string_view path, std::string_view bytes) {
    const std::string temp = TempNameFor(path);
#ifdef _WIN32
    const std::wstring wideTemp = ToWide(temp);
    DWORD error = 0;
    if (!WriteAndFlush(wideTemp, bytes, error)) {
        ::DeleteFileW(wideTemp.c_str());
        throw FileError("Cannot write \"" + std::string(path) + "\": " + WindowsErrorText(error));
    }
    if (!RenameOver(wideTemp, ToWide(path), error)) {
        ::DeleteFileW(wideTemp.c_str());
        throw FileError("Cannot replace \"" + std::string(path) + "\": " + WindowsErrorText(error));
    }
#else
    int error = 0;
    if (!WriteAndSync(temp, bytes, error, std::string(path))) {
        ::unlink(temp.c_str());
        throw FileError("Cannot write \"" + std::string(path) + "\": " + std::strerror(error));
    }
    std::error_code ec;
    fs::rename(ToFsPath(temp), ToFsPath(path), ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(ToFsPath(temp), ignored);
        throw FileError("Cannot replace \"" + std::string(path) + "\": " + ec.message());
    }
#endif
}

void CreateFolders(std::string_view path) {
    std::error_code ec;
    const fs::path p = ToFsPath(path);
    fs::create_directories(p, ec);
    std::error_code probe;
    if (ec || !fs::is_directory(p, probe)) {
        throw FileError("Cannot create the folder \"" + std::string(path) +
                        "\": " + (ec ? ec.message() : std::string("a file of that name exists")));
    }
}

} // namespace pelldrin
