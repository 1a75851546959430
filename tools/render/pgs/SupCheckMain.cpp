// pelldrin-supcheck: judges .sup files against the decoder model that players follow.
#include "base/FileSystem.h"
#include "base/VideoFormats.h"
#include "pgs/SupCheck.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

constexpr const char* kUsage = "usage: pelldrin-supcheck [-f RATE] FILE.sup...\n"
                               "  RATE: the video's frame rate, as pelldrin-render's -f takes it\n";

int CheckFile(const char* path, const pelldrin::pgs::SupCheckOptions& options) {
    // Paths are UTF-8 text, as everywhere in the program.
    std::ifstream in(pelldrin::ToFsPath(path), std::ios::binary);
    if (!in) {
        std::cerr << "pelldrin-supcheck: cannot open \"" << path << "\"\n";
        return 1;
    }
    pelldrin::pgs::SupChecker checker(options);
    std::string chunk(1 << 20, '\0');
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        checker.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
    }
    const pelldrin::pgs::SupCheckSummary summary = checker.Finish();
    for (const auto& violation : summary.violations) {
        std::cout << path << ": " << pelldrin::pgs::FormatViolation(violation) << '\n';
    }
    if (summary.violationCount > static_cast<std::int64_t>(summary.violations.size())) {
        std::cout << path << ": ... and "
                  << summary.violationCount - static_cast<std::int64_t>(summary.violations.size())
                  << " more\n";
    }
    std::cout << path << ": " << pelldrin::pgs::InputPeakLine(summary) << '\n';
    std::cout << path << ": " << pelldrin::pgs::SummaryLine(summary) << '\n';
    return summary.violationCount > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    pelldrin::pgs::SupCheckOptions options;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "-f") {
        const pelldrin::FrameRate* rate = pelldrin::FindFrameRate(argv[2]);
        if (rate == nullptr) {
            std::cerr << "pelldrin-supcheck: unknown frame rate \"" << argv[2] << "\"\n" << kUsage;
            return 2;
        }
        options.rateNum = rate->num;
        options.rateDen = rate->den;
        first = 3;
    }
    if (first >= argc) {
        std::cerr << kUsage;
        return 2;
    }
    int status = 0;
    for (int i = first; i < argc; ++i) {
        status = CheckFile(argv[i], options) != 0 ? 1 : status;
    }
    return status;
}
