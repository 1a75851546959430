// A BDN XML file of any bytes through LoadBDNFile and AddBlackEvents: a refused
// file stays byte for byte as it was, and a rewritten one reads back with the old
// events first, the header count raised, and the blank image beside it.
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

    bool added = false;
    try {
        AddBlackEvents(xmlPath, mode);
        added = mode >= 1 && mode <= 3;
    } catch (const BdnError&) {
    }
    FUZZ_CHECK(fuzz::FolderEntries(folder).size() == (added ? 2u : 1u)); // no temporary left
    if (!added) {
        FUZZ_CHECK(fuzz::ReadBytes(xmlPath) == bytes);
        FUZZ_CHECK(::access(imagePath.c_str(), F_OK) != 0);
        return 0;
    }

    // What was rewritten must read back, with nothing of the old content lost.
    FUZZ_CHECK(loaded);
    FUZZ_CHECK(fuzz::ReadBytes(imagePath) == BlankEventImage());
    TBDNFile after;
    try {
        LoadBDNFile(xmlPath, after);
    } catch (const BdnError& e) {
        std::fprintf(stderr, "rewritten file does not load: %s\n", e.what());
        FUZZ_CHECK(!"AddBlackEvents wrote a file that LoadBDNFile refuses");
    }
    const std::int32_t count = mode == 3 ? 2 : 1;
    FUZZ_CHECK(after.Info.NumberofEvents == before.Info.NumberofEvents + count);
    FUZZ_CHECK(after.Events.size() == before.Events.size() + static_cast<std::size_t>(count));
    // The old events first, then the blank ones (when the count matched the list).
    const int listed = EventsInList(bytes);
    if (listed >= 0) {
        const auto old = static_cast<std::size_t>(listed);
        for (std::size_t i = 0; i < old; ++i) {
            FUZZ_CHECK(after.Events[i] == before.Events[i]);
        }
        for (std::size_t i = old; i < old + static_cast<std::size_t>(count); ++i) {
            FUZZ_CHECK(after.Events[i].GraphicFile == "0.png");
        }
    }
    TBDNInfo unchanged = after.Info;
    unchanged.NumberofEvents = before.Info.NumberofEvents;
    unchanged.LastEventOutTC = before.Info.LastEventOutTC;
    unchanged.ContentOutTC = before.Info.ContentOutTC;
    FUZZ_CHECK(unchanged == before.Info);
    return 0;
}
