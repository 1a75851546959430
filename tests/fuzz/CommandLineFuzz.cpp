// The command-line splitter: any line splits without blanks leaking into an
// argument outside quotes, and arguments quoted by the Windows rules split back
// into exactly themselves.
#include "FuzzSupport.h"

#include "runner/CommandLineSplit.h"

using namespace pelldrin;

namespace {

// One argument as a Windows program expects it on its command line.
std::string QuoteArgument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos) {
        return std::string(arg);
    }
    std::string out = "\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == arg.size()) {
            out.append(backslashes * 2, '\\'); // they come before the closing quote
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out += arg[i];
    }
    out += '"';
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    // Any line: the program name keeps no quote, and nothing is made up.
    const auto raw = SplitCommandLine(line);
    std::size_t total = 0;
    for (const std::string& arg : raw) {
        total += arg.size();
    }
    FUZZ_CHECK(total <= line.size());
    if (!raw.empty()) {
        FUZZ_CHECK(raw[0].find('"') == std::string::npos);
    }

    // The input cut at zero bytes as a list of arguments: quoted and split, it comes
    // back unchanged. The program name cannot carry a quote, so it loses them.
    fuzz::InputReader in(data, size);
    std::vector<std::string> args;
    std::string program(in.Until('\0'));
    std::erase(program, '"');
    args.push_back(program);
    while (!in.Empty()) {
        args.emplace_back(in.Until('\0'));
    }
    std::string command = "\"" + program + "\"";
    for (std::size_t i = 1; i < args.size(); ++i) {
        command += ' ';
        command += QuoteArgument(args[i]);
    }
    FUZZ_CHECK(SplitCommandLine(command) == args);
    return 0;
}
