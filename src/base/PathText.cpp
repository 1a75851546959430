#include "base/PathText.h"

namespace pelldrin {

bool EndsWithSeparator(std::string_view path) {
    return !path.empty() && kPathSeparators.find(path.back()) != std::string_view::npos;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    if (!result.empty() && !EndsWithSeparator(result)) {
        result += kPathSeparator;
    }
    result += name;
    return result;
}

std::string FolderOf(std::string_view path) {
    const auto sep = path.find_last_of(kPathSeparators);
    if (sep == std::string_view::npos) {
        return {};
    }
    if (sep == 0) {
        return std::string(path.substr(0, 1)); // the root folder
    }
#ifdef _WIN32
    if (sep == 2 && path[1] == ':') {
        return std::string(path.substr(0, 3)); // a drive's root, not its current folder
    }
#endif
    return std::string(path.substr(0, sep));
}

std::string StripExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return std::string(name.substr(0, dot));
}

std::string FileNamePart(std::string_view path) {
    const auto sep = path.find_last_of(kPathSeparators);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string FileExtension(std::string_view path) {
    const std::string name = FileNamePart(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

} // namespace pelldrin
