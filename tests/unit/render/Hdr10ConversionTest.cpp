// SDR colours as an HDR10 disc's graphics: the PQ curve, the BT.709 to BT.2020 primaries and
// the 8-bit coded values of whole pictures.
#include "core/Hdr10Conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace pelldrin::render {
namespace {

// Linear BT.2020 RGB to CIE xy, through the BT.2020 primaries' XYZ.
std::array<double, 2> Chromaticity2020(const std::array<double, 3>& rgb) {
    static const double toXyz[3][3] = {{0.636958, 0.144617, 0.168881},
                                       {0.262700, 0.677998, 0.059302},
                                       {0.000000, 0.028073, 1.060985}};
    double xyz[3] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            xyz[i] += toXyz[i][j] * rgb[static_cast<std::size_t>(j)];
        }
    }
    const double sum = xyz[0] + xyz[1] + xyz[2];
    return {xyz[0] / sum, xyz[1] / sum};
}

TEST(Hdr10Conversion, PqCurveGivesTheReferenceLevels) {
    // 100 cd/m² is about 51 % of the PQ range, the 203 cd/m² reference white 58 %, 1000 cd/m²
    // 75 %; the curve ends at 10000.
    const struct {
        double nits, code;
    } levels[] = {{0, 0.0}, {100, 0.50808}, {203, 0.58069}, {1000, 0.75183}, {10000, 1.0}};
    for (const auto& l : levels) {
        EXPECT_NEAR(PqEncode(l.nits), l.code, 5e-5) << l.nits;
        EXPECT_NEAR(PqDecode(l.code), l.nits, l.nits * 2e-4 + 1e-6) << l.nits;
    }
    EXPECT_EQ(PqEncode(20000), 1.0); // beyond the curve: its end
}

TEST(Hdr10Conversion, Bt709PrimariesKeepTheirChromaticityInBt2020) {
    const struct {
        double x, y;
    } bt709[] = {{0.640, 0.330}, {0.300, 0.600}, {0.150, 0.060}, {0.3127, 0.3290}};
    for (int c = 0; c < 4; ++c) {
        const double in[3] = {c == 0 || c == 3 ? 1.0 : 0.0, c == 1 || c == 3 ? 1.0 : 0.0,
                              c == 2 || c == 3 ? 1.0 : 0.0};
        std::array<double, 3> out{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                out[static_cast<std::size_t>(i)] += kBt709ToBt2020[i][j] * in[j];
            }
        }
        const auto xy = Chromaticity2020(out);
        EXPECT_NEAR(xy[0], bt709[c].x, 2e-4) << "primary " << c;
        EXPECT_NEAR(xy[1], bt709[c].y, 2e-4) << "primary " << c;
        if (c == 3) {
            EXPECT_NEAR(out[0], 1.0, 1e-12); // white stays white
            EXPECT_NEAR(out[1], 1.0, 1e-12);
            EXPECT_NEAR(out[2], 1.0, 1e-12);
        }
    }
}

TEST(Hdr10Conversion, CodedValuesRoundTheCurveAtTheChosenWhite) {
    // Full white is PQ 0.5807 at 203 cd/m² (148 of 255) and 0.7518 at 1000 (192); black is 0.
    const Hdr10Conversion at203(203), at1000(1000);
    EXPECT_EQ(at203.Convert(255, 255, 255), (std::array<std::uint8_t, 3>{148, 148, 148}));
    EXPECT_EQ(at1000.Convert(255, 255, 255), (std::array<std::uint8_t, 3>{192, 192, 192}));
    EXPECT_EQ(at203.Convert(0, 0, 0), (std::array<std::uint8_t, 3>{0, 0, 0}));
    // Every grey and every pure red, and colours of all kinds, against the curve rounded
    // directly.
    std::mt19937 rng(3);
    for (int k = 0; k < 3000; ++k) {
        const std::uint8_t in[3] = {static_cast<std::uint8_t>(rng()),
                                    static_cast<std::uint8_t>(rng()),
                                    static_cast<std::uint8_t>(rng())};
        const auto got = at1000.Convert(in[0], in[1], in[2]);
        for (int c = 0; c < 3; ++c) {
            double light = 0;
            for (int from = 0; from < 3; ++from) {
                light += kBt709ToBt2020[c][from] * 1000 * std::pow(in[from] / 255.0, 2.4);
            }
            EXPECT_EQ(got[static_cast<std::size_t>(c)], std::lround(255 * PqEncode(light)))
                << int{in[0]} << ' ' << int{in[1]} << ' ' << int{in[2]} << " channel " << c;
        }
    }
    for (int v = 0; v < 256; ++v) {
        const double light = 203 * std::pow(v / 255.0, 2.4);
        const auto grey = at203.Convert(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v),
                                        static_cast<std::uint8_t>(v));
        EXPECT_EQ(grey[1], std::lround(255 * PqEncode(light))) << v;
        const auto red = at203.Convert(static_cast<std::uint8_t>(v), 0, 0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(red[static_cast<std::size_t>(c)],
                      std::lround(255 * PqEncode(kBt709ToBt2020[c][0] * light)))
                << v << " channel " << c;
        }
    }
}

TEST(Hdr10Conversion, PicturesKeepAlphaPlaceAndTransparentPixels) {
    // More colours than the conversion keeps at hand, in runs and alone, with transparent
    // pixels of any colour and rows that share the blank row.
    RgbaImage image;
    image.x = 30;
    image.y = 700;
    image.width = 300;
    image.height = 40;
    image.pixels.assign(static_cast<std::size_t>(image.width) * 30 * 4 + image.width * 4, 0);
    image.rowStart.resize(static_cast<std::size_t>(image.height));
    for (int row = 0; row < image.height; ++row) {
        image.rowStart[static_cast<std::size_t>(row)] =
            static_cast<std::size_t>(row < 30 ? row : 30) * image.width * 4;
    }
    image.blankFrom = static_cast<std::size_t>(30) * image.width * 4;
    std::mt19937 rng(5);
    for (std::size_t i = 0; i < image.blankFrom; i += 4) {
        if (i == 0 || rng() % 2 == 0) {
            for (int c = 0; c < 4; ++c) {
                image.pixels[i + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(rng());
            }
        } else {
            std::copy_n(image.pixels.data() + i - 4, 4, image.pixels.data() + i);
        }
        if (rng() % 10 == 0) {
            image.pixels[i + 3] = 0;
        }
    }
    const Hdr10Conversion conversion(300);
    const RgbaImage out = conversion.Convert(image);
    EXPECT_EQ(out.x, image.x);
    EXPECT_EQ(out.y, image.y);
    EXPECT_EQ(out.width, image.width);
    EXPECT_EQ(out.height, image.height);
    EXPECT_EQ(out.rowStart, image.rowStart);
    EXPECT_EQ(out.blankFrom, image.blankFrom);
    ASSERT_EQ(out.pixels.size(), image.pixels.size());
    int changed = 0;
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        const std::uint8_t* in = image.pixels.data() + i;
        const std::uint8_t* got = out.pixels.data() + i;
        ASSERT_EQ(got[3], in[3]) << i;
        const auto want = in[3] == 0 ? std::array<std::uint8_t, 3>{in[0], in[1], in[2]}
                                     : conversion.Convert(in[0], in[1], in[2]);
        ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}), want) << i;
        changed += in[3] != 0 && want != std::array<std::uint8_t, 3>{in[0], in[1], in[2]};
    }
    EXPECT_GT(changed, 5000);
}

} // namespace
} // namespace pelldrin::render
