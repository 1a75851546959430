// Validation of the writer's input, and its conversion to pictures of written indices.
#pragma once

#include "pgs/PgsPicture.h"
#include "pgs/PgsTypes.h"

#include <cstdint>
#include <string>

namespace pelldrin::pgs {

// Names an event in messages: the stream, the event's number and its in-time.
struct EventContext {
    const std::string* path = nullptr;
    const StreamInfo* info = nullptr;
    std::int64_t number = 0;
};

// Throws SupError naming the event and the cause.
[[noreturn]] void FailEvent(const EventContext& context, std::int64_t inFrame,
                            const std::string& cause);

// Throws SupError when the frame size or rate cannot be carried by the stream.
void CheckStreamInfo(const std::string& path, const StreamInfo& info);

// Throws SupError when the event is malformed, out of order (lastOutFrame is where the
// previous event ended) or beyond the stream's clock.
void CheckEvent(const EventContext& context, const SupEvent& event, std::int64_t lastOutFrame);

// Maps the palette, pads small images to the minimum object size and joins two images whose
// objects would overlap. Throws SupError when a pixel has no palette entry or the objects do
// not fit the decoder's buffers.
Picture MakePicture(const EventContext& context, const SupEvent& event);

} // namespace pelldrin::pgs
