#include "SupDecoder.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace pelldrin::pgs::test {

std::vector<Segment> ReadSegments(const std::string& bytes) {
    std::vector<Segment> out;
    std::size_t pos = 0;
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 13 || bytes[pos] != 'P' || bytes[pos + 1] != 'G') {
            ADD_FAILURE() << "bad segment header at byte " << pos;
            return out;
        }
        Segment s;
        s.pts = (std::uint32_t{byte(pos + 2)} << 24) | (byte(pos + 3) << 16) |
                (byte(pos + 4) << 8) | byte(pos + 5);
        s.dts = (std::uint32_t{byte(pos + 6)} << 24) | (byte(pos + 7) << 16) |
                (byte(pos + 8) << 8) | byte(pos + 9);
        s.type = byte(pos + 10);
        const std::size_t size = (std::size_t{byte(pos + 11)} << 8) | byte(pos + 12);
        pos += 13;
        if (bytes.size() - pos < size) {
            ADD_FAILURE() << "segment at byte " << pos - 13 << " runs past the end";
            return out;
        }
        s.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                         bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
        pos += size;
        out.push_back(std::move(s));
    }
    return out;
}

namespace {

std::mutex logMutex;
std::vector<std::string>* logSink = nullptr;

void CollectErrors(void* avcl, int level, const char* fmt, va_list args) {
    (void)avcl;
    if (level > AV_LOG_WARNING) {
        return;
    }
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, args);
    std::lock_guard lock(logMutex);
    if (logSink != nullptr) {
        logSink->push_back(buf);
    }
}

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

} // namespace

std::vector<DecodedSet> DecodeSup(const std::string& path) {
    std::vector<std::string> messages;
    {
        std::lock_guard lock(logMutex);
        logSink = &messages;
    }
    av_log_set_callback(CollectErrors);
    struct Unhook {
        ~Unhook() {
            std::lock_guard lock(logMutex);
            logSink = nullptr;
        }
    } unhook;

    const AVInputFormat* sup = av_find_input_format("sup");
    if (sup == nullptr) {
        throw std::runtime_error("FFmpeg has no sup demuxer");
    }
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.c_str(), sup, nullptr) < 0) {
        throw std::runtime_error("FFmpeg cannot open " + path);
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if (format->nb_streams != 1 ||
        format->streams[0]->codecpar->codec_id != AV_CODEC_ID_HDMV_PGS_SUBTITLE) {
        throw std::runtime_error("not one PGS stream");
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HDMV_PGS_SUBTITLE);
    std::unique_ptr<AVCodecContext, CodecCloser> ctx(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(ctx.get(), format->streams[0]->codecpar);
    ctx->pkt_timebase = format->streams[0]->time_base;
    ctx->err_recognition = AV_EF_EXPLODE;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        throw std::runtime_error("cannot open the PGS decoder");
    }
    const AVRational tb = format->streams[0]->time_base;
    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    std::vector<DecodedSet> sets;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        AVSubtitle sub{};
        int got = 0;
        const int ret = avcodec_decode_subtitle2(ctx.get(), &sub, &got, packet.get());
        const std::int64_t pts = av_rescale_q(packet->pts, tb, AVRational{1, 90000});
        av_packet_unref(packet.get());
        if (ret < 0) {
            throw std::runtime_error("the decoder failed on the packet at " + std::to_string(pts));
        }
        if (!got) {
            continue;
        }
        DecodedSet set;
        set.pts = pts;
        for (unsigned i = 0; i < sub.num_rects; ++i) {
            const AVSubtitleRect* r = sub.rects[i];
            DecodedRect d;
            d.x = r->x;
            d.y = r->y;
            d.w = r->w;
            d.h = r->h;
            d.forced = (r->flags & AV_SUBTITLE_FLAG_FORCED) != 0;
            const auto* palette = reinterpret_cast<const std::uint32_t*>(r->data[1]);
            d.argb.resize(static_cast<std::size_t>(r->w) * r->h);
            d.indices.resize(d.argb.size());
            for (int y = 0; y < r->h; ++y) {
                for (int x = 0; x < r->w; ++x) {
                    const std::uint8_t index = r->data[0][y * r->linesize[0] + x];
                    d.indices[static_cast<std::size_t>(y) * r->w + x] = index;
                    d.argb[static_cast<std::size_t>(y) * r->w + x] = palette[index];
                }
            }
            set.rects.push_back(std::move(d));
        }
        avsubtitle_free(&sub);
        sets.push_back(std::move(set));
    }
    if (!messages.empty()) {
        throw std::runtime_error("FFmpeg reported: " + messages.front());
    }
    return sets;
}

} // namespace pelldrin::pgs::test
