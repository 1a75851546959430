// Queues tasks for the batch tests: a small subtitle file whose task runs the
// stand-in converter (StandInConverter.cpp) with the behaviour asked for.
#pragma once

#include "batch/TaskQueue.h"
#include "support/TempDir.h"

#include <cstdint>
#include <string>

namespace pelldrin::test {

// The stand-in converter's progress lines count up to this.
inline constexpr int kStandInProgressMaximum = 200;

// The behaviour of a converter that prints its progress, then waits until `gate`
// exists before it writes its file: a test decides when, or a stop ends it first.
inline std::string WaitForGate(const std::string& gate) {
    return "wait:" + gate;
}

// Writes a one-line .ass file at path and queues it; returns the task's id.
inline std::uint64_t QueueConverterTask(TaskQueue& queue, const std::string& path,
                                        const std::string& behave, bool firstBlack, bool endBlack) {
    WriteFile(path, "[Events]\nDialogue: 0,0:00:01.00,0:00:04.00,Default,,0,0,0,,Hi\n");
    TaskControls c;
    c.commandTemplate = "%0:s --behave=" + behave + " -t %1:s -v %2:s -f %3:s";
    c.makeSup = false;
    c.firstBlack = firstBlack;
    c.endBlack = endBlack;
    const auto index = queue.AppendNew(path, c);
    return queue.Get(index)->id;
}

// The BDN XML a task named `name` leaves under the output folder.
inline std::string TaskXmlPath(const TempDir& dir, const std::string& name) {
    return dir.File("out/" + name + "/" + name + ".xml");
}

} // namespace pelldrin::test
