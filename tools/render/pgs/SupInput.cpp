#include "pgs/SupInput.h"

#include "pgs/DecoderModel.h"
#include "pgs/ObjectRle.h"
#include "pgs/SupSegments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace pelldrin::pgs {

namespace {

constexpr int kMaxPlane = 4096;
// Small objects are padded to this size; some decoders refuse smaller windows.
constexpr int kMinObjectSide = 8;
// Keeps the timestamp arithmetic inside 64 bits; real rates are far below it.
constexpr int kMaxRateTerm = 1000000;

std::string InTime(std::int64_t frame, const StreamInfo& info) {
    const std::int64_t ms = frame * 1000 * info.rateDen / std::max(1, info.rateNum);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

std::string Size(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Grows a rectangle to the minimum object size, keeping it on the frame.
Rect Padded(Rect r, const StreamInfo& info) {
    if (r.w < kMinObjectSide) {
        r.x = std::min(r.x, info.width - kMinObjectSide);
        r.w = kMinObjectSide;
    }
    if (r.h < kMinObjectSide) {
        r.y = std::min(r.y, info.height - kMinObjectSide);
        r.h = kMinObjectSide;
    }
    return r;
}

void CheckImage(const EventContext& context, const SupEvent& event, const IndexedObject& o,
                const std::string& which) {
    const StreamInfo& info = *context.info;
    if (o.width <= 0 || o.height <= 0 ||
        o.pixels.size() != static_cast<std::size_t>(o.width) * o.height) {
        FailEvent(context, event.inFrame,
                  which + " has " + std::to_string(o.pixels.size()) + " pixels for " +
                      Size(o.width, o.height));
    }
    if (o.x < 0 || o.y < 0 || o.width > info.width - o.x || o.height > info.height - o.y) {
        FailEvent(context, event.inFrame,
                  which + " (" + Size(o.width, o.height) + " at " + std::to_string(o.x) + "," +
                      std::to_string(o.y) + ") lies outside the " + Size(info.width, info.height) +
                      " frame");
    }
}

// Copies an image's remapped pixels into an object. Where it shares the object with another
// image (over), the later image covers the earlier one only where it shows.
void Paint(const EventContext& context, const SupEvent& event, const PaletteMap& map,
           const IndexedObject& o, bool over, PictureObject& object) {
    // Most palettes come without repeated or hidden colours: their indices stay as they are.
    std::size_t same = 0;
    while (same < 256 && map.remap[same] == same) {
        ++same;
    }
    unsigned undefined = 0;
    for (int y = 0; y < o.height; ++y) {
        const std::uint8_t* src = o.pixels.data() + static_cast<std::size_t>(y) * o.width;
        std::uint8_t* dst = object.indices.data() +
                            static_cast<std::size_t>(o.y - object.area.y + y) * object.area.w +
                            (o.x - object.area.x);
        if (over) {
            for (int x = 0; x < o.width; ++x) {
                const std::uint16_t c = map.remap[src[x]];
                undefined |= c;
                dst[x] = c == kTransparentIndex ? dst[x] : static_cast<std::uint8_t>(c);
            }
        } else if (same == 256 || same == event.palette.size()) {
            std::uint8_t top = 0;
            for (int x = 0; x < o.width; ++x) {
                top = std::max(top, src[x]);
            }
            undefined |= top >= same ? 0x100u : 0u;
            std::memcpy(dst, src, static_cast<std::size_t>(o.width));
        } else {
            for (int x = 0; x < o.width; ++x) {
                undefined |= map.remap[src[x]];
                dst[x] = static_cast<std::uint8_t>(map.remap[src[x]]);
            }
        }
    }
    if (undefined > 0xFF) {
        const auto beyond = std::find_if(o.pixels.begin(), o.pixels.end(),
                                         [&](std::uint8_t p) { return map.remap[p] > 0xFF; });
        FailEvent(context, event.inFrame,
                  "a pixel uses index " + std::to_string(*beyond) + " beyond the palette's " +
                      std::to_string(event.palette.size()) + " entries");
    }
}

// The coded size only matters for large objects: small ones cannot reach the budget.
void CheckBuffers(const EventContext& context, const SupEvent& event, const Picture& picture) {
    std::size_t decoded = 0, worst = 0;
    for (const PictureObject& o : picture.objects) {
        decoded += static_cast<std::size_t>(o.area.Area());
        worst += ObjectPayloadBytes(RleWorstCase(o.area.w, o.area.h));
    }
    if (decoded > kObjectBufferBytes) {
        FailEvent(context, event.inFrame,
                  "its images take " + std::to_string(decoded) +
                      " bytes, more than the decoder's object buffer of " +
                      std::to_string(kObjectBufferBytes));
    }
    if (worst + kSetOverheadBytes <= kSetBufferBytes) {
        return;
    }
    std::size_t coded = kSetOverheadBytes;
    for (const PictureObject& o : picture.objects) {
        coded += ObjectPayloadBytes(EncodeObject(o).size());
    }
    if (coded > kSetBufferBytes) {
        FailEvent(context, event.inFrame,
                  "its images need " + std::to_string(coded) +
                      " bytes of coded data, more than the decoder's buffer of " +
                      std::to_string(kSetBufferBytes));
    }
}

} // namespace

void FailEvent(const EventContext& context, std::int64_t inFrame, const std::string& cause) {
    const std::string at =
        inFrame < 0 ? "-" + InTime(-inFrame, *context.info) : InTime(inFrame, *context.info);
    throw SupError("Cannot write \"" + *context.path + "\": event " +
                   std::to_string(context.number) + " at " + at + " (frame " +
                   std::to_string(inFrame) + "): " + cause);
}

void CheckStreamInfo(const std::string& path, const StreamInfo& info) {
    if (info.width < kMinObjectSide || info.height < kMinObjectSide || info.width > kMaxPlane ||
        info.height > kMaxPlane) {
        throw SupError("Cannot write \"" + path + "\": the frame size " +
                       Size(info.width, info.height) + " is outside what the stream can carry");
    }
    if (info.rateNum <= 0 || info.rateDen <= 0 || info.rateNum > kMaxRateTerm ||
        info.rateDen > kMaxRateTerm) {
        throw SupError("Cannot write \"" + path + "\": the frame rate " +
                       std::to_string(info.rateNum) + "/" + std::to_string(info.rateDen) +
                       " is not a usable rate");
    }
}

void CheckEvent(const EventContext& context, const SupEvent& event, std::int64_t lastOutFrame) {
    const StreamInfo& info = *context.info;
    if (event.inFrame < 0 || event.outFrame <= event.inFrame) {
        FailEvent(context, event.inFrame,
                  "it ends at frame " + std::to_string(event.outFrame) + ", not after it starts");
    }
    if (event.inFrame < lastOutFrame) {
        FailEvent(context, event.inFrame,
                  "it starts before the previous event ends (frame " +
                      std::to_string(lastOutFrame) + ")");
    }
    const std::int64_t lastFrame = kMaxTimestamp * info.rateNum / (kClock * info.rateDen) + 1;
    if (event.outFrame > lastFrame ||
        FramePts(event.outFrame, info.rateNum, info.rateDen) > kMaxTimestamp) {
        FailEvent(context, event.inFrame, "its time is beyond the stream's 32-bit clock");
    }
    if (event.objects.empty() || event.objects.size() > kMaxSetObjects) {
        FailEvent(context, event.inFrame,
                  "it has " + std::to_string(event.objects.size()) +
                      " images; a display set holds one or two");
    }
    if (event.palette.empty() || event.palette.size() > 256) {
        FailEvent(context, event.inFrame,
                  "its palette has " + std::to_string(event.palette.size()) +
                      " entries; it needs 1 to 256");
    }
    for (std::size_t i = 0; i < event.objects.size(); ++i) {
        CheckImage(context, event, event.objects[i], "image " + std::to_string(i + 1));
    }
}

Picture MakePicture(const EventContext& context, const SupEvent& event) {
    const StreamInfo& info = *context.info;
    std::vector<const IndexedObject*> inputs;
    std::vector<Rect> areas;
    for (const IndexedObject& o : event.objects) {
        inputs.push_back(&o);
        areas.push_back(Padded({o.x, o.y, o.width, o.height}, info));
    }
    // Objects of one set must not overlap: two that would become one.
    if (areas.size() == 2 && areas[0].Overlaps(areas[1])) {
        const IndexedObject &a = *inputs[0], &b = *inputs[1];
        areas = {Padded(Union({a.x, a.y, a.width, a.height}, {b.x, b.y, b.width, b.height}), info)};
    }
    const PaletteMap map = BuildPaletteMap(event.palette, info.matrix, inputs);
    Picture picture;
    picture.inFrame = event.inFrame;
    picture.outFrame = event.outFrame;
    picture.eventNumber = context.number;
    picture.forced = event.forced;
    picture.palette = map.entries;
    for (const Rect& area : areas) {
        PictureObject object{area, std::vector<std::uint8_t>(static_cast<std::size_t>(area.Area()),
                                                             kTransparentIndex)};
        bool over = false;
        for (const IndexedObject* o : inputs) {
            if (area.Contains({o->x, o->y, o->width, o->height})) {
                Paint(context, event, map, *o, over, object);
                over = true;
            }
        }
        picture.objects.push_back(std::move(object));
    }
    CheckBuffers(context, event, picture);
    return picture;
}

} // namespace pelldrin::pgs
