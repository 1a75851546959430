#include "bdn/BlackEvents.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

namespace pelldrin {
namespace {

// The big-endian value in the first 4 bytes of a chunk's data; -1 when the chunk is absent.
long ChunkValue(std::string_view png, std::string_view type) {
    const auto at = png.find(type);
    if (at == std::string_view::npos || at + 8 > png.size()) {
        return -1;
    }
    long value = 0;
    for (std::size_t i = at + 4; i < at + 8; ++i) {
        value = value * 256 + static_cast<unsigned char>(png[i]);
    }
    return value;
}

TEST(BlankEventImage, DecodesAsAFullyTransparentIndexedFrameOfEachFormatsSize) {
    struct Case {
        const char* format;
        unsigned width, height;
    };
    for (const Case c : {Case{"1080p", 1920, 1080}, Case{"1080i", 1920, 1080},
                         Case{"720p", 1280, 720}, Case{"480p", 720, 480}, Case{"480i", 720, 480},
                         Case{"576i", 720, 576}, Case{"unknown", 1920, 1080}}) {
        SCOPED_TRACE(c.format);
        const std::string_view bytes = BlankEventImage(c.format);
        EXPECT_EQ(static_cast<unsigned char>(bytes[25]), 3u) << "colour type: indexed";
        EXPECT_EQ(static_cast<unsigned char>(bytes[24]), 8u) << "bit depth";
        EXPECT_EQ(ChunkValue(bytes, "gAMA"), 45455); // 1/2.2
        EXPECT_NE(ChunkValue(bytes, "tRNS"), -1);

        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_TRUE(image.format & PNG_FORMAT_FLAG_COLORMAP);
        image.format = PNG_FORMAT_RGBA;
        std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image), 0xFF);
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
            << image.message;
        std::size_t opaque = 0;
        for (std::size_t i = 3; i < pixels.size(); i += 4) {
            opaque += pixels[i] != 0;
        }
        EXPECT_EQ(opaque, 0u);
    }
}

TEST(SaveResourceToFile, WritesTheImageBytesAndKnowsNoOtherResource) {
    test::TempDir dir;
    const std::string target = dir.File("0.png");
    test::WriteFile(target, "old content that is longer than nothing");
    SaveResourceToFile("PNG", "PNGFILE", target);
    EXPECT_EQ(test::ReadFile(target), std::string(BlankEventImage()));
    SaveResourceToFile("PNG", "PNGFILE", target, "576i");
    EXPECT_EQ(test::ReadFile(target), std::string(BlankEventImage("576i")));
    EXPECT_THROW(SaveResourceToFile("ICON", "PNGFILE", target), BdnError);
    EXPECT_THROW(SaveResourceToFile("PNG", "RCDATA", target), BdnError);
    EXPECT_THROW(SaveResourceToFile("PNG", "PNGFILE", dir.File("no/such/folder/0.png")), BdnError);
}

} // namespace
} // namespace pelldrin
