#include "base/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "base/SystemHeaders.h"

#ifdef _WIN32
#include <climits>
// after windows.h, which it needs
#include <shellapi.h>
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

std::vector<std::string> ProgramArguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr) {
        std::vector<std::string> args;
        args.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            args.push_back(FromWide(wide[i]));
        }
        ::LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
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
