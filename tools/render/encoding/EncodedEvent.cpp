#include "encoding/EncodedEvent.h"

#include <algorithm>

namespace pelldrin::render {

namespace {

// The rectangle of an image cut from its quantized parts: the parts' indices where they
// overlap it, transparent elsewhere.
IndexedImage CutIndexed(const RgbaImage& image, const PixelRect& r,
                        const std::vector<IndexedImage>& parts) {
    IndexedImage out;
    out.x = image.x + r.left;
    out.y = image.y + r.top;
    out.width = r.right - r.left;
    out.height = r.bottom - r.top;
    out.indices.assign(static_cast<std::size_t>(out.width) * out.height, 0);
    out.palette = parts.front().palette;
    for (const IndexedImage& part : parts) {
        const int left = std::max(out.x, part.x),
                  right = std::min(out.x + out.width, part.x + part.width);
        const int top = std::max(out.y, part.y),
                  bottom = std::min(out.y + out.height, part.y + part.height);
        for (int y = top; left < right && y < bottom; ++y) {
            std::copy_n(part.indices.data() + static_cast<std::size_t>(y - part.y) * part.width +
                            (left - part.x),
                        right - left,
                        out.indices.data() + static_cast<std::size_t>(y - out.y) * out.width +
                            (left - out.x));
        }
    }
    return out;
}

} // namespace

EncodedEvent EncodeEvent(const ShownImage& shown, const EncodeSettings& settings) {
    // PNGs, palettes and stream are all made from the picture in the run's colours.
    std::shared_ptr<const RgbaImage> picture = PictureInColor(shown.image, settings.hdr10);
    const RgbaImage& image = *picture;
    EncodedEvent event;
    event.inFrame = shown.in;
    event.outFrame = shown.out;

    std::vector<PixelRect> parts;
    PixelRect top;
    PixelRect bottom;
    if (settings.split && FindSplit(image, settings.minGap, top, bottom)) {
        parts = {top, bottom};
    } else {
        parts = {PixelRect{0, 0, image.width, image.height}};
    }
    const bool whole = parts.size() == 1;

    // Only the parts' pixels are quantized: the rows between them are empty. The stream gets
    // objects of its own, chosen by where the visible pixels lie whatever the graphics are;
    // any parts that cover every visible pixel give the same palette. The palette PNGs are then
    // cut from the stream's quantization, so they look as the stream does.
    std::vector<IndexedImage> cut, streamParts;
    const std::vector<IndexedImage>* quantized = &cut;
    if (settings.stream) {
        const std::vector<PixelRect> apart = VisibleParts(image);
        streamParts = QuantizeParts(image, apart, &event.indexed.stray, kStreamVisibleColors);
        if (apart == parts) {
            quantized = &streamParts;
        } else if (settings.palette) {
            for (const PixelRect& r : parts) {
                cut.push_back(CutIndexed(image, r, streamParts));
            }
        }
    } else if (settings.palette) {
        cut = QuantizeParts(image, parts);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PixelRect& r = parts[i];
        event.graphics.push_back(EncodedGraphic{
            image.x + r.left, image.y + r.top, r.right - r.left, r.bottom - r.top,
            settings.palette ? EncodePngIndexed((*quantized)[i], settings.png)
                             : EncodePngRgba(whole ? image : CutImage(image, r), settings.png)});
    }
    if (settings.stream) {
        event.indexed.parts = std::move(streamParts);
        event.indexed.inFrame = shown.in;
        event.indexed.outFrame = shown.out;
        event.picture = std::move(picture);
    }
    return event;
}

} // namespace pelldrin::render
