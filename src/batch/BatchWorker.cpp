#include "batch/BatchWorker.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "bdn/BlackEvents.h"
#include "bdn/SubFile.h"
#include "runner/DosCommand.h"
#include "script/TaskScript.h"
#include "settings/ConfigStore.h"

#include <algorithm>
#include <filesystem>
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

std::vector<std::string> WarningLines(const std::vector<std::string>& output, std::size_t limit) {
    std::vector<const std::string*> all;
    for (const std::string& line : output) {
        if (line.rfind(kWarningPrefix, 0) == 0) {
            all.push_back(&line);
        }
    }
    const auto whole = [](const std::string& line) {
        const std::string_view cut = Utf8Prefix(line, kMaxWarningLength);
        return cut.size() == line.size() ? line : std::string(cut) + "...";
    };
    std::vector<std::string> kept;
    if (all.size() <= limit) {
        for (const std::string* line : all) {
            kept.push_back(whole(*line));
        }
        return kept;
    }
    // The last line stays: the converter sums up its run there (the pictures its .sup
    // leaves out).
    const std::size_t first = limit > 0 ? limit - 1 : 0;
    for (std::size_t i = 0; i < first; ++i) {
        kept.push_back(whole(*all[i]));
    }
    kept.push_back("... and " + std::to_string(all.size() - first - (limit > 0 ? 1 : 0)) +
                   " more warning line(s)");
    if (limit > 0) {
        kept.push_back(whole(*all.back()));
    }
    return kept;
}

int ReadTaskTimeLimit(const std::string& configPath) {
    try {
        std::int64_t seconds = 0;
        if (const auto value = ReadConfigValue(configPath, "Config", "TaskTimeLimit");
            value && TryParseInt(Trim(*value), seconds)) {
            return static_cast<int>(std::clamp<std::int64_t>(seconds, 0, 1'000'000'000));
        }
    } catch (const std::exception&) {
        // An unreadable configuration keeps the default, like a missing value.
    }
    return kDefaultTaskTimeLimit;
}

void RemoveAtomicLeftovers(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(ToFsPath(folder), error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && IsAtomicTempName(FromFsPath(it->path().filename()))) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

void RemoveTaskOutputs(const std::string& folder, const std::string& name) {
    std::error_code error;
    std::filesystem::directory_iterator it(ToFsPath(folder), error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string file = FromFsPath(it->path().filename());
        bool output = file == name + ".xml" || file == name + ".sup";
        // The pictures: name, "_", a number, ".png"; a picture in two parts adds "_1" or "_2".
        if (!output && file.size() > name.size() + 5 && file.compare(0, name.size(), name) == 0 &&
            file[name.size()] == '_' && file.ends_with(".png")) {
            const std::string number =
                file.substr(name.size() + 1, file.size() - name.size() - 1 - 4);
            output = !number.empty() && number.front() != '_' && number.back() != '_' &&
                     std::all_of(number.begin(), number.end(),
                                 [](char c) { return (c >= '0' && c <= '9') || c == '_'; });
        }
        if (output && it->is_regular_file(error)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

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
    const auto count = queue_.PendingCount();
    if (count == 0) {
        return StartResult::EmptyQueue;
    }
    JoinFinishedWorker(); // the last run's thread has switched to idle; let it end
    stopRequested_.store(false);
    host_.RunStateChanged(true);
    elapsedTicks_.store(0);
    failedTasks_.store(0);
    warnedTasks_.store(0);
    stopped_.store(false);
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
    return RunNotice{elapsedTicks_.load(), failedTasks_.load(), warnedTasks_.load(),
                     stopped_.load()};
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
                                          std::string& reason, std::vector<std::string>& warnings) {
    TaskScript script;
    try {
        const std::string folderName =
            ChooseTaskFolderName(task.path, inputs.currentFolder, inputs.outputFolder);
        script =
            BuildTaskScript(task.path, task.taskLine, inputs.currentFolder, inputs.converterPath,
                            inputs.pluginPath, inputs.outputFolder, folderName);
    } catch (const std::exception& e) {
        reason = e.what();
        return TaskOutcome::Failed;
    }
    warnings = script.warnings;
    {
        std::lock_guard lock(mutex_);
        currentTaskFolder_ = script.taskFolder;
    }
    // A stopped or killed run may have left pictures of its own here: none of them may
    // stand beside the new XML.
    RemoveTaskOutputs(script.taskFolder, StripExtension(FileNamePart(script.scriptPath)));

    TDosCommand command;
    command.CommandLine = script.commandLine;
    command.SetWorkingFolder(script.taskFolder);
    command.PriorityIndex = inputs.priorityIndex;
    command.OnProgressLine = [this](const std::string& line) {
        ParseProgressLine(line, [this](int maximum, int position) {
            host_.SetCurrentProgress(position, maximum);
        });
    };
    command.OnPriorityError = [this](const std::string& message) {
        host_.PriorityRefused(message);
    };
    const TaskOutcome ran = WaitForConverter(command, inputs, reason);
    if (ran != TaskOutcome::Done) {
        // An interrupted converter may leave half-written files under temporary names.
        RemoveAtomicLeftovers(script.taskFolder);
        return ran;
    }
    const auto lines = command.Lines();
    // The builder's warnings come first and count against the same limit.
    const std::size_t room = kMaxTaskWarnings - std::min(warnings.size(), kMaxTaskWarnings);
    for (std::string& line : WarningLines(lines, room)) {
        warnings.push_back(std::move(line));
    }
    if (const auto code = command.ExitCode(); !code || *code != 0) {
        reason = "The converter ended with exit status " +
                 (code ? std::to_string(*code) : std::string("unknown"));
        if (!lines.empty()) {
            reason += ": " + LastWords(lines.back()); // its last words usually say why
        }
        return TaskOutcome::Failed;
    }
    const std::string xmlPath = BdnXmlPathFor(script.scriptPath);
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

// Starts the converter and polls it until it ends, a stop is asked for, or the task time
// limit passes. The worker keeps the limit itself: the runner's own limit leaves the
// program running, and a converter left running would go on writing into the folder.
TBatchRun::TaskOutcome TBatchRun::WaitForConverter(TDosCommand& command, const RunInputs& inputs,
                                                   std::string& reason) {
    try {
        command.Execute();
    } catch (const std::exception& e) {
        reason = e.what();
        return TaskOutcome::Failed;
    }
    const auto started = std::chrono::steady_clock::now();
    while (true) {
        if (stopRequested_.load()) {
            command.Stop();
            return TaskOutcome::Stopped;
        }
        if (inputs.taskTimeLimit > 0 && std::chrono::steady_clock::now() - started >
                                            std::chrono::seconds(inputs.taskTimeLimit)) {
            command.Stop();
            reason = "The converter ran longer than the task time limit of " +
                     std::to_string(inputs.taskTimeLimit) +
                     " seconds (Config/TaskTimeLimit in config.xml) and was stopped";
            return TaskOutcome::Failed;
        }
        WaitPoll();
        if (stopRequested_.load()) {
            continue; // the stop path runs at the top of the loop
        }
        if (!command.IsRunning()) {
            break;
        }
    }
    if (const std::string error = command.ErrorText(); !error.empty()) {
        reason = error;
        return TaskOutcome::Failed;
    }
    return TaskOutcome::Done;
}

void TBatchRun::ReportOutcome(std::uint64_t id, TaskOutcome outcome, std::string reason,
                              const std::vector<std::string>& warnings) {
    const auto index = queue_.IndexOf(id);
    if (outcome == TaskOutcome::Done) {
        if (warnings.empty()) {
            if (index) {
                queue_.Remove(*index);
            }
            host_.TaskFinished(id);
        } else {
            // Kept, marked converted, so the warnings can be read; a new start skips it.
            if (index) {
                queue_.MarkConverted(*index, warnings, CurrentTaskFolder());
            }
            warnedTasks_.fetch_add(1);
            host_.TaskFinishedWithWarnings(id, warnings);
        }
        return;
    }
    if (reason.empty()) {
        reason = "Unknown failure";
    }
    if (index) {
        queue_.MarkFailed(*index, reason);
    }
    failedTasks_.fetch_add(1);
    host_.TaskFailed(id, reason);
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
            std::optional<TaskEntry> next;
            for (const TaskEntry& t : queue_.Snapshot()) {
                if (t.Pending() && !tried.count(t.id)) {
                    next = t;
                    break;
                }
            }
            if (!next) {
                break;
            }
            tried.insert(next->id);
            if (auto index = queue_.IndexOf(next->id)) {
                try {
                    queue_.MarkRunning(*index);
                } catch (const std::out_of_range&) {
                    continue; // removed meanwhile
                }
            }
            host_.TaskStarted(next->id);
            host_.SetCurrentProgress(0, 100);

            std::string reason;
            std::vector<std::string> warnings;
            TaskOutcome outcome;
            try {
                outcome = RunTask(*next, inputs, reason, warnings);
            } catch (const std::exception& e) {
                outcome = TaskOutcome::Failed;
                reason = e.what();
            }
            if (outcome == TaskOutcome::Stopped) {
                if (const auto index = queue_.IndexOf(next->id)) {
                    queue_.MarkStopped(*index);
                }
                stopped = true;
                break;
            }
            ++triedCount;
            host_.SetTotalProgress(std::min(triedCount, maximum), maximum);
            ReportOutcome(next->id, outcome, std::move(reason), warnings);
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
    stopped_.store(stopped);
    batchRunning_.store(false);
    host_.RunStateChanged(false);
    {
        std::lock_guard lock(mutex_);
        workerDone_ = true;
    }
    wake_.notify_all();
}

} // namespace pelldrin
