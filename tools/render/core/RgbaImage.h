// A picture placed on the video frame: straight (not premultiplied) RGBA pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pelldrin::render {

struct RgbaImage {
    int x = 0; // position of the top-left pixel on the frame
    int y = 0;
    int width = 0;
    int height = 0;
    // The rows, width * 4 bytes each: width * height * 4 bytes, row-major, unless rowStart
    // says where each row starts.
    std::vector<std::uint8_t> pixels;
    // Empty, or where each row starts in pixels. Rows that start at blankFrom or later are
    // transparent and share one row of zeros: a picture of a line at the top of the frame and
    // one at the bottom keeps nothing for the rows between them, and scans pass them by.
    std::vector<std::size_t> rowStart;
    std::size_t blankFrom = 0;

    bool Empty() const { return width == 0 || height == 0; }
    const std::uint8_t* Row(int row) const { return pixels.data() + RowOffset(row); }
    // For writing: any row of an image without rowStart, only rows not blank otherwise.
    std::uint8_t* Row(int row) { return pixels.data() + RowOffset(row); }
    // Known to be transparent without looking at its pixels.
    bool RowBlank(int row) const {
        return !rowStart.empty() && rowStart[static_cast<std::size_t>(row)] >= blankFrom;
    }
    std::size_t RowOffset(int row) const {
        return rowStart.empty()
                   ? static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 4
                   : rowStart[static_cast<std::size_t>(row)];
    }
    // The same place, size and pixels, however the rows are stored.
    friend bool operator==(const RgbaImage& a, const RgbaImage& b);
};

// One picture and the frames [in, out) that show it.
struct ShownImage {
    std::int64_t in = 0;
    std::int64_t out = 0;
    std::shared_ptr<const RgbaImage> image;
};

// The smallest part of the image that holds every pixel with alpha above 0; an
// image with none gives an empty image. Blank rows stay blank.
RgbaImage CropToVisible(const RgbaImage& image);
// The same, taking the image over when it is visible to its edges (no copy).
RgbaImage CropToVisible(RgbaImage&& image);

// A rectangle in an image's own pixels, right and bottom exclusive.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Finds the tallest run of fully transparent rows inside the image. When it is at
// least minGap rows tall, the visible boxes of the parts above and below it go to
// top and bottom and the result is true.
bool FindSplit(const RgbaImage& image, int minGap, PixelRect& top, PixelRect& bottom);

// The boxes that hold the image's visible pixels: its visible box, or two boxes above and below
// a band of fully transparent rows when they take at most seven eighths of its area (the band
// that saves the most). Empty when nothing is visible.
std::vector<PixelRect> VisibleParts(const RgbaImage& image);

// Copies a rectangle of the image into rows of its own (row-major, without rowStart); its
// position moves with the rectangle.
RgbaImage CutImage(const RgbaImage& image, const PixelRect& rect);

// The image drawn at its place on a transparent frame of the given size.
RgbaImage PlaceOnFrame(const RgbaImage& image, int frameWidth, int frameHeight);

} // namespace pelldrin::render
