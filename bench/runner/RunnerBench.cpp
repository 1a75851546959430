// The console runner's costs: CPU while its program is silent, the time to carry a
// large output, and the memory that takes.
#include "PeakMemory.h"
#include "runner/DosCommand.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kSource = RUNNER_BENCH_SOURCE;
constexpr long long kFloodBytes = 50LL * 1000 * 1000;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds (user + system) this process has used so far.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command line to its end; returns the wall time, and the CPU time in cpu.
double RunToEnd(pelldrin::TDosCommand& command, double& cpu) {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    command.OnTerminated = [&](pelldrin::TDosCommand&) {
        std::lock_guard lock(mutex);
        done = true;
        ended.notify_all();
    };
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    command.Execute();
    {
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return done; });
    }
    const double wall = Seconds(Clock::now() - start);
    command.Stop(); // joins the reading thread
    cpu = ProcessCpuSeconds() - cpuBefore;
    return wall;
}

// Baseline: the plainest reader of the same output, through popen and large reads.
double PlainPipeSeconds(const std::string& commandLine) {
    const auto start = Clock::now();
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    static char buffer[1 << 16];
    while (std::fread(buffer, 1, sizeof buffer, pipe) > 0) {
    }
    ::pclose(pipe);
    return Seconds(Clock::now() - start);
}

void BM_CarryOutput50MB(benchmark::State& state) {
    const std::string commandLine = "\"" + kSource + "\" flood " + std::to_string(kFloodBytes);
    for (auto _ : state) {
        const double baseline = PlainPipeSeconds(commandLine);
        const double before = pelldrin::bench::PeakRssBytes();
        std::size_t progressLines = 0;
        pelldrin::TDosCommand command;
        command.CommandLine = commandLine;
        command.OnProgressLine = [&](const std::string&) { ++progressLines; };
        double cpu = 0;
        const double seconds = RunToEnd(command, cpu);
        state.SetIterationTime(seconds);
        const double added = pelldrin::bench::PeakRssBytes() - before;
        state.counters["seconds"] = seconds;
        state.counters["plain_pipe_seconds"] = baseline;
        state.counters["over_plain_pipe"] = seconds / baseline;
        state.counters["MB_per_s"] = static_cast<double>(kFloodBytes) / 1e6 / seconds;
        state.counters["lines"] = static_cast<double>(command.Lines().size());
        state.counters["progress_lines"] = static_cast<double>(progressLines);
        state.counters["peak_added_MB"] = added / 1e6;
        state.counters["peak_over_output"] = added / static_cast<double>(kFloodBytes);
    }
}
BENCHMARK(BM_CarryOutput50MB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SilentProgram10s(benchmark::State& state) {
    const std::string commandLine = "\"" + kSource + "\" silent 10000";
    for (auto _ : state) {
        // Baseline: the least a 1 ms poller can cost, a bare loop of 1 ms sleeps for 3 s.
        const double baseCpuBefore = ProcessCpuSeconds();
        const auto baseStart = Clock::now();
        std::thread([] {
            const auto end = Clock::now() + std::chrono::seconds(3);
            while (Clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }).join();
        const double baseShare =
            (ProcessCpuSeconds() - baseCpuBefore) / Seconds(Clock::now() - baseStart);

        pelldrin::TDosCommand command;
        command.CommandLine = commandLine;
        double cpu = 0;
        const double seconds = RunToEnd(command, cpu);
        state.SetIterationTime(seconds);
        state.counters["runner_cpu_percent"] = 100.0 * cpu / seconds;
        state.counters["sleep_loop_cpu_percent"] = 100.0 * baseShare;
        state.counters["over_sleep_loop"] = cpu / seconds / baseShare;
    }
}
BENCHMARK(BM_SilentProgram10s)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
