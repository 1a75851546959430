#include "base/FontFiles.h"

#include "base/PathText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace pelldrin {

bool IsFontFileName(std::string_view name) {
    static constexpr std::array<std::string_view, 9> kExtensions{
        ".ttf", ".otf", ".ttc", ".otc", ".pfb", ".pfa", ".cff", ".woff", ".woff2"};
    std::string extension = FileExtension(name);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::string_view FontDataExtension(std::string_view bytes) {
    const std::string_view tag = bytes.substr(0, 4);
    if (tag == std::string_view("\0\1\0\0", 4) || tag == "true" || tag == "typ1") {
        return ".ttf";
    }
    if (tag == "OTTO") {
        return ".otf";
    }
    if (tag == "ttcf") {
        return ".ttc";
    }
    if (tag == "wOFF") {
        return ".woff";
    }
    if (tag == "wOF2") {
        return ".woff2";
    }
    if (bytes.substr(0, 2) == "\x80\x01") {
        return ".pfb"; // PostScript Type 1, binary
    }
    if (bytes.substr(0, 14) == "%!PS-AdobeFont" || bytes.substr(0, 11) == "%!FontType1") {
        return ".pfa";
    }
    return {};
}

} // namespace pelldrin
