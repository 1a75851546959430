// Runs the task queue from its head to its end on a worker thread: per task the
// script, the converter with its progress, the blank events, and the removal of
// the finished task. The window reaches it only through TBatchRun, and it
// reaches the window only through IBatchHost.
#pragma once

#include "batch/TaskQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelldrin {

class TDosCommand;

// What the worker tells the window. Every call comes from the worker's
// thread; an implementation must not block (the window queues them onto its
// own thread).
class IBatchHost {
  public:
    virtual ~IBatchHost() = default;
    // The total bar: tasks tried so far out of the count taken at the start.
    virtual void SetTotalProgress(int position, int maximum) = 0;
    // The current file's bar, from the converter's progress lines.
    virtual void SetCurrentProgress(int position, int maximum) = 0;
    // A task's conversion begins.
    virtual void TaskStarted(std::uint64_t taskId) = 0;
    // A task was converted without warnings and has been removed from the queue.
    virtual void TaskFinished(std::uint64_t taskId) = 0;
    // A task was converted with warnings (the converter's "Warning: " lines and what the
    // task builder noticed); it stays in the queue, marked converted (a run skips it), so
    // the user can read them.
    virtual void TaskFinishedWithWarnings(std::uint64_t taskId,
                                          const std::vector<std::string>& warnings) {
        (void)warnings;
        TaskFinished(taskId);
    }
    // A task could not be converted; it stays queued, marked failed with the reason.
    virtual void TaskFailed(std::uint64_t taskId, const std::string& reason) = 0;
    // Running (true) or idle (false); idle is the worker's last call of a run.
    virtual void RunStateChanged(bool running) = 0;
    // A message for the user about the run, such as a refused priority change;
    // the run goes on.
    virtual void RunMessage(const std::string& message) = 0;
    // The system refused the converter's priority; message is the runner's fixed text.
    virtual void PriorityRefused(const std::string& message) { RunMessage(message); }
};

// The prefix of a converter's warning lines.
inline constexpr std::string_view kWarningPrefix = "Warning: ";
// How many warning lines a task keeps, and how long each may be.
inline constexpr std::size_t kMaxTaskWarnings = 20;
// Long enough for any warning the renderer writes (a path and a list of frames) to be
// read whole; only a converter that prints without line breaks is cut.
inline constexpr std::size_t kMaxWarningLength = 4096;

// The converter's warning lines among its output, in order, at most `limit` of them, each
// cut at kMaxWarningLength bytes; beyond the limit, the first ones, a line that counts the
// ones left out, and the last one.
std::vector<std::string> WarningLines(const std::vector<std::string>& output,
                                      std::size_t limit = kMaxTaskWarnings);

// The default task time limit, in seconds.
inline constexpr int kDefaultTaskTimeLimit = 7200;
// Config/TaskTimeLimit: the seconds a task's converter may run before it is stopped and
// the task fails; the default when missing or not a number, 0 or less for no limit.
int ReadTaskTimeLimit(const std::string& configPath);

// Removes the temporary files an interrupted write left in folder (AtomicFile names).
void RemoveAtomicLeftovers(const std::string& folder);

// Everything a run needs besides the queue, read once at the start.
struct RunInputs {
    std::string currentFolder; // the program's folder; tool paths are relative to it
    std::string converterPath; // begins with a separator
    std::string pluginPath;
    std::string outputFolder; // ends with a separator
    int priorityIndex = 0;
    int taskTimeLimit = 0; // seconds a converter may run; 0 or less: no limit
};

// Removes what an earlier conversion of the task named `name` left in folder: its XML, its
// .sup and its numbered pictures ("name_00001.png", "name_00002_1.png"); other files stay.
void RemoveTaskOutputs(const std::string& folder, const std::string& name);

// The tool paths from the configuration; nullopt and a reason when either is missing.
struct ToolPaths {
    std::string converterPath;
    std::string pluginPath;
};
std::optional<ToolPaths> ReadToolPaths(const std::string& configPath, std::string& reason);

// The BDN XML path that the converter writes for a script.
std::string BdnXmlPathFor(const std::string& scriptPath);

// The blank-event mode for a task's flags: 0 none, 1 first, 2 end, 3 both.
int BlackEventMode(const std::string& firstBlack, const std::string& endBlack);

// The end-of-run notice: elapsed seconds, the number of tasks that failed or
// finished with warnings, and whether a stop ended the run.
struct RunNotice {
    int elapsedTicks = 0;
    int failedTasks = 0;
    int warnedTasks = 0;
    bool stopped = false;
};

class TBatchRun {
  public:
    TBatchRun(TaskQueue& queue, IBatchHost& host);
    ~TBatchRun(); // asks a running worker to stop and waits for it
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    enum class StartResult { Started, EmptyQueue, AlreadyRunning };
    // Starts a worker for the queue; the window switches to running first.
    StartResult Start(const RunInputs& inputs);

    // Asks the worker to stop; it ends the converter at its next poll.
    void RequestStop();
    // Asks the worker to stop and waits at most `limit` for its thread to end.
    bool StopAndWait(std::chrono::milliseconds limit);

    // The one-second tick: counts the run's seconds; once the run has ended it
    // gives the notice (once) and the window switches its timer off.
    std::optional<RunNotice> Tick();

    bool BatchRunning() const { return batchRunning_.load(); }
    bool StopRequested() const { return stopRequested_.load(); }
    int ElapsedTicks() const { return elapsedTicks_.load(); }
    // The folder of the task being converted (or the last one).
    std::string CurrentTaskFolder() const;

    // How long the worker waits between two polls of the converter.
    static constexpr std::chrono::milliseconds kPollInterval{100};

  private:
    void Worker(RunInputs inputs, int maximum);
    enum class TaskOutcome { Done, Failed, Stopped };
    TaskOutcome RunTask(const TaskEntry& task, const RunInputs& inputs, std::string& reason,
                        std::vector<std::string>& warnings);
    TaskOutcome WaitForConverter(TDosCommand& command, const RunInputs& inputs,
                                 std::string& reason);
    void ReportOutcome(std::uint64_t id, TaskOutcome outcome, std::string reason,
                       const std::vector<std::string>& warnings);
    bool WaitPoll(); // true when a stop was requested
    void JoinFinishedWorker();

    TaskQueue& queue_;
    IBatchHost& host_;
    std::thread worker_;
    std::atomic<bool> batchRunning_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> elapsedTicks_{0};
    std::atomic<int> failedTasks_{0};
    std::atomic<int> warnedTasks_{0};
    std::atomic<bool> stopped_{false};
    bool noticePending_ = false; // only the window's thread touches it

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool workerDone_ = true;
    std::string currentTaskFolder_;
};

} // namespace pelldrin
