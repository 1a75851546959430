// For each subtitle file: the line with the largest memory estimate at 1080p, what
// drawing it alone measures, and their ratio.
//   line_memory FILE...
#include "input/EventEstimate.h"
#include "input/LibassSession.h"
#include "support/LineMemory.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    using namespace pelldrin;
    const render::FrameGeometry geometry{1920, 1080, 1920, 1080};
    const std::uint64_t budget = render::EventMemoryBudget(render::RenderLimits{});
    std::printf("%-48s %7s %9s %12s %12s %7s\n", "file", "events", "line", "estimate_KB",
                "measured_KB", "ratio");
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        const std::string path = argv[a];
        try {
            const render::LibassSession session(path);
            const ASS_Track* t = session.Track();
            int largest = -1;
            std::uint64_t most = 0;
            for (int i = 0; i < t->n_events; ++i) {
                if (t->events[i].Duration <= 0) {
                    continue;
                }
                const std::uint64_t bytes = render::EstimateEventBytes(t, t->events[i], geometry);
                if (largest < 0 || bytes > most) {
                    largest = i;
                    most = bytes;
                }
            }
            const std::string name = path.substr(path.find_last_of('/') + 1);
            if (largest < 0) {
                std::printf("%-48s %7d %9s\n", name.c_str(), t->n_events, "-");
                continue;
            }
            const std::int64_t measured = test::MeasureEventDrawing(path, largest, geometry);
            std::printf("%-48s %7d %9s %12llu %12lld %7.2f%s\n", name.c_str(), t->n_events,
                        render::EventPlace(session.EventLines(), largest).c_str(),
                        static_cast<unsigned long long>(most / 1024),
                        static_cast<long long>(measured / 1024),
                        measured > 0 ? static_cast<double>(most) / static_cast<double>(measured)
                                     : 0.0,
                        most > budget ? "  over the limit" : "");
        } catch (const std::exception& e) {
            std::printf("%s: %s\n", path.c_str(), e.what());
            status = 1;
        }
    }
    return status;
}
