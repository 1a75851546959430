#include "bdn/BlackEvents.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/VideoFormats.h"
#include "bdn/BdnDocument.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
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
constexpr const char* kStreamStart = "00:00:00:00";
constexpr const char* kFirstBlankOut = "00:00:00:08";

// Hours, minutes, seconds and frames of a timecode; compared field by field, which orders
// well-formed timecodes in time without knowing the frame base.
using TimecodeFields = std::array<std::int64_t, 4>;

// A timecode field: one or more ASCII digits that fit an int32.
bool ParseField(std::string_view text, std::int64_t& value) {
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) {
            return false;
        }
    }
    return !text.empty();
}

// Four fields joined by ":"; read without allocating, as every event of a file is read.
bool ParseTimecode(std::string_view timecode, TimecodeFields& fields) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t colon = i < 3 ? timecode.find(':') : timecode.size();
        if (colon == std::string_view::npos || !ParseField(timecode.substr(0, colon), fields[i])) {
            return false;
        }
        timecode.remove_prefix(std::min(colon + 1, timecode.size()));
    }
    return true;
}

std::string TwoDigits(std::int64_t value) {
    std::string text = std::to_string(value);
    if (value < 10) {
        text.insert(text.begin(), '0');
    }
    return text;
}

// One event's span, as written and as compared.
struct EventTimes {
    std::string inTC;
    std::string outTC;
    TimecodeFields in{};
    TimecodeFields out{};
};

EventTimes MakeTimes(std::string inTC, std::string outTC) {
    EventTimes t{std::move(inTC), std::move(outTC), {}, {}};
    ParseTimecode(t.inTC, t.in); // our own texts, well-formed
    ParseTimecode(t.outTC, t.out);
    return t;
}

// What the listed events span: the earliest in-time and the latest out-time.
struct ListedSpan {
    std::size_t count = 0;
    EventTimes span; // in: the earliest in-time; out: the latest out-time
};

// Reads the times of every event in the list; throws naming the event whose times do not
// read.
ListedSpan ScanEvents(const std::string& xmlPath, pugi::xml_node list) {
    ListedSpan listed;
    for (pugi::xml_node event : list.children()) {
        if (event.type() != pugi::node_element) {
            continue;
        }
        ++listed.count;
        TimecodeFields in{};
        TimecodeFields out{};
        for (auto [name, fields] : {std::pair{"InTC", &in}, std::pair{"OutTC", &out}}) {
            const char* text = event.attribute(name).value();
            if (!ParseTimecode(text, *fields)) {
                FailBdn(xmlPath, Cat({"attribute \"", name, "\" of event number ",
                                      std::to_string(listed.count), " in the event list: \"", text,
                                      "\" is not a timecode HH:MM:SS:FF"}));
            }
        }
        if (listed.count == 1 || in < listed.span.in) {
            listed.span.in = in;
            listed.span.inTC = event.attribute("InTC").value();
        }
        if (listed.count == 1 || listed.span.out < out) {
            listed.span.out = out;
            listed.span.outTC = event.attribute("OutTC").value();
        }
    }
    return listed;
}

// Adds one blank event to the event list, at its start or its end, attributes in the
// order the format writes them. The graphic declares the size of the image it names.
void AddBlankEvent(pugi::xml_node list, bool atStart, const EventTimes& times,
                   std::pair<int, int> size) {
    pugi::xml_node event = atStart ? list.prepend_child("Event") : list.append_child("Event");
    event.append_attribute("Forced") = "False";
    event.append_attribute("InTC") = times.inTC.c_str();
    event.append_attribute("OutTC") = times.outTC.c_str();
    pugi::xml_node graphic = event.append_child("Graphic");
    graphic.text().set(kBlankImageName);
    graphic.append_attribute("Width") = size.first;
    graphic.append_attribute("Height") = size.second;
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
    TimecodeFields f{};
    if (!ParseTimecode(timecode, f)) {
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

std::pair<int, int> BlankEventSize(std::string_view videoFormat) {
    // An authoring tool refuses a graphic larger than the video frame.
    const VideoFormat* format = FindVideoFormat(videoFormat);
    return format != nullptr ? std::pair{format->width, format->height} : std::pair{1920, 1080};
}

std::string_view BlankEventImage(std::string_view videoFormat) {
    const auto bytes = [](const unsigned char* data, std::size_t size) {
        return std::string_view(reinterpret_cast<const char*>(data), size);
    };
    const auto size = BlankEventSize(videoFormat);
    if (size == std::pair{1280, 720}) {
        return bytes(kBlankEventImage0_1280x720, kBlankEventImage0_1280x720Size);
    }
    if (size == std::pair{720, 480}) {
        return bytes(kBlankEventImage0_720x480, kBlankEventImage0_720x480Size);
    }
    if (size == std::pair{720, 576}) {
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

namespace {

// The blank events a file gets: each absent when the mode does not ask for it or no frame of
// it is left.
struct BlankEventPlan {
    std::optional<EventTimes> first;
    std::optional<EventTimes> end;
};

// A blank event never overlaps a subtitle: the first one ends where the earliest subtitle
// starts, the end one starts where the latest ends, and one with no frame left is not added.
BlankEventPlan PlanBlankEvents(const std::string& xmlPath, const TBDNFile& file,
                               const ListedSpan& listed, int mode) {
    BlankEventPlan plan;
    if (mode != 2) {
        EventTimes blank = MakeTimes(kStreamStart, kFirstBlankOut);
        if (listed.count > 0 && listed.span.in < blank.out) {
            blank = MakeTimes(kStreamStart, listed.span.inTC);
        }
        if (blank.in < blank.out) {
            plan.first = blank;
        }
    }
    if (mode >= 2) {
        int base = 0;
        try {
            base = FrameBase(file.Info.FrameRate);
        } catch (const BdnError& e) {
            FailBdn(xmlPath, Cat({"attribute \"FrameRate\" of \"Format\": ", e.what()}));
        }
        std::string endIn;
        std::string endOut;
        try {
            endIn = AddFrames(file.Info.LastEventOutTC, kBlankFrames, base);
            endOut = AddFrames(endIn, kBlankFrames, base);
        } catch (const BdnError& e) {
            FailBdn(xmlPath,
                    Cat({"attribute \"LastEventOutTC\" of the summary \"Events\": ", e.what()}));
        }
        EventTimes blank = MakeTimes(endIn, endOut);
        if (listed.count > 0 && blank.in < listed.span.out) {
            blank = MakeTimes(listed.span.outTC, endOut);
        }
        if (blank.in < blank.out) {
            plan.end = blank;
        }
    }
    return plan;
}

// Puts the planned events into the document in time order and sets the header to the
// events it then holds; then writes the blank image and the XML. Nothing is written when
// the document cannot be serialised, and the XML stays untouched when the image fails.
void ApplyBlankEvents(const std::string& xmlPath, BdnDocument& doc, TBDNFile& file,
                      pugi::xml_node list, pugi::xml_node summary, const ListedSpan& listed,
                      const BlankEventPlan& plan) {
    const auto size = BlankEventSize(file.Info.VideoFormat);
    if (plan.first) {
        AddBlankEvent(list, true, *plan.first, size);
    }
    if (plan.end) {
        AddBlankEvent(list, false, *plan.end, size);
    }
    const EventTimes& earliest =
        plan.first ? *plan.first : (listed.count > 0 ? listed.span : *plan.end);
    const EventTimes& latest =
        plan.end ? *plan.end : (listed.count > 0 ? listed.span : *plan.first);
    const std::size_t count = listed.count + (plan.first ? 1 : 0) + (plan.end ? 1 : 0);
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        FailBdn(xmlPath, "too many events to count");
    }
    file.Info.NumberofEvents = static_cast<std::int32_t>(count);
    file.Info.LastEventOutTC = latest.outTC;
    WriteBdnHeaderValues(summary, file.Info);
    SetAttribute(summary, "FirstEventInTC", earliest.inTC.c_str());

    const std::string bytes = SerializeBdnDocument(doc);
    SaveResourceToFile("PNG", "PNGFILE", JoinPath(FolderOf(xmlPath), kBlankImageName),
                       file.Info.VideoFormat);
    WriteBdnBytes(xmlPath, bytes);
}

} // namespace

void AddBlackEvents(const std::string& xmlPath, int mode) {
    if (mode < 1 || mode > 3) {
        return;
    }
    // One parse and one save: the header and the events change together.
    BdnDocument doc;
    LoadBdnDocument(doc, xmlPath);
    TBDNFile file;
    ReadBdnModel(doc, file);

    // Everything is checked before anything is written.
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
    const ListedSpan listed = ScanEvents(xmlPath, list);
    const BlankEventPlan plan = PlanBlankEvents(xmlPath, file, listed, mode);
    if (!plan.first && !plan.end) {
        return; // nothing to add: the file and its folder stay as they are
    }
    ApplyBlankEvents(xmlPath, doc, file, list, summary, listed, plan);
}

} // namespace pelldrin
