// Runs one console program and reads its output on a thread of its own, cutting it
// into lines and handing progress lines on.
#pragma once

#include "runner/ProgressLine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pelldrin {

// How much of a line a OnNewLine call carries.
enum TOutputType : std::uint8_t {
    otEntireLine = 0,     // a complete line
    otBeginningOfLine = 1 // the start of a line whose end has not arrived yet
};

// A runner used wrongly, e.g. started without a command line.
class EDosCommand : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

// The program could not be started; the message names the command line and the cause.
class TCreateProcessError : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

// Marks a run as in progress and counts whole seconds for the two time limits.
class TProcessTimer {
  public:
    // Switches the timer on with both counters at 0.
    void Start();
    // Switches the timer off: the run is over.
    void SwitchOff() { enabled_.store(false, std::memory_order_release); }
    // True while a run is in progress.
    bool Enabled() const { return enabled_.load(std::memory_order_acquire); }
    // Whole seconds since Start.
    int SinceBeginning() const;
    // Whole seconds since the last complete line (or Start).
    int SinceLastOutput() const;
    // Sets SinceLastOutput back to 0; called on the reading thread only.
    void OutputArrived();

  private:
    std::atomic<bool> enabled_{false};
    std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::time_point lastOutput_{};
};

class TDosCommand;
class TChildProcess;

// The reading thread of one run: starts the program, reads its output every
// millisecond until it ends, then cleans up.
class TDosThread {
  public:
    // Copies of the runner's settings, taken when the run starts.
    struct TSettings {
        std::string CommandLine;
        std::string WorkingFolder;
        int PriorityIndex = 0;
        int MaxTimeAfterBeginning = 0;
        int MaxTimeAfterLastOutput = 0;
        std::vector<std::string>* OutputLines = nullptr;
    };

    // Starts the thread at once.
    TDosThread(TDosCommand& owner, TSettings settings);
    // Waits for the thread to end.
    ~TDosThread();
    TDosThread(const TDosThread&) = delete;
    TDosThread& operator=(const TDosThread&) = delete;

    // Asks the thread to end the program; it reads no further lines after this.
    void RequestTermination() { terminate_.store(true); }
    // Waits until the thread has ended.
    void Join();
    // True when called on this reading thread (e.g. from a callback).
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void Run();
    // Reads the program's output until it ends (true) or a time limit passes (false,
    // with the reason in errorText).
    bool ReadUntilEnd(TChildProcess& process, std::string& errorText);
    // Hands the result to the runner and tells its owner that the program is done.
    void Publish(std::optional<int> exitCode, const std::string& errorText);

    TDosCommand& owner_;
    TSettings settings_;
    std::atomic<bool> terminate_{false};
    std::thread thread_; // last: started once everything above is set
};

// Runs one console program with its standard output and standard error captured.
// Set the fields, then Execute; poll IsRunning; read Lines, ExitCode and ErrorText
// once it reports false. Callbacks run on the reading thread.
class TDosCommand {
  public:
    // Passed to the program unchanged apart from splitting by the Windows rules.
    std::string CommandLine;
    // When set, also receives the beginning of a line still being received, replaced
    // by the whole line once it is complete. Written by the reading thread.
    std::vector<std::string>* OutputLines = nullptr;
    std::function<void(TDosCommand& sender, const std::string& line, TOutputType type)> OnNewLine;
    // Fired on the reading thread once its clean-up is done and IsRunning is false.
    std::function<void(TDosCommand& sender)> OnTerminated;
    // Each line ended by a carriage return, before OnNewLine fires for it.
    std::function<void(const std::string& line)> OnProgressLine;
    // Called with the message text when the priority change is refused; the run goes on.
    std::function<void(const std::string& message)> OnPriorityError;
    int MaxTimeAfterBeginning = 0;  // seconds, 0 or less: no limit
    int MaxTimeAfterLastOutput = 0; // seconds since the last complete line, 0 or less: no limit
    int PriorityIndex = 0;          // 0 normal, 1 lower, 2 higher, 3 highest; else unchanged

    TDosCommand() = default;
    // Stops a run still going. Never destroy a runner from inside its own callbacks.
    ~TDosCommand();
    TDosCommand(const TDosCommand&) = delete;
    TDosCommand& operator=(const TDosCommand&) = delete;

    // The folder the next program starts in; empty means this process's current folder.
    void SetWorkingFolder(const std::string& folder) { workingFolder_ = folder; }
    // Starts the program on a new reading thread and returns at once. Throws EDosCommand
    // when CommandLine is empty or a run is still going.
    void Execute();
    // True from Execute until the reading thread has finished its clean-up.
    bool IsRunning() const;
    // Ends the program and the programs it started, and waits for the reading thread.
    void Stop();
    // The complete lines of the last run.
    std::vector<std::string> Lines() const;
    // The program's exit status once it has ended by itself.
    std::optional<int> ExitCode() const;
    // Why the run failed; empty when it did not (a stop asked for is no failure).
    std::string ErrorText() const;

  private:
    friend class TDosThread;

    std::string workingFolder_;
    TProcessTimer timer_;
    std::unique_ptr<TDosThread> thread_;
    mutable std::mutex resultMutex_; // guards the three below
    std::vector<std::string> lines_;
    std::optional<int> exitCode_;
    std::string errorText_;
};

} // namespace pelldrin
