// Turns libass's list of coloured alpha masks into one RGBA picture.
#pragma once

#include "core/RgbaImage.h"

#include <ass/ass.h>

#include <cstddef>
#include <cstdint>

namespace pelldrin::render {

// Blends the masks, back to front, over transparent pixels, but only inside the
// box that they cover on the frame; the result is cropped to its visible pixels, and the rows
// that no mask covers are blank (RgbaImage::RowBlank).
RgbaImage CompositeVisible(const ASS_Image* images, int frameWidth, int frameHeight);

// The same blend over the whole frame, uncropped: the picture of a frame as it is shown
// (the preview's), or as the tests compare pictures with what libass draws.
RgbaImage CompositeFullFrame(const ASS_Image* images, int frameWidth, int frameHeight);

// Premultiplied RGBA to straight alpha, in place, for count pixels: each colour channel c of a
// pixel with alpha a above 0 becomes c * 255 / a rounded to nearest (at most 255); transparent
// pixels stay as they are.
void Unpremultiply(std::uint8_t* pixels, std::size_t count);

} // namespace pelldrin::render
