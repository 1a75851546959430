// The in-memory model of a BDN XML file: header, events and the whole document.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// A BDN file that cannot be read, checked or rewritten; the message names the file and the
// element or attribute at fault.
class BdnError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The header of a BDN document: root attributes and the description's values, as text.
struct TBDNInfo {
    std::string Version;        // root "Version"
    std::string XmlnsXsi;       // root "xmlns:xsi"
    std::string SchemaLocation; // root "xsi:noNamespaceSchemaLocation"
    std::string Title;          // "Name" "Title"
    std::string Content;        // "Name" "Content"
    std::string LanguageCode;   // "Language" "Code"
    std::string VideoFormat;    // "Format" "VideoFormat"
    std::string FirstEventInTC; // summary "Events" "FirstEventInTC"
    std::string LastEventOutTC; // summary "Events" "LastEventOutTC"
    std::string ContentInTC;    // summary "Events" "ContentInTC"
    std::string ContentOutTC;   // summary "Events" "ContentOutTC"
    std::string EventType;      // summary "Events" "Type"
    std::string DropFrame;      // "Format" "DropFrame"
    std::string FrameRate;      // "Format" "FrameRate"
    std::int32_t NumberofEvents = 0;

    bool operator==(const TBDNInfo&) const = default;
};

// One subtitle event: its times and the image it shows.
struct TBDNEvents {
    std::string Forced;
    std::string InTC;
    std::string OutTC;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::string GraphicFile; // text of "Graphic": the image's name relative to the XML file

    bool operator==(const TBDNEvents&) const = default;
};

// A whole BDN document; Events has Info.NumberofEvents entries after a load.
struct TBDNFile {
    TBDNInfo Info;
    std::vector<TBDNEvents> Events;

    bool operator==(const TBDNFile&) const = default;
};

} // namespace pelldrin
