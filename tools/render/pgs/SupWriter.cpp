#include "pgs/SupWriter.h"

#include "base/AtomicFile.h"
#include "base/ThreadCache.h"
#include "pgs/DecoderModel.h"
#include "pgs/DisplaySchedule.h"
#include "pgs/EpochPlan.h"
#include "pgs/SupCheck.h"
#include "pgs/SupInput.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace pelldrin::pgs {

namespace {

// Bytes collected before they go to the file.
constexpr std::size_t kFlushBytes = 1 << 20;
// Pixels held for planning before a group is written even without a pause. A group is planned
// and written while the next one gathers, so the writer holds up to two.
constexpr std::size_t kGroupBytes = std::size_t{24} << 20;
// Ranges of frames named in a report.
constexpr std::size_t kReportedRanges = 12;

std::size_t PictureBytes(const Picture& picture) {
    std::size_t bytes = 0;
    for (const PictureObject& o : picture.objects) {
        bytes += o.indices.size();
    }
    return bytes;
}

// The time the picture needs as an epoch start of its own.
std::int64_t EpochStartTicks(const Picture& picture, const StreamInfo& info) {
    SetWork work;
    work.epochStart = true;
    work.planePixels = std::int64_t{info.width} * info.height;
    for (const PictureObject& o : picture.objects) {
        work.shown.push_back({work.windows.size(), o.area.Area()});
        work.windows.push_back(o.area.Area());
    }
    return DecodeDuration(work);
}

std::string FrameRanges(const std::vector<std::int64_t>& frames) {
    std::string text;
    std::size_t ranges = 0;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) {
            ++j;
        }
        if (ranges++ == kReportedRanges) {
            return text + ", ...";
        }
        text += text.empty() ? "" : ", ";
        text += std::to_string(frames[i]);
        if (j > i) {
            text += '-';
            text += std::to_string(frames[j]);
        }
        i = j + 1;
    }
    return text;
}

} // namespace

std::string DescribeReport(const SupReport& report) {
    std::vector<std::string> parts;
    if (const std::size_t n = report.leftOutFrames.size(); n > 0) {
        parts.push_back("left out " + std::to_string(n) + " of " + std::to_string(report.pictures) +
                        (report.pictures == 1 ? " picture" : " pictures") +
                        " that a player could not decode in time, at " +
                        (n == 1 ? "frame " : "frames ") + FrameRanges(report.leftOutFrames));
    }
    // Said as a user sees it: when each late picture comes on screen.
    auto late = report.late.begin();
    if (late != report.late.end() && late->due == report.firstFrame) {
        parts.push_back("the first subtitle starts at frame " + std::to_string(late->due) +
                        ", before a player can have decoded it, so it shows from frame " +
                        std::to_string(late->shown));
        ++late;
    }
    if (const auto n = static_cast<std::size_t>(report.late.end() - late); n == 1) {
        parts.push_back("a picture starts at frame " + std::to_string(late->due) +
                        ", before a player can have decoded it, so it shows from frame " +
                        std::to_string(late->shown));
    } else if (n > 1) {
        std::string list;
        for (std::size_t i = 0; i < n; ++i, ++late) {
            if (i == kReportedRanges) {
                list += ", ...";
                break;
            }
            list += (i == 0 ? "frame " : ", ") + std::to_string(late->due) +
                    (i == 0 ? " shows from " : " from ") + std::to_string(late->shown);
        }
        parts.push_back(std::to_string(n) +
                        " pictures start before a player can have decoded them, so each shows a "
                        "few frames later (" +
                        list + ")");
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

struct SupWriter::State {
    std::string path;
    StreamInfo info;
    std::string stream;             // not yet in the file
    std::optional<AtomicFile> file; // grows beside the target; renamed over it when complete
    // Every set written is checked before the file replaces the target; the object code
    // comes from the coder, which its own tests decode.
    std::optional<SupChecker> checker;
    std::optional<DisplayScheduler> scheduler;
    std::int64_t eventNumber = 0;
    std::int64_t lastOutFrame = 0;
    bool failed = false;
    bool finished = false;
    // Pictures waiting until the next pause shows where their epochs end, and their runs.
    std::vector<Picture> group;
    RunBuilder runs;
    std::size_t groupBytes = 0; // what the group's pictures would hold without their runs

    // A group handed to the group thread, which plans its epochs and writes its sets while
    // the next group gathers: the pictures keep coming instead of waiting for the planning.
    struct GroupJob {
        std::vector<Picture> pictures;
        std::vector<Run> runs;
        bool nextAbuts = false, leaveOpen = false;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<GroupJob> pending; // at most one waits
    bool planning = false, stopping = false;
    std::exception_ptr groupError;
    // The group thread's alone: the epoch a group cut short for memory left open.
    OpenEpoch open;
    std::thread groupThread; // started last, stopped first

    EventContext Context() const { return {&path, &info, eventNumber}; }

    void Emit(std::string_view set) {
        stream += set;
        checker->Feed(set);
    }

    // leaveOpen: the group ends only because it holds too much, and the next one may carry
    // on with its last epoch. Waits while an earlier group waits; rethrows the group thread's
    // failure.
    void WriteGroup(bool nextAbuts, bool leaveOpen) {
        if (group.empty()) {
            return;
        }
        GroupJob job{std::move(group), runs.Finish(), nextAbuts, leaveOpen};
        group.clear();
        groupBytes = 0;
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !pending || groupError; });
        if (groupError) {
            std::rethrow_exception(groupError);
        }
        pending = std::move(job);
        changed.notify_all();
    }

    // The group thread's function: the run-length buffers it keeps go with it.
    void GroupLoop() {
        const ThreadCacheScope caches;
        while (true) {
            GroupJob job;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return pending || stopping; });
                if (stopping) {
                    return;
                }
                job = std::move(*pending);
                pending.reset();
                planning = true;
                changed.notify_all();
            }
            try {
                const GroupPlan plan = PlanEpochs(job.runs, info, open, job.leaveOpen);
                // Each set names its own event in a message.
                scheduler->Schedule(job.pictures, job.runs, plan, job.nextAbuts,
                                    EventContext{&path, &info, 0});
                if (stream.size() >= kFlushBytes) {
                    file->Write(stream);
                    stream.clear();
                }
            } catch (...) {
                std::lock_guard lock(mutex);
                groupError = std::current_exception();
                planning = false;
                changed.notify_all();
                return;
            }
            std::lock_guard lock(mutex);
            planning = false;
            changed.notify_all();
        }
    }

    // Waits until every group handed over is written; rethrows the group thread's failure.
    void WaitForGroups() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return (!pending && !planning) || groupError; });
        if (groupError) {
            std::rethrow_exception(groupError);
        }
    }

    void StopGroupThread() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            changed.notify_all();
        }
        if (groupThread.joinable()) {
            groupThread.join();
        }
    }

    ~State() { StopGroupThread(); }

    // A pause long enough for an epoch start of the picture to begin after the last one is taken
    // away.
    bool PauseBefore(const Picture& picture) const {
        const Picture& previous = group.back();
        if (picture.inFrame == previous.outFrame) {
            return false;
        }
        return FramePts(picture.inFrame, info.rateNum, info.rateDen) -
                   EpochStartTicks(picture, info) >
               FramePts(previous.outFrame, info.rateNum, info.rateDen);
    }

    void AddChecked(const SupEvent& event) {
        const EventContext context = Context();
        CheckEvent(context, event, lastOutFrame);
        Picture picture = MakePicture(context, event);
        if (!group.empty()) {
            const bool pause = PauseBefore(picture);
            if (pause || groupBytes > kGroupBytes) {
                WriteGroup(picture.inFrame == group.back().outFrame, !pause);
            }
        }
        groupBytes += PictureBytes(picture);
        lastOutFrame = event.outFrame;
        group.push_back(std::move(picture));
        runs.Add(group, group.size() - 1);
    }

    void FinishChecked() {
        WriteGroup(false, false);
        WaitForGroups();
        StopGroupThread();
        const SupCheckSummary summary = checker->Finish();
        if (summary.violationCount > 0) {
            throw SupError("Cannot write \"" + path +
                           "\": the stream would break the decoder model: " +
                           FormatViolation(summary.violations.front()));
        }
        file->Write(stream);
        file->Commit();
    }

    [[noreturn]] void Abandoned() const {
        throw SupError("Cannot write \"" + path + "\": it was abandoned after an earlier error");
    }
};

SupWriter::SupWriter(std::string path, StreamInfo info) : state_(std::make_unique<State>()) {
    CheckStreamInfo(path, info);
    State& s = *state_;
    s.file.emplace(path);
    s.path = std::move(path);
    s.info = info;
    s.checker.emplace(SupCheckOptions{false, info.rateNum, info.rateDen});
    s.scheduler.emplace(info, [&s](std::string_view set) { s.Emit(set); });
    s.stream.reserve(kFlushBytes + (1 << 16));
    s.groupThread = std::thread([&s] { s.GroupLoop(); });
}

SupWriter::~SupWriter() = default;

void SupWriter::Add(const SupEvent& event) {
    State& s = *state_;
    if (s.finished) {
        throw SupError("Cannot write \"" + s.path + "\": an event came after the stream ended");
    }
    if (s.failed) {
        s.Abandoned();
    }
    ++s.eventNumber;
    try {
        s.AddChecked(event);
    } catch (...) {
        s.failed = true;
        s.StopGroupThread();
        s.stream.clear();
        s.file.reset();
        throw;
    }
}

void SupWriter::Finish() {
    State& s = *state_;
    if (s.failed) {
        s.Abandoned();
    }
    if (s.finished) {
        return;
    }
    try {
        s.FinishChecked();
    } catch (...) {
        s.failed = true;
        s.StopGroupThread();
        s.file.reset();
        throw;
    }
    s.finished = true;
    s.stream.clear();
    s.stream.shrink_to_fit();
}

const SupReport& SupWriter::Report() const {
    return state_->scheduler->Report();
}

} // namespace pelldrin::pgs
