// The write step of an event: its encoded graphics into PNG files named by the run's layout,
// and the BDN event that names them.
#pragma once

#include "core/EncodedGraphic.h"
#include "output/BdnWriter.h"
#include "output/OutputLayout.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace pelldrin::render {

// Writes the graphics of the eventNumber-th event (from 1), shown over frames [inFrame,
// outFrame), and returns its BDN event; bytesWritten, when given, grows by the files' bytes.
// Throws PngError naming the file.
BdnEventOut WriteEventFiles(const std::vector<EncodedGraphic>& graphics, std::int64_t inFrame,
                            std::int64_t outFrame, bool forced, int eventNumber,
                            const OutputLayout& layout, std::uint64_t* bytesWritten = nullptr);

// Writes bytes to path; throws PngError naming the file.
void WriteFileBytes(std::string_view path, const std::vector<std::uint8_t>& bytes);

} // namespace pelldrin::render
