#include "settings/FileListing.h"

#include "base/FileSystem.h"
#include "base/Utf8.h"

#include <algorithm>
#include <filesystem>

namespace pelldrin {

namespace {

char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The length in bytes of the UTF-8 character that starts at pos.
std::size_t CharacterLength(std::string_view text, std::size_t pos) {
    std::size_t end = pos + 1;
    while (end < text.size() && IsUtf8Continuation(text[end])) {
        ++end;
    }
    return end - pos;
}

} // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
    // Greedy match that backs up to the last "*" on a mismatch; linear in
    // practice and never recursive, whatever the mask.
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            n += CharacterLength(name, n);
            ++m;
        } else if (m < mask.size() && FoldAscii(mask[m]) == FoldAscii(name[n])) {
            ++n;
            ++m;
        } else if (starMask != std::string_view::npos) {
            starName += CharacterLength(name, starName);
            n = starName;
            m = starMask + 1;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(ToFsPath(folder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = FromFsPath(it->path().filename());
        if (MatchesMask(name, mask)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names) {
        paths.push_back(JoinPath(folder, name));
    }
    return paths;
}

} // namespace pelldrin
