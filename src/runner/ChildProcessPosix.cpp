// POSIX processes: fork and exec, one pipe for standard output and standard error,
// a process group per program.
#include "base/FileSystem.h"
#include "runner/ChildProcess.h"
#include "runner/DosCommand.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace pelldrin {

namespace {

// How long a program may take to end after SIGTERM before it gets SIGKILL.
constexpr auto kStopGrace = std::chrono::milliseconds(500);

// What the child reports back before exec: a stage and an errno value.
enum TChildStage : int { csPriority = 1, csFolder = 2, csExec = 3 };

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file to exec. A name with a separator is a path, taken from this process's
// current folder even though the program starts in its working folder; a bare name
// is looked up in PATH. Empty when nothing is found.
std::string ResolveProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return name.front() == '/' ? name : JoinPath(CurrentFolder(), name);
    }
    const char* pathVar = ::getenv("PATH");
    const std::string searchPath = pathVar != nullptr ? pathVar : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = searchPath.find(':', start);
        std::string folder = searchPath.substr(start, end - start);
        const std::string candidate =
            folder.empty() ? JoinPath(CurrentFolder(), name) : JoinPath(folder, name);
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

// Nice values for the priority entries; false leaves the priority as inherited.
bool NiceForPriority(int priorityIndex, int& nice) {
    switch (priorityIndex) {
    case 0:
        nice = 0;
        return true;
    case 1:
        nice = 19;
        return true;
    case 2:
        nice = -10;
        return true;
    case 3:
        // No real-time class: a program that never yields could freeze the machine.
        nice = -20;
        return true;
    default:
        return false;
    }
}

void CloseQuietly(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Everything the child needs, prepared before fork: after it only async-signal-safe
// calls are allowed.
struct TChildPlan {
    const char* program;
    char* const* argv;
    const char* folder; // null: stay in the current folder
    bool setNice;
    int nice;
    int input;  // /dev/null
    int output; // write end of the output pipe
    int report; // write end of the status pipe
    int maxFd;
};

void Report(int fd, TChildStage stage, int error) {
    const int message[2] = {stage, error};
    ssize_t written;
    do {
        written = ::write(fd, message, sizeof message);
    } while (written < 0 && errno == EINTR);
}

[[noreturn]] void RunChild(const TChildPlan& plan) {
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);

    if (plan.setNice && ::setpriority(PRIO_PROCESS, 0, plan.nice) != 0) {
        Report(plan.report, csPriority, errno);
    }
    ::dup2(plan.input, 0);
    ::dup2(plan.output, 1);
    ::dup2(plan.output, 2);
    for (int fd = 0; fd <= 2; ++fd) {
        ::fcntl(fd, F_SETFD, 0); // dup2 onto the same number keeps close-on-exec
    }
    if (plan.folder != nullptr && ::chdir(plan.folder) != 0) {
        Report(plan.report, csFolder, errno);
        ::_exit(127);
    }
    // Descriptors the parent opened without close-on-exec must not reach the program.
    bool marked = false;
#ifdef CLOSE_RANGE_CLOEXEC
    marked = ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0;
#endif
    for (int fd = 3; !marked && fd <= plan.maxFd; ++fd) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::execv(plan.program, plan.argv);
    Report(plan.report, csExec, errno);
    ::_exit(127);
}

class TPosixChildProcess final : public TChildProcess {
  public:
    TPosixChildProcess(pid_t pid, int output, bool priorityRefused)
        : pid_(pid), output_(output), priorityRefused_(priorityRefused) {}

    ~TPosixChildProcess() override {
        CloseQuietly(output_);
        if (terminating_ && !statusLost_) {
            // Whatever is left of the group (programs the program started) ends now; the
            // unreaped program keeps the group id from being reused meanwhile.
            ::kill(-pid_, SIGKILL);
        }
        if (ended_ || terminating_) {
            Reap(pid_);
            return;
        }
        // Left running (a time limit ended the reading): reap it whenever it ends.
        try {
            std::thread([pid = pid_] { Reap(pid); }).detach();
        } catch (...) {
            // No thread: it stays a zombie until this process ends.
        }
    }

    bool HasEnded() override {
        if (ended_) {
            return true;
        }
        siginfo_t info{};
        int result;
        do {
            // WNOWAIT leaves it unreaped, so its group id stays reserved for Terminate.
            result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            // Reaped elsewhere (SIGCHLD ignored by this process): over, status unknown.
            ended_ = true;
            statusLost_ = true;
            return true;
        }
        if (info.si_pid != pid_) {
            return false;
        }
        ended_ = true;
        if (info.si_code == CLD_EXITED) {
            end_.Exited = true;
            end_.ExitCode = info.si_status;
        } else {
            end_.Signal = info.si_status;
        }
        return true;
    }

    TProgramEnd EndState() const override { return end_; }

    std::size_t BytesWaiting() override {
        int waiting = 0;
        if (output_ < 0 || ::ioctl(output_, FIONREAD, &waiting) != 0 || waiting < 0) {
            return 0;
        }
        return static_cast<std::size_t>(waiting);
    }

    std::size_t Read(char* buffer, std::size_t size) override {
        std::size_t total = 0;
        while (total < size && output_ >= 0) {
            const ssize_t got = ::read(output_, buffer + total, size - total);
            if (got > 0) {
                total += static_cast<std::size_t>(got);
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                break; // nothing more waiting, or every writer has gone
            }
        }
        return total;
    }

    void WaitForOutput(std::chrono::milliseconds timeout) override {
        const int ms = static_cast<int>(timeout.count());
        if (!writersGone_) {
            pollfd entry{output_, POLLIN, 0};
            const int result = ::poll(&entry, 1, ms);
            if (result <= 0 || (entry.revents & POLLIN) != 0) {
                return; // slept the whole time, was interrupted, or output came
            }
            // Every writer closed the pipe: poll would return at once from now on.
            writersGone_ = true;
        }
        timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
        ::nanosleep(&pause, nullptr);
    }

    void Terminate() override {
        if (statusLost_) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!terminating_) {
            terminating_ = true;
            termStart_ = now;
            ::kill(-pid_, SIGTERM);
        } else if (!forced_ && now - termStart_ >= kStopGrace) {
            forced_ = true;
            ::kill(-pid_, SIGKILL);
        }
    }

    bool PriorityRefused() const override { return priorityRefused_; }

  private:
    static void Reap(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    pid_t pid_;
    int output_;
    bool priorityRefused_;
    bool ended_ = false;
    bool statusLost_ = false;
    bool writersGone_ = false;
    bool terminating_ = false;
    bool forced_ = false;
    std::chrono::steady_clock::time_point termStart_{};
    TProgramEnd end_{};
};

// The descriptors a failed start has to give back.
struct TStartFds {
    int input = -1;
    int output[2] = {-1, -1};
    int report[2] = {-1, -1};
    ~TStartFds() {
        CloseQuietly(input);
        CloseQuietly(output[0]);
        CloseQuietly(output[1]);
        CloseQuietly(report[0]);
        CloseQuietly(report[1]);
    }
};

// What the child reported before its exec, through the report pipe.
struct TStartReport {
    bool priorityRefused = false;
    int failedStage = 0;
    int failure = 0;
};

// Reads the report pipe until it closes: at exec, or when the child gives up.
TStartReport ReadStartReport(int reportFd) {
    TStartReport report;
    for (;;) {
        int message[2];
        const ssize_t got = ::read(reportFd, message, sizeof message);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != static_cast<ssize_t>(sizeof message)) {
            break;
        }
        if (message[0] == csPriority) {
            report.priorityRefused = true;
        } else {
            report.failedStage = message[0];
            report.failure = message[1];
        }
    }
    return report;
}

// Collects the child that gave up before its exec and says why it did not start.
[[noreturn]] void ThrowStartFailure(const TProgramStart& start, const std::string& program,
                                    pid_t pid, const TStartReport& report) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (report.failedStage == csFolder) {
        throw TCreateProcessError(start.CommandLine + ": cannot enter the working folder " +
                                  start.WorkingFolder + ": " + SystemReason(report.failure));
    }
    if (report.failure == ENOENT || report.failure == ENOTDIR) {
        throw TCreateProcessError(start.CommandLine + " doesn't exist.");
    }
    throw TCreateProcessError(start.CommandLine + ": cannot start " + program + ": " +
                              SystemReason(report.failure));
}

} // namespace

std::unique_ptr<TChildProcess> StartChildProcess(const TProgramStart& start) {
    const std::string missing = start.CommandLine + " doesn't exist.";
    if (start.Arguments.empty()) {
        throw TCreateProcessError(missing);
    }
    const std::string program = ResolveProgram(start.Arguments[0]);
    if (program.empty()) {
        throw TCreateProcessError(missing);
    }
    std::vector<char*> argv;
    argv.reserve(start.Arguments.size() + 1);
    for (const std::string& arg : start.Arguments) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    TStartFds fds;
    fds.input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fds.input < 0) {
        throw TCreateProcessError(start.CommandLine +
                                  ": cannot open /dev/null: " + SystemReason(errno));
    }
    if (::pipe2(fds.output, O_CLOEXEC) != 0 || ::pipe2(fds.report, O_CLOEXEC) != 0) {
        throw TCreateProcessError(start.CommandLine +
                                  ": cannot create a pipe: " + SystemReason(errno));
    }
    TChildPlan plan{};
    plan.program = program.c_str();
    plan.argv = argv.data();
    plan.folder = start.WorkingFolder.empty() ? nullptr : start.WorkingFolder.c_str();
    plan.setNice = NiceForPriority(start.PriorityIndex, plan.nice);
    plan.input = fds.input;
    plan.output = fds.output[1];
    plan.report = fds.report[1];
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    plan.maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;

    const pid_t pid = ::fork();
    if (pid == 0) {
        RunChild(plan);
    }
    if (pid < 0) {
        throw TCreateProcessError(start.CommandLine +
                                  ": cannot start a process: " + SystemReason(errno));
    }
    ::setpgid(pid, pid); // also here, so the group exists before any Terminate
    CloseQuietly(fds.input);
    CloseQuietly(fds.output[1]);
    CloseQuietly(fds.report[1]);

    const TStartReport report = ReadStartReport(fds.report[0]);
    if (report.failedStage != 0) {
        ThrowStartFailure(start, program, pid, report);
    }
    ::fcntl(fds.output[0], F_SETFL, ::fcntl(fds.output[0], F_GETFL) | O_NONBLOCK);
    auto process = std::make_unique<TPosixChildProcess>(pid, fds.output[0], report.priorityRefused);
    fds.output[0] = -1;
    return process;
}

} // namespace pelldrin
