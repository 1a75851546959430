// Font files as the renderer loads them from a "fonts" folder: by the extension of their
// name, up to a size.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelldrin {

// A font file larger than this is no font a subtitle needs; it is not read into memory.
inline constexpr std::uint64_t kMaxFontFileBytes = std::uint64_t{64} << 20;

// True when the name ends with an extension of a font file the renderer loads (.ttf, .otf,
// .ttc, .otc, .pfb, .pfa, .cff, .woff, .woff2; any letter case).
bool IsFontFileName(std::string_view name);

// The extension that suits font data by its first bytes (".ttf" for TrueType, ".otf" for
// OpenType with CFF outlines, ".ttc" for a collection, ".woff", ".woff2", ".pfb" and ".pfa"
// for PostScript Type 1), or empty when the bytes start no font file of those kinds.
std::string_view FontDataExtension(std::string_view bytes);

} // namespace pelldrin
