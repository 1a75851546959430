#include "SupWriter.h"

#include "ObjectRle.h"
#include "PgsPalette.h"
#include "base/FileSystem.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace pelldrin::pgs {

namespace {

// Segment types.
constexpr std::uint8_t kPds = 0x14, kOds = 0x15, kPcs = 0x16, kWds = 0x17, kEnd = 0x80;
// Composition states.
constexpr std::uint8_t kNormal = 0x00, kEpochStart = 0x80;
// Composition object flag for forced subtitles.
constexpr std::uint8_t kForcedFlag = 0x40;
// Object segment sequence flags.
constexpr std::uint8_t kFirstInSequence = 0x80, kLastInSequence = 0x40;

// Decoder limits. A segment stays small enough to travel in one PES packet with its PTS
// and DTS once muxed: the packet's 16-bit length also counts 13 bytes of packet header and
// the segment's own 3-byte header.
constexpr std::size_t kMaxSegmentPayload = 65535 - 16;
constexpr std::size_t kObjectBufferBytes = 4 * 1024 * 1024; // decoded objects of an epoch
constexpr std::size_t kCodedBufferBytes = 1024 * 1024;      // coded object data
constexpr int kMaxPlane = 4096;
// Small objects are padded to this size; some decoders refuse smaller windows.
constexpr int kMinObjectSide = 8;
constexpr std::int64_t kMaxTimestamp = 0xFFFFFFFFll;
// Keeps the timestamp arithmetic inside 64 bits; real rates are far below it.
constexpr int kMaxRateTerm = 1000000;

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool Overlaps(const Rect& o) const {
        return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h;
    }
};

// One object as it is written: its window, and where its pixels come from.
struct Placed {
    Rect area;  // the window and the object, after padding
    Rect image; // the input image inside it
    const std::uint8_t* pixels = nullptr;
    std::vector<std::uint8_t> merged; // owned pixels when two images became one
    const std::uint16_t* remap = nullptr;
};

void Put16(std::string& out, unsigned v) {
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}

void PutHeader(std::string& out, std::uint32_t pts, std::uint8_t type, std::size_t size) {
    out += "PG";
    Put32(out, pts);
    Put32(out, 0); // DTS
    out.push_back(static_cast<char>(type));
    Put16(out, static_cast<unsigned>(size));
}

// Grows a rectangle to the minimum object size, keeping it on the frame.
Rect Padded(Rect r, int frameW, int frameH) {
    if (r.w < kMinObjectSide) {
        const int w = kMinObjectSide;
        r.x = std::min(r.x, frameW - w);
        r.w = w;
    }
    if (r.h < kMinObjectSide) {
        const int h = kMinObjectSide;
        r.y = std::min(r.y, frameH - h);
        r.h = h;
    }
    return r;
}

Rect Union(const Rect& a, const Rect& b) {
    const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    return {x, y, std::max(a.x + a.w, b.x + b.w) - x, std::max(a.y + a.h, b.y + b.h) - y};
}

// The stream goes to a temporary file beside the target as it grows, so that a long film
// does not sit in memory, and is renamed over the target only when it is complete.
class TempStreamFile {
  public:
    explicit TempStreamFile(std::string target) : target_(std::move(target)) {}
    ~TempStreamFile() { Discard(); }
    TempStreamFile(const TempStreamFile&) = delete;
    TempStreamFile& operator=(const TempStreamFile&) = delete;

    void Write(const std::string& bytes) {
        if (file_ == nullptr) {
            Open();
        }
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
            Fail("Cannot write \"");
        }
    }

    // Flushes the file to the disk and renames it over the target.
    void Commit() {
        if (file_ == nullptr) {
            Open(); // an empty stream is still a stream
        }
        bool ok = std::fflush(file_) == 0;
#ifndef _WIN32
        ok = ok && ::fsync(::fileno(file_)) == 0;
#endif
        const int error = errno;
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        if (!ok) {
            errno = error;
            Fail("Cannot write \"");
        }
        std::error_code ec;
        std::filesystem::rename(ToFsPath(temp_), ToFsPath(target_), ec);
        if (ec) {
            Discard();
            throw FileError("Cannot replace \"" + target_ + "\": " + ec.message());
        }
        temp_.clear();
    }

    // Removes the temporary file, if any.
    void Discard() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
        if (!temp_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(ToFsPath(temp_), ignored);
            temp_.clear();
        }
    }

  private:
    void Open() {
        static std::atomic<unsigned> counter{0};
#ifdef _WIN32
        const int pid = _getpid();
#else
        const int pid = static_cast<int>(::getpid());
#endif
        temp_ = target_ + ".tmp" + std::to_string(pid) + "_" + std::to_string(counter++);
#ifdef _WIN32
        file_ = _wfopen(ToFsPath(temp_).c_str(), L"wb");
#else
        file_ = std::fopen(temp_.c_str(), "wb");
#endif
        if (file_ == nullptr) {
            const int error = errno;
            temp_.clear();
            errno = error;
            Fail("Cannot create \"");
        }
    }

    [[noreturn]] void Fail(const char* what) {
        const std::string cause = std::strerror(errno);
        Discard();
        throw FileError(what + target_ + "\": " + cause);
    }

    std::string target_;
    std::string temp_;
    std::FILE* file_ = nullptr;
};

// Bytes collected before they go to the file.
constexpr std::size_t kFlushBytes = 1 << 20;

} // namespace

struct SupWriter::State {
    std::string path;
    StreamInfo info;
    std::string stream; // not yet in the file
    std::optional<TempStreamFile> file;
    std::int64_t eventNumber = 0;
    std::int64_t lastOutFrame = 0;
    unsigned compositionNumber = 0;
    bool failed = false;
    bool finished = false;
    // The clearing display set of the last event, written once the next event shows
    // whether it is needed.
    std::optional<std::int64_t> pendingClear;
    std::vector<Rect> windows;
    // Reused between events.
    std::vector<std::uint8_t> rle;

    std::int64_t Pts(std::int64_t frame) const {
        // frame * 90000 * den / num, rounded half up, in integers so every event agrees.
        const std::int64_t num = info.rateNum;
        const std::int64_t scaled = frame * 90000 * info.rateDen;
        return (scaled * 2 + num) / (num * 2);
    }

    std::string InTime(std::int64_t frame) const {
        if (frame < 0) {
            return "-" + InTime(-frame);
        }
        const std::int64_t ms =
            frame * 1000 * info.rateDen / std::max<std::int64_t>(1, info.rateNum);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld",
                      static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                      static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
        return buf;
    }

    [[noreturn]] void Fail(const SupEvent& event, const std::string& cause) const {
        throw SupError("Cannot write \"" + path + "\": event " + std::to_string(eventNumber) +
                       " at " + InTime(event.inFrame) + " (frame " + std::to_string(event.inFrame) +
                       "): " + cause);
    }

    void AddChecked(const SupEvent& event);
    void WriteClear(std::int64_t frame);
};

SupWriter::SupWriter(std::string path, StreamInfo info) : state_(std::make_unique<State>()) {
    if (info.width < kMinObjectSide || info.height < kMinObjectSide || info.width > kMaxPlane ||
        info.height > kMaxPlane) {
        throw SupError("Cannot write \"" + path + "\": the frame size " +
                       std::to_string(info.width) + "x" + std::to_string(info.height) +
                       " is outside what the stream can carry");
    }
    if (info.rateNum <= 0 || info.rateDen <= 0 || info.rateNum > kMaxRateTerm ||
        info.rateDen > kMaxRateTerm) {
        throw SupError("Cannot write \"" + path + "\": the frame rate " +
                       std::to_string(info.rateNum) + "/" + std::to_string(info.rateDen) +
                       " is not a usable rate");
    }
    state_->file.emplace(path);
    state_->path = std::move(path);
    state_->info = info;
    state_->stream.reserve(kFlushBytes + (1 << 16));
}

SupWriter::~SupWriter() = default;

void SupWriter::Add(const SupEvent& event) {
    State& s = *state_;
    if (s.finished) {
        throw SupError("Cannot write \"" + s.path + "\": an event came after the stream ended");
    }
    if (s.failed) {
        throw SupError("Cannot write \"" + s.path + "\": it was abandoned after an earlier error");
    }
    ++s.eventNumber;
    try {
        s.AddChecked(event);
    } catch (...) {
        s.failed = true;
        s.stream.clear();
        s.file.reset();
        throw;
    }
    if (s.stream.size() >= kFlushBytes) {
        try {
            s.file->Write(s.stream);
        } catch (...) {
            s.failed = true;
            throw;
        }
        s.stream.clear();
    }
}

void SupWriter::Finish() {
    State& s = *state_;
    if (s.failed) {
        throw SupError("Cannot write \"" + s.path + "\": it was abandoned after an earlier error");
    }
    if (s.finished) {
        return;
    }
    if (s.pendingClear) {
        s.WriteClear(*s.pendingClear);
        s.pendingClear.reset();
    }
    try {
        s.file->Write(s.stream);
        s.file->Commit();
    } catch (...) {
        s.failed = true;
        throw;
    }
    s.finished = true;
    s.stream.clear();
    s.stream.shrink_to_fit();
}

void SupWriter::State::WriteClear(std::int64_t frame) {
    const auto pts = static_cast<std::uint32_t>(Pts(frame));
    // A normal composition without objects empties the windows of the epoch.
    PutHeader(stream, pts, kPcs, 11);
    Put16(stream, static_cast<unsigned>(info.width));
    Put16(stream, static_cast<unsigned>(info.height));
    stream.push_back(0x10); // frame rate field, fixed by practice
    Put16(stream, compositionNumber++ & 0xFFFF);
    stream.push_back(static_cast<char>(kNormal));
    stream.push_back(0); // no palette-only update
    stream.push_back(0); // palette id
    stream.push_back(0); // no objects
    PutHeader(stream, pts, kWds, 1 + 9 * windows.size());
    stream.push_back(static_cast<char>(windows.size()));
    for (std::size_t i = 0; i < windows.size(); ++i) {
        stream.push_back(static_cast<char>(i));
        Put16(stream, static_cast<unsigned>(windows[i].x));
        Put16(stream, static_cast<unsigned>(windows[i].y));
        Put16(stream, static_cast<unsigned>(windows[i].w));
        Put16(stream, static_cast<unsigned>(windows[i].h));
    }
    PutHeader(stream, pts, kEnd, 0);
}

void SupWriter::State::AddChecked(const SupEvent& event) {
    // Times.
    if (event.inFrame < 0 || event.outFrame <= event.inFrame) {
        Fail(event, "it ends at frame " + std::to_string(event.outFrame) + ", not after it starts");
    }
    if (event.inFrame < lastOutFrame) {
        Fail(event, "it starts before the previous event ends (frame " +
                        std::to_string(lastOutFrame) + ")");
    }
    const std::int64_t lastFrame =
        kMaxTimestamp * info.rateNum / (std::int64_t{90000} * info.rateDen) + 1;
    if (event.outFrame > lastFrame || Pts(event.outFrame) > kMaxTimestamp) {
        Fail(event, "its time is beyond the stream's 32-bit clock");
    }

    // Images.
    if (event.objects.empty() || event.objects.size() > 2) {
        Fail(event, "it has " + std::to_string(event.objects.size()) +
                        " images; a display set holds one or two");
    }
    if (event.palette.empty() || event.palette.size() > 256) {
        Fail(event, "its palette has " + std::to_string(event.palette.size()) +
                        " entries; it needs 1 to 256");
    }
    std::vector<const IndexedObject*> inputs;
    for (const IndexedObject& o : event.objects) {
        const std::string which = "image " + std::to_string(inputs.size() + 1);
        if (o.width <= 0 || o.height <= 0 ||
            o.pixels.size() != static_cast<std::size_t>(o.width) * o.height) {
            Fail(event, which + " has " + std::to_string(o.pixels.size()) + " pixels for " +
                            std::to_string(o.width) + "x" + std::to_string(o.height));
        }
        if (o.x < 0 || o.y < 0 || o.width > info.width - o.x || o.height > info.height - o.y) {
            Fail(event, which + " (" + std::to_string(o.width) + "x" + std::to_string(o.height) +
                            " at " + std::to_string(o.x) + "," + std::to_string(o.y) +
                            ") lies outside the " + std::to_string(info.width) + "x" +
                            std::to_string(info.height) + " frame");
        }
        inputs.push_back(&o);
    }

    const PaletteMap map = BuildPaletteMap(event.palette, info.matrix, inputs);

    // Windows: one per image, grown to the minimum size; two that would overlap become one
    // object, since windows of a display set must not overlap.
    std::vector<Placed> placed(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const IndexedObject& o = *inputs[i];
        placed[i].image = {o.x, o.y, o.width, o.height};
        placed[i].area = Padded(placed[i].image, info.width, info.height);
        placed[i].pixels = o.pixels.data();
        placed[i].remap = map.remap.data();
    }
    static const std::array<std::uint16_t, 256> identity = [] {
        std::array<std::uint16_t, 256> a{};
        for (int i = 0; i < 256; ++i) {
            a[i] = static_cast<std::uint16_t>(i);
        }
        return a;
    }();
    if (placed.size() == 2 && placed[0].area.Overlaps(placed[1].area)) {
        Placed one;
        one.image = Union(placed[0].image, placed[1].image);
        one.area = Padded(one.image, info.width, info.height);
        one.merged.assign(static_cast<std::size_t>(one.image.w) * one.image.h, kTransparentIndex);
        // Composed in written indices; the later image covers the earlier where it shows.
        for (const IndexedObject* o : inputs) {
            for (int y = 0; y < o->height; ++y) {
                const std::uint8_t* src = o->pixels.data() + static_cast<std::size_t>(y) * o->width;
                std::uint8_t* dst = one.merged.data() +
                                    static_cast<std::size_t>(o->y - one.image.y + y) * one.image.w +
                                    (o->x - one.image.x);
                for (int x = 0; x < o->width; ++x) {
                    const std::uint16_t c = map.remap[src[x]];
                    if (c > 0xFF) {
                        Fail(event, "a pixel uses index " + std::to_string(src[x]) +
                                        " beyond the palette's " +
                                        std::to_string(event.palette.size()) + " entries");
                    }
                    if (c != kTransparentIndex) {
                        dst[x] = static_cast<std::uint8_t>(c);
                    }
                }
            }
        }
        one.pixels = one.merged.data();
        one.remap = identity.data();
        placed.clear();
        placed.push_back(std::move(one));
    }

    std::size_t decodedBytes = 0;
    for (const Placed& p : placed) {
        decodedBytes += static_cast<std::size_t>(p.area.w) * p.area.h;
    }
    if (decodedBytes > kObjectBufferBytes) {
        Fail(event, "its images take " + std::to_string(decodedBytes) +
                        " bytes, more than the decoder's object buffer of " +
                        std::to_string(kObjectBufferBytes));
    }

    // Run-length code every object into one buffer.
    std::size_t worst = 0;
    for (const Placed& p : placed) {
        worst += RleWorstCase(p.area.w, p.area.h);
    }
    if (rle.size() < worst) {
        rle.resize(worst);
    }
    std::array<std::size_t, 3> bounds{};
    std::uint8_t* end = rle.data();
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        RleSource source;
        source.pixels = p.pixels;
        source.width = p.image.w;
        source.height = p.image.h;
        source.padLeft = p.image.x - p.area.x;
        source.padTop = p.image.y - p.area.y;
        source.padRight = p.area.x + p.area.w - p.image.x - p.image.w;
        source.padBottom = p.area.y + p.area.h - p.image.y - p.image.h;
        source.remap = p.remap;
        end = EncodeRle(source, end);
        if (end == nullptr) {
            Fail(event, "a pixel uses an index beyond the palette's " +
                            std::to_string(event.palette.size()) + " entries");
        }
        bounds[i + 1] = static_cast<std::size_t>(end - rle.data());
    }

    // Object segments: the object data (length, size, code) split into fragments.
    std::size_t codedBytes = 0;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const std::size_t data = 7 + bounds[i + 1] - bounds[i];
        const std::size_t fragments = (data + kMaxSegmentPayload - 5) / (kMaxSegmentPayload - 4);
        codedBytes += data + fragments * 17;
    }
    if (codedBytes > kCodedBufferBytes) {
        Fail(event, "its images need " + std::to_string(codedBytes) +
                        " bytes of coded data, more than the decoder's buffer of " +
                        std::to_string(kCodedBufferBytes));
    }

    // Everything fits: write the display sets.
    if (pendingClear && *pendingClear != event.inFrame) {
        WriteClear(*pendingClear);
    }
    // An event that starts where the previous one ends needs no clearing set: its epoch
    // start replaces the old content at the same time.
    pendingClear.reset();

    const auto pts = static_cast<std::uint32_t>(Pts(event.inFrame));
    const std::size_t n = placed.size();
    PutHeader(stream, pts, kPcs, 11 + 8 * n);
    Put16(stream, static_cast<unsigned>(info.width));
    Put16(stream, static_cast<unsigned>(info.height));
    stream.push_back(0x10);
    Put16(stream, compositionNumber++ & 0xFFFF);
    stream.push_back(static_cast<char>(kEpochStart));
    stream.push_back(0); // no palette-only update
    stream.push_back(0); // palette id
    stream.push_back(static_cast<char>(n));
    for (std::size_t i = 0; i < n; ++i) {
        Put16(stream, static_cast<unsigned>(i)); // object id
        stream.push_back(static_cast<char>(i));  // window id
        stream.push_back(static_cast<char>(event.forced ? kForcedFlag : 0));
        Put16(stream, static_cast<unsigned>(placed[i].area.x));
        Put16(stream, static_cast<unsigned>(placed[i].area.y));
    }

    windows.clear();
    for (const Placed& p : placed) {
        windows.push_back(p.area);
    }
    PutHeader(stream, pts, kWds, 1 + 9 * n);
    stream.push_back(static_cast<char>(n));
    for (std::size_t i = 0; i < n; ++i) {
        stream.push_back(static_cast<char>(i));
        Put16(stream, static_cast<unsigned>(windows[i].x));
        Put16(stream, static_cast<unsigned>(windows[i].y));
        Put16(stream, static_cast<unsigned>(windows[i].w));
        Put16(stream, static_cast<unsigned>(windows[i].h));
    }

    PutHeader(stream, pts, kPds, 2 + 5 * map.entries.size());
    stream.push_back(0); // palette id
    stream.push_back(0); // palette version: first in its epoch
    for (std::size_t i = 0; i < map.entries.size(); ++i) {
        const YCbCrA& c = map.entries[i];
        stream.push_back(static_cast<char>(i));
        stream.push_back(static_cast<char>(c.y));
        stream.push_back(static_cast<char>(c.cr));
        stream.push_back(static_cast<char>(c.cb));
        stream.push_back(static_cast<char>(c.a));
    }

    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* code = rle.data() + bounds[i];
        const std::size_t codeSize = bounds[i + 1] - bounds[i];
        // The first fragment carries the data length (which counts width and height) and
        // the size; later fragments carry code only.
        std::size_t done = 0;
        bool first = true;
        do {
            const std::size_t room = kMaxSegmentPayload - 4 - (first ? 7 : 0);
            const std::size_t take = std::min(room, codeSize - done);
            const bool last = done + take == codeSize;
            PutHeader(stream, pts, kOds, 4 + (first ? 7 : 0) + take);
            Put16(stream, static_cast<unsigned>(i)); // object id
            stream.push_back(0);                     // object version: first in its epoch
            stream.push_back(
                static_cast<char>((first ? kFirstInSequence : 0) | (last ? kLastInSequence : 0)));
            if (first) {
                const std::size_t length = codeSize + 4;
                stream.push_back(static_cast<char>((length >> 16) & 0xFF));
                Put16(stream, static_cast<unsigned>(length & 0xFFFF));
                Put16(stream, static_cast<unsigned>(placed[i].area.w));
                Put16(stream, static_cast<unsigned>(placed[i].area.h));
            }
            stream.append(reinterpret_cast<const char*>(code + done), take);
            done += take;
            first = false;
        } while (done < codeSize);
    }
    PutHeader(stream, pts, kEnd, 0);

    pendingClear = event.outFrame;
    lastOutFrame = event.outFrame;
}

} // namespace pelldrin::pgs
