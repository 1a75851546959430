// Checks on the renderer's output paths before anything is removed or written, the
// lock that keeps two runs out of one folder, and the clean-up of a killed run's files.
#pragma once

#include "base/Platform.h"
#include "core/RenderErrors.h"
#include "output/OutputLayout.h"

#include <memory>
#include <string>
#include <vector>

namespace pelldrin::render {

// Throws OutputError unless every output names a new or regular file (never a link, a
// device, a folder, "/" or "."), the outputs differ, and none of them is an input (the
// script, the subtitle file, its style file) or the name of one of the run's pictures.
void CheckOutputPaths(const OutputLayout& layout, const std::vector<std::string>& inputs);

// Locks every folder the run writes into, for as long as the locks live (the file
// ".pelldrin-render.lock" in each). Throws OutputError at once when another run holds one.
std::vector<std::unique_ptr<FolderLock>> LockOutputFolders(const OutputLayout& layout);

// Leaves no file of an earlier or killed run that could pass for this run's result.
void ClearEarlierRun(const OutputLayout& layout);

// Removes the temporary files that runs which no longer live left in the folder (names
// of AtomicFile's form whose process is gone); returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder);

// Removes the file an earlier run left at path, so that it cannot pass for this run's.
void RemoveEarlierOutput(const std::string& path);

} // namespace pelldrin::render
