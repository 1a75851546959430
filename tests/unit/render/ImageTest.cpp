// Blending, cropping, splitting, palettes, the run-length deflater and PNG round trips on
// made-up pictures.
#include "RenderTestSupport.h"

#include "core/RgbaImage.h"
#include "drawing/Composite.h"
#include "encoding/Palette.h"
#include "encoding/PngWriter.h"
#include "encoding/RunLengthDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <random>

namespace pelldrin::render {
namespace {

// A mask of one coverage value over a w x h rectangle.
struct Mask {
    std::vector<unsigned char> bits;
    ASS_Image image{};
    Mask(int x, int y, int w, int h, unsigned char coverage, std::uint32_t color) {
        bits.assign(static_cast<std::size_t>(w) * h, coverage);
        image.w = w;
        image.h = h;
        image.stride = w;
        image.bitmap = bits.data();
        image.color = color;
        image.dst_x = x;
        image.dst_y = y;
        image.next = nullptr;
    }
};

const std::uint8_t* PixelAt(const RgbaImage& image, int frameX, int frameY) {
    return image.Row(frameY - image.y) + (frameX - image.x) * 4;
}

TEST(Composite, BlendsMasksBackToFrontInStraightAlpha) {
    Mask outline(10, 20, 6, 4, 255, 0x00000000); // opaque black
    Mask fill(12, 21, 6, 2, 128, 0xFFFFFF00);    // half-covered white, over and past it
    Mask faint(30, 30, 2, 2, 255, 0xFF000080);   // red at alpha 127, far away
    outline.image.next = &fill.image;
    fill.image.next = &faint.image;

    const RgbaImage full = CompositeFullFrame(&outline.image, 64, 48);
    const RgbaImage visible = CompositeVisible(&outline.image, 64, 48);
    ASSERT_EQ(full.width, 64);
    EXPECT_EQ(visible.x, 10);
    EXPECT_EQ(visible.y, 20);
    EXPECT_EQ(visible.width, 22);
    EXPECT_EQ(visible.height, 12);

    const auto expectPixel = [&](int x, int y, std::array<int, 4> want) {
        for (const RgbaImage* img : {&full, &visible}) {
            const std::uint8_t* p = PixelAt(*img, x, y);
            EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), want) << x << "," << y;
        }
    };
    expectPixel(10, 20, {0, 0, 0, 255});       // outline alone
    expectPixel(13, 21, {128, 128, 128, 255}); // half white over black
    expectPixel(17, 22, {255, 255, 255, 128}); // half white over nothing
    expectPixel(30, 30, {255, 0, 0, 127});
    expectPixel(20, 25, {0, 0, 0, 0});
    // Outside the visible box the full frame is transparent.
    EXPECT_EQ(full.Row(5)[5 * 4 + 3], 0);
}

TEST(Composite, WideMasksMatchFloatingPointOver) {
    // Wide enough for the eight-pixel path, with zero, partial and full coverage mixed.
    const int w = 45;
    Mask under(3, 2, w, 3, 0, 0x2040A000); // opaque colour
    Mask over(7, 3, w, 3, 0, 0xF0E01070);  // alpha 143
    Mask top(0, 4, w, 1, 0, 0x10FF8020);   // alpha 223
    std::uint32_t seed = 12345;
    for (Mask* m : {&under, &over, &top}) {
        for (auto& c : m->bits) {
            seed = seed * 1103515245u + 12345u;
            const unsigned v = (seed >> 16) % 5;
            c = static_cast<unsigned char>(v == 0 ? 0 : v == 1 ? 255 : (seed >> 8) & 0xFF);
        }
    }
    under.image.next = &over.image;
    over.image.next = &top.image;
    const RgbaImage full = CompositeFullFrame(&under.image, 64, 8);

    // The same blend in floating point, premultiplied.
    std::vector<double> ref(64 * 8 * 4, 0.0);
    for (const Mask* m : {&under, &over, &top}) {
        const ASS_Image& img = m->image;
        const double rgb[3] = {double(img.color >> 24), double((img.color >> 16) & 0xFF),
                               double((img.color >> 8) & 0xFF)};
        const double alpha = (255 - (img.color & 0xFF)) / 255.0;
        for (int y = 0; y < img.h; ++y) {
            for (int x = 0; x < img.w; ++x) {
                const int fx = img.dst_x + x;
                const int fy = img.dst_y + y;
                if (fx >= 64 || fy >= 8) {
                    continue;
                }
                const double k = img.bitmap[y * img.stride + x] / 255.0 * alpha;
                double* d = &ref[(fy * 64 + fx) * 4];
                for (int c = 0; c < 3; ++c) {
                    d[c] = rgb[c] * k + d[c] * (1 - k);
                }
                d[3] = 255 * k + d[3] * (1 - k);
            }
        }
    }
    for (int i = 0; i < 64 * 8; ++i) {
        const std::uint8_t* p = &full.pixels[i * 4];
        EXPECT_NEAR(p[3], ref[i * 4 + 3], 1.5) << i;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(p[c] * p[3] / 255.0, ref[i * 4 + c], 2.5) << i << " " << c;
        }
    }
}

TEST(Composite, StraightAlphaIsTheRoundedQuotientForEveryValue) {
    // Every colour value against every alpha, colours above their alpha included, in a row
    // whose length leaves a few pixels past the last group of four.
    std::vector<std::uint8_t> row;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            row.insert(row.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(255 - c),
                                   static_cast<std::uint8_t>(c * 7), static_cast<std::uint8_t>(a)});
        }
    }
    row.insert(row.end(), {9, 200, 3, 17, 9, 200, 3, 17, 40, 0, 0, 90});
    const std::vector<std::uint8_t> before = row;
    Unpremultiply(row.data(), row.size() / 4);
    for (std::size_t i = 0; i < row.size(); i += 4) {
        const int a = before[i + 3];
        ASSERT_EQ(row[i + 3], a);
        for (int c = 0; c < 3; ++c) {
            const int want =
                a == 0 ? before[i + c] : std::min(255, (before[i + c] * 255 + a / 2) / a);
            ASSERT_EQ(row[i + c], want) << "pixel " << i / 4 << " channel " << c;
        }
    }
}

TEST(Composite, NothingVisibleGivesAnEmptyPicture) {
    Mask clear(0, 0, 4, 4, 0, 0xFFFFFF00);
    Mask hidden(4, 4, 4, 4, 255, 0xFFFFFFFF); // fully transparent colour
    clear.image.next = &hidden.image;
    EXPECT_TRUE(CompositeVisible(&clear.image, 16, 16).Empty());
    EXPECT_TRUE(CompositeVisible(nullptr, 16, 16).Empty());
}

TEST(Composite, RowsNoMaskCoversAreBlankYetReadLikeTheWholeFrame) {
    // A line at the top and one at the bottom, with a padded mask (zero coverage at its
    // edges) and a mask clipped off the frame's side.
    Mask top(4, 2, 30, 6, 200, 0xFFFFFF00);
    Mask padded(8, 40, 20, 5, 0, 0x00FF0000);
    Mask bottom(2, 50, 40, 4, 255, 0x2040A080);
    Mask beside(70, 20, 10, 10, 255, 0xFFFFFF00); // wholly right of a 64-wide frame
    std::fill_n(padded.bits.begin() + 20, 60, static_cast<unsigned char>(255));
    top.image.next = &padded.image;
    padded.image.next = &bottom.image;
    bottom.image.next = &beside.image;

    const RgbaImage visible = CompositeVisible(&top.image, 64, 60);
    const RgbaImage dense = CropToVisible(CompositeFullFrame(&top.image, 64, 60));
    ASSERT_TRUE(dense.rowStart.empty());
    EXPECT_EQ(visible, dense);
    EXPECT_EQ((std::array{visible.x, visible.y, visible.width, visible.height}),
              (std::array{2, 2, 40, 52}));
    EXPECT_FALSE(visible.RowBlank(0));
    EXPECT_TRUE(visible.RowBlank(10));
    EXPECT_LT(visible.pixels.size(), dense.pixels.size() / 2); // nothing kept between the lines

    // Scans, cuts and pictures read it as they read the same pixels stored row after row.
    PixelRect a, b, c, d;
    ASSERT_TRUE(FindSplit(visible, 3, a, b));
    ASSERT_TRUE(FindSplit(dense, 3, c, d));
    EXPECT_EQ((std::array{a, b}), (std::array{c, d}));
    EXPECT_EQ(VisibleParts(visible), VisibleParts(dense));
    EXPECT_EQ(CutImage(visible, b).pixels, CutImage(dense, d).pixels);
    EXPECT_EQ(test::DecodePng(EncodePngRgba(visible, PngSettings{})).pixels, dense.pixels);

    // Without the top line, the crop starts lower and keeps the blank rows blank.
    RgbaImage lower = visible;
    RgbaImage denseLower = dense;
    for (int row = 0; row < 6; ++row) {
        std::fill_n(lower.Row(row), lower.width * 4, 0);
        std::fill_n(denseLower.Row(row), denseLower.width * 4, 0);
    }
    lower = CropToVisible(std::move(lower));
    EXPECT_EQ(lower.y, 41);
    EXPECT_TRUE(lower.RowBlank(47 - 41));
    EXPECT_EQ(lower, CropToVisible(denseLower));
    lower.Row(50 - 41)[3] ^= 1;
    EXPECT_NE(lower, CropToVisible(denseLower));
}

RgbaImage Blank(int x, int y, int w, int h) {
    RgbaImage img;
    img.x = x;
    img.y = y;
    img.width = w;
    img.height = h;
    img.pixels.assign(static_cast<std::size_t>(w) * h * 4, 0);
    return img;
}

void Paint(RgbaImage& img, int left, int top, int right, int bottom, std::uint8_t alpha) {
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            std::uint8_t* p = img.Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = 200;
            p[3] = alpha;
        }
    }
}

TEST(RgbaImage, CropAndSplitAtTheWidestGap) {
    RgbaImage img = Blank(100, 200, 40, 30);
    Paint(img, 5, 2, 30, 6, 255);   // top line
    Paint(img, 10, 8, 12, 9, 40);   // a speck: gap of 2 rows above it
    Paint(img, 2, 14, 38, 20, 255); // bottom line: gap of 5 rows above it

    const RgbaImage cropped = CropToVisible(img);
    EXPECT_EQ(cropped.x, 102);
    EXPECT_EQ(cropped.y, 202);
    EXPECT_EQ(cropped.width, 36);
    EXPECT_EQ(cropped.height, 18);

    PixelRect top;
    PixelRect bottom;
    ASSERT_TRUE(FindSplit(cropped, 5, top, bottom));
    EXPECT_EQ(top, (PixelRect{3, 0, 28, 7}));
    EXPECT_EQ(bottom, (PixelRect{0, 12, 36, 18}));
    const RgbaImage lower = CutImage(cropped, bottom);
    EXPECT_EQ(lower.x, 102);
    EXPECT_EQ(lower.y, 214);
    EXPECT_EQ(lower.Row(0)[3], 255);
    EXPECT_FALSE(FindSplit(cropped, 6, top, bottom));
    EXPECT_TRUE(CropToVisible(Blank(0, 0, 5, 5)).Empty());

    // The stream's parts: the band that saves the most area (below the speck), whatever the
    // gap asked of the graphics; a band that saves less than an eighth keeps one box.
    EXPECT_EQ(VisibleParts(img), (std::vector<PixelRect>{{5, 2, 30, 9}, {2, 14, 38, 20}}));
    RgbaImage close = Blank(0, 0, 40, 30);
    Paint(close, 0, 0, 40, 14, 255);
    Paint(close, 1, 15, 40, 30, 255);
    EXPECT_EQ(VisibleParts(close), (std::vector<PixelRect>{{0, 0, 40, 30}}));
    EXPECT_TRUE(VisibleParts(Blank(0, 0, 5, 5)).empty());
}

TEST(Palette, FewColoursStayExactAndTransparentOnlyUsesEntryZero) {
    RgbaImage img = Blank(3, 4, 16, 8);
    Paint(img, 0, 0, 16, 4, 255);
    Paint(img, 0, 4, 8, 8, 90);
    img.Row(7)[15 * 4 + 0] = 77; // invisible pixel with colour: still transparent
    const IndexedImage q = QuantizeImage(img);
    EXPECT_EQ(q.palette[0], (PaletteColor{0, 0, 0, 0}));
    ASSERT_LE(q.palette.size(), 256u);
    bool opaqueSeen = false;
    for (std::size_t i = 1; i < q.palette.size(); ++i) {
        EXPECT_NE(q.palette[i].a, 0);
        if (q.palette[i].a == 255) {
            opaqueSeen = true;
        } else {
            EXPECT_FALSE(opaqueSeen) << "translucent entries come first";
        }
    }
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const std::uint8_t* p = img.Row(y) + x * 4;
            const std::uint8_t index = q.indices[static_cast<std::size_t>(y) * img.width + x];
            if (p[3] == 0) {
                EXPECT_EQ(index, 0);
            } else {
                const PaletteColor& c = q.palette[index];
                EXPECT_EQ((PaletteColor{p[0], p[1], p[2], p[3]}), c);
            }
        }
    }
}

TEST(Palette, ManyColoursStayClose) {
    // 64 x 64 distinct colours and alphas, like anti-aliased edges between two strokes.
    RgbaImage img = Blank(0, 0, 64, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = img.Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>(255 - y * 4);
            p[2] = static_cast<std::uint8_t>((x + y) * 2);
            p[3] = static_cast<std::uint8_t>(y < 4 ? 0 : 64 + y * 3);
        }
    }
    const IndexedImage q = QuantizeImage(img);
    EXPECT_EQ(q.palette.size(), 256u);
    double total = 0;
    int worst = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const std::uint8_t* p = img.Row(y) + x * 4;
            const PaletteColor& c = q.palette[q.indices[static_cast<std::size_t>(y) * 64 + x]];
            if (p[3] == 0) {
                EXPECT_EQ(c.a, 0);
                continue;
            }
            // Error as it shows: colour weighted by alpha, and alpha itself.
            const int errors[4] = {std::abs(p[0] * p[3] - c.r * c.a) / 255,
                                   std::abs(p[1] * p[3] - c.g * c.a) / 255,
                                   std::abs(p[2] * p[3] - c.b * c.a) / 255, std::abs(p[3] - c.a)};
            for (int e : errors) {
                worst = std::max(worst, e);
                total += e;
            }
        }
    }
    EXPECT_LT(total / (64 * 60 * 4), 3.5);
    EXPECT_LT(worst, 20);

    // A glowing bar: an opaque core whose colour runs from orange to blue, in a glow of its
    // own colour whose alpha falls off with the distance (16,007 visible pixels of several
    // thousand colours). A median cut that maps each colour to its box's mean strays 1.4
    // levels on average here.
    RgbaImage glow = Blank(0, 0, 240, 80);
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 240; ++x) {
            const double d = std::max(
                0.0, std::hypot(std::max(0, std::abs(x - 120) - 90), std::abs(y - 40) - 8.0));
            const double t = x / 239.0;
            std::uint8_t* p = glow.Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(std::lround(255 * (1 - t) + 40 * t));
            p[1] =
                static_cast<std::uint8_t>(std::lround(160 * (1 - t) + 90 * t + (d <= 0 ? 40 : 0)));
            p[2] = static_cast<std::uint8_t>(std::lround(30 * (1 - t) + 250 * t));
            p[3] = static_cast<std::uint8_t>(
                std::lround(255 * (d <= 0 ? 1.0 : std::exp(-d * d / 120))));
        }
    }
    QuantizeStray stray;
    QuantizeParts(glow, {PixelRect{0, 0, 240, 80}}, &stray);
    EXPECT_LT(stray.mean, 1.1);
    // For the stream: no more colours than a stream picture may show, none of them wasted.
    QuantizeStray streamStray;
    const std::vector<IndexedImage> stream =
        QuantizeParts(glow, {PixelRect{0, 0, 240, 80}}, &streamStray, kStreamVisibleColors);
    EXPECT_EQ(stream.front().palette.size(), static_cast<std::size_t>(kStreamVisibleColors) + 1);
    EXPECT_LT(streamStray.mean, 1.1);
}

TEST(Palette, PartsQuantizeLikeTheWholePicture) {
    // Two lines with many colours and an empty band between them.
    RgbaImage img = Blank(10, 20, 48, 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 48; ++x) {
            if ((y >= 2 && y < 14) || (y >= 30 && y < 38 && x >= 5)) {
                std::uint8_t* p = img.Row(y) + x * 4;
                p[0] = static_cast<std::uint8_t>(x * 5);
                p[1] = static_cast<std::uint8_t>(y * 6);
                p[2] = 40;
                p[3] = static_cast<std::uint8_t>(100 + (x * y) % 150);
            }
        }
    }
    PixelRect top;
    PixelRect bottom;
    ASSERT_TRUE(FindSplit(img, 10, top, bottom));
    const IndexedImage whole = QuantizeImage(img);
    QuantizeStray stray;
    const std::vector<IndexedImage> parts = QuantizeParts(img, {top, bottom}, &stray);
    ASSERT_EQ(parts.size(), 2u);
    int alphaStray = 0;
    int colorStray = 0;
    double errors = 0;
    int visible = 0;
    for (std::size_t k = 0; k < 2; ++k) {
        const PixelRect& r = k == 0 ? top : bottom;
        EXPECT_EQ(parts[k].palette, whole.palette);
        EXPECT_EQ(parts[k].x, img.x + r.left);
        EXPECT_EQ(parts[k].y, img.y + r.top);
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = r.left; x < r.right; ++x) {
                const std::uint8_t index =
                    parts[k].indices[static_cast<std::size_t>(y - r.top) * parts[k].width +
                                     (x - r.left)];
                ASSERT_EQ(index, whole.indices[static_cast<std::size_t>(y) * img.width + x]);
                const ColorStray s = StrayOf(img.Row(y) + x * 4, whole.palette[index]);
                alphaStray = std::max(alphaStray, s.alpha);
                colorStray = std::max(colorStray, s.color);
                if (img.Row(y)[x * 4 + 3] != 0) {
                    errors += PixelError(img.Row(y) + x * 4, whole.palette[index]);
                    ++visible;
                }
            }
        }
    }
    EXPECT_GT(stray.worst.alpha + stray.worst.color, 0); // over 255 colours: not exact
    EXPECT_EQ(stray.worst.alpha, alphaStray);
    EXPECT_EQ(stray.worst.color, colorStray);
    EXPECT_NEAR(stray.mean, errors / visible, 1e-9);
}

std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& stream, std::size_t size) {
    std::vector<std::uint8_t> out(size + 1);
    uLongf length = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())),
              Z_OK);
    out.resize(length);
    return out;
}

TEST(RunLengthDeflate, ZlibReadsBackEveryKindOfData) {
    std::mt19937 rng(5);
    std::vector<std::vector<std::uint8_t>> inputs = {{}, {7}, {0, 0}, {1, 1, 1}};
    for (const std::size_t run : {3u, 257u, 258u, 259u, 1000u, 70000u}) {
        inputs.push_back(std::vector<std::uint8_t>(run, 9)); // runs at the length codes' edges
    }
    std::vector<std::uint8_t> noise(50000);
    for (std::uint8_t& b : noise) {
        b = static_cast<std::uint8_t>(rng());
    }
    inputs.push_back(noise);
    // Byte counts doubling from symbol to symbol: a plain Huffman tree would be too deep.
    std::vector<std::uint8_t> skewed;
    for (int symbol = 0; symbol < 20; ++symbol) {
        for (int i = 0; i < (1 << symbol); ++i) {
            skewed.push_back(static_cast<std::uint8_t>(symbol * 2));
            skewed.push_back(static_cast<std::uint8_t>(symbol * 2 + 1)); // no runs
        }
    }
    inputs.push_back(skewed);
    for (const auto& input : inputs) {
        std::vector<std::uint8_t> stream{0xAB}; // appended after what is there
        AppendRunLengthZlib(input.data(), input.size(), stream);
        ASSERT_EQ(stream[0], 0xAB);
        stream.erase(stream.begin());
        EXPECT_EQ(Inflate(stream, input.size()), input) << input.size() << " bytes";
    }
}

TEST(RunLengthDeflate, CompressesPicturesAsWellAsZlibRunLength) {
    // Rows of an anti-aliased picture: runs of transparency and of a few colours between
    // edges of varied indices.
    std::mt19937 rng(11);
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < 120; ++y) {
        rows.push_back(0);
        for (int x = 0; x < 900;) {
            const int run = 1 + static_cast<int>(rng() % 40);
            const auto index = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() % 200 : 0);
            for (int i = 0; i < run && x < 900; ++i, ++x) {
                rows.push_back(rng() % 4 == 0 ? static_cast<std::uint8_t>(rng() % 60) : index);
            }
        }
    }
    std::vector<std::uint8_t> ours;
    AppendRunLengthZlib(rows.data(), rows.size(), ours);
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE), Z_OK);
    std::vector<std::uint8_t> theirs(deflateBound(&z, static_cast<uLong>(rows.size())));
    z.next_in = rows.data();
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = theirs.data();
    z.avail_out = static_cast<uInt>(theirs.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    theirs.resize(z.total_out);
    deflateEnd(&z);
    EXPECT_EQ(Inflate(ours, rows.size()), rows);
    EXPECT_LE(ours.size(), theirs.size() * 105 / 100);
}

TEST(PngWriter, RoundTripsBothKindsWithEitherDeflater) {
    using test::DecodePng;
    RgbaImage img = Blank(0, 0, 33, 17);
    Paint(img, 1, 1, 12, 9, 255);
    Paint(img, 4, 10, 20, 16, 99);
    for (const PngSettings& settings :
         {PngSettings{}, DefaultPngSettings(), PngSettings{12}, PngSettings{1, true}}) {
        const auto rgba = DecodePng(EncodePngRgba(img, settings));
        EXPECT_EQ(rgba.width, 33);
        EXPECT_EQ(rgba.height, 17);
        EXPECT_EQ(rgba.pixels, img.pixels);

        const IndexedImage q = QuantizeImage(img);
        const auto indexed = DecodePng(EncodePngIndexed(q, settings));
        EXPECT_EQ(indexed.pixels, img.pixels); // 184 colours: exact
    }
    EXPECT_THROW(EncodePngRgba(RgbaImage{}, PngSettings{}), PngError);
    EXPECT_THROW(DecodePng({1, 2, 3}), PngError);
}

} // namespace
} // namespace pelldrin::render
