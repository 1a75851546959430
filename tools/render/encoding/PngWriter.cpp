#include "encoding/PngWriter.h"

#include "base/ThreadCache.h"
#include "encoding/RunLengthDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace pelldrin::render {

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

// What an encoding thread keeps from one picture to the next.
struct CompressorCache {
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    int level = -1;
};
struct DeflateCache {
    std::vector<std::uint8_t> out;
};
struct RowCache {
    std::vector<std::uint8_t> rows;
};

// This thread's compressor for the level: setting one up costs more than a small picture.
libdeflate_compressor* Compressor(int level) {
    CompressorCache& cache = ThreadCache<CompressorCache>();
    if (cache.compressor == nullptr || cache.level != level) {
        cache.compressor.reset(libdeflate_alloc_compressor(level));
        if (cache.compressor == nullptr) {
            throw PngError("cannot set up the PNG compressor at level " + std::to_string(level));
        }
        cache.level = level;
    }
    return cache.compressor.get();
}

// A buffer of this thread's of at least size bytes, kept for the next picture: a fresh one
// the size of a picture would cost page faults every time.
std::uint8_t* Scratch(std::vector<std::uint8_t>& buffer, std::size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    return buffer.data();
}

// The zlib stream of data, in a buffer of this thread's that the next call reuses.
std::span<const std::uint8_t> Deflate(const std::uint8_t* data, std::size_t size,
                                      const PngSettings& settings) {
    std::vector<std::uint8_t>& out = ThreadCache<DeflateCache>().out;
    if (settings.runLength) {
        out.clear();
        AppendRunLengthZlib(data, size, out);
        return out;
    }
    libdeflate_compressor* compressor = Compressor(settings.level);
    // Room for the most it can take, so that every picture is compressed once: a smaller
    // first try would compress again the pictures that outgrow it. The buffer is this
    // thread's and kept.
    Scratch(out, libdeflate_zlib_compress_bound(compressor, size));
    const std::size_t written =
        libdeflate_zlib_compress(compressor, data, size, out.data(), out.size());
    if (written == 0) {
        throw PngError("libdeflate could not compress a picture");
    }
    return {out.data(), written};
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
    AppendBigEndian(out, libdeflate_crc32(0, out.data() + start + 4, length + 4));
}

// The rows (rowBytes each, from rowStarts), each after a filter byte of 0 (none), deflated into
// one IDAT chunk.
std::vector<std::uint8_t> EncodePng(int width, int height, bool indexed,
                                    const std::vector<PaletteColor>* palette,
                                    const std::vector<const std::uint8_t*>& rowStarts,
                                    std::size_t rowBytes, const PngSettings& settings) {
    if (width <= 0 || height <= 0) {
        throw PngError("cannot encode an empty picture");
    }
    constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::size_t rowsSize = static_cast<std::size_t>(height) * (rowBytes + 1);
    std::uint8_t* rows = Scratch(ThreadCache<RowCache>().rows, rowsSize);
    for (int n = 0; n < height; ++n) {
        std::uint8_t* line = rows + static_cast<std::size_t>(n) * (rowBytes + 1);
        line[0] = 0;
        std::memcpy(line + 1, rowStarts[static_cast<std::size_t>(n)], rowBytes);
    }
    const std::span<const std::uint8_t> packed = Deflate(rows, rowsSize, settings);
    std::vector<std::uint8_t> out;
    out.reserve(packed.size() + 128 + (palette != nullptr ? palette->size() * 4 : 0));
    out.insert(out.end(), kSignature, kSignature + 8);
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
        o.insert(o.end(), packed.begin(), packed.end());
    });
    AppendChunk(out, "IEND", [](std::vector<std::uint8_t>&) {});
    return out;
}

} // namespace

PngSettings DefaultPngSettings() {
    return PngSettings{6};
}

std::vector<std::uint8_t> EncodePngRgba(const RgbaImage& image, const PngSettings& settings) {
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(std::max(image.height, 0)));
    for (int row = 0; row < image.height; ++row) {
        rows[static_cast<std::size_t>(row)] = image.Row(row);
    }
    return EncodePng(image.width, image.height, false, nullptr, rows,
                     static_cast<std::size_t>(image.width) * 4, settings);
}

std::vector<std::uint8_t> EncodePngIndexed(const IndexedImage& image, const PngSettings& settings) {
    const std::size_t rowBytes = static_cast<std::size_t>(std::max(image.width, 0));
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(std::max(image.height, 0)));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        rows[row] = image.indices.data() + row * rowBytes;
    }
    return EncodePng(image.width, image.height, true, &image.palette, rows, rowBytes, settings);
}

} // namespace pelldrin::render
