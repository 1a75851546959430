// A stand-in for the outside converter, for the batch, fault and window tests and
// the window benchmark. It takes the command line the task builder makes, prints
// progress lines ended by carriage returns, writes a BDN XML file of --events=N
// events (3 unless told) to the first -o path, and behaves as --behave= asks:
//   ok                 a good file, exit 0
//   exit:N             a good file, then exit status N
//   slow:MS            waits MS milliseconds after its progress lines, then as ok
//   wait:PATH          waits after its progress lines until PATH exists, then as ok;
//                      only a stop ends it sooner
//   hang               never ends
//   noxml              no file, exit 0
//   badxml             a file cut off after a few tags, exit 0
//   truncated          the good file cut off half way, exit 0
//   bad:KIND           a well-formed file with a fault (count, hugecount, timecode,
//                      rate, root, order, graphic), or random bytes (binary), exit 0
//   garbage            garbage output lines, then a good file, exit 0
//   garbagefail        garbage output lines, then exit status 1
//   chatty             twenty thousand progress lines and many plain ones, then as ok
//   crash              killed before writing (SIGKILL; an access violation on Windows)
//   segv, abort        killed by SIGSEGV or SIGABRT before writing
//   killmid            half the file written, then killed by SIGKILL
//   waitkill           half the file written and "converter.pid" beside it, then waits
//                      for the test to kill it
//   orphan             a good file; a program it starts keeps the output open
//   fill               a good file, then every free byte of its file system taken
// The last five need a POSIX system. Every file it writes is also kept as
// "<file>.wrote", so a test can tell whether anything changed it afterwards.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace {

struct Arguments {
    std::string behave = "ok";
    std::string xmlPath;
    int events = 3;
    int warnings = 0; // --warn=N: warning lines, the first one 400 characters long
};

Arguments ReadArguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--behave=", 0) == 0) {
            a.behave = arg.substr(9);
        } else if (arg.rfind("--events=", 0) == 0) {
            a.events = std::atoi(arg.c_str() + 9);
        } else if (arg.rfind("--warn=", 0) == 0) {
            a.warnings = std::atoi(arg.c_str() + 7);
        } else if (arg == "-o" && i + 1 < argc && a.xmlPath.empty()) {
            a.xmlPath = argv[++i];
        }
    }
    return a;
}

bool Starts(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

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

// The file a bad:KIND behaviour writes.
std::string FaultyBdn(const std::string& kind, int events) {
    BdnFaults f;
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
        std::string bytes(2000, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        return bytes;
    }
    return Bdn(events, f);
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

void PrintProgress(int total, int plainEvery) {
    const int step = total >= 1000 ? 1 : 50;
    for (int done = 0; done <= total; done += step) {
        std::printf("Progress: %d/%d - Events: %d\r", done, total, done / 50);
        if (plainEvery > 0 && done % plainEvery == 0) {
            std::printf("a plain line of output number %d\n", done);
        }
    }
    std::fflush(stdout);
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

[[noreturn]] void Hang() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

void WaitForFile(const std::string& path) {
    while (!std::ifstream(path)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

[[noreturn]] void Crash() {
#ifdef _WIN32
    // How a program that crashed with an access violation ends, without a debugger.
    ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
#else
    std::raise(SIGKILL); // a signal no sanitizer runtime turns into an exit status
#endif
    std::_Exit(99);
}

#ifndef _WIN32

// Writes part of a file straight to the disk, so a kill right after leaves it there.
void WritePartial(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const auto n = ::write(fd, bytes.data(), bytes.size());
        ::fsync(fd);
        ::close(fd);
    }
}

// Half the file on the disk, then killed, or waiting to be killed with its pid beside it.
[[noreturn]] void DieMidWrite(const std::string& xmlPath, const std::string& good, bool wait) {
    const std::string half = good.substr(0, good.size() / 2);
    WritePartial(xmlPath + ".wrote", half);
    WritePartial(xmlPath, half);
    if (!wait) {
        Crash();
    }
    std::ofstream("converter.pid") << ::getpid() << "\n";
    Hang();
}

void LeaveOrphan() {
    if (::fork() == 0) {
        // Keeps the inherited output open long after its parent has ended.
        std::this_thread::sleep_for(std::chrono::seconds(20));
        std::_Exit(0);
    }
}

// Takes every free byte, as another program filling the disk would; only on a small
// file system, so that a mistake cannot fill a real disk.
bool FillDisk() {
    struct statvfs info {};
    if (::statvfs(".", &info) != 0 ||
        static_cast<unsigned long long>(info.f_bavail) * info.f_frsize > (64ull << 20)) {
        std::fprintf(stderr, "fill: refusing to fill a file system this large\n");
        return false;
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
        while (::write(fd, block.data(), 1) == 1) {
        }
        ::close(fd);
    }
    return true;
}

#endif

// The behaviours that end the program before a whole file is written; false for the others.
bool EndsEarly(const Arguments& a, const std::string& good, int& status) {
    const std::string& behave = a.behave;
    if (behave == "hang") {
        Hang();
    }
    if (behave == "crash") {
        Crash();
    }
#ifndef _WIN32
    if (behave == "segv") {
        std::signal(SIGSEGV, SIG_DFL);
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (behave == "abort") {
        std::abort();
    }
    if (behave == "killmid" || behave == "waitkill") {
        DieMidWrite(a.xmlPath, good, behave == "waitkill");
    }
#endif
    if (behave == "badxml") {
        status = WriteOut(a.xmlPath, "<BDN><Description><Events") ? 0 : 1;
    } else if (behave == "truncated") {
        status = WriteOut(a.xmlPath, good.substr(0, good.size() / 2)) ? 0 : 1;
    } else if (Starts(behave, "bad:")) {
        status = WriteOut(a.xmlPath, FaultyBdn(behave.substr(4), a.events)) ? 0 : 1;
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const Arguments a = ReadArguments(argc, argv);
    const std::string& behave = a.behave;
    if (behave == "garbage" || behave == "garbagefail") {
        PrintGarbage();
        if (behave == "garbagefail") {
            return 1;
        }
    } else if (behave == "chatty") {
        PrintProgress(20000, 100);
    } else {
        PrintProgress(200, 0);
    }
    if (Starts(behave, "slow:")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(behave.c_str() + 5)));
    } else if (Starts(behave, "wait:")) {
        WaitForFile(behave.substr(5));
    }
    const std::string good = Bdn(a.events);
    if (int status = 0; EndsEarly(a, good, status)) {
        return status;
    }
    if (behave != "noxml" && !a.xmlPath.empty() && !WriteOut(a.xmlPath, good)) {
        return 1;
    }
    std::fflush(stdout);
    for (int i = 1; i <= a.warnings; ++i) {
        std::fprintf(stderr, "\nWarning: line %d %s\n", i,
                     i == 1 ? std::string(400, 'x').c_str() : "");
    }
    std::fflush(stderr);
#ifndef _WIN32
    if (behave == "orphan") {
        LeaveOrphan();
    }
    if (behave == "fill" && !FillDisk()) {
        return 3;
    }
#endif
    std::printf("\nDone.\n");
    std::fflush(stdout);
    if (Starts(behave, "exit:")) {
        std::fprintf(stderr, "failing on purpose\n");
        return std::atoi(behave.c_str() + 5);
    }
    return 0;
}
