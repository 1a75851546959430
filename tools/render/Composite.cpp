#include "render/Composite.h"

#include <algorithm>
#include <cstdint>

namespace pelldrin::render {

namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline std::uint32_t Div255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return left >= right || top >= bottom; }
};

// Blends one mask over premultiplied pixels; canvas covers the frame box `box`.
void BlendMask(const ASS_Image& img, std::uint8_t* canvas, const Box& box) {
    const std::uint32_t r = (img.color >> 24) & 0xFF;
    const std::uint32_t g = (img.color >> 16) & 0xFF;
    const std::uint32_t b = (img.color >> 8) & 0xFF;
    const std::uint32_t a = 255 - (img.color & 0xFF);
    if (a == 0) {
        return;
    }
    const int x0 = std::max(img.dst_x, box.left);
    const int y0 = std::max(img.dst_y, box.top);
    const int x1 = std::min(img.dst_x + img.w, box.right);
    const int y1 = std::min(img.dst_y + img.h, box.bottom);
    const int canvasWidth = box.right - box.left;
    for (int y = y0; y < y1; ++y) {
        const unsigned char* src =
            img.bitmap + static_cast<std::ptrdiff_t>(y - img.dst_y) * img.stride;
        std::uint8_t* dst =
            canvas + (static_cast<std::size_t>(y - box.top) * canvasWidth + (x0 - box.left)) * 4;
        for (int x = x0; x < x1; ++x, dst += 4) {
            const std::uint32_t c = src[x - img.dst_x];
            if (c == 0) {
                continue;
            }
            const std::uint32_t k = a == 255 ? c : Div255(c * a);
            if (k == 255) {
                dst[0] = static_cast<std::uint8_t>(r);
                dst[1] = static_cast<std::uint8_t>(g);
                dst[2] = static_cast<std::uint8_t>(b);
                dst[3] = 255;
                continue;
            }
            const std::uint32_t inv = 255 - k;
            dst[0] = static_cast<std::uint8_t>(Div255(r * k + dst[0] * inv));
            dst[1] = static_cast<std::uint8_t>(Div255(g * k + dst[1] * inv));
            dst[2] = static_cast<std::uint8_t>(Div255(b * k + dst[2] * inv));
            dst[3] = static_cast<std::uint8_t>(k + Div255(dst[3] * inv));
        }
    }
}

// Premultiplied to straight alpha, in place.
void Unpremultiply(std::uint8_t* p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, p += 4) {
        const std::uint32_t a = p[3];
        if (a == 255) {
            continue;
        }
        if (a == 0) {
            p[0] = p[1] = p[2] = 0;
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            p[c] =
                static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (p[c] * 255u + a / 2) / a));
        }
    }
}

RgbaImage Composite(const ASS_Image* images, const Box& box) {
    RgbaImage out;
    out.x = box.left;
    out.y = box.top;
    out.width = box.right - box.left;
    out.height = box.bottom - box.top;
    out.pixels.assign(static_cast<std::size_t>(out.width) * out.height * 4, 0);
    for (const ASS_Image* img = images; img != nullptr; img = img->next) {
        BlendMask(*img, out.pixels.data(), box);
    }
    Unpremultiply(out.pixels.data(), static_cast<std::size_t>(out.width) * out.height);
    return out;
}

} // namespace

RgbaImage CompositeVisible(const ASS_Image* images, int frameWidth, int frameHeight) {
    Box box{frameWidth, frameHeight, 0, 0};
    for (const ASS_Image* img = images; img != nullptr; img = img->next) {
        if (img->w <= 0 || img->h <= 0 || (img->color & 0xFF) == 0xFF) {
            continue;
        }
        box.left = std::min(box.left, img->dst_x);
        box.top = std::min(box.top, img->dst_y);
        box.right = std::max(box.right, img->dst_x + img->w);
        box.bottom = std::max(box.bottom, img->dst_y + img->h);
    }
    box.left = std::max(box.left, 0);
    box.top = std::max(box.top, 0);
    box.right = std::min(box.right, frameWidth);
    box.bottom = std::min(box.bottom, frameHeight);
    if (box.Empty()) {
        return RgbaImage{};
    }
    return CropToVisible(Composite(images, box));
}

RgbaImage CompositeFullFrame(const ASS_Image* images, int frameWidth, int frameHeight) {
    return Composite(images, Box{0, 0, frameWidth, frameHeight});
}

} // namespace pelldrin::render
