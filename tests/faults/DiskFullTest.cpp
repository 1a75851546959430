// A full disk: on a small memory file system mounted for the test (where this
// machine allows it), or with the file size limit that any process may set. Writes
// fail with a reason that names the file, and nothing already there is lost.
#include "FaultSupport.h"

#include "bdn/BlackEvents.h"
#include "bdn/SubFile.h"
#include "base/FileSystem.h"
#include "settings/ConfigStore.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pelldrin;
using namespace pelldrin::test;

namespace {

// A tmpfs of a few hundred kilobytes, unmounted again at the end.
class SmallFileSystem {
  public:
    explicit SmallFileSystem(const std::string& mountPoint) : mountPoint_(mountPoint) {
        std::filesystem::create_directories(mountPoint);
        if (::mount("pelldrin-faults", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=512k,mode=0755") == 0) {
            mounted_ = true;
        } else {
            error_ = std::strerror(errno);
        }
    }
    ~SmallFileSystem() {
        if (mounted_) {
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }

  private:
    std::string mountPoint_;
    bool mounted_ = false;
    std::string error_;
};

// Takes every free byte of the file system that holds path.
void Fill(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(1 << 14, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    while (::write(fd, block.data(), 1) > 0) {
    }
    ::close(fd);
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(DiskFull, AFullOutputDiskFailsTheTasksAndTheyConvertOnceThereIsRoom) {
    FaultBatch b;
    SmallFileSystem small(b.dir.File("out"));
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Error()
                     << "); the full disk is tried with the file size limit only";
    }
    WriteFile(b.dir.File("out/kept.txt"), "a file that was there before");
    std::filesystem::create_directories(b.dir.File("out/earlier"));
    WriteFile(b.dir.File("out/earlier/earlier.xml"), "<BDN>an earlier task</BDN>\n");
    // One task's converter takes the last free byte after writing its file; the task
    // queued after it then finds the disk full before it starts.
    const auto filled = b.AddTask("filled", "fill");
    const auto starved = b.AddTask("starved");
    const TreeSnapshot before = SnapshotTree(b.dir.Path());

    TBatchRun run(b.queue, b.host);
    ASSERT_TRUE(b.RunToEnd(run));
    ASSERT_EQ(b.queue.Count(), 2u);
    for (const auto id : {filled, starved}) {
        EXPECT_NE(b.host.ReasonFor(id).find("No space left on device"), std::string::npos)
            << b.host.ReasonFor(id);
    }
    // The blank events could not be added: the converter's file is as it wrote it, and
    // no temporary file is left beside it.
    EXPECT_EQ(ReadFile(b.XmlOf("filled")), ReadFile(b.XmlOf("filled") + ".wrote"));
    for (const std::string& name : Names(b.dir.File("out/filled"))) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
    ExpectUntouchedExcept(before, SnapshotTree(b.dir.Path()), {"out/filled", "out/starved"});

    // With room again, a new start converts both.
    std::filesystem::remove(b.dir.File("out/filled/filler"));
    b.queue.SetField(0, CommandTemplate, "%0:s -t %1:s -v %2:s -f %3:s");
    ASSERT_TRUE(b.RunToEnd(run, 2));
    EXPECT_EQ(b.queue.Count(), 0u);
    TBDNFile file;
    LoadBDNFile(b.XmlOf("starved"), file);
    EXPECT_EQ(file.Info.NumberofEvents, 5);
}

TEST(DiskFull, ConfigOnAFullDiskStaysAsItWas) {
    test::TempDir dir;
    SmallFileSystem small(dir.File("mnt"));
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Error() << ")";
    }
    const std::string config = dir.File("mnt/config.xml");
    const std::string original =
        "<Pelldrin><Path Output=\"out\"/><Config DefLang=\"A\"/></Pelldrin>";
    WriteFile(config, original);
    Fill(dir.File("mnt/filler"));
    EXPECT_FALSE(WriteConfigValue(config, "Config", "DefLang", std::string(4096, 'x')));
    EXPECT_EQ(ReadFile(config), original);
    EXPECT_EQ(Names(dir.File("mnt")), (std::vector<std::string>{"config.xml", "filler"}));
}

// Any process may limit the size of the files it writes; a write beyond the limit
// fails as on a full disk. Run in a child, so the limit stays there.
TEST(DiskFull, WritesBeyondTheFileSizeLimitFailAndKeepTheOldFiles) {
    test::TempDir dir;
    const std::string config = dir.File("config.xml");
    const std::string original =
        "<Pelldrin><Path Output=\"out\"/><Config DefLang=\"A\"/></Pelldrin>";
    WriteFile(config, original);
    const std::string xml = dir.File("task.xml");
    const std::string bdn =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BDN Version=\"0.93\" xmlns:xsi=\"x\" "
        "xsi:noNamespaceSchemaLocation=\"y\"><Description><Name Title=\"t\" Content=\"\"/>"
        "<Language Code=\"zho\"/><Format VideoFormat=\"1080p\" FrameRate=\"25\" "
        "DropFrame=\"false\"/><Events LastEventOutTC=\"00:00:02:00\" FirstEventInTC="
        "\"00:00:01:00\" ContentInTC=\"00:00:00:00\" ContentOutTC=\"00:00:03:00\" "
        "NumberofEvents=\"0\" Type=\"Graphic\"/></Description><Events/></BDN>\n";
    WriteFile(xml, bdn);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
        const rlimit limit{200, 200};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int failures = 0;
        failures += WriteConfigValue(config, "Config", "DefLang", std::string(1000, 'x')) ? 1 : 0;
        try {
            AddBlackEvents(xml, 3);
            ++failures;
        } catch (const BdnError&) {
        }
        std::_Exit(failures);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write past the limit was reported as done";
    EXPECT_EQ(ReadFile(config), original);
    EXPECT_EQ(ReadFile(xml), bdn);
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"config.xml", "task.xml"}));
}
