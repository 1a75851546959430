// A BDN XML file of any bytes through LoadBDNFile and AddBlackEvents: a refused
// file stays byte for byte as it was, and a rewritten one reads back with the old
// events between the blank ones, the header count that of its events, and the blank
// image beside it.
#include "FuzzSupport.h"

#include "bdn/BlackEvents.h"
#include "bdn/SubFile.h"

#include <pugixml.hpp>

using namespace pelldrin;

namespace {

// How many events the file's one event list holds; -1 when the root has more than one
// list (the model then shows the last list's events over the first's).
int EventsInList(std::string_view bytes) {
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes.data(), bytes.size())) {
        return -1;
    }
    int lists = 0;
    int events = 0;
    for (pugi::xml_node root : doc.children("BDN")) {
        for (pugi::xml_node list : root.children("Events")) {
            ++lists;
            for (pugi::xml_node event : list.children()) {
                events += event.type() == pugi::node_element;
            }
        }
    }
    return lists == 1 ? events : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const int mode = in.Byte() % 5; // 1 to 3 add events; 0 and 4 must touch nothing
    const std::string_view bytes = in.Rest();

    const std::string folder = fuzz::ScratchFolder();
    const std::string xmlPath = folder + "/task.xml";
    const std::string imagePath = folder + "/0.png";
    ::unlink(imagePath.c_str());
    fuzz::WriteBytes(xmlPath, bytes);

    TBDNFile before;
    bool loaded = false;
    try {
        LoadBDNFile(xmlPath, before);
        loaded = true;
        FUZZ_CHECK(before.Events.size() == static_cast<std::size_t>(before.Info.NumberofEvents));
    } catch (const BdnError&) {
    }

    bool refused = false;
    try {
        AddBlackEvents(xmlPath, mode);
    } catch (const BdnError&) {
        refused = true;
    }
    // Nothing is written when the call fails, the mode adds nothing, or no blank event
    // finds room beside the subtitles.
    const bool added = !refused && mode >= 1 && mode <= 3 && fuzz::ReadBytes(xmlPath) != bytes;
    FUZZ_CHECK(fuzz::FolderEntries(folder).size() == (added ? 2u : 1u)); // no temporary left
    if (!added) {
        FUZZ_CHECK(fuzz::ReadBytes(xmlPath) == bytes);
        FUZZ_CHECK(::access(imagePath.c_str(), F_OK) != 0);
        return 0;
    }

    // What was rewritten must read back, with nothing of the old content lost.
    FUZZ_CHECK(loaded);
    TBDNFile after;
    try {
        LoadBDNFile(xmlPath, after);
    } catch (const BdnError& e) {
        std::fprintf(stderr, "rewritten file does not load: %s\n", e.what());
        FUZZ_CHECK(!"AddBlackEvents wrote a file that LoadBDNFile refuses");
    }
    FUZZ_CHECK(fuzz::ReadBytes(imagePath) == BlankEventImage(after.Info.VideoFormat));
    // The count is that of the listed events: the old ones with one or two blank ones.
    FUZZ_CHECK(after.Events.size() == static_cast<std::size_t>(after.Info.NumberofEvents));
    const int listed = EventsInList(bytes);
    if (listed >= 0) {
        const auto old = static_cast<std::size_t>(listed);
        const std::size_t blanks = after.Events.size() - old;
        FUZZ_CHECK(blanks >= 1 && blanks <= (mode == 3 ? 2u : 1u));
        // The first blank one before the old events, the end one after them. Mode 3 with
        // one blank event: it is the end one unless the old last event is still last.
        std::size_t lead = 0;
        if (mode == 1 || blanks == 2 ||
            (mode == 3 && old > 0 && after.Events.back() == before.Events[old - 1])) {
            lead = 1;
        }
        for (std::size_t i = 0; i < old; ++i) {
            FUZZ_CHECK(after.Events[lead + i] == before.Events[i]);
        }
        for (std::size_t i = 0; i < after.Events.size(); ++i) {
            if (i < lead || i >= lead + old) {
                FUZZ_CHECK(after.Events[i].GraphicFile == "0.png");
            }
        }
    }
    TBDNInfo unchanged = after.Info;
    unchanged.NumberofEvents = before.Info.NumberofEvents;
    unchanged.FirstEventInTC = before.Info.FirstEventInTC;
    unchanged.LastEventOutTC = before.Info.LastEventOutTC;
    unchanged.ContentOutTC = before.Info.ContentOutTC;
    FUZZ_CHECK(unchanged == before.Info);
    return 0;
}
