#include "base/Platform.h"

#include "base/PathText.h"
#include "base/Utf8.h"

#include <windows.h>

namespace pelldrin {

std::int64_t CurrentProcessId() {
    return static_cast<std::int64_t>(::GetCurrentProcessId());
}

bool ProcessIsGone(std::int64_t pid) {
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process != nullptr) {
        ::CloseHandle(process);
        return false;
    }
    return ::GetLastError() == ERROR_INVALID_PARAMETER;
}

std::string ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    return FolderOf(FromWide(path));
}

FolderLock::FolderLock(const std::string& folder, std::string_view lockName) {
    const std::string path = JoinPath(folder.empty() ? std::string(".") : folder, lockName);
    // Opened without sharing: a second open fails while this one holds it; a link
    // planted under the name is opened as itself, not followed.
    const HANDLE file =
        ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            throw FolderTakenError("\"" + QuoteForMessage(path) + "\" is locked");
        }
        throw FileError("\"" + QuoteForMessage(path) + "\": " + WindowsErrorText(error));
    }
    handle_ = file;
}

FolderLock::~FolderLock() {
    if (handle_ != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle_));
    }
}

} // namespace pelldrin
