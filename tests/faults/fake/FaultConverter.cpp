// A converter that fails in the ways real ones do, for the fault tests. It takes
// the command line the task builder makes, prints progress lines ended by carriage
// returns and writes a BDN XML file to the first -o path, then behaves as
// --behave= asks:
//   ok                 a good file, exit 0
//   exit:N             a good file, then exit status N
//   crash, segv, abort killed by SIGKILL, SIGSEGV or SIGABRT before writing
//   killmid            half the file written, then killed by SIGKILL
//   waitkill           half the file written and "converter.pid" beside it, then waits
//                      for the test to kill it
//   hang               never ends
//   truncated          the file cut off half way, exit 0
//   bad:KIND           a well-formed file with a fault (count, hugecount, timecode,
//                      rate, root, order, graphic), or random bytes (binary), exit 0
//   garbage            garbage output lines, then a good file, exit 0
//   garbagefail        garbage output lines, then exit status 1
//   orphan             a good file; a program it starts keeps the output open
//   fill               a good file, then every free byte of its file system taken
//   slow:MS            waits MS milliseconds first
// Every file it writes is also kept as "<file>.wrote", so a test can tell whether
// anything changed it afterwards.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string Timecode(int frame) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", frame / 90000, frame / 1500 % 60,
                  frame / 25 % 60, frame % 25);
    return buf;
}

struct BdnFaults {
    std::string count;
    std::string lastOut;
    std::string rate = "25";
    std::string root = "BDN";
    bool eventsFirst = false;
    bool noGraphicName = false;
};

std::string Bdn(int events, const BdnFaults& f = {}) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + f.root +
                      " Version=\"0.93\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xsi:noNamespaceSchemaLocation=\"BD-03-006-0093b BDN File Format.xsd\">\n";
    std::string description =
        "  <Description>\n    <Name Title=\"fake\" Content=\"\"/>\n"
        "    <Language Code=\"zho\"/>\n    <Format VideoFormat=\"1080p\" FrameRate=\"" +
        f.rate + "\" DropFrame=\"false\"/>\n    <Events LastEventOutTC=\"" +
        (f.lastOut.empty() ? Timecode(events * 50 + 25) : f.lastOut) + "\" FirstEventInTC=\"" +
        Timecode(50) + "\" ContentInTC=\"00:00:00:00\" ContentOutTC=\"" +
        Timecode(events * 50 + 100) + "\" NumberofEvents=\"" +
        (f.count.empty() ? std::to_string(events) : f.count) + "\" Type=\"Graphic\"/>\n" +
        "  </Description>\n";
    std::string list = "  <Events>\n";
    for (int i = 1; i <= events; ++i) {
        list += "    <Event Forced=\"False\" InTC=\"" + Timecode(i * 50) + "\" OutTC=\"" +
                Timecode(i * 50 + 25) + "\">\n      <Graphic Width=\"100\" Height=\"20\" " +
                "X=\"910\" Y=\"1000\">" +
                (f.noGraphicName ? "" : "img_" + std::to_string(i) + ".png") +
                "</Graphic>\n    </Event>\n";
    }
    list += "  </Events>\n";
    out += f.eventsFirst ? list + description : description + list;
    return out + "</" + f.root + ">\n";
}

// Writes the bytes and the ".wrote" copy; false when the disk refused them.
bool WriteOut(const std::string& path, const std::string& bytes) {
    for (const std::string& target : {path, path + ".wrote"}) {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", target.c_str());
            return false;
        }
    }
    return true;
}

// Writes part of a file straight to the disk, so a kill right after leaves it there.
void WritePartial(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const auto n = ::write(fd, bytes.data(), bytes.size());
        ::fsync(fd);
        ::close(fd);
    }
}

void PrintGarbage() {
    std::mt19937 random(7);
    const char* lines[] = {
        "Progress: 99999999999999999999/1 - x: y\r",
        "Progress: -5/-7 - Events: -1\r",
        "Progress: 10/0 - Events: 0\r",
        "Progress: /200 - : \r",
        "Progress: 2147483647/2147483648 - : \r",
        ":::::----////\r",
        "Progress 50 of 200\r",
        "\r\r\r\r\n\n\r\n",
        "Progress: \xff\xfe/\x80\x81 - \xe4\xb8\xad: \r",
    };
    for (const char* line : lines) {
        std::fputs(line, stdout);
    }
    std::string noise(4096, '\0');
    for (int round = 0; round < 64; ++round) {
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        std::fwrite(noise.data(), 1, noise.size(), stdout);
    }
    // One line of a megabyte that never ends in a line break.
    std::string longLine(1 << 20, 'x');
    longLine.insert(0, "Progress: 1/2 - ");
    std::fwrite(longLine.data(), 1, longLine.size(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::string behave = "ok";
    std::string xmlPath;
    int events = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--behave=", 0) == 0) {
            behave = arg.substr(9);
        } else if (arg.rfind("--events=", 0) == 0) {
            events = std::atoi(arg.c_str() + 9);
        } else if (arg == "-o" && i + 1 < argc && xmlPath.empty()) {
            xmlPath = argv[++i];
        }
    }
    if (behave.rfind("slow:", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(behave.c_str() + 5)));
    }
    if (behave == "garbage" || behave == "garbagefail") {
        PrintGarbage();
        if (behave == "garbagefail") {
            return 1;
        }
    } else {
        for (int done = 0; done <= 200; done += 50) {
            std::printf("Progress: %d/200 - Events: %d\r", done, done / 50);
        }
        std::fflush(stdout);
    }
    const std::string good = Bdn(events);

    if (behave == "hang") {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    if (behave == "crash") {
        std::raise(SIGKILL);
    }
    if (behave == "segv") {
        std::signal(SIGSEGV, SIG_DFL);
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (behave == "abort") {
        std::abort();
    }
    if (behave == "killmid" || behave == "waitkill") {
        const std::string half = good.substr(0, good.size() / 2);
        WritePartial(xmlPath + ".wrote", half);
        WritePartial(xmlPath, half);
        if (behave == "killmid") {
            std::raise(SIGKILL);
        }
        std::ofstream("converter.pid") << ::getpid() << "\n";
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    if (behave == "truncated") {
        return WriteOut(xmlPath, good.substr(0, good.size() / 2)) ? 0 : 1;
    }
    if (behave.rfind("bad:", 0) == 0) {
        const std::string kind = behave.substr(4);
        BdnFaults f;
        std::string bytes;
        if (kind == "count") {
            f.count = "-1";
        } else if (kind == "hugecount") {
            f.count = "2147483647";
        } else if (kind == "timecode") {
            f.lastOut = "99:99:xx:00";
        } else if (kind == "rate") {
            f.rate = "fast";
        } else if (kind == "root") {
            f.root = "bdn";
        } else if (kind == "order") {
            f.eventsFirst = true;
        } else if (kind == "graphic") {
            f.noGraphicName = true;
        } else if (kind == "binary") {
            std::mt19937 random(11);
            bytes.resize(2000);
            for (char& c : bytes) {
                c = static_cast<char>(random());
            }
        }
        if (bytes.empty()) {
            bytes = Bdn(events, f);
        }
        return WriteOut(xmlPath, bytes) ? 0 : 1;
    }
    if (behave != "noxml" && !WriteOut(xmlPath, good)) {
        return 1;
    }
    if (behave == "orphan") {
        if (::fork() == 0) {
            // Keeps the inherited output open long after its parent has ended.
            std::this_thread::sleep_for(std::chrono::seconds(20));
            std::_Exit(0);
        }
    }
    if (behave == "fill") {
        // Takes every free byte, as another program filling the disk would; only on
        // a small file system, so that a mistake cannot fill a real disk.
        struct statvfs info {};
        if (::statvfs(".", &info) != 0 ||
            static_cast<unsigned long long>(info.f_bavail) * info.f_frsize > (64ull << 20)) {
            std::fprintf(stderr, "fill: refusing to fill a file system this large\n");
            return 3;
        }
        const int fd = ::open("filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string block(1 << 16, 'f');
        while (fd >= 0) {
            if (::write(fd, block.data(), block.size()) < 0) {
                if (errno != ENOSPC && errno != EFBIG) {
                    std::perror("filler");
                }
                break;
            }
        }
        if (fd >= 0) {
            std::string byte(1, 'f');
            while (::write(fd, byte.data(), 1) == 1) {
            }
            ::close(fd);
        }
    }
    std::printf("\nDone.\n");
    std::fflush(stdout);
    if (behave.rfind("exit:", 0) == 0) {
        std::fprintf(stderr, "failing on purpose\n");
        return std::atoi(behave.c_str() + 5);
    }
    return 0;
}
