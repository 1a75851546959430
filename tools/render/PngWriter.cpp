#include "render/PngWriter.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace pelldrin::render {

namespace {

struct Sink {
    std::vector<std::uint8_t>* bytes;
    bool failed = false;
};

void WriteToSink(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    try {
        sink->bytes->insert(sink->bytes->end(), data, data + length);
    } catch (...) {
        sink->failed = true;
        png_error(png, "out of memory");
    }
}

void FlushSink(png_structp) {}

// Everything between png_create and png_destroy lives in C; only plain data crosses
// setjmp. Returns false when libpng reported an error.
bool Encode(Sink& sink, int width, int height, bool indexed, const png_color* palette,
            const png_byte* alphas, int paletteSize, int alphaCount, const std::uint8_t* pixels,
            std::size_t rowBytes, const PngSettings& settings) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, WriteToSink, FlushSink);
    png_set_compression_level(png, settings.level);
    if (settings.runLengthOnly) {
        png_set_compression_strategy(png, Z_RLE);
    }
    if (!settings.filters) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (indexed) {
        png_set_PLTE(png, info, palette, paletteSize);
        if (alphaCount > 0) {
            png_set_tRNS(png, info, alphas, alphaCount, nullptr);
        }
    }
    png_write_info(png, info);
    for (int row = 0; row < height; ++row) {
        png_write_row(png, pixels + static_cast<std::size_t>(row) * rowBytes);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void CheckSize(int width, int height) {
    if (width <= 0 || height <= 0) {
        throw PngError("cannot encode an empty picture");
    }
}

} // namespace

PngSettings DefaultPngSettings() {
    return PngSettings{Z_DEFAULT_COMPRESSION, false, true};
}

std::vector<std::uint8_t> EncodePngRgba(const RgbaImage& image, const PngSettings& settings) {
    CheckSize(image.width, image.height);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.pixels.size() / 4 + 1024);
    Sink sink{&bytes};
    if (!Encode(sink, image.width, image.height, false, nullptr, nullptr, 0, 0, image.pixels.data(),
                static_cast<std::size_t>(image.width) * 4, settings)) {
        throw PngError("libpng could not encode a picture");
    }
    return bytes;
}

std::vector<std::uint8_t> EncodePngIndexed(const IndexedImage& image, const PngSettings& settings) {
    CheckSize(image.width, image.height);
    png_color palette[256];
    png_byte alphas[256];
    const int size = static_cast<int>(image.palette.size());
    int alphaCount = 0;
    for (int i = 0; i < size; ++i) {
        palette[i] = {image.palette[i].r, image.palette[i].g, image.palette[i].b};
        alphas[i] = image.palette[i].a;
        if (image.palette[i].a != 255) {
            alphaCount = i + 1;
        }
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.indices.size() / 4 + 2048);
    Sink sink{&bytes};
    if (!Encode(sink, image.width, image.height, true, palette, alphas, size, alphaCount,
                image.indices.data(), static_cast<std::size_t>(image.width), settings)) {
        throw PngError("libpng could not encode a picture");
    }
    return bytes;
}

RgbaImage DecodePng(const std::vector<std::uint8_t>& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        throw PngError(std::string("not a PNG: ") + image.message);
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaImage out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        throw PngError(std::string("cannot decode the PNG: ") + image.message);
    }
    return out;
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
