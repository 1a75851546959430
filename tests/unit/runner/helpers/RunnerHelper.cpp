// A small console program the runner tests start: each mode shows one behaviour
// of a program the runner has to cope with.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

void Sleep(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::exit(3);
        }
        done += static_cast<std::size_t>(n);
    }
}

void Print(const std::string& text) {
    WriteAll(1, text);
}

// Decodes \r, \n, \0 and \\ so that control bytes can travel as arguments.
std::string Unescape(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '\\' || p[1] == '\0') {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '0':
            out += '\0';
            break;
        default:
            out += *p;
        }
    }
    return out;
}

// Writes the file through a temporary name, so a reader never sees half of it.
void WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    std::ofstream(temp) << text;
    std::rename(temp.c_str(), path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "write" && argc >= 3) {
        // write GAP_MS CHUNK...: each chunk in one write, with a pause between them.
        const long gap = std::atol(argv[2]);
        for (int i = 3; i < argc; ++i) {
            if (i > 3) {
                Sleep(gap);
            }
            Print(Unescape(argv[i]));
        }
        return 0;
    }
    if (mode == "both") {
        Print("out1\n");
        WriteAll(2, "err1\n");
        Print("out2\n");
        return 0;
    }
    if (mode == "args") {
        for (int i = 2; i < argc; ++i) {
            Print("<" + std::string(argv[i]) + ">\n");
        }
        return 0;
    }
    if (mode == "exit" && argc == 3) {
        Print("exiting\n");
        return std::atoi(argv[2]);
    }
    if (mode == "sleep" && argc == 3) {
        Sleep(std::atol(argv[2]));
        Print("woke\n");
        return 0;
    }
    if (mode == "after" && argc == 4) {
        // after MS FILE: stays silent for MS, then leaves FILE behind.
        Sleep(std::atol(argv[2]));
        WriteFileAtomically(argv[3], "done");
        return 0;
    }
    if (mode == "ignore-term") {
        std::signal(SIGTERM, SIG_IGN);
        Print("ready " + std::to_string(::getpid()) + "\n");
        Sleep(30000);
        return 0;
    }
    if (mode == "grandchild" && argc == 3) {
        // grandchild PIDFILE: starts a second program that records its id, then both wait.
        const pid_t pid = ::fork();
        if (pid == 0) {
            WriteFileAtomically(argv[2], std::to_string(::getpid()));
            Sleep(30000);
            _exit(0);
        }
        while (::access(argv[2], F_OK) != 0) {
            Sleep(5);
        }
        Print("ready " + std::to_string(::getpid()) + "\n");
        Sleep(30000);
        return 0;
    }
    if (mode == "fds") {
        // Lists the open descriptors above standard error.
        DIR* dir = ::opendir("/proc/self/fd");
        if (dir == nullptr) {
            return 4;
        }
        std::string list;
        while (const dirent* entry = ::readdir(dir)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > 2 && fd != ::dirfd(dir)) {
                list += std::to_string(fd) + " ";
            }
        }
        ::closedir(dir);
        Print("fds:" + list + "\n");
        return 0;
    }
    if (mode == "nice") {
        errno = 0;
        Print(std::to_string(::getpriority(PRIO_PROCESS, 0)) + "\n");
        return 0;
    }
    if (mode == "cwd") {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer) == nullptr) {
            return 5;
        }
        Print(std::string(buffer) + "\n");
        return 0;
    }
    if (mode == "stdin") {
        // Reports what a read of standard input gives: it must not block.
        char c;
        const ssize_t n = ::read(0, &c, 1);
        Print("read:" + std::to_string(n) + "\n");
        return 0;
    }
    if (mode == "killed") {
        Print("dying\n");
        ::raise(SIGKILL);
        return 0;
    }
    return 2;
}
