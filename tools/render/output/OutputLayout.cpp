#include "output/OutputLayout.h"

#include "base/FileSystem.h"
#include "base/PathText.h"
#include "base/TextHelpers.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pelldrin::render {

namespace {

constexpr std::string_view kPictureExtension = ".png";

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A number of up to nine digits (more is no event number the run can reach).
int SmallNumber(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

OutputLayout::OutputLayout(std::string xmlPath, std::string supPath)
    : xml_(std::move(xmlPath)), sup_(std::move(supPath)), folder_(FolderOf(xml_)) {
    const std::string name = FileNamePart(xml_);
    baseName_ = StripExtension(name);
    if (baseName_.empty()) {
        baseName_ = name;
    }
}

std::string OutputLayout::PictureName(int eventNumber, int part) const {
    char number[32];
    if (part > 0) {
        std::snprintf(number, sizeof number, "_%05d_%d", eventNumber, part);
    } else {
        std::snprintf(number, sizeof number, "_%05d", eventNumber);
    }
    return baseName_ + number + std::string(kPictureExtension);
}

std::string OutputLayout::PicturePath(int eventNumber, int part) const {
    return JoinPath(folder_, PictureName(eventNumber, part));
}

bool OutputLayout::IsPictureName(std::string_view name) const {
    // Read back as PictureName writes it, the extension in any letter case (as file
    // systems that ignore case would see it).
    const std::size_t stem = baseName_.size() + 1;
    if (name.size() <= stem + kPictureExtension.size() ||
        name.substr(0, baseName_.size()) != baseName_ || name[baseName_.size()] != '_' ||
        !SameTextN(name.substr(name.size() - kPictureExtension.size()), kPictureExtension,
                   kPictureExtension.size())) {
        return false;
    }
    const std::string_view middle =
        name.substr(stem, name.size() - stem - kPictureExtension.size());
    const std::size_t split = middle.find('_');
    const std::string_view number = middle.substr(0, split);
    const std::string_view part =
        split == std::string_view::npos ? std::string_view() : middle.substr(split + 1);
    if (!AllDigits(number) || number.size() > 9 ||
        (split != std::string_view::npos && (!AllDigits(part) || part.size() > 9))) {
        return false;
    }
    const std::string written = PictureName(SmallNumber(number), SmallNumber(part));
    return std::string_view(written).substr(0, written.size() - kPictureExtension.size()) ==
           name.substr(0, name.size() - kPictureExtension.size());
}

std::vector<std::string> OutputLayout::Folders() const {
    std::vector<std::string> folders{folder_};
    if (!sup_.empty()) {
        const std::string supFolder = FolderOf(sup_);
        std::error_code ignored;
        if (!std::filesystem::equivalent(ToFsPath(folder_.empty() ? "." : folder_),
                                         ToFsPath(supFolder.empty() ? "." : supFolder), ignored)) {
            folders.push_back(supFolder);
        }
    }
    return folders;
}

} // namespace pelldrin::render
