// Where a run's files go, worked out once from its -o paths: the BDN XML, its folder and
// base name, the names of its pictures, and the PGS stream.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelldrin::render {

class OutputLayout {
  public:
    OutputLayout() = default;
    // supPath is empty without a PGS stream.
    explicit OutputLayout(std::string xmlPath, std::string supPath = {});

    const std::string& Xml() const { return xml_; }
    const std::string& Sup() const { return sup_; }
    // The folder of the XML and its pictures, empty for the current folder.
    const std::string& Folder() const { return folder_; }
    // The name the pictures start with ("out" for "out.xml").
    const std::string& BaseName() const { return baseName_; }

    // The picture of the eventNumber-th event (from 1): part 0 for a whole picture, 1 and
    // 2 for the top and bottom of a split one. BASE_00001.png, BASE_00001_2.png.
    std::string PictureName(int eventNumber, int part = 0) const;
    std::string PicturePath(int eventNumber, int part = 0) const;
    // True when a file named so in the pictures' folder is one the run may write.
    bool IsPictureName(std::string_view name) const;

    // The folders the run writes into: the XML's, and the stream's when it is another.
    std::vector<std::string> Folders() const;

  private:
    std::string xml_;
    std::string sup_;
    std::string folder_;
    std::string baseName_;
};

} // namespace pelldrin::render
