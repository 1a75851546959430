// Expands "%" directives in command templates and message texts:
// "%" [number ":"] ["-"] [width] ["." precision] type, with type s (text) or
// d (integer), and "%%" for one percent sign.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pelldrin {

// A template that cannot be expanded; the message names the cause and the position.
class FormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One argument of a template: a text for "s", an integer for "d".
using FormatArg = std::variant<std::string, std::int64_t>;

// One parsed directive.
struct Directive {
    std::size_t argIndex = 0;             // which argument it takes
    bool leftAlign = false;               // "-": pad on the right
    std::size_t width = 0;                // minimum width in characters, 0 for none
    std::optional<std::size_t> precision; // s: maximum length; d: minimum digits
    char type = 's';                      // 's' or 'd', lower case
};

// A template cut into literal text and directives, in order. A piece holds
// either literal text ("%%" already turned into "%") or a directive.
struct TemplatePiece {
    std::string literal;
    std::optional<Directive> directive;
};

// Largest width or precision a directive may ask for, so a template cannot
// make the program build huge texts.
inline constexpr std::size_t kMaxDirectiveWidth = 4096;

// Parses a template for argCount arguments. A directive without a number takes
// the argument after the one used last. Throws FormatError for an unknown
// directive, a width beyond kMaxDirectiveWidth, or an argument number at or
// beyond argCount.
std::vector<TemplatePiece> ParseDirectives(std::string_view templ, std::size_t argCount);

// The text of one directive applied to its argument. Widths and lengths count
// UTF-8 characters, so a cut never splits one. Throws FormatError when the
// argument's kind does not fit the type.
std::string FormatDirective(const Directive& directive, const FormatArg& arg);

// Expands every directive of the template with the arguments.
std::string ExpandDirectives(std::string_view templ, std::span<const FormatArg> args);

} // namespace pelldrin
