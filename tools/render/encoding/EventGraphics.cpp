#include "encoding/EventGraphics.h"

#include "base/PathText.h"

#include <cstdio>

namespace pelldrin::render {

namespace {

std::string GraphicName(const GraphicSettings& settings, int eventNumber, int part) {
    char number[32];
    std::snprintf(number, sizeof number, "_%05d", eventNumber);
    std::string name = settings.baseName + number;
    if (part > 0) {
        name += '_';
        name += std::to_string(part);
    }
    return name + ".png";
}

std::size_t SaveGraphic(const GraphicSettings& settings, const std::string& name,
                        const std::vector<std::uint8_t>& bytes) {
    WriteFileBytes(JoinPath(settings.folder, name), bytes);
    return bytes.size();
}

} // namespace

BdnEventOut WriteEventGraphics(const ShownImage& shown, int eventNumber,
                               const GraphicSettings& settings, IndexedEvent* indexed,
                               std::uint64_t* bytesWritten) {
    const RgbaImage& image = *shown.image;
    BdnEventOut event;
    event.inFrame = shown.in;
    event.outFrame = shown.out;
    event.forced = settings.forced;

    std::vector<PixelRect> parts;
    PixelRect top;
    PixelRect bottom;
    if (settings.split && FindSplit(image, settings.minGap, top, bottom)) {
        parts = {top, bottom};
    } else {
        parts = {PixelRect{0, 0, image.width, image.height}};
    }
    const bool whole = parts.size() == 1;

    // Only the parts' pixels are quantized: the rows between them are empty.
    std::vector<IndexedImage> quantized;
    if (settings.palette || indexed != nullptr) {
        quantized = QuantizeParts(image, parts, indexed != nullptr ? &indexed->stray : nullptr);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PixelRect& r = parts[i];
        const std::string name = GraphicName(settings, eventNumber, whole ? 0 : int(i) + 1);
        IndexedImage indexedPart;
        if (settings.palette || indexed != nullptr) {
            indexedPart = std::move(quantized[i]);
        }
        try {
            const std::size_t size =
                settings.palette
                    ? SaveGraphic(settings, name, EncodePngIndexed(indexedPart, settings.png))
                    : SaveGraphic(settings, name,
                                  EncodePngRgba(whole ? image : CutImage(image, r), settings.png));
            if (bytesWritten != nullptr) {
                *bytesWritten += size;
            }
        } catch (const PngError& e) {
            const std::string what = e.what();
            if (what.find(name) != std::string::npos) {
                throw;
            }
            throw PngError(JoinPath(settings.folder, name) + ": " + what);
        }
        event.graphics.push_back(BdnGraphic{r.right - r.left, r.bottom - r.top, image.x + r.left,
                                            image.y + r.top, name});
        if (indexed != nullptr) {
            indexed->parts.push_back(std::move(indexedPart));
        }
    }
    if (indexed != nullptr) {
        indexed->inFrame = shown.in;
        indexed->outFrame = shown.out;
        indexed->forced = settings.forced;
    }
    return event;
}

} // namespace pelldrin::render
