// Writes a blank event image: one video format's frame size (1920x1080 unless told),
// 8-bit indexed, every pixel a black palette entry with alpha 0, with a transparency chunk
// and a gamma of 1/2.2. Its outputs are committed as resources/0.png (1920x1080) and
// resources/0-WxH.png and embedded in the program at build time; run it again only to
// regenerate those files.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Writes the image to path; false on any libpng or file failure.
bool WriteBlankImage(const char* path, int width, int height) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return false;
    }
    png_init_io(png, out);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // All 256 entries black and fully transparent, so any index reads as "nothing shown".
    std::vector<png_color> palette(256, png_color{0, 0, 0});
    std::vector<png_byte> alpha(256, 0);
    png_set_PLTE(png, info, palette.data(), 256);
    png_set_tRNS(png, info, alpha.data(), 256, nullptr);
    png_set_gAMA_fixed(png, info, 45455); // 1/2.2 in units of 1/100000
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 1920;
    const int height = argc == 4 ? std::atoi(argv[3]) : 1080;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "the size must be positive\n");
        return 2;
    }
    if (!WriteBlankImage(argv[1], width, height)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
