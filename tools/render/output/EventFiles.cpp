#include "output/EventFiles.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "core/RenderErrors.h"

#include <string>

namespace pelldrin::render {

BdnEventOut WriteEventFiles(const std::vector<EncodedGraphic>& graphics, std::int64_t inFrame,
                            std::int64_t outFrame, bool forced, int eventNumber,
                            const OutputLayout& layout, std::uint64_t* bytesWritten) {
    BdnEventOut event;
    event.inFrame = inFrame;
    event.outFrame = outFrame;
    event.forced = forced;
    const bool whole = graphics.size() == 1;
    for (std::size_t i = 0; i < graphics.size(); ++i) {
        const EncodedGraphic& g = graphics[i];
        const int part = whole ? 0 : static_cast<int>(i) + 1;
        const std::string name = layout.PictureName(eventNumber, part);
        const std::string path = layout.PicturePath(eventNumber, part);
        try {
            WriteFileBytes(path, g.png);
        } catch (const PngError& e) {
            const std::string what = e.what();
            if (what.find(name) != std::string::npos) {
                throw;
            }
            throw PngError(path + ": " + what);
        }
        if (bytesWritten != nullptr) {
            *bytesWritten += g.png.size();
        }
        event.graphics.push_back(BdnGraphic{g.width, g.height, g.x, g.y, name});
    }
    return event;
}

void WriteFileBytes(std::string_view path, const std::vector<std::uint8_t>& bytes) {
    // Renamed into place: a half-written picture never carries the name, and a link
    // planted under that name is replaced, not written through. Not synced one by one:
    // the XML that names the pictures is synced last.
    try {
        AtomicFile file(std::string(path), AtomicFile::Durability::Buffered);
        file.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        file.Commit();
    } catch (const FileError& e) {
        throw PngError(e.what());
    }
}

} // namespace pelldrin::render
