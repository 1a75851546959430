// Windows processes: CreateProcessW with a hidden console of its own, one pipe for
// standard output and standard error, and a job object that holds the program and
// every program it starts.

#include "base/FileSystem.h"
#include "runner/ChildProcess.h"
#include "runner/DosCommand.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace pelldrin {

namespace {

// The pipe holds this much output while the reading thread sleeps. Windows sleeps in
// steps of up to 16 ms, so the default of one page would throttle a talkative program.
constexpr DWORD kPipeBuffer = 1024 * 1024;

// How long a stopped program may take to be gone once it was told to end.
constexpr DWORD kEndWaitMs = 5000;

// One handle, closed once; null and INVALID_HANDLE_VALUE both mean none.
class THandle {
  public:
    THandle() = default;
    explicit THandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~THandle() { Close(); }
    THandle(THandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    HANDLE Get() const { return handle_; }
    // Where a call that creates the handle stores it.
    HANDLE* Out() {
        Close();
        return &handle_;
    }
    explicit operator bool() const { return handle_ != nullptr; }
    void Close() {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

  private:
    HANDLE handle_ = nullptr;
};

// Priority classes for the priority entries; false leaves the class as created.
bool PriorityClassFor(int priorityIndex, DWORD& priorityClass) {
    switch (priorityIndex) {
    case 0:
        priorityClass = NORMAL_PRIORITY_CLASS;
        return true;
    case 1:
        priorityClass = IDLE_PRIORITY_CLASS;
        return true;
    case 2:
        priorityClass = HIGH_PRIORITY_CLASS;
        return true;
    case 3:
        priorityClass = REALTIME_PRIORITY_CLASS;
        return true;
    default:
        return false;
    }
}

DWORD Attributes(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The absolute form of a path, counted from this process's current folder.
std::wstring FullPath(const std::wstring& path) {
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return full;
}

bool HasExtension(const std::wstring& path) {
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t separator = path.find_last_of(L"\\/");
    return dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
}

// The file to start, as Windows finds it: a name with a separator or a drive is a path
// taken from this process's current folder even though the program starts in its
// working folder; a bare name is searched for in this program's folder, the current
// folder, the system folders and PATH. ".exe" is added to a name without extension.
// Empty when nothing is found. Naming the file exactly keeps CreateProcessW from trying
// "C:\Program" for an unquoted "C:\Program Files\...".
std::wstring ResolveProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    const std::wstring wide = ToWide(name);
    if (wide.find_first_of(L"\\/:") != std::wstring::npos) {
        const std::wstring full = FullPath(wide);
        if (Attributes(full) != INVALID_FILE_ATTRIBUTES) {
            return full; // a folder too: starting it gives the system's reason
        }
        if (!HasExtension(full) && IsFile(full + L".exe")) {
            return full + L".exe";
        }
        return {};
    }
    const DWORD size = ::SearchPathW(nullptr, wide.c_str(), L".exe", 0, nullptr, nullptr);
    if (size == 0) {
        return {};
    }
    std::wstring found(size, L'\0');
    const DWORD length = ::SearchPathW(nullptr, wide.c_str(), L".exe", size, found.data(), nullptr);
    if (length == 0 || length >= size) {
        return {};
    }
    found.resize(length);
    return found;
}

// Limits inheritance to the handles given, whatever else this process has open or
// opens on another thread meanwhile.
class TInheritList {
  public:
    TInheritList(HANDLE first, HANDLE second) : handles_{first, second} {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0) {
            return;
        }
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (::InitializeProcThreadAttributeList(list, 1, 0, &size) == 0) {
            return;
        }
        list_ = list;
        if (::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                        sizeof handles_, nullptr, nullptr) == 0) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~TInheritList() {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    TInheritList(const TInheritList&) = delete;
    TInheritList& operator=(const TInheritList&) = delete;

    // Null when the system offers no such list; every inheritable handle is passed then.
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

  private:
    HANDLE handles_[2];
    std::string buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

class TWinChildProcess final : public TChildProcess {
  public:
    TWinChildProcess(THandle process, THandle job, THandle output, bool priorityRefused)
        : process_(std::move(process)), job_(std::move(job)), output_(std::move(output)),
          priorityRefused_(priorityRefused) {}

    ~TWinChildProcess() override {
        output_.Close();
        if (terminating_) {
            EndAll();
            ::WaitForSingleObject(process_.Get(), kEndWaitMs);
        } else if (!ended_ && job_) {
            // Left running (a time limit ended the reading): closing the job must not end it.
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION none{};
            ::SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &none,
                                      sizeof none);
        }
        // Closing the job now ends whatever an ended or stopped program left behind.
    }

    bool HasEnded() override {
        if (ended_) {
            return true;
        }
        // The handle, not the exit code, tells the end: a program may exit with 259,
        // the code that GetExitCodeProcess reports for a running one.
        const DWORD wait = ::WaitForSingleObject(process_.Get(), 0);
        if (wait == WAIT_TIMEOUT) {
            return false;
        }
        ended_ = true;
        DWORD code = 0;
        if (wait == WAIT_OBJECT_0 && !terminating_ &&
            ::GetExitCodeProcess(process_.Get(), &code) != 0) {
            end_.Exited = true;
            end_.ExitCode = static_cast<int>(code);
        }
        return true;
    }

    TProgramEnd EndState() const override { return end_; }

    std::size_t BytesWaiting() override {
        DWORD waiting = 0;
        if (!output_ ||
            ::PeekNamedPipe(output_.Get(), nullptr, 0, nullptr, &waiting, nullptr) == 0) {
            return 0; // also once every writer has gone and the pipe is empty
        }
        return waiting;
    }

    std::size_t Read(char* buffer, std::size_t size) override {
        std::size_t total = 0;
        while (total < size) {
            // ReadFile on an anonymous pipe blocks when it is empty: take only what waits.
            const std::size_t waiting = BytesWaiting();
            if (waiting == 0) {
                break;
            }
            const DWORD want = static_cast<DWORD>(
                std::min<std::size_t>({waiting, size - total, std::size_t{1} << 30}));
            DWORD got = 0;
            if (::ReadFile(output_.Get(), buffer + total, want, &got, nullptr) == 0 || got == 0) {
                break;
            }
            total += got;
        }
        return total;
    }

    void WaitForOutput(std::chrono::milliseconds timeout) override {
        // An anonymous pipe cannot be waited on; the program's end can.
        ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count()));
    }

    void Terminate() override {
        terminating_ = true;
        EndAll();
    }

    bool PriorityRefused() const override { return priorityRefused_; }

  private:
    // The job holds the program and what it started; the program alone is ended too, in
    // case it could not be put into the job.
    void EndAll() {
        if (job_) {
            ::TerminateJobObject(job_.Get(), 0);
        }
        ::TerminateProcess(process_.Get(), 0);
    }

    THandle process_;
    THandle job_;
    THandle output_;
    bool priorityRefused_;
    bool ended_ = false;
    bool terminating_ = false;
    TProgramEnd end_{};
};

// A job that ends every process in it once its last handle closes; empty when the
// system refuses one (a Windows before 8 inside another job).
THandle JobFor(HANDLE process) {
    THandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                  sizeof limits) == 0 ||
        ::AssignProcessToJobObject(job.Get(), process) == 0) {
        job.Close();
    }
    return job;
}

// The working folder as a full wide path, checked to be a folder; empty for none.
std::wstring CheckedWorkingFolder(const TProgramStart& start) {
    if (start.WorkingFolder.empty()) {
        return {};
    }
    std::wstring folder = FullPath(ToWide(start.WorkingFolder));
    const DWORD attributes = Attributes(folder);
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES          ? ::GetLastError()
                        : (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? ERROR_DIRECTORY
                                                                       : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
        throw TCreateProcessError(start.CommandLine + ": cannot enter the working folder " +
                                  start.WorkingFolder + ": " + WindowsErrorText(error));
    }
    return folder;
}

// The program's standard handles: one pipe for its output and errors, NUL for input.
struct TStdHandles {
    THandle readEnd;
    THandle writeEnd;
    THandle input;
};

TStdHandles OpenStdHandles(const TProgramStart& start) {
    // The default security descriptor: only this user and the system reach the pipe.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    TStdHandles handles;
    if (::CreatePipe(handles.readEnd.Out(), handles.writeEnd.Out(), &inheritable, kPipeBuffer) ==
        0) {
        throw TCreateProcessError(start.CommandLine +
                                  ": cannot create a pipe: " + WindowsErrorText(::GetLastError()));
    }
    ::SetHandleInformation(handles.readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    // Standard input reads as empty and never blocks.
    handles.input = THandle(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!handles.input) {
        throw TCreateProcessError(start.CommandLine +
                                  ": cannot open NUL: " + WindowsErrorText(::GetLastError()));
    }
    return handles;
}

// Gives the program the class for the priority index; true when Windows refused it.
bool SetChildPriority(HANDLE process, int priorityIndex) {
    DWORD priorityClass = 0;
    if (!PriorityClassFor(priorityIndex, priorityClass)) {
        return false;
    }
    // Without the privilege Windows gives the high class for the real-time one and
    // says nothing: a class other than the one asked for counts as refused too.
    return ::SetPriorityClass(process, priorityClass) == 0 ||
           ::GetPriorityClass(process) != priorityClass;
}

[[noreturn]] void ThrowCannotStart(const TProgramStart& start, const std::wstring& program,
                                   DWORD error) {
    throw TCreateProcessError(start.CommandLine + ": cannot start " + FromWide(program) + ": " +
                              WindowsErrorText(error));
}

} // namespace

std::unique_ptr<TChildProcess> StartChildProcess(const TProgramStart& start) {
    const std::string missing = start.CommandLine + " doesn't exist.";
    if (start.Arguments.empty()) {
        throw TCreateProcessError(missing);
    }
    const std::wstring program = ResolveProgram(start.Arguments[0]);
    if (program.empty()) {
        throw TCreateProcessError(missing);
    }
    const std::wstring folder = CheckedWorkingFolder(start);
    TStdHandles handles = OpenStdHandles(start);
    THandle& readEnd = handles.readEnd;
    THandle& writeEnd = handles.writeEnd;
    THandle& input = handles.input;

    TInheritList inherit(input.Get(), writeEnd.Get());
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info.StartupInfo;
    info.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    info.StartupInfo.wShowWindow = SW_HIDE;
    info.StartupInfo.hStdInput = input.Get();
    info.StartupInfo.hStdOutput = writeEnd.Get();
    info.StartupInfo.hStdError = writeEnd.Get();
    // Suspended until it is in its job and has its priority, so that nothing it starts
    // escapes the job and no instruction runs at the wrong priority.
    DWORD flags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED;
    if (inherit.Get() != nullptr) {
        info.StartupInfo.cb = sizeof info;
        info.lpAttributeList = inherit.Get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring commandLine = ToWide(start.CommandLine);
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(program.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, flags,
                         nullptr, folder.empty() ? nullptr : folder.c_str(), &info.StartupInfo,
                         &started) == 0) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw TCreateProcessError(missing);
        }
        ThrowCannotStart(start, program, error);
    }
    THandle process(started.hProcess);
    THandle thread(started.hThread);
    THandle job = JobFor(process.Get());

    const bool priorityRefused = SetChildPriority(process.Get(), start.PriorityIndex);

    if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        const DWORD error = ::GetLastError();
        if (job) {
            ::TerminateJobObject(job.Get(), 1);
        }
        ::TerminateProcess(process.Get(), 1);
        ThrowCannotStart(start, program, error);
    }
    // The program has its own copies now; once it and its children have gone, the pipe
    // reports that every writer is gone.
    thread.Close();
    writeEnd.Close();
    input.Close();
    return std::make_unique<TWinChildProcess>(std::move(process), std::move(job),
                                              std::move(readEnd), priorityRefused);
}

} // namespace pelldrin
