#include "output/OutputGuard.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace pelldrin::render {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockName = ".pelldrin-render.lock";

std::string Quoted(const std::string& path) {
    return "\"" + QuoteForMessage(path) + "\"";
}

// The folder a path lies in, "." for a bare name.
std::string FolderOrCurrent(const std::string& path) {
    const std::string folder = FolderOf(path);
    return folder.empty() ? std::string(".") : folder;
}

// A path with its folder's links resolved, for comparing paths that may not exist yet.
fs::path Resolved(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(ToFsPath(path), error), error);
    return error ? fs::absolute(ToFsPath(path)) : resolved;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    const bool same = fs::equivalent(ToFsPath(a), ToFsPath(b), error);
    if (!error) {
        return same; // both exist: the same file by its identity, whatever its names
    }
    return Resolved(a) == Resolved(b);
}

// The kind of thing at path, without following a link; nullopt when nothing is there.
std::optional<fs::file_type> KindOf(const std::string& path, std::error_code& error) {
    const fs::file_status status = fs::symlink_status(ToFsPath(path), error);
    if (status.type() == fs::file_type::not_found) {
        error.clear();
        return std::nullopt;
    }
    return status.type();
}

void CheckOneOutput(const std::string& path, const char* what) {
    const std::string name = FileNamePart(path);
    if (name.empty() || name == "." || name == ".." || path == "/") {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                          " names a folder, not a file");
    }
    std::error_code error;
    if (const auto kind = KindOf(path, error); error) {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) + ": " +
                          error.message());
    } else if (kind == fs::file_type::symlink) {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                          " is a symbolic link; name the file itself");
    } else if (kind == fs::file_type::directory) {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                          " is a folder, not a file");
    } else if (kind && kind != fs::file_type::regular) {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                          " is a device or another special file, not a plain file");
    }
    const std::string folder = FolderOrCurrent(path);
    if (!fs::is_directory(ToFsPath(folder), error)) {
        throw OutputError("the folder " + Quoted(folder) + " of the " + std::string(what) +
                          " output does not exist");
    }
}

} // namespace

void CheckOutputPaths(const OutputLayout& layout, const std::vector<std::string>& inputs) {
    CheckOneOutput(layout.Xml(), "BDN XML");
    if (!layout.Sup().empty()) {
        CheckOneOutput(layout.Sup(), "PGS");
        if (SameFile(layout.Xml(), layout.Sup())) {
            throw OutputError("the BDN XML and the PGS stream would both be written to " +
                              Quoted(layout.Xml()));
        }
    }
    const fs::path pictureFolder = Resolved(FolderOrCurrent(layout.Xml()));
    const auto isPicture = [&](const std::string& path) {
        return layout.IsPictureName(FileNamePart(path)) &&
               Resolved(FolderOrCurrent(path)) == pictureFolder;
    };
    for (const std::string& input : inputs) {
        for (const std::string* output : {&layout.Xml(), &layout.Sup()}) {
            if (!output->empty() && SameFile(*output, input)) {
                throw OutputError("the output " + Quoted(*output) + " is the input " +
                                  Quoted(input) + "; it would be overwritten");
            }
        }
        if (isPicture(input)) {
            throw OutputError("the input " + Quoted(input) +
                              " has the name of one of the run's pictures; it would be "
                              "overwritten");
        }
    }
    if (!layout.Sup().empty() && isPicture(layout.Sup())) {
        throw OutputError("the PGS output " + Quoted(layout.Sup()) +
                          " has the name of one of the run's pictures");
    }
}

namespace {

[[noreturn]] void FolderTaken(const std::string& folder) {
    throw OutputError("another pelldrin-render run is writing into the folder " +
                      Quoted(folder.empty() ? std::string(".") : folder) +
                      "; wait for it to end or choose another folder");
}

} // namespace

std::vector<std::unique_ptr<FolderLock>> LockOutputFolders(const OutputLayout& layout) {
    std::vector<std::unique_ptr<FolderLock>> locks;
    for (const std::string& folder : layout.Folders()) {
        try {
            locks.push_back(std::make_unique<FolderLock>(folder, kLockName));
        } catch (const FolderTakenError&) {
            FolderTaken(folder);
        } catch (const FileError& e) {
            throw OutputError(std::string("cannot lock the output folder: ") + e.what());
        }
    }
    return locks;
}

void ClearEarlierRun(const OutputLayout& layout) {
    for (const std::string& folder : layout.Folders()) {
        RemoveStaleTemporaries(folder);
    }
    RemoveEarlierOutput(layout.Xml());
    if (!layout.Sup().empty()) {
        RemoveEarlierOutput(layout.Sup());
    }
}

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
    std::error_code error;
    const std::string where = folder.empty() ? std::string(".") : folder;
    for (const auto& entry : fs::directory_iterator(ToFsPath(where), error)) {
        const std::string name = FromFsPath(entry.path().filename());
        const std::optional<std::int64_t> pid = AtomicTempWriter(name);
        if (!pid || *pid <= 0 || *pid == CurrentProcessId() || *pid > 0x7fffffff) {
            continue;
        }
        if (!ProcessIsGone(*pid)) {
            continue; // its writer still runs (or cannot be asked)
        }
        const std::string path = JoinPath(where, name);
        std::error_code kindError;
        const auto kind = KindOf(path, kindError);
        // A link is removed as itself, never followed.
        if ((kind == fs::file_type::regular || kind == fs::file_type::symlink) &&
            fs::remove(ToFsPath(path), kindError)) {
            ++removed;
        }
    }
    return removed;
}

void RemoveEarlierOutput(const std::string& path) {
    std::error_code error;
    if (KindOf(path, error) == fs::file_type::regular) {
        fs::remove(ToFsPath(path), error);
    }
}

} // namespace pelldrin::render
