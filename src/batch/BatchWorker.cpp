#include "batch/BatchWorker.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "bdn/BlackEvents.h"
#include "bdn/SubFile.h"
#include "runner/DosCommand.h"
#include "script/TaskScript.h"
#include "settings/ConfigStore.h"

#include <unordered_set>

namespace pelldrin {

namespace {

// A converter's last line goes into the failure reason the window shows; one that
// printed megabytes without a line break must not make that reason megabytes long.
constexpr std::size_t kMaxLastWords = 300;

std::string LastWords(const std::string& line) {
    const std::string_view kept = Utf8Prefix(line, kMaxLastWords);
    return kept.size() == line.size() ? line : std::string(kept) + "...";
}

} // namespace

std::optional<ToolPaths> ReadToolPaths(const std::string& configPath, std::string& reason) {
    try {
        auto converter = ReadConfigValue(configPath, "Path", "Avs2bdnxml");
        auto plugin = ReadConfigValue(configPath, "Path", "VSFilter");
        if (!converter || !plugin) {
            reason = std::string("\"") + configPath + "\" has no " +
                     (!converter ? "Path/Avs2bdnxml" : "Path/VSFilter") + " value";
            return std::nullopt;
        }
        return ToolPaths{*converter, *plugin};
    } catch (const std::exception& e) {
        reason = e.what();
        return std::nullopt;
    }
}

std::string BdnXmlPathFor(const std::string& scriptPath) {
    return JoinPath(FolderOf(scriptPath), StripExtension(FileNamePart(scriptPath)) + ".xml");
}

int BlackEventMode(const std::string& firstBlack, const std::string& endBlack) {
    const bool first = firstBlack == "1";
    const bool end = endBlack == "1";
    return first && end ? 3 : first ? 1 : end ? 2 : 0;
}

TBatchRun::TBatchRun(TaskQueue& queue, IBatchHost& host) : queue_(queue), host_(host) {}

TBatchRun::~TBatchRun() {
    RequestStop();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void TBatchRun::JoinFinishedWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

TBatchRun::StartResult TBatchRun::Start(const RunInputs& inputs) {
    if (batchRunning_.load()) {
        return StartResult::AlreadyRunning;
    }
    const auto count = queue_.Count();
    if (count == 0) {
        return StartResult::EmptyQueue;
    }
    JoinFinishedWorker(); // the last run's thread has switched to idle; let it end
    stopRequested_.store(false);
    host_.RunStateChanged(true);
    elapsedTicks_.store(0);
    failedTasks_.store(0);
    batchRunning_.store(true);
    noticePending_ = true;
    const int maximum = static_cast<int>(count);
    host_.SetCurrentProgress(0, 100);
    host_.SetTotalProgress(0, maximum);
    {
        std::lock_guard lock(mutex_);
        workerDone_ = false;
    }
    worker_ = std::thread([this, inputs, maximum] { Worker(inputs, maximum); });
    return StartResult::Started;
}

void TBatchRun::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_.store(true);
    }
    wake_.notify_all();
}

bool TBatchRun::StopAndWait(std::chrono::milliseconds limit) {
    RequestStop();
    std::unique_lock lock(mutex_);
    const bool ended = wake_.wait_for(lock, limit, [this] { return workerDone_; });
    lock.unlock();
    if (ended) {
        JoinFinishedWorker();
    }
    return ended;
}

std::optional<RunNotice> TBatchRun::Tick() {
    elapsedTicks_.fetch_add(1);
    if (batchRunning_.load() || !noticePending_) {
        return std::nullopt;
    }
    noticePending_ = false;
    return RunNotice{elapsedTicks_.load(), failedTasks_.load()};
}

std::string TBatchRun::CurrentTaskFolder() const {
    std::lock_guard lock(mutex_);
    return currentTaskFolder_;
}

bool TBatchRun::WaitPoll() {
    std::unique_lock lock(mutex_);
    // Wakes early on a stop request, so quitting never waits a full poll.
    wake_.wait_for(lock, kPollInterval, [this] { return stopRequested_.load(); });
    return stopRequested_.load();
}

TBatchRun::TaskOutcome TBatchRun::RunTask(const TaskEntry& task, const RunInputs& inputs,
                                          std::string& reason) {
    TaskScript script;
    try {
        script = BuildTaskScript(task.path, task.taskLine, inputs.currentFolder,
                                 inputs.converterPath, inputs.pluginPath, inputs.outputFolder);
    } catch (const std::exception& e) {
        reason = e.what();
        return TaskOutcome::Failed;
    }
    {
        std::lock_guard lock(mutex_);
        currentTaskFolder_ = script.taskFolder;
    }

    TDosCommand command;
    command.CommandLine = script.commandLine;
    command.SetWorkingFolder(script.taskFolder);
    command.PriorityIndex = inputs.priorityIndex;
    command.OnProgressLine = [this](const std::string& line) {
        ParseProgressLine(line, [this](int maximum, int position) {
            host_.SetCurrentProgress(position, maximum);
        });
    };
    command.OnPriorityError = [this](const std::string& message) { host_.RunMessage(message); };
    try {
        command.Execute();
    } catch (const std::exception& e) {
        reason = e.what();
        return TaskOutcome::Failed;
    }
    if (!WaitForConverter(command)) {
        return TaskOutcome::Stopped;
    }
    return CheckConverterResult(command, task, script.scriptPath, reason);
}

bool TBatchRun::WaitForConverter(TDosCommand& command) {
    while (true) {
        if (stopRequested_.load()) {
            command.Stop();
            return false;
        }
        WaitPoll();
        if (stopRequested_.load()) {
            continue; // the stop path runs at the top of the loop
        }
        if (!command.IsRunning()) {
            return true;
        }
    }
}

TBatchRun::TaskOutcome TBatchRun::CheckConverterResult(const TDosCommand& command,
                                                       const TaskEntry& task,
                                                       const std::string& scriptPath,
                                                       std::string& reason) {
    if (const std::string error = command.ErrorText(); !error.empty()) {
        reason = error;
        return TaskOutcome::Failed;
    }
    if (const auto code = command.ExitCode(); !code || *code != 0) {
        reason = "The converter ended with exit status " +
                 (code ? std::to_string(*code) : std::string("unknown"));
        const auto lines = command.Lines();
        if (!lines.empty()) {
            reason += ": " + LastWords(lines.back()); // its last words usually say why
        }
        return TaskOutcome::Failed;
    }
    const std::string xmlPath = BdnXmlPathFor(scriptPath);
    if (!FileExists(xmlPath)) {
        reason = "The converter wrote no BDN XML file \"" + xmlPath + "\"";
        return TaskOutcome::Failed;
    }
    const int mode = BlackEventMode(TaskLineField(task.taskLine, FirstBlack),
                                    TaskLineField(task.taskLine, EndBlack));
    try {
        if (mode != 0) {
            AddBlackEvents(xmlPath, mode);
        } else {
            // Nothing to add, but a file that does not read is no result either.
            TBDNFile written;
            LoadBDNFile(xmlPath, written);
        }
    } catch (const std::exception& e) {
        reason = e.what();
        return TaskOutcome::Failed;
    }
    return TaskOutcome::Done;
}

std::optional<TaskEntry>
TBatchRun::NextUntried(const std::unordered_set<std::uint64_t>& tried) const {
    for (const TaskEntry& t : queue_.Snapshot()) {
        if (!tried.count(t.id)) {
            return t;
        }
    }
    return std::nullopt;
}

void TBatchRun::Settle(std::uint64_t taskId, bool done, std::string reason) {
    const auto index = queue_.IndexOf(taskId);
    if (done) {
        if (index) {
            queue_.Remove(*index);
        }
        host_.TaskFinished(taskId);
        return;
    }
    if (reason.empty()) {
        reason = "Unknown failure";
    }
    if (index) {
        queue_.MarkFailed(*index, reason);
    }
    failedTasks_.fetch_add(1);
    host_.TaskFailed(taskId, reason);
}

void TBatchRun::Worker(RunInputs inputs, int maximum) {
    std::unordered_set<std::uint64_t> tried;
    int triedCount = 0;
    bool stopped = false;
    try {
        while (true) {
            // The queue is read afresh before every task, so files dropped during the
            // run are converted in the same run; tasks that failed in this run are not
            // tried again until the next start.
            std::optional<TaskEntry> next = NextUntried(tried);
            if (!next) {
                break;
            }
            tried.insert(next->id);
            if (auto index = queue_.IndexOf(next->id)) {
                try {
                    queue_.ClearFailed(*index);
                } catch (const std::out_of_range&) {
                    continue; // removed meanwhile
                }
            }
            host_.TaskStarted(next->id);
            host_.SetCurrentProgress(0, 100);

            std::string reason;
            TaskOutcome outcome;
            try {
                outcome = RunTask(*next, inputs, reason);
            } catch (const std::exception& e) {
                outcome = TaskOutcome::Failed;
                reason = e.what();
            }
            if (outcome == TaskOutcome::Stopped) {
                stopped = true;
                break;
            }
            ++triedCount;
            host_.SetTotalProgress(std::min(triedCount, maximum), maximum);
            Settle(next->id, outcome == TaskOutcome::Done, reason);
        }
    } catch (const std::exception& e) {
        // Nothing may take the program down from this thread; the run just ends.
        host_.RunMessage(std::string("The batch stopped: ") + e.what());
    }

    if (stopped) {
        host_.SetTotalProgress(0, maximum);
        host_.SetCurrentProgress(0, 100);
    } else {
        host_.SetTotalProgress(maximum, maximum);
    }
    batchRunning_.store(false);
    host_.RunStateChanged(false);
    {
        std::lock_guard lock(mutex_);
        workerDone_ = true;
    }
    wake_.notify_all();
}

} // namespace pelldrin
