// The program the runner benchmark starts: either silent for a while or a flood of
// converter-like output.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            std::exit(3);
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "silent") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
        return 0;
    }
    if (mode == "flood") {
        // Lines of 80 bytes; every tenth is a progress line ended by a carriage return.
        const long long total = std::atoll(argv[2]);
        std::string block;
        long long written = 0;
        char line[96];
        for (long long i = 0; written < total; ++i) {
            const bool progress = i % 10 == 0;
            std::snprintf(line, sizeof line,
                          progress ? "Progress: %9lld/999999999 - Events: %-38lld\r"
                                   : "Frame %9lld: an ordinary line of output to fill the %-8lld\n",
                          i, i);
            block += line;
            written += static_cast<long long>(std::string(line).size());
            if (block.size() >= 65536) {
                WriteAll(block);
                block.clear();
            }
        }
        WriteAll(block);
        return 0;
    }
    return 2;
}
