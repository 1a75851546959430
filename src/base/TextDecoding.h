// Text files in the encodings subtitle files come in, read as UTF-8: one decoder for the
// renderer's input and the window's length scan, so both read a file the same way.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pelldrin {

// Bytes that cannot be read in an encoding, or an encoding that is not known.
class TextDecodeError : public std::runtime_error {
  public:
    TextDecodeError(const std::string& message, std::size_t offset)
        : std::runtime_error(message), offset_(offset) {}
    // The offset of the first byte that could not be read.
    std::size_t Offset() const { return offset_; }

  private:
    std::size_t offset_;
};

// A guess at the legacy encoding of bytes that are not UTF-8: an encoding name, or empty
// when there is none.
using EncodingGuess = std::function<std::string(std::string_view bytes)>;

// Text as UTF-8 and the encoding it was read in.
struct DecodedText {
    std::string text;     // no byte-order mark; zero characters are kept
    std::string encoding; // "UTF-8", "UTF-16LE", ..., or the legacy encoding's name;
                          // empty when bytes that are not UTF-8 were kept as they are
    bool legacy = false;  // read from an encoding other than UTF-8, UTF-16 and UTF-32
};

// Reads text: in the charset when one is given (a byte-order mark of it is dropped);
// else by its byte-order mark (UTF-8, UTF-16, UTF-32), as UTF-32 or UTF-16 without one
// when its zero bytes show which, as UTF-8 when it is well-formed, and otherwise in the
// encoding that guess names. Without a guess such bytes are kept as they are (for readers
// that need only the ASCII part). Throws TextDecodeError when the bytes cannot be read
// in the encoding, or the guess finds none.
DecodedText DecodeText(std::string_view bytes, std::string_view charset = {},
                       const EncodingGuess& guess = {});

// Converts bytes in the named encoding (UTF-8, UTF-16LE/BE, UTF-32LE/BE, or any legacy
// one the system converts: iconv's names, and on Windows the code pages of those names)
// to UTF-8. Throws TextDecodeError for an unknown name or bytes that do not read.
std::string ConvertToUtf8(std::string_view bytes, std::string_view encoding);

} // namespace pelldrin
