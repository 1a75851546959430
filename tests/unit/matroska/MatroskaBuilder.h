// Matroska files put together element by element, for what mkvmerge and FFmpeg never write:
// text tracks with header stripping or broken compression, blocks without a duration or out
// of order, damaged attachments. The reader under test never parses EBML itself; this writer
// is only for making such files.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace pelldrin::test {

// An element: its ID (with its length marker, as the format lists it), an eight-byte size,
// and the payload.
inline std::string Ebml(std::uint32_t id, const std::string& payload) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<char>((id >> shift) & 0xFF);
        if (!out.empty() || byte != 0) {
            out += byte;
        }
    }
    out += '\x01';
    for (int shift = 48; shift >= 0; shift -= 8) {
        out += static_cast<char>((payload.size() >> shift) & 0xFF);
    }
    return out + payload;
}

inline std::string EbmlUint(std::uint32_t id, std::uint64_t value) {
    std::string bytes;
    for (int shift = 56; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    return Ebml(id, bytes);
}

inline std::string Deflated(const std::string& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()));
    out.resize(size);
    return out;
}

struct BuiltTrack {
    std::string codec = "S_TEXT/ASS";
    int type = 0x11; // subtitles
    std::string codecPrivate;
    std::string language = "und";
    std::string name;
    bool isDefault = true;
    bool isForced = false;
    enum class Compression { None, Zlib, HeaderStripping } compression = Compression::None;
    std::string strippedHeader;     // with HeaderStripping: the bytes every block starts with
    bool privateCompressed = false; // with Zlib: the codec private data too
};

struct BuiltBlock {
    int track = 0; // index into the tracks
    std::int64_t ms = 0;
    std::optional<std::int64_t> durationMs; // none: a SimpleBlock without a duration
    std::string data;                       // as the track holds it, before compression
    bool rawData = false;                   // store data as it is, compressed or not
};

struct BuiltAttachment {
    std::string name;
    std::string mimeType;
    std::string data;
};

// A whole file: the EBML header, and a segment with its info, tracks, attachments and one
// cluster per block. Segment duration in milliseconds when given.
inline std::string BuildMatroska(const std::vector<BuiltTrack>& tracks,
                                 const std::vector<BuiltBlock>& blocks,
                                 const std::vector<BuiltAttachment>& attachments = {},
                                 std::optional<double> durationMs = std::nullopt) {
    const std::string header =
        Ebml(0x1A45DFA3, EbmlUint(0x4286, 1) + EbmlUint(0x42F7, 1) + EbmlUint(0x42F2, 4) +
                             EbmlUint(0x42F3, 8) + Ebml(0x4282, "matroska") + EbmlUint(0x4287, 4) +
                             EbmlUint(0x4285, 2));
    std::string info = EbmlUint(0x2AD7B1, 1000000) + Ebml(0x4D80, "test") + Ebml(0x5741, "test");
    if (durationMs) {
        // A big-endian double.
        std::uint64_t bits = 0;
        static_assert(sizeof bits == sizeof *durationMs);
        std::memcpy(&bits, &*durationMs, sizeof bits);
        std::string bytes;
        for (int shift = 56; shift >= 0; shift -= 8) {
            bytes += static_cast<char>((bits >> shift) & 0xFF);
        }
        info += Ebml(0x4489, bytes);
    }
    std::string entries;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const BuiltTrack& t = tracks[i];
        std::string entry = EbmlUint(0xD7, i + 1) + EbmlUint(0x73C5, 1000 + i) +
                            EbmlUint(0x83, static_cast<std::uint64_t>(t.type)) +
                            Ebml(0x86, t.codec) + Ebml(0x22B59C, t.language) +
                            EbmlUint(0x88, t.isDefault ? 1 : 0) +
                            EbmlUint(0x55AA, t.isForced ? 1 : 0);
        if (!t.name.empty()) {
            entry += Ebml(0x536E, t.name);
        }
        const bool zlib = t.compression == BuiltTrack::Compression::Zlib;
        if (!t.codecPrivate.empty()) {
            entry += Ebml(0x63A2,
                          zlib && t.privateCompressed ? Deflated(t.codecPrivate) : t.codecPrivate);
        }
        if (t.compression != BuiltTrack::Compression::None) {
            std::string compression = EbmlUint(0x4254, zlib ? 0 : 3);
            if (!zlib) {
                compression += Ebml(0x4255, t.strippedHeader);
            }
            entry +=
                Ebml(0x6D80, Ebml(0x6240, EbmlUint(0x5031, 0) +
                                              EbmlUint(0x5032, t.privateCompressed ? 3 : 1) +
                                              EbmlUint(0x5033, 0) + Ebml(0x5034, compression)));
        }
        entries += Ebml(0xAE, entry);
    }
    std::string segment = Ebml(0x1549A966, info) + Ebml(0x1654AE6B, entries);
    if (!attachments.empty()) {
        std::string files;
        for (std::size_t i = 0; i < attachments.size(); ++i) {
            const BuiltAttachment& a = attachments[i];
            files += Ebml(0x61A7, Ebml(0x466E, a.name) + Ebml(0x4660, a.mimeType) +
                                      Ebml(0x465C, a.data) + EbmlUint(0x46AE, 5000 + i));
        }
        segment += Ebml(0x1941A469, files);
    }
    for (const BuiltBlock& b : blocks) {
        const BuiltTrack& t = tracks.at(static_cast<std::size_t>(b.track));
        std::string data = b.data;
        if (!b.rawData && t.compression == BuiltTrack::Compression::Zlib) {
            data = Deflated(data);
        } else if (!b.rawData && t.compression == BuiltTrack::Compression::HeaderStripping) {
            data = data.substr(t.strippedHeader.size());
        }
        // Track number (one-byte VINT), timecode relative to the cluster, flags.
        std::string block;
        block += static_cast<char>(0x80 | (b.track + 1));
        block += std::string("\0\0", 2);
        const std::string cluster = EbmlUint(0xE7, static_cast<std::uint64_t>(b.ms));
        if (b.durationMs) {
            segment +=
                Ebml(0x1F43B675,
                     cluster +
                         Ebml(0xA0, Ebml(0xA1, block + '\0' + data) +
                                        EbmlUint(0x9B, static_cast<std::uint64_t>(*b.durationMs))));
        } else {
            segment += Ebml(0x1F43B675, cluster + Ebml(0xA3, block + '\x80' + data));
        }
    }
    return header + Ebml(0x18538067, segment);
}

} // namespace pelldrin::test
