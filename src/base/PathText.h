// Path texts taken apart and put together without touching the file system.
// Paths are UTF-8; the separator is the platform's ("\\" and "/" on Windows).
#pragma once

#include <string>
#include <string_view>

namespace pelldrin {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif

// True when the text ends with a path separator.
bool EndsWithSeparator(std::string_view path);

// folder + separator + name, with no second separator when folder ends with one.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder part of a path (everything before its last separator).
std::string FolderOf(std::string_view path);

// The file name part of a path (after the last separator).
std::string FileNamePart(std::string_view path);

// The extension of a path's file name part: from its last "." to the end,
// dot included; empty when the file name holds no ".".
std::string FileExtension(std::string_view path);

// Cuts everything from the last "." on (searching the whole text, path
// separators included); a text without "." gives the empty text.
std::string StripExtension(std::string_view name);

} // namespace pelldrin
