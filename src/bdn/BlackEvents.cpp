#include "bdn/BlackEvents.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/VideoFormats.h"
#include "bdn/BdnDocument.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace pelldrin {

extern const unsigned char kBlankEventImage0[];
extern const std::size_t kBlankEventImage0Size;
extern const unsigned char kBlankEventImage0_1280x720[];
extern const std::size_t kBlankEventImage0_1280x720Size;
extern const unsigned char kBlankEventImage0_720x480[];
extern const std::size_t kBlankEventImage0_720x480Size;
extern const unsigned char kBlankEventImage0_720x576[];
extern const std::size_t kBlankEventImage0_720x576Size;

namespace {

constexpr int kBlankFrames = 8;
constexpr const char* kBlankImageName = "0.png";

// A timecode field: one or more ASCII digits that fit an int32.
bool ParseField(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    return TryParseInt(text, value) && value <= std::numeric_limits<std::int32_t>::max();
}

std::string TwoDigits(std::int64_t value) {
    std::string text = std::to_string(value);
    if (value < 10) {
        text.insert(text.begin(), '0');
    }
    return text;
}

// Appends one blank event to the event list, attributes in the order the format writes them.
void AppendBlankEvent(pugi::xml_node list, const std::string& inTC, const std::string& outTC) {
    pugi::xml_node event = list.append_child("Event");
    event.append_attribute("Forced") = "False";
    event.append_attribute("InTC") = inTC.c_str();
    event.append_attribute("OutTC") = outTC.c_str();
    pugi::xml_node graphic = event.append_child("Graphic");
    graphic.text().set(kBlankImageName);
    graphic.append_attribute("Width") = "1920";
    graphic.append_attribute("Height") = "1080";
    graphic.append_attribute("X") = "0";
    graphic.append_attribute("Y") = "0";
}

} // namespace

std::string AddFrames(std::string_view timecode, int frames, int base) {
    if (base < 1) {
        throw BdnError(Cat({"frame base ", std::to_string(base), " is below 1"}));
    }
    if (frames < 0) {
        throw BdnError("cannot add a negative number of frames");
    }
    const std::vector<std::string> pieces = SplitByDelimiter(timecode, ':');
    std::int64_t f[4] = {};
    if (pieces.size() != 4 || !ParseField(pieces[0], f[0]) || !ParseField(pieces[1], f[1]) ||
        !ParseField(pieces[2], f[2]) || !ParseField(pieces[3], f[3])) {
        throw BdnError(Cat({"\"", timecode, "\" is not a timecode HH:MM:SS:FF"}));
    }
    std::int64_t hours = f[0], minutes = f[1], seconds = f[2], frame = f[3] + frames;
    seconds += frame / base;
    frame %= base;
    minutes += seconds / 60;
    seconds %= 60;
    hours += minutes / 60;
    minutes %= 60;
    return Cat({TwoDigits(hours), ":", TwoDigits(minutes), ":", TwoDigits(seconds), ":",
                TwoDigits(frame)});
}

int FrameBase(std::string_view frameRate) {
    const std::vector<std::string> pieces = SplitByDelimiter(frameRate, '.');
    std::int64_t whole = 0;
    const bool fractionOk =
        pieces.size() == 1 ||
        (pieces.size() == 2 && pieces[1].find_first_not_of("0123456789") == std::string::npos);
    if (pieces.size() > 2 || !fractionOk || !ParseField(pieces[0], whole)) {
        throw BdnError(Cat({"frame rate \"", frameRate, "\" is not a decimal number"}));
    }
    // Timecodes count whole frames at the nominal rate: 23.976 counts 0 to 23 like 24.
    if (pieces.size() == 2 && pieces[1].find_first_not_of('0') != std::string::npos) {
        ++whole;
    }
    if (whole < 1 || whole > std::numeric_limits<int>::max()) {
        throw BdnError(Cat({"frame rate \"", frameRate, "\" gives the frame base ",
                            std::to_string(whole), ", which is below 1 or too large"}));
    }
    return static_cast<int>(whole);
}

std::string_view BlankEventImage(std::string_view videoFormat) {
    const auto bytes = [](const unsigned char* data, std::size_t size) {
        return std::string_view(reinterpret_cast<const char*>(data), size);
    };
    // An authoring tool refuses a graphic larger than the video frame.
    const VideoFormat* format = FindVideoFormat(videoFormat);
    const int height = format != nullptr ? format->height : 1080;
    const int width = format != nullptr ? format->width : 1920;
    if (width == 1280 && height == 720) {
        return bytes(kBlankEventImage0_1280x720, kBlankEventImage0_1280x720Size);
    }
    if (width == 720 && height == 480) {
        return bytes(kBlankEventImage0_720x480, kBlankEventImage0_720x480Size);
    }
    if (width == 720 && height == 576) {
        return bytes(kBlankEventImage0_720x576, kBlankEventImage0_720x576Size);
    }
    return bytes(kBlankEventImage0, kBlankEventImage0Size);
}

void SaveResourceToFile(std::string_view name, std::string_view type, const std::string& targetPath,
                        std::string_view videoFormat) {
    if (name != "PNG" || type != "PNGFILE") {
        throw BdnError(
            Cat({"no resource \"", name, "\" of type \"", type, "\" is carried in the program"}));
    }
    try {
        AtomicWriteFile(targetPath, BlankEventImage(videoFormat));
    } catch (const FileError& e) {
        throw BdnError(e.what());
    }
}

void AddBlackEvents(const std::string& xmlPath, int mode) {
    if (mode < 1 || mode > 3) {
        return;
    }
    // One parse and one save: the header count and the events change together.
    BdnDocument doc;
    LoadBdnDocument(doc, xmlPath);
    TBDNFile file;
    ReadBdnModel(doc, file);

    // Everything is checked before anything is written.
    const int added = mode == 3 ? 2 : 1;
    if (file.Info.NumberofEvents > std::numeric_limits<std::int32_t>::max() - added) {
        FailBdn(xmlPath, "NumberofEvents is too large to add blank events");
    }
    file.Info.NumberofEvents += added;
    const pugi::xml_node summary = FindBdnSummary(doc);

    const pugi::xml_node root = NodeAtPosition(doc.xml, 1);
    if (!root || root.type() != pugi::node_element || std::strcmp(root.name(), "BDN") != 0) {
        // Also catches a root named in another letter case, which loads as an empty model
        // whose empty times must not be written over the file's.
        FailBdn(xmlPath, "the second top-level node (after the XML declaration) is not the "
                         "root element \"BDN\"");
    }
    const pugi::xml_node list = NodeAtPosition(root, 1);
    if (!list || std::strcmp(list.name(), "Events") != 0) {
        FailBdn(xmlPath, "the second child of \"BDN\" is not the event list \"Events\"");
    }
    RequireSingle(doc, list, "the event list \"Events\"");

    std::string endIn;
    std::string endOut;
    if (mode >= 2) {
        int base = 0;
        try {
            base = FrameBase(file.Info.FrameRate);
        } catch (const BdnError& e) {
            FailBdn(xmlPath, Cat({"attribute \"FrameRate\" of \"Format\": ", e.what()}));
        }
        try {
            endIn = AddFrames(file.Info.LastEventOutTC, kBlankFrames, base);
            endOut = AddFrames(endIn, kBlankFrames, base);
        } catch (const BdnError& e) {
            FailBdn(xmlPath,
                    Cat({"attribute \"LastEventOutTC\" of the summary \"Events\": ", e.what()}));
        }
    }

    WriteBdnHeaderValues(summary, file.Info);
    if (mode >= 2) {
        AppendBlankEvent(list, endIn, endOut);
    }
    if (mode != 2) {
        AppendBlankEvent(list, "00:00:00:00", "00:00:00:08");
    }
    // Serialised before anything is written, as that can refuse too. The image goes
    // first: if it cannot be written the XML file is still untouched.
    const std::string bytes = SerializeBdnDocument(doc);
    SaveResourceToFile("PNG", "PNGFILE", JoinPath(FolderOf(xmlPath), kBlankImageName),
                       file.Info.VideoFormat);
    WriteBdnBytes(xmlPath, bytes);
}

} // namespace pelldrin
