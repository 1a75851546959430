#include "render/OutputGuard.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

struct FileId {
    dev_t device;
    ino_t inode;
};

std::optional<FileId> IdOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileId{st.st_dev, st.st_ino};
}

bool SameFile(const std::string& a, const std::string& b) {
    const auto idA = IdOf(a);
    const auto idB = IdOf(b);
    if (idA && idB) {
        return idA->device == idB->device && idA->inode == idB->inode;
    }
    return Resolved(a) == Resolved(b);
}

// True when name is one of the run's picture names: BASE_00001.png or BASE_00001_2.png.
bool IsPictureName(const std::string& name, const std::string& base) {
    if (name.size() <= base.size() + 5 || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '_' || !SameTextN(FileExtension(name), ".png", 5)) {
        return false;
    }
    const std::string middle = name.substr(base.size() + 1, name.size() - base.size() - 5);
    return !middle.empty() && middle.find_first_not_of("0123456789_") == std::string::npos;
}

void CheckOneOutput(const std::string& path, const char* what) {
    const std::string name = FileNamePart(path);
    if (name.empty() || name == "." || name == ".." || path == "/") {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                          " names a folder, not a file");
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                              " is a symbolic link; name the file itself");
        }
        if (S_ISDIR(st.st_mode)) {
            throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                              " is a folder, not a file");
        }
        if (!S_ISREG(st.st_mode)) {
            throw OutputError("the " + std::string(what) + " output " + Quoted(path) +
                              " is a device or another special file, not a plain file");
        }
    } else if (errno != ENOENT) {
        throw OutputError("the " + std::string(what) + " output " + Quoted(path) + ": " +
                          std::strerror(errno));
    }
    const std::string folder = FolderOrCurrent(path);
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode)) {
        throw OutputError("the folder " + Quoted(folder) + " of the " + std::string(what) +
                          " output does not exist");
    }
}

} // namespace

std::string PictureBaseName(const std::string& xmlPath) {
    std::string base = StripExtension(FileNamePart(xmlPath));
    return base.empty() ? FileNamePart(xmlPath) : base;
}

void CheckOutputPaths(const RunPaths& paths) {
    CheckOneOutput(paths.xml, "BDN XML");
    if (!paths.sup.empty()) {
        CheckOneOutput(paths.sup, "PGS");
        if (SameFile(paths.xml, paths.sup)) {
            throw OutputError("the BDN XML and the PGS stream would both be written to " +
                              Quoted(paths.xml));
        }
    }
    const fs::path pictureFolder = Resolved(FolderOrCurrent(paths.xml));
    const std::string base = PictureBaseName(paths.xml);
    const auto isPicture = [&](const std::string& path) {
        return IsPictureName(FileNamePart(path), base) &&
               Resolved(FolderOrCurrent(path)) == pictureFolder;
    };
    for (const std::string& input : paths.inputs) {
        for (const std::string* output : {&paths.xml, &paths.sup}) {
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
    if (!paths.sup.empty() && isPicture(paths.sup)) {
        throw OutputError("the PGS output " + Quoted(paths.sup) +
                          " has the name of one of the run's pictures");
    }
}

FolderLock::FolderLock(const std::string& folder) {
    const std::string path = JoinPath(folder.empty() ? std::string(".") : folder, kLockName);
    // O_NONBLOCK: a FIFO planted under the name must not stall the run.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        throw OutputError("cannot lock the output folder: " + Quoted(path) + ": " +
                          std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw OutputError("cannot lock the output folder: " + Quoted(path) +
                          " is not a plain file");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK) {
            throw OutputError("another pelldrin-render run is writing into the folder " +
                              Quoted(folder.empty() ? std::string(".") : folder) +
                              "; wait for it to end or choose another folder");
        }
        throw OutputError("cannot lock the output folder: " + Quoted(path) + ": " +
                          std::strerror(error));
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_); // releases the lock; the file stays, so no run locks a removed one
    }
}

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
    std::error_code error;
    const std::string where = folder.empty() ? std::string(".") : folder;
    for (const auto& entry : fs::directory_iterator(ToFsPath(where), error)) {
        const std::string name = FromFsPath(entry.path().filename());
        if (!IsAtomicTempName(name)) {
            continue;
        }
        const std::string tail = name.substr(name.rfind(".tmp") + 4);
        std::int64_t pid = 0;
        if (!TryParseInt(tail.substr(0, tail.find('_')), pid) || pid <= 0 || pid == ::getpid() ||
            pid > 0x7fffffff) {
            continue;
        }
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
            continue; // its writer still runs (or cannot be asked)
        }
        struct stat st {};
        const std::string path = JoinPath(where, name);
        if (::lstat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) &&
            ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

void RemoveEarlierOutput(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::unlink(path.c_str());
    }
}

} // namespace pelldrin::render
