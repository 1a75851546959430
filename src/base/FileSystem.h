// File-system helpers shared by the libraries. Paths are UTF-8 text; they
// become platform paths only here.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/PathText.h"

namespace pelldrin {

// A file operation that failed; the message names the file and the cause.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The platform path for a UTF-8 path text, and back.
std::filesystem::path ToFsPath(std::string_view utf8Path);
std::string FromFsPath(const std::filesystem::path& path);

#ifdef _WIN32
// UTF-16 text for the wide Windows calls. Text that is not valid UTF-8 is taken to be in
// the system code page, as older files may hold it.
std::wstring ToWide(std::string_view text);
// UTF-8 text from the wide Windows calls.
std::string FromWide(std::wstring_view text);
// The system's description of a Windows error code, without a final line end.
std::string WindowsErrorText(unsigned long code);
#endif

// True when the path does not count from a current folder. On Windows a path from the
// root of the current drive, such as \out, counts too: joining it to a folder is never meant.
bool IsAbsolutePath(std::string_view path);

// The process's current folder, without a final separator.
std::string CurrentFolder();

// main()'s arguments as UTF-8. On Windows argv is in the ANSI code page, which loses
// every character outside it, so the arguments come from the wide command line instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

bool FileExists(std::string_view path);

// Reads a whole file as bytes; throws FileError naming the file.
std::string ReadWholeFile(std::string_view path);

// Creates the folder and every missing level above it; throws FileError.
void CreateFolders(std::string_view path);

} // namespace pelldrin
