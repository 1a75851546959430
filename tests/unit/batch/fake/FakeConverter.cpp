// A stand-in converter for the batch tests. It takes the command line that the
// task builder makes, prints progress lines ended by carriage returns, writes a
// BDN XML file of --events=N events to the first -o path, and behaves as
// --behave= asks: ok, exit:N, hang, crash, noxml, badxml, slow:MS. --warn=N prints N
// "Warning: " lines on stderr, the first one 400 characters long.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

std::string Timecode(int frame) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", frame / 90000, frame / 1500 % 60,
                  frame / 25 % 60, frame % 25);
    return buf;
}

void WriteBdn(const std::string& path, int events) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<BDN Version=\"0.93\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:noNamespaceSchemaLocation=\"BD-03-006-0093b BDN File Format.xsd\">\n"
        << "  <Description>\n"
        << "    <Name Title=\"fake\" Content=\"\"/>\n"
        << "    <Language Code=\"zho\"/>\n"
        << "    <Format VideoFormat=\"1080p\" FrameRate=\"25\" DropFrame=\"false\"/>\n"
        << "    <Events LastEventOutTC=\"" << Timecode(events * 50 + 25) << "\" FirstEventInTC=\""
        << Timecode(50) << "\" ContentInTC=\"00:00:00:00\" ContentOutTC=\""
        << Timecode(events * 50 + 100) << "\" NumberofEvents=\"" << events
        << "\" Type=\"Graphic\"/>\n"
        << "  </Description>\n  <Events>\n";
    for (int i = 1; i <= events; ++i) {
        out << "    <Event Forced=\"False\" InTC=\"" << Timecode(i * 50) << "\" OutTC=\""
            << Timecode(i * 50 + 25) << "\">\n"
            << "      <Graphic Width=\"100\" Height=\"20\" X=\"910\" Y=\"1000\">img_" << i
            << ".png</Graphic>\n    </Event>\n";
    }
    out << "  </Events>\n</BDN>\n";
}

} // namespace

int main(int argc, char** argv) {
    std::string behave = "ok";
    std::string xmlPath;
    int events = 3;
    int warnings = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--behave=", 0) == 0) {
            behave = arg.substr(9);
        } else if (arg.rfind("--events=", 0) == 0) {
            events = std::atoi(arg.c_str() + 9);
        } else if (arg.rfind("--warn=", 0) == 0) {
            warnings = std::atoi(arg.c_str() + 7);
        } else if (arg == "-o" && i + 1 < argc && xmlPath.empty()) {
            xmlPath = argv[++i];
        }
    }
    const int total = 200;
    for (int done = 0; done <= total; done += 50) {
        std::printf("Progress: %d/%d - Events: %d\r", done, total, done / 50);
        std::fflush(stdout);
    }
    if (behave == "hang") {
        while (true) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    if (behave.rfind("slow:", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(behave.c_str() + 5)));
    }
    if (behave == "crash") {
#ifdef _WIN32
        // How a program that crashed with an access violation ends, without a debugger.
        ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
#else
        std::raise(SIGKILL); // a signal no sanitizer runtime turns into an exit status
#endif
    }
    if (behave == "badxml") {
        std::ofstream(xmlPath, std::ios::binary) << "<BDN><Description><Events";
        return 0;
    }
    if (behave != "noxml" && !xmlPath.empty()) {
        WriteBdn(xmlPath, events);
    }
    std::fflush(stdout);
    for (int i = 1; i <= warnings; ++i) {
        std::fprintf(stderr, "\nWarning: line %d %s\n", i,
                     i == 1 ? std::string(400, 'x').c_str() : "");
    }
    std::fflush(stderr);
    std::printf("\nDone.\n");
    std::fflush(stdout);
    if (behave.rfind("exit:", 0) == 0) {
        std::fprintf(stderr, "failing on purpose\n");
        return std::atoi(behave.c_str() + 5);
    }
    return 0;
}
