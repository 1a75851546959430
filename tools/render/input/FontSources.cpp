#include "input/FontSources.h"

#include "base/FileSystem.h"
#include "base/FontFiles.h"
#include "base/PathText.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pelldrin::render {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The text between a prefix and the next occurrence of end, or empty.
std::string Between(const std::string& text, std::string_view prefix, std::string_view end,
                    std::size_t& pos) {
    const auto start = text.find(prefix, pos);
    if (start == std::string::npos) {
        return {};
    }
    const auto from = start + prefix.size();
    const auto to = text.find(end, from);
    if (to == std::string::npos) {
        return {};
    }
    pos = to + end.size();
    return text.substr(from, to - from);
}

// "(Family, 400, 0)": the family, which may itself hold commas.
std::string FamilyOf(const std::string& described) {
    std::string family = described;
    for (int i = 0; i < 2; ++i) {
        const auto comma = family.rfind(", ");
        if (comma != std::string::npos) {
            family.resize(comma);
        }
    }
    return family;
}

} // namespace

std::vector<std::string> FontFolders(const std::vector<std::string>& parents) {
    std::vector<std::string> folders;
    for (const std::string& parent : parents) {
        std::error_code ec;
        fs::directory_iterator it(ToFsPath(parent.empty() ? "." : parent), ec);
        std::vector<std::string> found;
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code probe;
            const std::string name = FromFsPath(it->path().filename());
            if (Lower(name) == "fonts" && it->is_directory(probe)) {
                found.push_back(FromFsPath(it->path()));
            }
        }
        std::sort(found.begin(), found.end());
        for (const std::string& folder : found) {
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
                folders.push_back(folder);
            }
        }
    }
    return folders;
}

int AddFontFiles(ASS_Library* library, const std::vector<std::string>& folders,
                 const std::function<void(const std::string&)>& warn) {
    int added = 0;
    for (const std::string& folder : folders) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(ToFsPath(folder), ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            std::error_code probe;
            if (it->is_regular_file(probe) && IsFontFileName(FromFsPath(it->path().filename()))) {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const std::string path = FromFsPath(file);
            std::error_code sizeError;
            if (fs::file_size(file, sizeError) > kMaxFontFileBytes) {
                warn("the font file \"" + QuoteForMessage(path) +
                     "\" is over 64 MB; it is not loaded");
                continue;
            }
            try {
                std::string bytes = ReadWholeFile(path);
                ass_add_font(library, FileNamePart(path).c_str(), bytes.data(),
                             static_cast<int>(bytes.size()));
                ++added;
            } catch (const std::exception& e) {
                warn(std::string("a font file cannot be read: ") + e.what());
            }
        }
    }
    return added;
}

FontReport::FontReport(std::shared_ptr<const SubtitleFile> subtitle)
    : subtitle_(std::move(subtitle)) {}

std::optional<std::string> FontReport::Translate(const std::string& message) {
    std::size_t pos = 0;
    const std::string requested = Between(message, "Using default font family: (", ") -> ", pos);
    if (!requested.empty()) {
        const std::string family = FamilyOf(requested);
        if (!families_.insert(Lower(family)).second) {
            return std::nullopt;
        }
        const auto lastComma = message.rfind(", ");
        const std::string face =
            lastComma == std::string::npos ? message.substr(pos) : message.substr(lastComma + 2);
        return "the font \"" + QuoteForMessage(family) +
               "\" is not installed and not in a fonts "
               "folder or the script; \"" +
               QuoteForMessage(face) + "\" is used instead";
    }
    pos = 0;
    const std::string glyph =
        Between(message, "failed to find any fallback with glyph 0x", " ", pos);
    if (!glyph.empty()) {
        char32_t codePoint = 0;
        try {
            codePoint = static_cast<char32_t>(std::stoul(glyph, nullptr, 16));
        } catch (const std::exception&) {
            return message;
        }
        if (!characters_.insert(codePoint).second) {
            return std::nullopt;
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(codePoint));
        std::string character;
        AppendUtf8(character, codePoint);
        return std::string("no font can draw the character ") + hex + " \"" + character +
               "\"; it shows as nothing or a box" + LineOf(codePoint);
    }
    return message;
}

std::string FontReport::LineOf(char32_t codePoint) {
    if (!lines_) {
        lines_ = SplitByDelimiter(subtitle_->text, '\n');
    }
    std::string needle;
    AppendUtf8(needle, codePoint);
    for (std::size_t i = 0; i < lines_->size(); ++i) {
        if ((*lines_)[i].find(needle) != std::string::npos) {
            std::string line = (*lines_)[i];
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return "; first used on line " + std::to_string(i + 1) + ": " +
                   QuoteForMessage(line, 120);
        }
    }
    return {};
}

} // namespace pelldrin::render
