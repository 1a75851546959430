#include "bdn/BlackEvents.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <vector>

namespace pelldrin {
namespace {

struct MemoryReader {
    std::string_view bytes;
    std::size_t offset = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->offset + length > reader->bytes.size()) {
        png_error(png, "read past the end");
    }
    std::memcpy(out, reader->bytes.data() + reader->offset, length);
    reader->offset += length;
}

struct Decoded {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int paletteSize = 0;
    bool hasTrns = false;
    png_fixed_point gamma = 0;
    bool everyPixelTransparent = false;
};

// Decodes PNG bytes with libpng, expanding the palette and its transparency to RGBA.
Decoded Decode(std::string_view bytes) {
    Decoded d;
    MemoryReader reader{bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        ADD_FAILURE() << "libpng could not decode the image";
        return {};
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    png_get_IHDR(png, info, &d.width, &d.height, &d.bitDepth, &d.colorType, nullptr, nullptr,
                 nullptr);
    png_colorp palette = nullptr;
    png_get_PLTE(png, info, &palette, &d.paletteSize);
    d.hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_get_gAMA_fixed(png, info, &d.gamma);
    png_set_palette_to_rgb(png);
    png_set_tRNS_to_alpha(png);
    png_read_update_info(png, info);
    EXPECT_EQ(png_get_rowbytes(png, info), static_cast<png_size_t>(d.width) * 4);
    row.resize(png_get_rowbytes(png, info));
    d.everyPixelTransparent = true;
    for (png_uint_32 y = 0; y < d.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (std::size_t x = 3; x < row.size(); x += 4) {
            d.everyPixelTransparent = d.everyPixelTransparent && row[x] == 0;
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return d;
}

TEST(BlankEventImage, DecodesAsAFullyTransparentIndexedFullHdFrame) {
    const Decoded d = Decode(BlankEventImage());
    EXPECT_EQ(d.width, 1920u);
    EXPECT_EQ(d.height, 1080u);
    EXPECT_EQ(d.bitDepth, 8);
    EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(d.paletteSize, 256);
    EXPECT_TRUE(d.hasTrns);
    EXPECT_EQ(d.gamma, 45455); // 1/2.2
    EXPECT_TRUE(d.everyPixelTransparent);
}

TEST(SaveResourceToFile, WritesTheImageBytesAndKnowsNoOtherResource) {
    test::TempDir dir;
    const std::string target = dir.File("0.png");
    test::WriteFile(target, "old content that is longer than nothing");
    SaveResourceToFile("PNG", "PNGFILE", target);
    EXPECT_EQ(test::ReadFile(target), std::string(BlankEventImage()));
    EXPECT_THROW(SaveResourceToFile("ICON", "PNGFILE", target), BdnError);
    EXPECT_THROW(SaveResourceToFile("PNG", "RCDATA", target), BdnError);
    EXPECT_THROW(SaveResourceToFile("PNG", "PNGFILE", dir.File("no/such/folder/0.png")), BdnError);
}

} // namespace
} // namespace pelldrin
