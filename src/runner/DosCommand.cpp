#include "runner/DosCommand.h"

#include "runner/ChildProcess.h"
#include "runner/CommandLineSplit.h"
#include "runner/LineCutter.h"

namespace pelldrin {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kInitialBuffer = 1024;
constexpr auto kPollInterval = std::chrono::milliseconds(1);
const char* const kPriorityErrorText = "更改优先级错误";

int WholeSeconds(Clock::duration d) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

// Puts a reported line into the caller's list, over its own beginning when there is one.
void PutOutputLine(std::vector<std::string>* outputLines, const std::string& line,
                   bool replacesPartial) {
    if (outputLines == nullptr) {
        return;
    }
    if (replacesPartial && !outputLines->empty()) {
        outputLines->back() = line;
    } else {
        outputLines->push_back(line);
    }
}

// Ends a program the runner gives up on, so it does not write into a closed pipe.
void EndProgram(TChildProcess& process) {
    std::vector<char> discard(kInitialBuffer);
    while (!process.HasEnded()) {
        process.Terminate();
        while (process.Read(discard.data(), discard.size()) > 0) {
        }
        process.WaitForOutput(kPollInterval);
    }
}

} // namespace

void TProcessTimer::Start() {
    start_ = Clock::now();
    lastOutput_ = start_;
    enabled_.store(true, std::memory_order_release);
}

int TProcessTimer::SinceBeginning() const {
    return WholeSeconds(Clock::now() - start_);
}

int TProcessTimer::SinceLastOutput() const {
    return WholeSeconds(Clock::now() - lastOutput_);
}

void TProcessTimer::OutputArrived() {
    lastOutput_ = Clock::now();
}

// Applies the cut lines to the runner: its line list, the caller's list, the callbacks.
class TRunnerSink final : public TLineSink {
  public:
    TRunnerSink(TDosCommand& owner, std::vector<std::string>& lines, std::mutex& linesMutex,
                std::vector<std::string>* outputLines, TProcessTimer& timer)
        : owner_(owner), lines_(lines), linesMutex_(linesMutex), outputLines_(outputLines),
          timer_(timer) {}

    void LineComplete(const std::string& line, TLineEnd end, bool replacesPartial) override {
        if (end != TLineEnd::EndOfOutput) {
            timer_.OutputArrived();
        }
        {
            std::lock_guard lock(linesMutex_);
            lines_.push_back(line);
        }
        PutOutputLine(outputLines_, line, replacesPartial);
        if (end == TLineEnd::CarriageReturn && owner_.OnProgressLine) {
            owner_.OnProgressLine(line);
        }
        if (owner_.OnNewLine) {
            owner_.OnNewLine(owner_, line, otEntireLine);
        }
    }

    void LineBegun(const std::string& line, bool replacesPartial) override {
        PutOutputLine(outputLines_, line, replacesPartial);
        if (owner_.OnNewLine) {
            owner_.OnNewLine(owner_, line, otBeginningOfLine);
        }
    }

  private:
    TDosCommand& owner_;
    std::vector<std::string>& lines_;
    std::mutex& linesMutex_;
    std::vector<std::string>* outputLines_;
    TProcessTimer& timer_;
};

TDosThread::TDosThread(TDosCommand& owner, TSettings settings)
    : owner_(owner), settings_(std::move(settings)), thread_(&TDosThread::Run, this) {}

TDosThread::~TDosThread() {
    Join();
}

void TDosThread::Join() {
    if (thread_.joinable() && !IsCurrentThread()) {
        thread_.join();
    }
}

namespace {

// Why the runner gives up on a program that is still running, or empty while it may go on.
std::string TimeLimitPassed(const TDosThread::TSettings& settings, const TProcessTimer& timer) {
    if (settings.MaxTimeAfterBeginning > 0 &&
        timer.SinceBeginning() > settings.MaxTimeAfterBeginning) {
        return settings.CommandLine + " ran longer than " +
               std::to_string(settings.MaxTimeAfterBeginning) + " seconds; it was left running.";
    }
    if (settings.MaxTimeAfterLastOutput > 0 &&
        timer.SinceLastOutput() > settings.MaxTimeAfterLastOutput) {
        return settings.CommandLine + " printed no line for more than " +
               std::to_string(settings.MaxTimeAfterLastOutput) + " seconds; it was left running.";
    }
    return {};
}

} // namespace

bool TDosThread::ReadUntilEnd(TChildProcess& process, std::string& errorText) {
    TLineCutter cutter;
    TRunnerSink sink(owner_, owner_.lines_, owner_.resultMutex_, settings_.OutputLines,
                     owner_.timer_);
    std::vector<char> buffer(kInitialBuffer);
    bool ended = false;
    for (;;) {
        // Asked before reading, so the pass that sees the end still drains the pipe.
        ended = process.HasEnded();
        const std::size_t waiting = process.BytesWaiting();
        if (waiting > 0) {
            if (waiting > buffer.size()) {
                buffer.resize(waiting);
            }
            const std::size_t got = process.Read(buffer.data(), buffer.size());
            if (got > 0) {
                cutter.Feed(std::string_view(buffer.data(), got), sink, &terminate_);
            }
        }
        if (!ended) {
            process.WaitForOutput(kPollInterval);
        }
        if (terminate_.load()) {
            process.Terminate();
        }
        if (ended) {
            break;
        }
        errorText = TimeLimitPassed(settings_, owner_.timer_);
        if (!errorText.empty()) {
            break;
        }
    }
    cutter.Finish(sink);
    return ended;
}

void TDosThread::Run() {
    std::string errorText;
    std::optional<int> exitCode;
    std::unique_ptr<TChildProcess> process;
    bool failed = false;
    try {
        TProgramStart start;
        start.Arguments = SplitCommandLine(settings_.CommandLine);
        start.CommandLine = settings_.CommandLine;
        start.WorkingFolder = settings_.WorkingFolder;
        start.PriorityIndex = settings_.PriorityIndex;
        process = StartChildProcess(start);
        if (process->PriorityRefused() && owner_.OnPriorityError) {
            owner_.OnPriorityError(kPriorityErrorText);
        }
        if (ReadUntilEnd(*process, errorText)) {
            const TProgramEnd end = process->EndState();
            if (end.Exited) {
                exitCode = end.ExitCode;
            } else if (!terminate_.load()) {
                errorText = end.Signal != 0 ? settings_.CommandLine + " was killed by signal " +
                                                  std::to_string(end.Signal) + "."
                                            : settings_.CommandLine + " ended; its exit status "
                                                                      "is unknown.";
            }
        }
    } catch (const std::exception& e) {
        failed = true;
        errorText = e.what();
        exitCode.reset();
    } catch (...) {
        failed = true;
        errorText = settings_.CommandLine + ": unknown error while reading its output.";
        exitCode.reset();
    }

    // Clean-up, also after an error: nothing may leave this thread.
    try {
        if (failed && process && !process->HasEnded()) {
            EndProgram(*process);
        }
    } catch (...) {
    }
    process.reset();
    Publish(exitCode, errorText);
}

void TDosThread::Publish(std::optional<int> exitCode, const std::string& errorText) {
    {
        std::lock_guard lock(owner_.resultMutex_);
        owner_.exitCode_ = exitCode;
        owner_.errorText_ = errorText;
    }
    owner_.timer_.SwitchOff();
    try {
        if (owner_.OnTerminated) {
            owner_.OnTerminated(owner_);
        }
    } catch (const std::exception& e) {
        std::lock_guard lock(owner_.resultMutex_);
        if (owner_.errorText_.empty()) {
            owner_.errorText_ = e.what();
        }
    } catch (...) {
    }
}

TDosCommand::~TDosCommand() {
    Stop();
}

void TDosCommand::Execute() {
    if (CommandLine.empty()) {
        throw EDosCommand("No Commandline to execute");
    }
    if (IsRunning()) {
        throw EDosCommand(CommandLine + ": cannot start while the previous command still runs");
    }
    if (thread_ && thread_->IsCurrentThread()) {
        throw EDosCommand(CommandLine + ": cannot start from the runner's own callback");
    }
    thread_.reset(); // a finished run: wait for its thread to be gone
    {
        std::lock_guard lock(resultMutex_);
        lines_.clear();
        exitCode_.reset();
        errorText_.clear();
    }
    TDosThread::TSettings settings;
    settings.CommandLine = CommandLine;
    settings.WorkingFolder = workingFolder_;
    settings.PriorityIndex = PriorityIndex;
    settings.MaxTimeAfterBeginning = MaxTimeAfterBeginning;
    settings.MaxTimeAfterLastOutput = MaxTimeAfterLastOutput;
    settings.OutputLines = OutputLines;
    timer_.Start();
    try {
        thread_ = std::make_unique<TDosThread>(*this, std::move(settings));
    } catch (...) {
        timer_.SwitchOff();
        throw;
    }
}

bool TDosCommand::IsRunning() const {
    return thread_ != nullptr && timer_.Enabled();
}

void TDosCommand::Stop() {
    if (!thread_) {
        return;
    }
    thread_->RequestTermination();
    if (thread_->IsCurrentThread()) {
        return; // called from a callback: the thread ends the program on its next pass
    }
    thread_.reset();
}

std::vector<std::string> TDosCommand::Lines() const {
    std::lock_guard lock(resultMutex_);
    return lines_;
}

std::optional<int> TDosCommand::ExitCode() const {
    std::lock_guard lock(resultMutex_);
    return exitCode_;
}

std::string TDosCommand::ErrorText() const {
    std::lock_guard lock(resultMutex_);
    return errorText_;
}

} // namespace pelldrin
