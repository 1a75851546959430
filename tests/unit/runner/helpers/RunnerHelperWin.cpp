// The Windows build of the console program the runner tests start: each mode shows one
// behaviour of a program the runner has to cope with. Arguments arrive as UTF-16 and
// are printed as UTF-8, so the tests see exactly what the runner passed.

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

void WriteAll(DWORD which, const std::string& bytes) {
    const HANDLE handle = ::GetStdHandle(which);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                        &written, nullptr) == 0 ||
            written == 0) {
            ::ExitProcess(3);
        }
        done += written;
    }
}

void Print(const std::string& text) {
    WriteAll(STD_OUTPUT_HANDLE, text);
}

// Decodes \r, \n, \0 and \\ so that control bytes can travel as arguments.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '0':
            out += '\0';
            break;
        default:
            out += text[i];
        }
    }
    return out;
}

// Writes the file through a temporary name, so a reader never sees half of it.
void WriteFileAtomically(const std::wstring& path, const std::string& text) {
    const std::wstring temp = path + L".tmp";
    const HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ::ExitProcess(6);
    }
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::wstring mode = argv[1];
    if (mode == L"write" && argc >= 3) {
        // write GAP_MS CHUNK...: each chunk in one write, with a pause between them.
        const long gap = std::wcstol(argv[2], nullptr, 10);
        for (int i = 3; i < argc; ++i) {
            if (i > 3) {
                ::Sleep(static_cast<DWORD>(gap));
            }
            Print(Unescape(Utf8(argv[i])));
        }
        return 0;
    }
    if (mode == L"both") {
        Print("out1\n");
        WriteAll(STD_ERROR_HANDLE, "err1\n");
        Print("out2\n");
        return 0;
    }
    if (mode == L"args") {
        for (int i = 2; i < argc; ++i) {
            Print("<" + Utf8(argv[i]) + ">\n");
        }
        return 0;
    }
    if (mode == L"exit" && argc == 3) {
        Print("exiting\n");
        return static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    }
    if (mode == L"sleep" && argc == 3) {
        ::Sleep(static_cast<DWORD>(std::wcstol(argv[2], nullptr, 10)));
        Print("woke\n");
        return 0;
    }
    if (mode == L"after" && argc == 4) {
        // after MS FILE: stays silent for MS, then leaves FILE behind.
        ::Sleep(static_cast<DWORD>(std::wcstol(argv[2], nullptr, 10)));
        WriteFileAtomically(argv[3], "done");
        return 0;
    }
    if (mode == L"ignore-term") {
        // Nothing can refuse TerminateProcess; the mode exists so the same tests run here.
        Print("ready " + std::to_string(::GetCurrentProcessId()) + "\n");
        ::Sleep(30000);
        return 0;
    }
    if (mode == L"grandchild" && argc == 3) {
        // grandchild PIDFILE: starts a second program that records its id, then both wait.
        const std::wstring self = OwnPath();
        std::wstring commandLine = L"\"" + self + L"\" sleep 30000";
        STARTUPINFOW info{};
        info.cb = sizeof info;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &info, &started) == 0) {
            return 7;
        }
        WriteFileAtomically(argv[2], std::to_string(started.dwProcessId));
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
        Print("ready " + std::to_string(::GetCurrentProcessId()) + "\n");
        ::Sleep(30000);
        return 0;
    }
    if (mode == L"handle" && argc == 3) {
        // handle VALUE: writes to a handle of the starting process, if it was passed on.
        const auto value = static_cast<std::uintptr_t>(std::wcstoull(argv[2], nullptr, 10));
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD written = 0;
        const bool wrote = ::GetFileType(handle) == FILE_TYPE_DISK &&
                           ::WriteFile(handle, "leak", 4, &written, nullptr) != 0;
        Print(wrote ? "handle:written\n" : "handle:absent\n");
        return 0;
    }
    if (mode == L"priority") {
        Print(std::to_string(::GetPriorityClass(::GetCurrentProcess())) + "\n");
        return 0;
    }
    if (mode == L"cwd") {
        std::wstring folder(32768, L'\0');
        folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
        if (folder.empty()) {
            return 5;
        }
        Print(Utf8(folder) + "\n");
        return 0;
    }
    if (mode == L"stdin") {
        // Reports what a read of standard input gives: it must not block.
        char c;
        DWORD got = 0;
        const bool ok = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) != 0;
        Print("read:" + (ok ? std::to_string(got) : std::string("-1")) + "\n");
        return 0;
    }
    return 2;
}
