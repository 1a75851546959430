// How far a conversion's palette pictures or PGS stream stray from its RGBA pictures: the mean
// difference of premultiplied RGB over the pixels either shows, for every picture and for the
// pictures with more than 255 colours (glows, blurs, gradients: where quantizing matters).
// Usage: bench_sup_quality RGBA.xml PALETTE.xml|STREAM.sup [--list]
// RGBA.xml comes from a run with -p 0, the other from a run of the same script and options
// with -p 1 (its PNGs) or with a .sup (the stream, decoded by FFmpeg at each picture's first
// frame; pictures the stream shows late or leaves out are not counted). --list prints a line
// a picture first: its first frame, mean error, colours (256 meaning more than 255) and the
// share of its visible pixels that are translucent.
#include <png.h>
#include <pugixml.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Layer {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<std::uint8_t> rgba; // straight alpha
};

struct Picture {
    std::int64_t inFrame = 0;
    std::vector<Layer> layers;
};

Layer LoadPng(const std::string& path, int x, int y) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        throw std::runtime_error("cannot read " + path);
    }
    image.format = PNG_FORMAT_RGBA;
    Layer layer{x, y, static_cast<int>(image.width), static_cast<int>(image.height), {}};
    layer.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, layer.rgba.data(), 0, nullptr)) {
        throw std::runtime_error("cannot decode " + path);
    }
    return layer;
}

std::int64_t Frame(const std::string& tc, int base) {
    int h = 0, m = 0, s = 0, f = 0;
    std::sscanf(tc.c_str(), "%d:%d:%d:%d", &h, &m, &s, &f);
    return ((std::int64_t{h} * 60 + m) * 60 + s) * base + f;
}

std::vector<Picture> ReadBdn(const std::string& xml, int& base) {
    pugi::xml_document doc;
    if (!doc.load_file(xml.c_str())) {
        throw std::runtime_error("cannot read " + xml);
    }
    const std::string rate =
        doc.child("BDN").child("Description").child("Format").attribute("FrameRate").as_string();
    base = rate == "23.976"  ? 24
           : rate == "29.97" ? 30
           : rate == "59.94" ? 60
                             : std::atoi(rate.c_str());
    const std::string folder = xml.substr(0, xml.find_last_of('/') + 1);
    std::vector<Picture> pictures;
    for (const pugi::xml_node e : doc.child("BDN").child("Events").children("Event")) {
        Picture p;
        p.inFrame = Frame(e.attribute("InTC").as_string(), base);
        for (const pugi::xml_node g : e.children("Graphic")) {
            p.layers.push_back(LoadPng(folder + g.text().as_string(), g.attribute("X").as_int(),
                                       g.attribute("Y").as_int()));
        }
        pictures.push_back(std::move(p));
    }
    return pictures;
}

// The stream's pictures by PTS, as FFmpeg decodes them.
std::map<std::int64_t, std::vector<Layer>> DecodeSup(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), av_find_input_format("sup"), nullptr) < 0) {
        throw std::runtime_error("cannot open " + path);
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HDMV_PGS_SUBTITLE);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, format->streams[0]->codecpar);
    ctx->pkt_timebase = format->streams[0]->time_base;
    avcodec_open2(ctx, codec, nullptr);
    const AVRational tb = format->streams[0]->time_base;
    AVPacket* packet = av_packet_alloc();
    std::map<std::int64_t, std::vector<Layer>> sets;
    while (av_read_frame(format, packet) >= 0) {
        AVSubtitle sub{};
        int got = 0;
        avcodec_decode_subtitle2(ctx, &sub, &got, packet);
        const std::int64_t pts = av_rescale_q(packet->pts, tb, AVRational{1, 90000});
        av_packet_unref(packet);
        if (!got) {
            continue;
        }
        std::vector<Layer>& layers = sets[pts];
        for (unsigned i = 0; i < sub.num_rects; ++i) {
            const AVSubtitleRect* r = sub.rects[i];
            Layer l{r->x, r->y, r->w, r->h, {}};
            const auto* palette = reinterpret_cast<const std::uint32_t*>(r->data[1]);
            for (int y = 0; y < r->h; ++y) {
                for (int x = 0; x < r->w; ++x) {
                    const std::uint32_t c = palette[r->data[0][y * r->linesize[0] + x]];
                    l.rgba.insert(l.rgba.end(),
                                  {static_cast<std::uint8_t>(c >> 16),
                                   static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c),
                                   static_cast<std::uint8_t>(c >> 24)});
                }
            }
            layers.push_back(std::move(l));
        }
        avsubtitle_free(&sub);
    }
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    avformat_close_input(&format);
    return sets;
}

// The pixel of a set of layers at (x, y), premultiplied, or transparent.
void Premultiplied(const std::vector<Layer>& layers, int x, int y, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    for (const Layer& l : layers) {
        if (x >= l.x && y >= l.y && x < l.x + l.w && y < l.y + l.h) {
            const std::uint8_t* p =
                &l.rgba[(static_cast<std::size_t>(y - l.y) * l.w + (x - l.x)) * 4];
            if (p[3] != 0) {
                for (int c = 0; c < 3; ++c) {
                    out[c] = p[c] * p[3];
                }
                out[3] = p[3];
            }
        }
    }
}

struct Sum {
    double error = 0;
    std::int64_t pixels = 0, pictures = 0;
};

} // namespace

int main(int argc, char** argv) {
    const bool list = argc == 4 && std::string(argv[3]) == "--list";
    if (argc != 3 && !list) {
        std::fprintf(stderr, "usage: bench_sup_quality RGBA.xml PALETTE.xml|STREAM.sup [--list]\n");
        return 2;
    }
    try {
        int base = 24;
        const std::vector<Picture> reference = ReadBdn(argv[1], base);
        const std::string other = argv[2];
        const bool stream = other.size() > 4 && other.substr(other.size() - 4) == ".sup";
        std::vector<Picture> palette;
        std::map<std::int64_t, std::vector<Layer>> sets;
        if (stream) {
            sets = DecodeSup(other);
        } else {
            int unused = 0;
            palette = ReadBdn(other, unused);
        }
        const std::int64_t num = base == 24   ? 24000
                                 : base == 30 ? 30000
                                 : base == 60 ? 60000
                                              : base;
        const std::int64_t den = base == 24 || base == 30 || base == 60 ? 1001 : 1;
        Sum all, glow;
        double worst = 0;
        std::int64_t skipped = 0;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            const Picture& ref = reference[i];
            const std::vector<Layer>* candidate = nullptr;
            if (stream) {
                const auto it = sets.find(ref.inFrame * 90000 * den / num);
                candidate = it == sets.end() ? nullptr : &it->second;
            } else {
                candidate = &palette.at(i).layers;
            }
            if (candidate == nullptr) {
                ++skipped;
                continue;
            }
            int x0 = 1 << 20, y0 = 1 << 20, x1 = 0, y1 = 0;
            std::set<std::uint32_t> colours;
            for (const std::vector<Layer>* side : {&ref.layers, candidate}) {
                for (const Layer& l : *side) {
                    x0 = std::min(x0, l.x);
                    y0 = std::min(y0, l.y);
                    x1 = std::max(x1, l.x + l.w);
                    y1 = std::max(y1, l.y + l.h);
                }
            }
            for (const Layer& l : ref.layers) {
                for (std::size_t p = 0; p + 3 < l.rgba.size() && colours.size() < 256; p += 4) {
                    if (l.rgba[p + 3] != 0) {
                        colours.insert(l.rgba[p] | l.rgba[p + 1] << 8 | l.rgba[p + 2] << 16 |
                                       static_cast<std::uint32_t>(l.rgba[p + 3]) << 24);
                    }
                }
            }
            Sum one;
            std::int64_t translucent = 0, visible = 0;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    int a[4], b[4];
                    Premultiplied(ref.layers, x, y, a);
                    Premultiplied(*candidate, x, y, b);
                    if (a[3] == 0 && b[3] == 0) {
                        continue;
                    }
                    visible += a[3] != 0;
                    translucent += a[3] != 0 && a[3] != 255;
                    one.error +=
                        (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2])) /
                        (3.0 * 255.0);
                    ++one.pixels;
                }
            }
            if (list) {
                std::printf("%lld %.3f %zu %.3f\n", static_cast<long long>(ref.inFrame),
                            one.pixels ? one.error / one.pixels : 0.0, colours.size(),
                            visible ? double(translucent) / double(visible) : 0.0);
            }
            all.error += one.error;
            all.pixels += one.pixels;
            ++all.pictures;
            if (colours.size() > 255) {
                glow.error += one.error;
                glow.pixels += one.pixels;
                ++glow.pictures;
                worst = std::max(worst, one.pixels ? one.error / one.pixels : 0.0);
            }
        }
        std::printf("pictures compared: %lld (%lld not shown at their own frame)\n",
                    static_cast<long long>(all.pictures), static_cast<long long>(skipped));
        std::printf("mean error of premultiplied RGB, levels: all %.3f; the %lld with more than "
                    "255 colours %.3f (worst picture %.3f)\n",
                    all.pixels ? all.error / all.pixels : 0.0,
                    static_cast<long long>(glow.pictures),
                    glow.pixels ? glow.error / glow.pixels : 0.0, worst);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sup_quality: %s\n", e.what());
        return 1;
    }
    return 0;
}
