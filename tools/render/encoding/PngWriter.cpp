#include "encoding/PngWriter.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "encoding/RunLengthDeflate.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
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

void StoreBigEndian(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    StoreBigEndian(out.data() + out.size() - 4, value);
}

// Appends a chunk whose data fill(out) appends.
template <class Fill>
void AppendChunk(std::vector<std::uint8_t>& out, const char* type, Fill fill) {
    const std::size_t start = out.size();
    AppendBigEndian(out, 0);
    out.insert(out.end(), type, type + 4);
    fill(out);
    const std::size_t length = out.size() - start - 8;
    StoreBigEndian(out.data() + start, static_cast<std::uint32_t>(length));
    const uLong crc = crc32_z(crc32_z(0, nullptr, 0), out.data() + start + 4, length + 4);
    AppendBigEndian(out, static_cast<std::uint32_t>(crc));
}

// The run-length settings, written without libpng: the rows, each after a filter byte of
// 0 (none), in one IDAT chunk coded by the run-length deflater.
std::vector<std::uint8_t> EncodeRunLength(int width, int height, bool indexed,
                                          const std::vector<PaletteColor>* palette,
                                          const std::uint8_t* pixels, std::size_t rowBytes) {
    constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::size_t rowsSize = static_cast<std::size_t>(height) * (rowBytes + 1);
    const std::unique_ptr<std::uint8_t[]> rows(new std::uint8_t[rowsSize]);
    for (int row = 0; row < height; ++row) {
        std::uint8_t* line = rows.get() + static_cast<std::size_t>(row) * (rowBytes + 1);
        line[0] = 0;
        std::memcpy(line + 1, pixels + static_cast<std::size_t>(row) * rowBytes, rowBytes);
    }
    std::vector<std::uint8_t> out(kSignature, kSignature + 8);
    out.reserve(rowsSize / 2 + 2048);
    AppendChunk(out, "IHDR", [&](std::vector<std::uint8_t>& o) {
        AppendBigEndian(o, static_cast<std::uint32_t>(width));
        AppendBigEndian(o, static_cast<std::uint32_t>(height));
        // 8 bits, palette or RGBA, deflate, adaptive filtering, no interlace.
        const std::uint8_t rest[5] = {8, static_cast<std::uint8_t>(indexed ? 3 : 6), 0, 0, 0};
        o.insert(o.end(), rest, rest + 5);
    });
    if (indexed) {
        AppendChunk(out, "PLTE", [&](std::vector<std::uint8_t>& o) {
            for (const PaletteColor& c : *palette) {
                o.push_back(c.r);
                o.push_back(c.g);
                o.push_back(c.b);
            }
        });
        // Alphas up to the last entry that is not opaque.
        std::size_t alphas = palette->size();
        while (alphas > 0 && (*palette)[alphas - 1].a == 255) {
            --alphas;
        }
        if (alphas > 0) {
            AppendChunk(out, "tRNS", [&](std::vector<std::uint8_t>& o) {
                for (std::size_t i = 0; i < alphas; ++i) {
                    o.push_back((*palette)[i].a);
                }
            });
        }
    }
    AppendChunk(out, "IDAT", [&](std::vector<std::uint8_t>& o) {
        AppendRunLengthZlib(rows.get(), rowsSize, o);
    });
    AppendChunk(out, "IEND", [](std::vector<std::uint8_t>&) {});
    return out;
}

// Whether the settings are zlib's run-length matching without filters, which the
// run-length deflater gives faster.
bool RunLengthOnly(const PngSettings& settings) {
    return settings.runLengthOnly && !settings.filters && settings.level != 0;
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
    if (RunLengthOnly(settings)) {
        return EncodeRunLength(image.width, image.height, false, nullptr, image.pixels.data(),
                               static_cast<std::size_t>(image.width) * 4);
    }
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
    if (RunLengthOnly(settings)) {
        return EncodeRunLength(image.width, image.height, true, &image.palette,
                               image.indices.data(), static_cast<std::size_t>(image.width));
    }
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
