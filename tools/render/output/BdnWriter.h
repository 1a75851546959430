// The BDN XML text that describes the events and names their pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelldrin::render {

// One picture of an event, placed on the frame.
struct BdnGraphic {
    int width = 0, height = 0, x = 0, y = 0;
    std::string file; // relative to the XML file's folder
};

// One event: frames [inFrame, outFrame) show its graphics (one, or two after a split).
struct BdnEventOut {
    std::int64_t inFrame = 0;
    std::int64_t outFrame = 0;
    bool forced = false;
    std::vector<BdnGraphic> graphics;
};

// Everything the document says.
struct BdnDocumentOut {
    std::string title;
    std::string language;
    std::string videoFormat; // "1080p", ...
    std::string frameRate;   // as given on the command line, "23.976", ...
    int timecodeBase = 24;   // whole frames per timecode second
    std::int64_t clipFrames = 0;
    std::vector<BdnEventOut> events;
};

// "HH:MM:SS:FF" for a frame number at a whole frame base (non-drop).
std::string FrameToTimecode(std::int64_t frame, int base);

// The whole XML document, UTF-8 without a byte-order mark.
std::string BuildBdnXml(const BdnDocumentOut& document);

} // namespace pelldrin::render
