// pelldrin-supcheck: judges .sup files against the decoder model that players follow.
#include "pgs/SupCheck.h"
#include "base/FileSystem.h"

#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: pelldrin-supcheck FILE.sup...\n";
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        // Paths are UTF-8 text, as everywhere in the program.
        std::ifstream in(pelldrin::ToFsPath(argv[i]), std::ios::binary);
        if (!in) {
            std::cerr << "pelldrin-supcheck: cannot open \"" << argv[i] << "\"\n";
            status = 1;
            continue;
        }
        pelldrin::pgs::SupChecker checker;
        std::string chunk(1 << 20, '\0');
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) ||
               in.gcount() > 0) {
            checker.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
        }
        const pelldrin::pgs::SupCheckSummary summary = checker.Finish();
        for (const auto& violation : summary.violations) {
            std::cout << argv[i] << ": " << pelldrin::pgs::FormatViolation(violation) << '\n';
        }
        if (summary.violationCount > static_cast<std::int64_t>(summary.violations.size())) {
            std::cout << argv[i] << ": ... and "
                      << summary.violationCount -
                             static_cast<std::int64_t>(summary.violations.size())
                      << " more\n";
        }
        std::cout << argv[i] << ": " << pelldrin::pgs::SummaryLine(summary) << '\n';
        status = summary.violationCount > 0 ? 1 : status;
    }
    return status;
}
