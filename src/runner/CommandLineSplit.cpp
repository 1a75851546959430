#include "runner/CommandLineSplit.h"

namespace pelldrin {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    while (i < n && IsBlank(commandLine[i])) {
        ++i;
    }
    if (i == n) {
        return args;
    }

    // The program name is a path: quotes only group, backslashes are path separators.
    std::string program;
    bool inQuotes = false;
    for (; i < n && (inQuotes || !IsBlank(commandLine[i])); ++i) {
        if (commandLine[i] == '"') {
            inQuotes = !inQuotes;
        } else {
            program += commandLine[i];
        }
    }
    args.push_back(std::move(program));

    for (;;) {
        while (i < n && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i == n) {
            break;
        }
        std::string arg;
        inQuotes = false;
        while (i < n && (inQuotes || !IsBlank(commandLine[i]))) {
            std::size_t backslashes = 0;
            while (i < n && commandLine[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && commandLine[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"'; // escaped quote
                } else if (inQuotes && i + 1 < n && commandLine[i + 1] == '"') {
                    arg += '"'; // doubled quote inside a quoted part
                    ++i;
                } else {
                    inQuotes = !inQuotes;
                }
                ++i;
                continue;
            }
            arg.append(backslashes, '\\');
            if (i == n || (!inQuotes && IsBlank(commandLine[i]))) {
                break;
            }
            arg += commandLine[i++];
        }
        args.push_back(std::move(arg));
    }
    return args;
}

} // namespace pelldrin
