// Subtitle and style files as UTF-8, whatever encoding they were saved in.
#pragma once

#include "base/TextDecoding.h"

#include <functional>
#include <string>
#include <string_view>

namespace pelldrin::render {

// The legacy encoding that bytes which are not UTF-8 are most likely in (uchardet's
// guess), as the superset that Windows programs write where the bytes read in it
// (WINDOWS-1252 for ISO-8859-1, GB18030 for GB2312, CP932 for SHIFT_JIS...); empty when
// there is no guess.
std::string GuessLegacyEncoding(std::string_view bytes);

// Subtitle bytes as UTF-8: in charset when it is given, else recognised (byte-order
// marks, UTF-16 and UTF-32 by their zero bytes, UTF-8, else the guessed legacy encoding).
// Throws TextDecodeError.
DecodedText DecodeSubtitleBytes(std::string_view bytes, std::string_view charset = {});

// The text of DecodeSubtitleBytes.
std::string DecodeSubtitleText(std::string_view bytes, std::string_view charset = {});

// Reads a subtitle or style file as UTF-8. A legacy encoding that was recognised is named
// in a warning; bytes that cannot be read are a SubtitleError naming the file and the
// byte offset. Throws FileError when the file cannot be read.
std::string ReadSubtitleText(const std::string& path, const std::string& charset,
                             const std::function<void(const std::string&)>& warn);

} // namespace pelldrin::render
