// The platform layer under the command runner: one started program whose standard
// output and standard error arrive together on one pipe.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace pelldrin {

// What to start.
struct TProgramStart {
    std::vector<std::string> Arguments; // the program first
    std::string CommandLine;            // as the user wrote it, for messages
    std::string WorkingFolder;          // empty: this process's own current folder
    int PriorityIndex = 0;              // 0 normal, 1 lower, 2 higher, 3 highest; else unchanged
};

// How a program ended.
struct TProgramEnd {
    bool Exited = false; // it ended by itself through exit
    int ExitCode = 0;    // when Exited
    int Signal = 0;      // the signal that ended it, when not Exited; 0 when unknown
};

// A running program. It runs in a group of its own (a job object on Windows), so that
// Terminate reaches the programs it started too. Its standard input reads as empty.
class TChildProcess {
  public:
    virtual ~TChildProcess() = default;

    // True once the program has ended; never blocks.
    virtual bool HasEnded() = 0;
    // How it ended; valid once HasEnded returned true.
    virtual TProgramEnd EndState() const = 0;
    // The number of output bytes waiting in the pipe, without taking them.
    virtual std::size_t BytesWaiting() = 0;
    // Takes up to size waiting bytes without blocking; returns how many it took.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
    // Sleeps for about the timeout, or less when output arrives.
    virtual void WaitForOutput(std::chrono::milliseconds timeout) = 0;
    // Asks the program and its group to end, and forces them once a short grace has
    // passed (on Windows at once: a hidden console program has no request to honour);
    // call it again on every pass until HasEnded.
    virtual void Terminate() = 0;
    // True when the requested priority could not be set; the program runs on.
    virtual bool PriorityRefused() const = 0;
};

// Starts the program directly, without a shell. Throws TCreateProcessError whose
// message names the command line and the cause; a missing program gives the command
// line followed by " doesn't exist.".
// Destroying the result closes the pipe. A program that was told to terminate is
// ended with its whole group and reaped; one still running otherwise is left to run
// on and reaped in the background when it ends.
std::unique_ptr<TChildProcess> StartChildProcess(const TProgramStart& start);

} // namespace pelldrin
