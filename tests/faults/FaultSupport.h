// Shared by the fault tests: a host that records what a batch run reports, a
// snapshot of a folder tree to prove that nothing outside a task was touched, and a
// batch set up with the stand-in converter.
#pragma once

#include "batch/BatchWorker.h"
#include "support/BatchTasks.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelldrin::test {

// Every file under a folder with its bytes, relative paths as keys.
using TreeSnapshot = std::map<std::string, std::string>;

inline TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        if (it->is_regular_file(ec)) {
            files[std::filesystem::relative(it->path(), root).string()] =
                ReadFile(it->path().string());
        }
    }
    return files;
}

// Checks that every file of `before` is still there with the same bytes, and that
// files added since lie under one of the allowed folders (relative to the root).
inline void ExpectUntouchedExcept(const TreeSnapshot& before, const TreeSnapshot& after,
                                  const std::vector<std::string>& allowedFolders) {
    for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        if (it == after.end()) {
            ADD_FAILURE() << path << " was removed";
        } else if (it->second != bytes) {
            ADD_FAILURE() << path << " was changed";
        }
    }
    for (const auto& [path, bytes] : after) {
        if (before.count(path)) {
            continue;
        }
        const bool allowed = std::any_of(
            allowedFolders.begin(), allowedFolders.end(),
            [&](const std::string& folder) { return path.rfind(folder + "/", 0) == 0; });
        EXPECT_TRUE(allowed) << path << " appeared outside the task folders";
    }
}

// A temporary program folder with config.xml, a language file, subtitles and an
// output folder that already holds an earlier task's results, and a queue whose
// tasks run the stand-in converter.
struct FaultBatch {
    TempDir dir;
    TaskQueue queue;
    RecordingHost host;
    RunInputs inputs;

    FaultBatch() {
        std::filesystem::create_directories(dir.File("lang"));
        std::filesystem::create_directories(dir.File("subs"));
        std::filesystem::create_directories(dir.File("out/earlier"));
        WriteFile(dir.File("config.xml"),
                  "<?xml version=\"1.0\"?>\n<Pelldrin><Path Output=\"out\" Avs2bdnxml=\"/c\" "
                  "VSFilter=\"/v\"/><Config DefLang=\"English\"/></Pelldrin>\n");
        WriteFile(dir.File("lang/English.xml"), "<Lang Name=\"English\"/>\n");
        WriteFile(dir.File("out/earlier/earlier.xml"), "<BDN>an earlier task</BDN>\n");
        WriteFile(dir.File("out/earlier/0.png"), "not really a png");
        inputs.currentFolder = "";
        inputs.converterPath = STANDIN_CONVERTER;
        inputs.pluginPath = "/plugin";
        inputs.outputFolder = dir.File("out") + "/";
    }

    // Queues subs/<name>.ass whose converter behaves as asked.
    std::uint64_t AddTask(const std::string& name, const std::string& behave = "ok",
                          bool firstBlack = true, bool endBlack = true) {
        return test::QueueConverterTask(queue, dir.File("subs/" + name + ".ass"), behave,
                                        firstBlack, endBlack);
    }

    std::string XmlOf(const std::string& name) const { return test::TaskXmlPath(dir, name); }

    // Starts a run and waits for its end; false when it did not end in time.
    bool RunToEnd(TBatchRun& run, int runs = 1) {
        if (run.Start(inputs) != TBatchRun::StartResult::Started) {
            return false;
        }
        return host.WaitForIdle(runs);
    }
};

} // namespace pelldrin::test
